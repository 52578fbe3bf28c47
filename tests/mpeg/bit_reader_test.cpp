#include "engine/mpeg/bit_reader.h"

#include <gtest/gtest.h>

namespace vesperon::mpeg {

TEST(BitReader, ReadsMsbFirstAcrossBytesAndStopsAtTheEnd) {
    const uint8_t data[] = {0xA5, 0x3C};
    BitReader r(data, sizeof data);
    EXPECT_EQ(r.read(3), 0b101u);
    EXPECT_EQ(r.read(9), 0b001010011u);
    EXPECT_FALSE(r.overrun());
    // Four bits remain; asking for eight gives them followed by zeros, never the next byte.
    EXPECT_EQ(r.read(8), 0b11000000u);
    EXPECT_TRUE(r.overrun());
    EXPECT_EQ(r.read(32), 0u);
}

}  // namespace vesperon::mpeg
