#include "pack/match_finder.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

// Data with plenty of repeats at all distances: random phrases drawn from a small pool.
std::vector<uint8_t> phraseData(size_t sizeBytes, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> out;
  while (out.size() < sizeBytes) {
    if (out.size() > 16 && rng() % 3 != 0) {
      size_t distance = 1 + rng() % std::min<size_t>(out.size(), 70000);
      size_t length = 2 + rng() % 40;
      for (size_t i = 0; i < length; ++i) out.push_back(out[out.size() - distance]);
    } else {
      out.push_back(static_cast<uint8_t>('a' + rng() % 4));
    }
  }
  out.resize(sizeBytes);
  return out;
}

// Longest match at `pos` within the window and the limit, by brute force.
uint32_t longestMatch(const std::vector<uint8_t>& data, uint32_t pos, uint32_t window,
                      uint32_t limit) {
  uint32_t best = 0;
  for (uint32_t d = 1; d <= std::min(pos, window); ++d) {
    uint32_t n = 0;
    while (n < limit && pos + n < data.size() && data[pos + n] == data[pos + n - d]) ++n;
    best = std::max(best, n);
  }
  return best;
}

struct FinderCase {
  uint32_t windowBytes;
  uint32_t minMatchBytes;
  size_t appendBytes;  // data handed over in pieces of this size
};

void PrintTo(const FinderCase& c, std::ostream* out) {
  *out << "window " << c.windowBytes << ", min " << c.minMatchBytes << ", pieces of "
       << c.appendBytes;
}

class MatchFinderTest : public ::testing::TestWithParam<FinderCase> {};

// Every candidate must be a real match within the window and the limits, lengths strictly
// increasing; with a deep search on a small window the longest one must be the true longest.
TEST_P(MatchFinderTest, CandidatesAreValidAndLongestIsFound) {
  const FinderCase& c = GetParam();
  const uint32_t maxMatch = 257;
  auto data = phraseData(3 * c.windowBytes + 140000, c.windowBytes);  // long enough to slide
  pack::MatchFinder finder(c.windowBytes, maxMatch, 1 << 20, c.minMatchBytes);
  std::vector<pack::Match> found(maxMatch + 1);
  uint32_t pos = 0;
  size_t appended = 0;
  while (pos < data.size()) {
    if (pos == appended) {
      size_t n = std::min(c.appendBytes, data.size() - appended);
      finder.append(data.data() + appended, n);
      appended += n;
    }
    uint32_t limit = static_cast<uint32_t>(appended - pos);
    if (pos % 7 == 3) {
      finder.skip(pos);
      ++pos;
      continue;
    }
    size_t count = finder.findMatches(pos, limit, found.data());
    uint32_t previousLength = 0;
    for (size_t i = 0; i < count; ++i) {
      const pack::Match& m = found[i];
      ASSERT_GT(m.lengthBytes, previousLength);
      ASSERT_GE(m.lengthBytes, c.minMatchBytes);
      ASSERT_LE(m.lengthBytes, std::min(limit, maxMatch));
      ASSERT_GE(m.distanceBytes, 1u);
      ASSERT_LE(m.distanceBytes, std::min(pos, c.windowBytes));
      for (uint32_t k = 0; k < m.lengthBytes; ++k)
        ASSERT_EQ(data[pos + k], data[pos + k - m.distanceBytes]) << "pos " << pos;
      previousLength = m.lengthBytes;
    }
    if (pos % 97 == 0) {
      uint32_t truth = longestMatch(data, pos, c.windowBytes, std::min(limit, maxMatch));
      if (truth >= 3) {
        EXPECT_EQ(previousLength, truth) << "pos " << pos;
      }
      uint32_t d = 1 + pos % 50;
      if (d <= pos) {
        uint32_t n = 0;
        while (n < std::min(limit, maxMatch) && data[pos + n] == data[pos + n - d]) ++n;
        EXPECT_EQ(finder.matchLength(pos, d, limit), n);
      }
    }
    ++pos;
  }
}

INSTANTIATE_TEST_SUITE_P(Windows, MatchFinderTest,
                         ::testing::Values(FinderCase{1024, 3, 1024}, FinderCase{1024, 2, 100},
                                           FinderCase{4096, 2, 32768}, FinderCase{32768, 3, 5000}));

}  // namespace
