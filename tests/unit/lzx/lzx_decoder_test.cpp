#include "cabinet/lzx.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "lzx_stream_writer.h"

namespace {

using cab::DecoderResult;
using namespace lzxtest;

// Allocation callbacks that count live blocks and can fail the n-th allocation.
int liveBlocks = 0;
int allocationsLeft = -1;  // -1: never fail

void* countingAllocate(int32_t bytes) {
  if (allocationsLeft == 0) return nullptr;
  if (allocationsLeft > 0) --allocationsLeft;
  ++liveBlocks;
  return std::malloc(static_cast<size_t>(bytes));
}

void countingRelease(void* block) {
  --liveBlocks;
  std::free(block);
}

class Decoder {
 public:
  explicit Decoder(uint32_t windowBytes = 1u << 16) {
    uint32_t limit = 32768, need = 0;
    EXPECT_EQ(lzx::create(&limit, windowBytes, countingAllocate, countingRelease, &need, &handle_),
              cab::Ok);
  }
  ~Decoder() { lzx::destroy(handle_); }
  void* handle() const { return handle_; }

  // Decodes one data block (given exactly, so that any read past it is caught) into a frame.
  DecoderResult frame(const std::vector<uint8_t>& input, uint32_t frameBytes,
                      std::string* text = nullptr, std::vector<uint8_t>* bytes = nullptr) {
    std::vector<uint8_t> in(input);
    std::vector<uint8_t> out(frameBytes);
    uint32_t produced = frameBytes;
    DecoderResult result = lzx::decompress(handle_, in.data(), static_cast<uint32_t>(in.size()),
                                           out.data(), &produced);
    out.resize(produced);
    if (text) *text = std::string(out.begin(), out.end());
    if (bytes) *bytes = out;
    return result;
  }

 private:
  void* handle_ = nullptr;
};

constexpr uint32_t MainSymbols16 = 256 + 8 * 32;  // window 2^16

// ---- create, handles and sizes ----

TEST(LzxCreate, SizeQueryReportsBufferNeedAndAllocatesNothing) {
  uint32_t limit = 32768, need = 0;
  int before = liveBlocks;
  EXPECT_EQ(lzx::create(&limit, 1u << 15, countingAllocate, countingRelease, &need, nullptr), cab::Ok);
  EXPECT_EQ(need, 38912u);
  EXPECT_EQ(limit, 32768u);
  EXPECT_EQ(liveBlocks, before);
}

TEST(LzxCreate, AcceptsOnlyPowerOfTwoWindowsFrom2To15To2To21) {
  struct Case {
    uint32_t windowBytes;
    DecoderResult expected;
  };
  const Case cases[] = {{1u << 15, cab::Ok},          {1u << 18, cab::Ok},
                        {1u << 21, cab::Ok},          {1u << 14, cab::OutOfMemory},
                        {1u << 22, cab::OutOfMemory}, {40000, cab::OutOfMemory},
                        {0, cab::OutOfMemory}};
  for (const Case& c : cases) {
    uint32_t limit = 32768, need = 0;
    void* handle = reinterpret_cast<void*>(1);
    EXPECT_EQ(lzx::create(&limit, c.windowBytes, countingAllocate, countingRelease, &need, &handle),
              c.expected)
        << c.windowBytes;
    if (c.expected == cab::Ok) {
      EXPECT_EQ(lzx::destroy(handle), cab::Ok);
    } else {
      EXPECT_EQ(handle, nullptr);
    }
    EXPECT_EQ(liveBlocks, 0) << c.windowBytes;
  }
}

TEST(LzxCreate, FailedAllocationReleasesWhatWasAllocated) {
  for (int failAt = 0; failAt < 3; ++failAt) {
    allocationsLeft = failAt;
    uint32_t limit = 32768, need = 0;
    void* handle = nullptr;
    EXPECT_EQ(lzx::create(&limit, 1u << 15, countingAllocate, countingRelease, &need, &handle),
              cab::OutOfMemory);
    allocationsLeft = -1;
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(liveBlocks, 0) << "failing allocation " << failAt;
  }
}

TEST(LzxHandle, ForeignHandleAndOversizedFrameAreRefused) {
  uint32_t notAContext[16] = {};
  uint8_t out[8];
  uint32_t size = 8;
  EXPECT_EQ(lzx::decompress(notAContext, out, 0, out, &size), cab::BadHandle);
  EXPECT_EQ(lzx::reset(notAContext), cab::BadHandle);
  EXPECT_EQ(lzx::destroy(notAContext), cab::BadHandle);

  Decoder decoder;
  std::vector<uint8_t> big(32769);
  uint32_t frame = 32769;
  EXPECT_EQ(lzx::decompress(decoder.handle(), big.data(), 100, big.data(), &frame), cab::BadSize);
}

// ---- block headers and uncompressed blocks ----

TEST(LzxBlocks, UnknownBlockTypesAreDataErrors) {
  for (uint32_t type : {0u, 4u, 5u, 6u, 7u}) {
    Bits bits;
    bits.write(0, 1);  // no E8 translation
    writeBlockHeader(bits, type, 16);
    for (int k = 0; k < 8; ++k) bits.write(0, 16);
    bits.flush();
    Decoder decoder;
    uint32_t frame = 16;
    std::vector<uint8_t> out(16);
    EXPECT_EQ(lzx::decompress(decoder.handle(), bits.bytes.data(),
                              static_cast<uint32_t>(bits.bytes.size()), out.data(), &frame),
              cab::DataError)
        << type;
    EXPECT_EQ(frame, 0u);
  }
}

void writeUncompressed(Bits& bits, const std::string& data, uint32_t r0 = 1, uint32_t r1 = 1,
                       uint32_t r2 = 1, bool pad = true) {
  writeBlockHeader(bits, lzx::UncompressedBlock, static_cast<uint32_t>(data.size()));
  bits.alignForRawBytes();
  bits.rawLe32(r0);
  bits.rawLe32(r1);
  bits.rawLe32(r2);
  for (char c : data) bits.rawByte(static_cast<uint8_t>(c));
  if (pad && data.size() % 2 == 1) bits.rawByte(0xAA);  // skipped, whatever its value
}

TEST(LzxBlocks, OddUncompressedBlockIsFollowedByOnePadByteAndEvenByNone) {
  Bits bits;
  bits.write(0, 1);
  writeUncompressed(bits, "abc");  // odd: pad byte
  writeUncompressed(bits, "de");   // even: none
  writeUncompressed(bits, "f");
  Decoder decoder;
  std::string text;
  ASSERT_EQ(decoder.frame(bits.bytes, 6, &text), cab::Ok);
  EXPECT_EQ(text, "abcdef");
}

TEST(LzxBlocks, HeaderEndingOnAWordBoundaryIsFollowedByAWholePaddingWord) {
  // A verbatim block of 1-bit literals, as many as make the following uncompressed block's
  // header end exactly on a word boundary.
  auto build = [](uint32_t literals) {
    std::vector<Symbol> symbols;
    for (uint32_t i = 0; i < literals; ++i) symbols.push_back(literal(i % 2 ? 'b' : 'a'));
    Bits bits;
    bits.write(0, 1);
    uint8_t zeros[lzx::MaxMainSymbols] = {};
    Trees trees(symbols, MainSymbols16);
    writeVerbatimBlock(bits, literals, MainSymbols16, symbols, trees, zeros, zeros);
    writeUncompressed(bits, "xy");
    return std::pair(bits, symbols);
  };
  uint32_t literals = 16;
  Bits measure;
  {
    std::vector<Symbol> symbols;
    for (uint32_t i = 0; i < literals; ++i) symbols.push_back(literal(i % 2 ? 'b' : 'a'));
    measure.write(0, 1);
    uint8_t zeros[lzx::MaxMainSymbols] = {};
    Trees trees(symbols, MainSymbols16);
    writeVerbatimBlock(measure, literals, MainSymbols16, symbols, trees, zeros, zeros);
    writeBlockHeader(measure, lzx::UncompressedBlock, 2);
  }
  literals += (16 - measure.used()) % 16;
  auto [bits, symbols] = build(literals);
  std::string expected;
  for (const Symbol& s : symbols) expected += static_cast<char>(s.main);
  Decoder decoder;
  std::string text;
  ASSERT_EQ(decoder.frame(bits.bytes, literals + 2, &text), cab::Ok);
  EXPECT_EQ(text, expected + "xy");
}

TEST(LzxBlocks, UncompressedBlockContinuesAtTheNextDataBlocksFirstByte) {
  Bits first;
  first.write(0, 1);
  writeBlockHeader(first, lzx::UncompressedBlock, 9);
  first.alignForRawBytes();
  first.rawLe32(1);
  first.rawLe32(1);
  first.rawLe32(1);
  for (char c : std::string("012345")) first.rawByte(static_cast<uint8_t>(c));
  // The rest of the block, its pad byte, then a new block header in a fresh bit stream.
  Bits second;
  for (char c : std::string("678")) second.rawByte(static_cast<uint8_t>(c));
  second.rawByte(0x55);
  writeUncompressed(second, "9!");

  Decoder decoder;
  std::string a, b;
  ASSERT_EQ(decoder.frame(first.bytes, 6, &a), cab::Ok);
  ASSERT_EQ(decoder.frame(second.bytes, 5, &b), cab::Ok);
  EXPECT_EQ(a + b, "0123456789!");
}

TEST(LzxBlocks, RepeatedOffsetsComeFromTheUncompressedHeader) {
  Bits bits;
  bits.write(0, 1);
  writeUncompressed(bits, "abcd", /*r0=*/4, /*r1=*/2, /*r2=*/3);
  std::vector<Symbol> symbols = {match(0, 4), match(1, 2), match(2, 3)};
  uint8_t zeros[lzx::MaxMainSymbols] = {};
  Trees trees(symbols, MainSymbols16);
  writeVerbatimBlock(bits, 9, MainSymbols16, symbols, trees, zeros, zeros);
  bits.flush();
  Decoder decoder;
  std::string text;
  ASSERT_EQ(decoder.frame(bits.bytes, 13, &text), cab::Ok);
  // R0=4: "abcd"; R1=2 (now R0=2, R1=4): "cd"; R2=3 (now R0=3): "dcd".
  EXPECT_EQ(text, "abcdabcdcddcd");
}

TEST(LzxBlocks, UncompressedBlockCutShortIsADataError) {
  Bits bits;
  bits.write(0, 1);
  writeUncompressed(bits, "abcdefgh");
  bits.bytes.resize(bits.bytes.size() - 3);
  Decoder decoder;
  EXPECT_EQ(decoder.frame(bits.bytes, 8), cab::DataError);
}

TEST(LzxBlocks, FrameThatWouldCrossTheWindowEndIsADataError) {
  Decoder decoder(1u << 15);
  Bits first;
  first.write(0, 1);
  writeBlockHeader(first, lzx::UncompressedBlock, 40000);
  first.alignForRawBytes();
  for (int k = 0; k < 3; ++k) first.rawLe32(1);
  for (int k = 0; k < 20000; ++k) first.rawByte('z');
  ASSERT_EQ(decoder.frame(first.bytes, 20000), cab::Ok);
  std::vector<uint8_t> second(20000, 'z');
  EXPECT_EQ(decoder.frame(second, 20000), cab::DataError);
}

// ---- verbatim blocks and trees ----

std::vector<uint8_t> verbatimBytes(const std::vector<Symbol>& symbols, uint32_t blockBytes) {
  Bits bits;
  bits.write(0, 1);
  uint8_t zeros[lzx::MaxMainSymbols] = {};
  Trees trees(symbols, MainSymbols16);
  writeVerbatimBlock(bits, blockBytes, MainSymbols16, symbols, trees, zeros, zeros);
  bits.flush();
  return bits.bytes;
}

std::string decodeVerbatim(const std::vector<Symbol>& symbols, uint32_t blockBytes,
                           DecoderResult* result = nullptr) {
  Decoder decoder;
  std::string text;
  DecoderResult r = decoder.frame(verbatimBytes(symbols, blockBytes), blockBytes, &text);
  if (result) *result = r;
  return text;
}

TEST(LzxVerbatim, RepeatedOffsetsStartAtOneAfterReset) {
  std::string text = decodeVerbatim({literal('x'), match(0, 2), match(1, 3), match(2, 4)}, 10);
  EXPECT_EQ(text, std::string(10, 'x'));
}

TEST(LzxVerbatim, MatchOfLength257AtOffset1RepeatsOneByte) {
  std::string text = decodeVerbatim({literal('q'), literal('y'), match(3, 257)}, 259);
  EXPECT_EQ(text, "q" + std::string(258, 'y'));
}

TEST(LzxVerbatim, MatchesWithExtraBitsReachBack) {
  // Slot 8: formatted offsets 16-23, so extra value 5 is offset 19.
  std::vector<Symbol> symbols;
  std::string expected;
  for (int i = 0; i < 19; ++i) {
    symbols.push_back(literal(static_cast<uint8_t>('a' + i)));
    expected += static_cast<char>('a' + i);
  }
  symbols.push_back(match(8, 12, 3, 5));
  expected += expected.substr(0, 12);
  EXPECT_EQ(decodeVerbatim(symbols, 31), expected);
}

TEST(LzxVerbatim, MatchCrossingTheBlockEndIsADataError) {
  DecoderResult result = cab::Ok;
  decodeVerbatim({literal('a'), match(3, 5)}, 4, &result);
  EXPECT_EQ(result, cab::DataError);
}

TEST(LzxVerbatim, InputEndingBeforeTheFrameIsADataError) {
  std::vector<Symbol> symbols;
  for (int i = 0; i < 4000; ++i) symbols.push_back(literal(static_cast<uint8_t>(i * 7)));
  Bits bits;
  bits.write(0, 1);
  uint8_t zeros[lzx::MaxMainSymbols] = {};
  Trees trees(symbols, MainSymbols16);
  writeVerbatimBlock(bits, 4000, MainSymbols16, symbols, trees, zeros, zeros);
  bits.flush();
  bits.bytes.resize(bits.bytes.size() / 2);
  Decoder decoder;
  EXPECT_EQ(decoder.frame(bits.bytes, 4000), cab::DataError);
}

TEST(LzxVerbatim, AlignedOffsetBlockTakesTheLowThreeBitsFromItsTree) {
  Bits bits;
  bits.write(0, 1);
  std::vector<Symbol> symbols;
  std::string expected;
  for (int i = 0; i < 20; ++i) {
    symbols.push_back(literal(static_cast<uint8_t>('A' + i)));
    expected += static_cast<char>('A' + i);
  }
  // Slot 8 has 3 extra bits: all of them come from the aligned tree. Value 2: offset 16.
  Symbol m = match(8, 4);
  symbols.push_back(m);
  expected += expected.substr(4, 4);
  Trees trees(symbols, MainSymbols16);
  uint8_t zeros[lzx::MaxMainSymbols] = {};
  writeBlockHeader(bits, lzx::AlignedBlock, 24);
  // Aligned tree: every symbol 3 bits, so symbol k is code k.
  for (int k = 0; k < 8; ++k) bits.write(3, 3);
  writePretreeOps(bits, changeOps(trees.main, zeros, 0, 256));
  writePretreeOps(bits, changeOps(trees.main, zeros, 256, MainSymbols16));
  writePretreeOps(bits, changeOps(trees.length, zeros, 0, lzx::LengthSymbols));
  writeSymbols(bits, trees, symbols);
  bits.write(2, 3);  // the aligned symbol of the match
  bits.flush();
  Decoder decoder;
  std::string text;
  ASSERT_EQ(decoder.frame(bits.bytes, 24, &text), cab::Ok);
  EXPECT_EQ(text, expected);
}

// Writes a verbatim block whose first main range is given as pretree ops; the second range
// and the length tree are all zero.
std::vector<uint8_t> blockWithFirstRange(const std::vector<PretreeOp>& firstRange,
                                         const std::vector<Symbol>& symbols, const Trees& trees,
                                         uint32_t blockBytes) {
  Bits bits;
  bits.write(0, 1);
  writeBlockHeader(bits, lzx::VerbatimBlock, blockBytes);
  writePretreeOps(bits, firstRange);
  writePretreeOps(bits, {{18, 31}, {18, 31}, {18, 31}, {18, 31}, {18, 31}, {18, 31}});  // cut at 256
  writePretreeOps(bits, {{18, 31}, {18, 31}, {18, 31}, {18, 31}, {18, 31}});  // cut at 249
  writeSymbols(bits, trees, symbols);
  bits.flush();
  return bits.bytes;
}

TEST(LzxPretree, ZeroRunIsCutAtElement255) {
  // Lengths: 'a' and 'b' 1 bit, the rest 0; the last run of 51 zeros starts at 252 and is cut.
  std::vector<PretreeOp> ops = {{18, 31}, {18, 26}, {16}, {16}, {18, 31}, {18, 31}, {18, 31}, {18, 31}};
  std::vector<Symbol> symbols = {literal('a'), literal('b'), literal('b'), literal('a')};
  Trees trees(symbols, MainSymbols16);
  ASSERT_EQ(trees.main[uint8_t{'a'}], 1);
  ASSERT_EQ(trees.main[uint8_t{'b'}], 1);
  Decoder decoder;
  std::string text;
  ASSERT_EQ(decoder.frame(blockWithFirstRange(ops, symbols, trees, 4), 4, &text), cab::Ok);
  EXPECT_EQ(text, "abba");
}

TEST(LzxPretree, RunOf19TakesThePreviousLengthAtItsFirstPosition) {
  Decoder decoder;
  // Block 1: 'a' 1 bit, 'b' 2 bits, 'c' and 'd' 3 bits.
  std::vector<Symbol> first = {literal('a'), literal('a'), literal('a'), literal('a'),
                               literal('b'), literal('b'), literal('c'), literal('d')};
  Trees firstTrees(first, MainSymbols16);
  ASSERT_EQ(firstTrees.main[uint8_t{'a'}], 1);
  ASSERT_EQ(firstTrees.main[uint8_t{'c'}], 3);
  Bits bits;
  bits.write(0, 1);
  uint8_t zeros[lzx::MaxMainSymbols] = {};
  writeVerbatimBlock(bits, 8, MainSymbols16, first, firstTrees, zeros, zeros);
  // Block 2: 'a'-'d' all 2 bits through one 19-run of 4: change 16 against the previous
  // length of 'a' (1) gives 2 for all four. Taken per position, it would give 2, 3, 4, 4 (an
  // incomplete code).
  std::vector<PretreeOp> ops = {{18, 31}, {18, 26}, {19, 0, 16}};
  for (int i = 0; i < 3; ++i) ops.push_back({18, 31});
  ops.push_back({18, 2});  // 101..255
  std::vector<Symbol> second = {literal('d'), literal('c'), literal('b'), literal('a')};
  Trees secondTrees(second, MainSymbols16);
  writeBlockHeader(bits, lzx::VerbatimBlock, 4);
  writePretreeOps(bits, ops);
  writePretreeOps(bits, changeOps(secondTrees.main, firstTrees.main, 256, MainSymbols16));
  writePretreeOps(bits, changeOps(secondTrees.length, firstTrees.length, 0, lzx::LengthSymbols));
  writeSymbols(bits, secondTrees, second);
  bits.flush();
  std::string text;
  ASSERT_EQ(decoder.frame(bits.bytes, 12, &text), cab::Ok);
  EXPECT_EQ(text, "aaaabbcddcba");
}

TEST(LzxPretree, MalformedTreesAreDataErrors) {
  std::vector<Symbol> symbols = {literal('a'), literal('b')};
  Trees trees(symbols, MainSymbols16);
  struct Case {
    const char* name;
    std::vector<PretreeOp> ops;
  };
  const Case cases[] = {
      // 'a' alone with 1 bit: half the code space unused.
      {"incomplete main tree", {{18, 31}, {18, 26}, {16}, {18, 31}, {18, 31}, {18, 31}, {18, 31}}},
      // 'a', 'b', 'c' with 1 bit each: over-subscribed.
      {"over-full main tree", {{18, 31}, {18, 26}, {16}, {16}, {16}, {18, 31}, {18, 31}, {18, 31}, {18, 31}}},
      // A 19-run whose second symbol is itself a run symbol.
      {"19 followed by 17", {{18, 31}, {18, 26}, {19, 0, 17}, {18, 31}, {18, 31}, {18, 31}, {18, 31}}},
  };
  for (const Case& c : cases) {
    Decoder decoder;
    EXPECT_EQ(decoder.frame(blockWithFirstRange(c.ops, symbols, trees, 2), 2), cab::DataError)
        << c.name;
  }
}

TEST(LzxPretree, IncompletePretreeIsADataError) {
  // One pretree symbol of 1 bit: half the pretree's code space has no symbol.
  Bits bits;
  bits.write(0, 1);
  writeBlockHeader(bits, lzx::VerbatimBlock, 1);
  for (int i = 0; i < 20; ++i) bits.write(i == 0 ? 1 : 0, 4);
  for (int k = 0; k < 64; ++k) bits.write(0, 16);
  Decoder decoder;
  EXPECT_EQ(decoder.frame(bits.bytes, 1), cab::DataError);
}

// ---- E8 translation ----

// Uncompressed frames with the E8 header; each frame is one data block.
std::vector<std::vector<uint8_t>> e8Frames(uint32_t fileSize, const std::vector<std::vector<uint8_t>>& frames) {
  uint32_t total = 0;
  for (const auto& f : frames) total += static_cast<uint32_t>(f.size());
  std::vector<std::vector<uint8_t>> blocks;
  Bits bits;
  bits.write(fileSize != 0 ? 1 : 0, 1);
  if (fileSize != 0) {
    bits.write(fileSize >> 16, 16);
    bits.write(fileSize & 0xFFFF, 16);
  }
  writeBlockHeader(bits, lzx::UncompressedBlock, total);
  bits.alignForRawBytes();
  for (int k = 0; k < 3; ++k) bits.rawLe32(1);
  blocks.push_back(bits.bytes);
  for (size_t i = 0; i < frames.size(); ++i) {
    if (i > 0) blocks.emplace_back();
    blocks.back().insert(blocks.back().end(), frames[i].begin(), frames[i].end());
  }
  return blocks;
}

std::vector<uint8_t> frameWithCall(uint32_t sizeBytes, uint32_t at) {
  std::vector<uint8_t> f(sizeBytes, 0x90);
  const uint8_t call[5] = {0xE8, 0x00, 0x01, 0x00, 0x00};
  std::copy(call, call + 5, f.begin() + at);
  return f;
}

TEST(LzxE8, CallTargetsAreMadeRelativeToTheirFolderPosition) {
  auto blocks = e8Frames(0x100000, {frameWithCall(32768, 5), frameWithCall(32768, 5)});
  Decoder decoder;
  std::vector<uint8_t> a, b;
  ASSERT_EQ(decoder.frame(blocks[0], 32768, nullptr, &a), cab::Ok);
  ASSERT_EQ(decoder.frame(blocks[1], 32768, nullptr, &b), cab::Ok);
  EXPECT_EQ(std::vector<uint8_t>(a.begin() + 5, a.begin() + 10),
            (std::vector<uint8_t>{0xE8, 0xFB, 0x00, 0x00, 0x00}));
  EXPECT_EQ(std::vector<uint8_t>(b.begin() + 5, b.begin() + 10),
            (std::vector<uint8_t>{0xE8, 0xFB, 0x80, 0xFF, 0xFF}));
}

TEST(LzxE8, BytesThatAreLeftAlone) {
  struct Case {
    const char* name;
    uint32_t fileSize;
    uint32_t frameBytes;
    uint32_t callAt;
  };
  const Case cases[] = {
      {"translation off by the header bit", 0, 64, 5},
      {"0xE8 among the last 10 bytes", 0x100000, 64, 54},
      {"frame of 10 bytes", 0x100000, 10, 0},
      {"frame of 8 bytes", 0x100000, 8, 0},
      {"frame of 7 bytes", 0x100000, 7, 1},
  };
  for (const Case& c : cases) {
    auto frame = frameWithCall(c.frameBytes, c.callAt);
    auto blocks = e8Frames(c.fileSize, {frame});
    Decoder decoder;
    std::vector<uint8_t> out;
    ASSERT_EQ(decoder.frame(blocks[0], c.frameBytes, nullptr, &out), cab::Ok) << c.name;
    EXPECT_EQ(out, frame) << c.name;
  }
}

TEST(LzxE8, FramesFromThe32769thOnAreNotTranslated) {
  const uint32_t frameBytes = 16;
  std::vector<std::vector<uint8_t>> frames(32769, frameWithCall(frameBytes, 0));
  auto blocks = e8Frames(0x100000, frames);
  Decoder decoder(1u << 21);
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 1 < blocks.size(); ++i)
    ASSERT_EQ(decoder.frame(blocks[i], frameBytes, nullptr, &out), cab::Ok) << i;
  EXPECT_NE(out, frames[0]) << "frame 32768 is still translated";
  ASSERT_EQ(decoder.frame(blocks.back(), frameBytes, nullptr, &out), cab::Ok);
  EXPECT_EQ(out, frames[0]);
}

TEST(LzxReset, StartsANewStreamWithFreshState) {
  Bits bits;
  bits.write(0, 1);
  writeUncompressed(bits, "hello", 7, 7, 7);
  Decoder decoder;
  std::string text;
  ASSERT_EQ(decoder.frame(bits.bytes, 5, &text), cab::Ok);
  ASSERT_EQ(lzx::reset(decoder.handle()), cab::Ok);
  // After reset the E8 header is read again and R0 is 1 again.
  ASSERT_EQ(decoder.frame(verbatimBytes({literal('k'), match(0, 3)}, 4), 4, &text), cab::Ok);
  EXPECT_EQ(text, "kkkk");
  ASSERT_EQ(lzx::reset(decoder.handle()), cab::Ok);
  ASSERT_EQ(decoder.frame(bits.bytes, 5, &text), cab::Ok);
  EXPECT_EQ(text, "hello");
}

}  // namespace
