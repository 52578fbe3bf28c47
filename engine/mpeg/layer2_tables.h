#pragma once
// Layer II tables: the bit-allocation tables of ISO/IEC 11172-3 and ISO/IEC 13818-3, the 17
// quantisation classes, the scale-factor multipliers and the degrouping tables.

#include <array>
#include <cstdint>

#include "engine/mpeg/frame_header.h"

namespace vesperon::mpeg::layer2 {

inline constexpr int kClassCount = 17;
inline constexpr int kScaleFactorCount = 64;  // 63 is illegal but must still index safely

// One quantisation class of the standard.
struct QuantClass {
    int32_t steps;    // number of quantisation steps (levels)
    int8_t codeBits;  // bits of one code: a group of three samples, or one sample
    int8_t grouped;   // 1: three samples share one code (3, 5 and 9 levels)
};

inline constexpr QuantClass kQuantClasses[kClassCount] = {
    {3, 5, 1},     {5, 7, 1},     {7, 3, 0},      {9, 10, 1},     {15, 4, 0},     {31, 5, 0},
    {63, 6, 0},    {127, 7, 0},   {255, 8, 0},    {511, 9, 0},    {1023, 10, 0},  {2047, 11, 0},
    {4095, 12, 0}, {8191, 13, 0}, {16383, 14, 0}, {32767, 15, 0}, {65535, 16, 0},
};

// A run of consecutive subbands sharing the allocation field width and the class list.
struct AllocationGroup {
    int8_t subbands;     // how many subbands the group covers
    int8_t bits;         // width of the allocation field
    int8_t classes[16];  // class (0-based) per allocation value; entry 0 (no samples) is -1
};

struct AllocationTable {
    char name;  // 'a' to 'd' for ISO/IEC 11172-3 B.2a-B.2d, 'm' for ISO/IEC 13818-3
    int8_t groupCount;
    AllocationGroup groups[4];
};

// The allocation table for a stream, or nullptr when its combination of bit-rate index, mode and
// sampling frequency is one the standards forbid (or its header is unusable).
const AllocationTable* selectAllocationTable(const FrameHeader& header);

// Sum of the subbands of all groups.
int subbandLimitOf(const AllocationTable& table);

struct ScaleTables {
    float requantFactor[kClassCount];          // 2 / steps
    float scaleMultiplier[kScaleFactorCount];  // 65536 * 2^(-i/3): 2 * 2^(-i/3) on the 16-bit scale
};
// Built on first use.
const ScaleTables& scaleTables();

// Degrouping: for each code, three values (digit - middle), least significant digit first.
// Codes the standard never emits (at or above levels^3) still give bounded values.
using DegroupTriple = std::array<int8_t, 3>;
extern const std::array<DegroupTriple, 32> kDegroup3;
extern const std::array<DegroupTriple, 128> kDegroup5;
extern const std::array<DegroupTriple, 1024> kDegroup9;

}  // namespace vesperon::mpeg::layer2
