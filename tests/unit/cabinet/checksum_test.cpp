#include "cabinet/checksum.h"

#include <gtest/gtest.h>

#include "cabinet_builder.h"

namespace {

TEST(Checksum, GroupsAreLittleEndianAndLeftoverBytesBigEndian) {
  const uint8_t data[] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77};
  struct Case {
    uint32_t bytes;
    uint32_t seed;
    uint32_t expected;
  } cases[] = {
      {0, 0xdeadbeef, 0xdeadbeef},
      {1, 0, 0x11},
      {2, 0, 0x1122},
      {3, 0, 0x112233},
      {4, 0, 0x44332211},
      {5, 0, 0x44332211 ^ 0x55},
      {7, 1, 1 ^ 0x44332211 ^ 0x556677},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(cab::checksum(data, c.bytes, c.seed), c.expected) << c.bytes << " bytes";
  }
}

TEST(Checksum, LongInputsMatchTheGroupByGroupDefinition) {
  cabtest::Bytes data = cabtest::pattern(1000, 3);
  for (uint32_t bytes : {31u, 32u, 33u, 35u, 64u, 998u, 999u, 1000u}) {
    uint32_t expected = 0x5a5a5a5a;
    uint32_t i = 0;
    for (; i + 4 <= bytes; i += 4) {
      expected ^= uint32_t(data[i]) | uint32_t(data[i + 1]) << 8 | uint32_t(data[i + 2]) << 16 |
                  uint32_t(data[i + 3]) << 24;
    }
    uint32_t tail = 0;
    for (; i < bytes; ++i) tail = tail << 8 | data[i];
    EXPECT_EQ(cab::checksum(data.data(), bytes, 0x5a5a5a5a), expected ^ tail) << bytes;
  }
}

TEST(Checksum, DataBlockOfFiveBytesFoldsInItsSizes) {
  // A block of 5 compressed bytes b0..b4 without reserve: the data part is
  // (b0 | b1 << 8 | b2 << 16 | b3 << 24) ^ b4, then the 4 size bytes as one uint32.
  cabtest::Block block;
  block.compressed = {0x01, 0x02, 0x03, 0x04, 0x05};
  block.uncompressedBytes = 0x1234;
  uint32_t expected = (0x04030201u ^ 0x05u) ^ (0x0005u | 0x1234u << 16);
  EXPECT_EQ(cabtest::blockChecksum(block), expected);
}

}  // namespace
