// Folders compressed by the packer's Quantum compressor and expanded by the decompressor.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "quantum_test_support.h"

namespace {

using namespace quantum_test;

// Text-like data: words from a small vocabulary with some random bytes and numbers, so that
// there are matches of every length at near and far distances.
std::vector<uint8_t> realLookingData(size_t bytes, uint32_t seed) {
  static const char* const words[] = {"cabinet ", "folder ", "the ", "window ", "of ", "data ",
                                      "block\r\n", "quantum ", "match ", "literal ", "and ",
                                      "installer ", "version ", "\t", "0x7F3A, "};
  std::mt19937 random(seed);
  std::vector<uint8_t> data;
  while (data.size() < bytes) {
    const uint32_t pick = random() % 20;
    if (pick < 15) {
      for (const char* c = words[pick]; *c != 0; ++c) data.push_back(static_cast<uint8_t>(*c));
    } else if (pick < 18) {
      data.push_back(static_cast<uint8_t>(random()));
    } else if (data.size() > 300) {
      // Repeat an earlier stretch, sometimes from far back.
      const size_t length = 3 + random() % 300;
      const size_t from = random() % (data.size() - 1);
      for (size_t k = 0; k < length; ++k) data.push_back(data[from + k]);
    }
  }
  data.resize(bytes);
  return data;
}

std::vector<uint8_t> randomData(size_t bytes, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> data(bytes);
  for (uint8_t& byte : data) byte = static_cast<uint8_t>(random());
  return data;
}

class QuantumRoundTrip : public testing::TestWithParam<int> {};

TEST_P(QuantumRoundTrip, RealLookingAndRandomDataOverManyBlocks) {
  const int windowBits = GetParam();
  struct Case {
    const char* name;
    std::vector<uint8_t> data;
    size_t blockBytes;
  };
  const Case cases[] = {
      {"text, full blocks", realLookingData(300000, 1 + windowBits), 32768},
      {"text, odd blocks", realLookingData(100000, 7), 7001},
      {"random", randomData(70000, 3), 32768},
      {"tiny blocks", realLookingData(5000, 9), 1},
      {"runs", std::vector<uint8_t>(100000, 'z'), 32768},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto blocks = compressFolder(c.data, windowBits, c.blockBytes);
    for (const CompressedBlock& block : blocks) {
      // The reader's input buffer: the block limit + 10240.
      ASSERT_LE(block.bytes.size(), block.uncompressedBytes + 10240u);
    }
    Session session(static_cast<uint32_t>(windowBits));
    ASSERT_EQ(session.result, cab::Ok);
    std::vector<uint8_t> decoded;
    ASSERT_TRUE(decodeFolder(session, blocks, decoded));
    ASSERT_EQ(decoded, c.data);
  }
}

INSTANTIATE_TEST_SUITE_P(EveryWindow, QuantumRoundTrip, testing::Range(10, 22));

}  // namespace
