// The MSZIP compressor and decoder together, and the decoder against zlib's inflate.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "cabinet/mszip.h"
#include "pack/compressor.h"

namespace {

void* allocate(int32_t bytes) { return std::malloc(static_cast<size_t>(bytes)); }
void release(void* block) { std::free(block); }

std::vector<uint8_t> randomBytes(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> data(size);
  for (auto& b : data) b = static_cast<uint8_t>(rng());
  return data;
}

// Words, numbers and repeats, like text and tables in an update's files.
std::vector<uint8_t> textLike(size_t size, uint32_t seed) {
  static const char* words[] = {"the ", "update ", "file ", "version ", "1.04 ", "game\r\n",
                                "language ", "=", "0x", "FFFF", "\t", "readme ", "a", "of "};
  std::mt19937 rng(seed);
  std::string text;
  while (text.size() < size) {
    if (rng() % 16 == 0 && text.size() > 100) {
      size_t from = rng() % (text.size() - 50);
      text.append(text, from, 3 + rng() % 40);
    } else {
      text += words[rng() % (sizeof words / sizeof words[0])];
    }
  }
  text.resize(size);
  return std::vector<uint8_t>(text.begin(), text.end());
}

// Code-like data: small integers, runs and some noise.
std::vector<uint8_t> binaryLike(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> data(size);
  for (size_t i = 0; i < size; ++i) {
    uint32_t r = rng() % 10;
    data[i] = r < 4 ? 0 : r < 7 ? static_cast<uint8_t>(i / 64) : static_cast<uint8_t>(rng());
  }
  return data;
}

// Compresses `data` block by block and decodes it again through one decoder and one
// output buffer, as the cabinet reader does; checks every block.
void roundTrip(const std::vector<uint8_t>& data, int level) {
  auto compressor = pack::makeMszipCompressor(level);
  ASSERT_NE(compressor, nullptr);
  EXPECT_EQ(compressor->compressionWord(), 1);
  uint32_t limit = 32768, need = 0;
  void* handle = nullptr;
  ASSERT_EQ(mszip::create(&limit, allocate, release, &need, &handle), cab::Ok);
  std::vector<uint8_t> buffer(32768);
  for (size_t at = 0; at < data.size(); at += 32768) {
    const size_t blockBytes = std::min<size_t>(32768, data.size() - at);
    std::vector<uint8_t> block;
    compressor->compressBlock({data.data() + at, blockBytes}, at + blockBytes == data.size(), block);
    ASSERT_LE(block.size(), need);
    uint32_t produced = 32768;
    ASSERT_EQ(mszip::decompress(handle, block.data(), static_cast<uint32_t>(block.size()),
                                buffer.data(), &produced),
              cab::Ok)
        << "level " << level << " block at " << at;
    ASSERT_EQ(produced, blockBytes);
    ASSERT_TRUE(std::equal(buffer.begin(), buffer.begin() + blockBytes, data.begin() + at))
        << "level " << level << " block at " << at;
  }
  mszip::destroy(handle);
}

TEST(MszipRoundTrip, CompressorOutputDecodesToTheSameBytes) {
  for (int level : {1, 6, 9}) {
    roundTrip(textLike(200000, 1), level);
    roundTrip(binaryLike(150000, 2), level);
    roundTrip(randomBytes(70000, 3), level);
  }
  // Data that repeats at exactly one block's distance uses the previous block as history.
  std::vector<uint8_t> repeated = textLike(32768, 4);
  repeated.insert(repeated.end(), repeated.begin(), repeated.end());
  repeated.insert(repeated.end(), repeated.begin(), repeated.begin() + 1000);
  roundTrip(repeated, 9);
  roundTrip({'x'}, 9);
}

TEST(MszipRoundTrip, HistoryShortensRepeatedBlocks) {
  auto compressor = pack::makeMszipCompressor(9);
  // The second block repeats the first from its offset 1000 on: distances of 31768.
  const std::vector<uint8_t> data = randomBytes(33768, 5);
  std::vector<uint8_t> first, second;
  compressor->compressBlock({data.data(), 32768}, false, first);
  compressor->compressBlock({data.data() + 1000, 32768}, true, second);
  EXPECT_LE(first.size(), 32768u + 12);
  EXPECT_LT(second.size(), 1500u);  // the 1000 new random bytes and little else
}

TEST(MszipRoundTrip, LevelsOutsideOneToNineAreRefused) {
  EXPECT_EQ(pack::makeMszipCompressor(0), nullptr);
  EXPECT_EQ(pack::makeMszipCompressor(10), nullptr);
  EXPECT_EQ(pack::makeMszipCompressor(-1), nullptr);
}

// Raw deflate of `data` by zlib with the given settings.
std::vector<uint8_t> zlibDeflate(const std::vector<uint8_t>& data, int level, int strategy, int memLevel) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, -15, memLevel, strategy), Z_OK);
  std::vector<uint8_t> out(deflateBound(&z, data.size()) + 64);
  z.next_in = const_cast<Bytef*>(data.data());
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

std::vector<uint8_t> zlibInflate(const std::vector<uint8_t>& stream, size_t expected) {
  z_stream z{};
  EXPECT_EQ(inflateInit2(&z, -15), Z_OK);
  std::vector<uint8_t> out(expected + 16);
  z.next_in = const_cast<Bytef*>(stream.data());
  z.avail_in = static_cast<uInt>(stream.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  inflateEnd(&z);
  return out;
}

TEST(MszipAgainstInflate, ZlibStreamsOfEveryKindDecodeAlike) {
  struct Setting {
    int level, strategy, memLevel;
  } settings[] = {{0, Z_DEFAULT_STRATEGY, 8}, {1, Z_DEFAULT_STRATEGY, 1}, {6, Z_DEFAULT_STRATEGY, 8},
                  {9, Z_DEFAULT_STRATEGY, 9}, {9, Z_FILTERED, 9},          {6, Z_HUFFMAN_ONLY, 8},
                  {6, Z_RLE, 8},              {6, Z_FIXED, 8},             {9, Z_DEFAULT_STRATEGY, 1}};
  uint32_t seed = 10;
  for (const Setting& s : settings) {
    for (size_t size : {1, 257, 5000, 32768}) {
      for (auto make : {textLike, binaryLike, randomBytes}) {
        const std::vector<uint8_t> data = make(size, seed++);
        const std::vector<uint8_t> stream = zlibDeflate(data, s.level, s.strategy, s.memLevel);
        if (stream.size() + 2 > 32780) continue;
        std::vector<uint8_t> block = {'C', 'K'};
        block.insert(block.end(), stream.begin(), stream.end());
        uint32_t limit = 0, need = 0;
        void* handle = nullptr;
        ASSERT_EQ(mszip::create(&limit, allocate, release, &need, &handle), cab::Ok);
        std::vector<uint8_t> buffer(32768);
        uint32_t produced = 32768;
        ASSERT_EQ(mszip::decompress(handle, block.data(), static_cast<uint32_t>(block.size()),
                                    buffer.data(), &produced),
                  cab::Ok);
        buffer.resize(produced);
        EXPECT_EQ(buffer, zlibInflate(stream, size))
            << "level " << s.level << " strategy " << s.strategy << " size " << size;
        mszip::destroy(handle);
      }
    }
  }
}

}  // namespace
