// The MSZIP decoder's interface and its handling of hand-made deflate streams.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bit_writer.h"
#include "cabinet/mszip.h"

namespace {

using namespace mszip_test;

void* allocate(int32_t bytes) { return std::malloc(static_cast<size_t>(bytes)); }
void release(void* block) { std::free(block); }

// One decoder with the reader's 32768-byte output buffer, kept across blocks.
class Decoder {
 public:
  explicit Decoder(uint32_t blockLimit = 32768) : blockLimit_(blockLimit), buffer_(32768, 0xEE) {
    uint32_t need = 0;
    EXPECT_EQ(mszip::create(&blockLimit_, allocate, release, &need, &handle_), cab::Ok);
  }
  ~Decoder() { mszip::destroy(handle_); }
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;

  // Decodes one block; on Ok `output` holds the bytes produced.
  cab::DecoderResult run(const std::vector<uint8_t>& block, uint32_t limit = 32768) {
    produced_ = limit;
    return mszip::decompress(handle_, block.data(), static_cast<uint32_t>(block.size()),
                             buffer_.data(), &produced_);
  }
  std::string output() const { return std::string(buffer_.begin(), buffer_.begin() + produced_); }
  uint32_t produced() const { return produced_; }
  std::vector<uint8_t>& buffer() { return buffer_; }
  void* handle() const { return handle_; }

 private:
  uint32_t blockLimit_;
  std::vector<uint8_t> buffer_;
  void* handle_ = nullptr;
  uint32_t produced_ = 0;
};

std::vector<uint8_t> storedBlock(const std::string& data, bool final) {
  BitWriter w;
  w.bits(final ? 1 : 0, 1);
  w.bits(0, 2);
  w.alignToByte();
  w.bits(static_cast<uint32_t>(data.size()), 16);
  w.bits(static_cast<uint32_t>(data.size()) ^ 0xFFFF, 16);
  w.rawBytes(std::vector<uint8_t>(data.begin(), data.end()));
  return w.block();
}

std::vector<uint8_t> fixedLiterals(const std::string& text, bool final) {
  BitWriter w;
  w.bits(final ? 1 : 0, 1);
  w.bits(1, 2);
  for (unsigned char c : text) writeFixedSymbol(w, c);
  writeFixedSymbol(w, 256);
  return w.block();
}

TEST(MszipCreate, ClampsBlockLimitAndReportsBufferNeed) {
  struct Case {
    uint32_t limit, expectedLimit, expectedNeed;
  } cases[] = {{0, 32768, 32780}, {40000, 32768, 32780}, {1000, 1000, 1012}, {32768, 32768, 32780}, {1, 1, 13}};
  for (const Case& c : cases) {
    uint32_t limit = c.limit, need = 0;
    EXPECT_EQ(mszip::create(&limit, nullptr, nullptr, &need, nullptr), cab::Ok);
    EXPECT_EQ(limit, c.expectedLimit) << c.limit;
    EXPECT_EQ(need, c.expectedNeed) << c.limit;
  }
}

int allocationsLeft = 0;
int releases = 0;
void* limitedAllocate(int32_t bytes) {
  if (allocationsLeft == 0) return nullptr;
  --allocationsLeft;
  return std::malloc(static_cast<size_t>(bytes));
}
void countedRelease(void* block) {
  ++releases;
  std::free(block);
}

TEST(MszipCreate, ReportsOutOfMemoryAndReleasesWhatItGot) {
  for (int granted : {0, 1}) {
    allocationsLeft = granted;
    releases = 0;
    uint32_t limit = 0, need = 0;
    void* handle = reinterpret_cast<void*>(1);
    EXPECT_EQ(mszip::create(&limit, limitedAllocate, countedRelease, &need, &handle), cab::OutOfMemory);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(releases, granted);
  }
  allocationsLeft = 2;
  releases = 0;
  uint32_t limit = 0, need = 0;
  void* handle = nullptr;
  ASSERT_EQ(mszip::create(&limit, limitedAllocate, countedRelease, &need, &handle), cab::Ok);
  EXPECT_EQ(mszip::reset(handle), cab::Ok);
  EXPECT_EQ(mszip::destroy(handle), cab::Ok);
  EXPECT_EQ(releases, 2);
}

TEST(MszipHandle, ForeignTagIsRejectedByEveryOperation) {
  uint32_t notADecoder[8] = {0x4349444E, 0, 0, 0, 0, 0, 0, 0};
  uint8_t input[] = {'C', 'K', 0x03, 0x00};
  uint8_t output[32768];
  uint32_t size = 32768;
  EXPECT_EQ(mszip::decompress(notADecoder, input, sizeof input, output, &size), cab::BadHandle);
  EXPECT_EQ(size, 32768u);
  EXPECT_EQ(mszip::reset(notADecoder), cab::BadHandle);
  EXPECT_EQ(mszip::destroy(notADecoder), cab::BadHandle);
  EXPECT_EQ(mszip::reset(nullptr), cab::BadHandle);
}

TEST(MszipDecompress, BlockSizeLimitAndSignature) {
  Decoder d(1000);
  std::vector<uint8_t> block = storedBlock(std::string(1000, 'x'), true);
  block.resize(1012, 0x5A);  // trailing bytes after the final block are ignored
  EXPECT_EQ(d.run(block), cab::Ok);
  EXPECT_EQ(d.output(), std::string(1000, 'x'));
  block.push_back(0);
  EXPECT_EQ(d.run(block), cab::BadSize);

  struct Case {
    std::vector<uint8_t> block;
    cab::DecoderResult expected;
  } cases[] = {
      {{'C', 'J', 0x03, 0x00}, cab::DataError},
      {{'C'}, cab::DataError},
      {{}, cab::DataError},
      {{'C', 'K', 0x03, 0x00}, cab::Ok},  // an empty fixed block with BFINAL
  };
  for (const Case& c : cases) EXPECT_EQ(d.run(c.block), c.expected) << c.block.size();
}

TEST(MszipDecompress, FailureLeavesSizeUnchangedAndContextUsable) {
  Decoder d;
  uint32_t size = 777;
  std::vector<uint8_t> bad = {'C', 'K', 0x07};  // BTYPE 3
  EXPECT_EQ(mszip::decompress(d.handle(), bad.data(), 3, d.buffer().data(), &size), cab::DataError);
  EXPECT_EQ(size, 777u);
  EXPECT_EQ(d.run(fixedLiterals("fine", true)), cab::Ok);
  EXPECT_EQ(d.output(), "fine");
}

TEST(MszipDecompress, EndsAtFinalBlockOrAtTheOutputLimit) {
  Decoder d;
  // BFINAL after 100 bytes: the rest of the input is never looked at.
  std::vector<uint8_t> block = fixedLiterals(std::string(100, 'q'), true);
  block.push_back(0xFF);
  EXPECT_EQ(d.run(block), cab::Ok);
  EXPECT_EQ(d.produced(), 100u);

  // No final block: 32768 bytes end the block in the middle of a match.
  BitWriter w;
  w.bits(0, 1);
  w.bits(1, 2);
  writeFixedSymbol(w, 'r');
  for (int i = 0; i < 200; ++i) writeFixedMatch(w, 258, 1);
  w.bits(0x7F, 7);  // garbage after the limit is never read
  EXPECT_EQ(d.run(w.block()), cab::Ok);
  EXPECT_EQ(d.output(), std::string(32768, 'r'));

  // A stored block of 32768 bytes without BFINAL.
  EXPECT_EQ(d.run(storedBlock(std::string(32768, 's'), false)), cab::Ok);
  EXPECT_EQ(d.output(), std::string(32768, 's'));

  // The caller's limit and a smaller block limit both cut the output.
  EXPECT_EQ(d.run(fixedLiterals("abcdefgh", true), 5), cab::Ok);
  EXPECT_EQ(d.output(), "abcde");
  EXPECT_EQ(d.run(storedBlock("abcdefgh", true), 3), cab::Ok);
  EXPECT_EQ(d.output(), "abc");
  EXPECT_EQ(d.run(fixedLiterals("abc", true), 0), cab::Ok);
  EXPECT_EQ(d.produced(), 0u);
  Decoder small(6);
  EXPECT_EQ(small.run(fixedLiterals("abcdefgh", true)), cab::Ok);
  EXPECT_EQ(small.output(), "abcdef");
}

TEST(MszipDecompress, InputEndingEarlyReadsZeroBits) {
  Decoder d;
  // Fixed block: 'A' then the end-of-block code 0000000, which lies in the zero bits past
  // the end once the stream is cut after the literal.
  BitWriter w;
  w.bits(1, 1);
  w.bits(1, 2);
  writeFixedSymbol(w, 'A');
  std::vector<uint8_t> cut = w.block();
  EXPECT_EQ(d.run(cut), cab::Ok);
  EXPECT_EQ(d.output(), "A");

  // Without BFINAL the zero bits go on: the end of block, then a stored header of zeros,
  // whose NLEN check fails.
  BitWriter v;
  v.bits(0, 1);
  v.bits(1, 2);
  writeFixedSymbol(v, 'A');
  EXPECT_EQ(d.run(v.block()), cab::DataError);

  // The zero bits may complete a literal: 0x30 + 'P' = 10000000 ends in seven zeros.
  BitWriter u;
  u.bits(1, 1);
  u.bits(1, 2);
  u.bits(1, 1);  // the first bit of the code for 'P'
  EXPECT_EQ(d.run(u.block()), cab::Ok);
  EXPECT_EQ(d.output(), "P");
}

TEST(MszipDecompress, StoredBlockChecks) {
  Decoder d;
  BitWriter mismatch;
  mismatch.bits(1, 3);
  mismatch.alignToByte();
  mismatch.bits(4, 16);
  mismatch.bits(4, 16);
  mismatch.rawBytes({1, 2, 3, 4});
  EXPECT_EQ(d.run(mismatch.block()), cab::DataError);

  // LEN beyond the bytes present must not be copied from beyond the block.
  std::vector<uint8_t> longer = storedBlock("abcdef", true);
  longer.resize(longer.size() - 1);
  EXPECT_EQ(d.run(longer), cab::DataError);

  // Several stored blocks, one of them empty, then a fixed one.
  std::vector<uint8_t> joined = storedBlock("ab", false);
  for (auto part : {storedBlock("", false), storedBlock("cd", false), fixedLiterals("ef", true)}) {
    joined.insert(joined.end(), part.begin() + 2, part.end());
  }
  EXPECT_EQ(d.run(joined), cab::Ok);
  EXPECT_EQ(d.output(), "abcdef");
}

// Lengths for a small literal/length code: 'A', 'B', end of block and length symbol 257
// (3 bytes) of 2 bits each, everything else unused.
std::vector<uint8_t> smallLiteralLengths() {
  std::vector<uint8_t> lengths(258, 0);
  lengths['A'] = lengths['B'] = lengths[256] = lengths[257] = 2;
  return lengths;
}

// A dynamic block "AB", a 3-byte match at distance 1 (distance code: symbol 0 of 1 bit),
// end of block.
std::vector<uint8_t> dynamicBlock(const std::vector<LengthItem>& items, uint32_t literalCount,
                                  uint32_t distanceCount, const std::vector<uint8_t>& literalLengths) {
  BitWriter w;
  writeDynamicHeader(w, true, literalCount, distanceCount, items);
  auto codes = canonicalCodes(literalLengths);
  w.code(codes['A'], 2);
  w.code(codes['B'], 2);
  w.code(codes[257], 2);
  w.bits(0, 1);  // distance symbol 0
  w.code(codes[256], 2);
  return w.block();
}

TEST(MszipDynamic, CodeLengthSequences) {
  const auto literals = smallLiteralLengths();
  auto withDistances = [&](std::vector<uint8_t> distances) {
    std::vector<uint8_t> all = literals;
    all.insert(all.end(), distances.begin(), distances.end());
    return all;
  };
  // Leading 16: three zero lengths, then 'A' stays at its place.
  std::vector<LengthItem> leadingRepeat = {{16, 0}, {18, 65 - 3 - 11}, {2}, {2}, {18, 138 - 11},
                                           {18, 51 - 11}, {2}, {2}, {1}};
  // 16 after a length repeats it: lengths 2 for 'A' and 'B' from one 2 and... a repeat of 0s.
  struct Case {
    const char* name;
    std::vector<LengthItem> items;
    uint32_t literalCount, distanceCount;
    cab::DecoderResult expected;
  } cases[] = {
      {"plain lengths", plainLengths(withDistances({1})), 258, 1, cab::Ok},
      {"leading repeat of zeros", leadingRepeat, 258, 1, cab::Ok},
      {"HLIT 29 (286 codes), HDIST 29 (30 codes)",
       plainLengths([&] {
         std::vector<uint8_t> l = literals;
         l.resize(286, 0);
         std::vector<uint8_t> dist(30, 0);
         dist[0] = 1;
         l.insert(l.end(), dist.begin(), dist.end());
         return l;
       }()),
       286, 30, cab::Ok},
      {"HLIT 30 (287 codes)", plainLengths(withDistances({1})), 287, 1, cab::DataError},
      {"HDIST 30 (31 codes)", plainLengths(withDistances({1})), 258, 31, cab::DataError},
      {"repeat past the end", [&] {
         auto items = plainLengths(literals);
         items.push_back({17, 0});  // 3 zeros where only 1 distance length remains
         return items;
       }(), 258, 1, cab::DataError},
  };
  for (const Case& c : cases) {
    Decoder d;
    EXPECT_EQ(d.run(dynamicBlock(c.items, c.literalCount, c.distanceCount, literals)), c.expected)
        << c.name;
    if (c.expected == cab::Ok) EXPECT_EQ(d.output(), "ABBBB") << c.name;
  }
}

TEST(MszipDynamic, RejectedAndAcceptedCodes) {
  std::vector<uint8_t> distanceOne = {1};
  struct Case {
    const char* name;
    std::vector<uint8_t> literalLengths;
    std::vector<uint8_t> distanceLengths;
    cab::DecoderResult expected;
  } cases[] = {
      {"complete codes, single 1-bit distance code", smallLiteralLengths(), {1}, cab::Ok},
      {"incomplete literal code", [] {
         auto l = smallLiteralLengths();
         l['B'] = 0;
         l['C'] = 3;
         return l;
       }(), {1}, cab::DataError},
      {"over-subscribed literal code", [] {
         auto l = smallLiteralLengths();
         l['C'] = 2;
         return l;
       }(), {1}, cab::DataError},
      {"incomplete distance code of 2 bits", smallLiteralLengths(), {2, 2, 2}, cab::DataError},
      {"empty distance code used by a match", smallLiteralLengths(), {0}, cab::DataError},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> all = c.literalLengths;
    all.insert(all.end(), c.distanceLengths.begin(), c.distanceLengths.end());
    Decoder d;
    auto block = dynamicBlock(plainLengths(all), static_cast<uint32_t>(c.literalLengths.size()),
                              static_cast<uint32_t>(c.distanceLengths.size()), smallLiteralLengths());
    EXPECT_EQ(d.run(block), c.expected) << c.name;
  }

  // An empty distance code is fine while only literals follow.
  std::vector<uint8_t> all = smallLiteralLengths();
  all.push_back(0);
  BitWriter w;
  writeDynamicHeader(w, true, 258, 1, plainLengths(all));
  auto codes = canonicalCodes(smallLiteralLengths());
  w.code(codes['B'], 2);
  w.code(codes['A'], 2);
  w.code(codes[256], 2);
  Decoder d;
  EXPECT_EQ(d.run(w.block()), cab::Ok);
  EXPECT_EQ(d.output(), "BA");

  // A code-length code that is incomplete fails before any length is read.
  BitWriter bad;
  bad.bits(1, 1);
  bad.bits(2, 2);
  bad.bits(0, 5);
  bad.bits(0, 5);
  bad.bits(0, 4);
  bad.bits(2, 3);  // symbol 16 of 2 bits, 17 18 0 unused
  bad.bits(0, 3);
  bad.bits(0, 3);
  bad.bits(0, 3);
  Decoder e;
  EXPECT_EQ(e.run(bad.block()), cab::DataError);
}

TEST(MszipFixed, DistanceSymbols30And31AreInvalid) {
  for (uint32_t symbol : {30u, 31u}) {
    BitWriter w;
    w.bits(3, 3);  // BFINAL, fixed codes
    writeFixedSymbol(w, 'x');
    writeFixedSymbol(w, 257);
    w.code(symbol, 5);
    w.bits(0, 16);
    Decoder d;
    EXPECT_EQ(d.run(w.block()), cab::DataError) << symbol;
  }
  for (uint32_t symbol : {286u, 287u}) {
    BitWriter w;
    w.bits(3, 3);  // BFINAL, fixed codes
    writeFixedSymbol(w, symbol);
    Decoder d;
    EXPECT_EQ(d.run(w.block()), cab::DataError) << symbol;
  }
}

// The history rule: output offset p, distance d reads offset p - d, or p - d + 32768 in the
// previous block's bytes above p when d > p, wrapping to offset 0.
std::string referenceCopy(const std::vector<uint8_t>& previous, std::string current, size_t length,
                          size_t distance) {
  std::vector<uint8_t> window = previous;
  std::copy(current.begin(), current.end(), window.begin());
  size_t p = current.size();
  size_t from = distance <= p ? p - distance : p - distance + 32768;
  for (size_t i = 0; i < length; ++i) {
    window[p + i] = window[from];
    from = (from + 1) % 32768;
  }
  return std::string(window.begin(), window.begin() + p + length);
}

TEST(MszipHistory, MatchesReachIntoThePreviousBlock) {
  std::string previous(32768, '\0');
  for (size_t i = 0; i < previous.size(); ++i) previous[i] = static_cast<char>('a' + i % 23 + i / 5000);
  const std::vector<uint8_t> previousBytes(previous.begin(), previous.end());
  struct Case {
    std::string prefix;
    uint32_t length, distance;
  } cases[] = {
      {"", 10, 10},         // offsets 32758 to 32767
      {"", 258, 32768},     // the previous block's bytes at the same offsets
      {"xyz", 40, 20},      // starts above, wraps to offset 0 and runs into this block's bytes
      {"xyzw", 258, 5},     // wraps after one byte
      {"0123456789", 258, 1},
      {"0123456789", 200, 7},
      {"0123456789", 100, 9},
  };
  for (const Case& c : cases) {
    Decoder d;
    ASSERT_EQ(d.run(storedBlock(previous, false)), cab::Ok);
    BitWriter w;
    w.bits(3, 3);  // BFINAL, fixed codes
    for (unsigned char ch : c.prefix) writeFixedSymbol(w, ch);
    writeFixedMatch(w, c.length, c.distance);
    writeFixedSymbol(w, 256);
    ASSERT_EQ(d.run(w.block()), cab::Ok);
    EXPECT_EQ(d.output(), referenceCopy(previousBytes, c.prefix, c.length, c.distance))
        << c.prefix << " " << c.length << " " << c.distance;
  }
}

TEST(MszipHistory, LongMatchAtDistanceOneRepeatsOneByte) {
  Decoder d;
  BitWriter w;
  w.bits(3, 3);  // BFINAL, fixed codes
  writeFixedSymbol(w, 'z');
  writeFixedMatch(w, 258, 1);
  writeFixedSymbol(w, 256);
  ASSERT_EQ(d.run(w.block()), cab::Ok);
  EXPECT_EQ(d.output(), std::string(259, 'z'));
}

}  // namespace
