#include "pack/huffman_builder.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Sum of 2^(maxBits - length) over used symbols: 2^maxBits for a complete code.
uint64_t kraftSum(const std::vector<uint8_t>& lengths, int maxBits) {
  uint64_t sum = 0;
  for (uint8_t l : lengths)
    if (l != 0) sum += uint64_t{1} << (maxBits - l);
  return sum;
}

TEST(HuffmanBuilder, CodesAreCompleteAndWithinTheLimit) {
  struct Case {
    const char* name;
    std::vector<uint32_t> frequencies;
    int maxBits;
  };
  std::vector<uint32_t> fibonacci = {1, 1};
  while (fibonacci.size() < 30) fibonacci.push_back(fibonacci[fibonacci.size() - 1] + fibonacci[fibonacci.size() - 2]);
  std::vector<uint32_t> manyRare(656, 1);
  manyRare[0] = 1000000;
  const Case cases[] = {
      {"fibonacci, would be 29 bits deep", fibonacci, 16},
      {"fibonacci under the pretree limit", fibonacci, 15},
      {"one dominant symbol among 656", manyRare, 16},
      {"aligned-offset sized", {5, 0, 9, 1, 1, 0, 300, 2}, 7},
      {"two symbols", {0, 3, 0, 0, 7}, 16},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> lengths(c.frequencies.size());
    pack::buildCodeLengths(c.frequencies.data(), c.frequencies.size(), c.maxBits, lengths.data());
    EXPECT_EQ(kraftSum(lengths, c.maxBits), uint64_t{1} << c.maxBits) << c.name;
    for (size_t s = 0; s < lengths.size(); ++s) {
      EXPECT_LE(lengths[s], c.maxBits) << c.name;
      EXPECT_EQ(lengths[s] != 0, c.frequencies[s] != 0) << c.name << " symbol " << s;
    }
  }
}

TEST(HuffmanBuilder, NoneOrOneUsedSymbol) {
  std::vector<uint32_t> none(8, 0);
  std::vector<uint8_t> lengths(8, 9);
  pack::buildCodeLengths(none.data(), 8, 7, lengths.data());
  EXPECT_EQ(lengths, std::vector<uint8_t>(8, 0));

  // A lone symbol is paired with another so that the code is complete.
  for (size_t used : {0u, 5u}) {
    std::vector<uint32_t> one(8, 0);
    one[used] = 42;
    pack::buildCodeLengths(one.data(), 8, 7, lengths.data());
    EXPECT_EQ(lengths[used], 1);
    EXPECT_EQ(kraftSum(lengths, 7), 128u);
  }
}

TEST(HuffmanBuilder, CanonicalCodesAreOrderedByLengthThenSymbol) {
  const uint8_t lengths[] = {3, 3, 3, 3, 3, 2, 4, 4};
  uint16_t codes[8];
  pack::buildCanonicalCodes(lengths, 8, codes);
  const uint16_t expected[] = {0b010, 0b011, 0b100, 0b101, 0b110, 0b00, 0b1110, 0b1111};
  for (int s = 0; s < 8; ++s) EXPECT_EQ(codes[s], expected[s]) << s;
}

}  // namespace
