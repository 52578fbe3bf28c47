#pragma once
// The Layer III Huffman code tables as decoding trees.

#include <cstdint>

namespace vesperon::mpeg::huffman {

// Bits decoded by one look-up: codes up to this long (nearly all of them) need no tree walk.
inline constexpr int kLookupBits = 10;

// A big-value table: walk `nodes` from node 0, taking child nodes[2n + bit]; a negative entry is
// a leaf holding ~(x * 16 + y). nodes is null for table 0 and for the unused numbers 4 and 14.
struct PairTable {
    const int16_t* nodes = nullptr;
    // The first kLookupBits bits at once: entry & 0x8000 marks a leaf with value entry & 0xFF and
    // length (entry >> 8) & 15; otherwise the entry is the node reached after all those bits.
    const uint16_t* lookup = nullptr;
    int size = 0;
    int linbits = 0;
};

PairTable pairTable(int tableSelect);
// Count1 table A; leaves hold ~(v * 8 + w * 4 + x * 2 + y).
const int16_t* quadTableA();
const uint16_t* quadLookupA();
// Whether every table forms a complete prefix code (checked when the trees are built).
bool tablesComplete();

}  // namespace vesperon::mpeg::huffman
