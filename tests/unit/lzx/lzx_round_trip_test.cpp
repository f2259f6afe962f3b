#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "cabinet/lzx.h"
#include "cabinet/lzx_constants.h"
#include "pack/compressor.h"

namespace {

// Test data of the kinds a cabinet carries.
std::vector<uint8_t> textData(size_t sizeBytes, uint32_t seed) {
  static const char* words[] = {"the ", "update ", "installer ", "reads ", "a ", "cabinet ",
                                "file ", "and ", "writes ", "folder ", "data\n", "game ",
                                "version ", "language ", "of ", "to ", "with ", "1.04 "};
  std::mt19937 rng(seed);
  std::vector<uint8_t> out;
  while (out.size() < sizeBytes) {
    const char* w = words[rng() % (sizeof words / sizeof *words)];
    out.insert(out.end(), w, w + std::char_traits<char>::length(w));
  }
  out.resize(sizeBytes);
  return out;
}

std::vector<uint8_t> randomData(size_t sizeBytes, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> out(sizeBytes);
  for (auto& b : out) b = static_cast<uint8_t>(rng());
  return out;
}

// x86-like code: short instruction patterns and many E8 calls to a handful of targets.
std::vector<uint8_t> codeData(size_t sizeBytes, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> out;
  const uint32_t targets[] = {0x1000, 0x2340, 0x8000, 0x41000, 0xB00000};
  while (out.size() < sizeBytes) {
    switch (rng() % 4) {
      case 0: {
        uint32_t relative = targets[rng() % 5] - static_cast<uint32_t>(out.size());
        out.push_back(0xE8);
        for (int k = 0; k < 4; ++k) out.push_back(static_cast<uint8_t>(relative >> (8 * k)));
        break;
      }
      case 1: out.insert(out.end(), {0x55, 0x8B, 0xEC, 0x83, 0xEC, 0x10}); break;
      case 2: out.insert(out.end(), {0x8B, 0x45, static_cast<uint8_t>(rng() % 32), 0x50}); break;
      default: out.push_back(static_cast<uint8_t>(rng() % 4 == 0 ? 0xE8 : rng()));
    }
  }
  out.resize(sizeBytes);
  return out;
}

std::vector<uint8_t> runData(size_t sizeBytes, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> out;
  while (out.size() < sizeBytes) out.insert(out.end(), 1 + rng() % 3000, static_cast<uint8_t>(rng()));
  out.resize(sizeBytes);
  return out;
}

// Text, then the same text again far back, then noise: reaches distances across the window.
std::vector<uint8_t> mixedData(size_t sizeBytes, uint32_t seed) {
  auto text = textData(sizeBytes / 3, seed);
  auto out = text;
  auto noise = randomData(sizeBytes / 3, seed + 1);
  out.insert(out.end(), noise.begin(), noise.end());
  out.insert(out.end(), text.begin(), text.end());
  out.resize(sizeBytes);
  return out;
}

struct Folder {
  std::vector<std::vector<uint8_t>> blocks;  // compressed data blocks
  std::vector<uint32_t> frameBytes;
};

Folder compress(const std::vector<uint8_t>& data, int windowBits) {
  auto compressor = pack::makeLzxCompressor(windowBits);
  EXPECT_NE(compressor, nullptr);
  EXPECT_EQ(compressor->compressionWord(), 3 | windowBits << 8);
  Folder folder;
  for (size_t at = 0; at < data.size(); at += lzx::FrameBytes) {
    size_t n = std::min<size_t>(lzx::FrameBytes, data.size() - at);
    folder.blocks.emplace_back();
    compressor->compressBlock(std::span(data.data() + at, n), at + n == data.size(),
                              folder.blocks.back());
    EXPECT_LE(folder.blocks.back().size(), n + 6144);
    folder.frameBytes.push_back(static_cast<uint32_t>(n));
  }
  return folder;
}

std::vector<uint8_t> decompress(const Folder& folder, int windowBits, void* handle = nullptr) {
  uint32_t limit = lzx::FrameBytes, need = 0;
  bool own = handle == nullptr;
  if (own) {
    EXPECT_EQ(lzx::create(&limit, 1u << windowBits, [](int32_t n) { return std::malloc(n); },
                          std::free, &need, &handle),
              cab::Ok);
  }
  std::vector<uint8_t> out;
  for (size_t i = 0; i < folder.blocks.size(); ++i) {
    std::vector<uint8_t> frame(folder.frameBytes[i]);
    uint32_t produced = folder.frameBytes[i];
    cab::DecoderResult r = lzx::decompress(handle, folder.blocks[i].data(),
                                           static_cast<uint32_t>(folder.blocks[i].size()),
                                           frame.data(), &produced);
    EXPECT_EQ(r, cab::Ok) << "block " << i;
    if (r != cab::Ok) break;
    out.insert(out.end(), frame.begin(), frame.end());
  }
  if (own) lzx::destroy(handle);
  return out;
}

using Generator = std::vector<uint8_t> (*)(size_t, uint32_t);
struct DataKind {
  const char* name;
  Generator make;
};
const DataKind kinds[] = {{"text", textData},   {"random", randomData}, {"code", codeData},
                          {"runs", runData},     {"mixed", mixedData}};

TEST(LzxRoundTrip, EveryWindowSizeAndDataKind) {
  for (int windowBits = 15; windowBits <= 21; ++windowBits) {
    for (const DataKind& kind : kinds) {
      // Long enough to wrap the smaller windows, with a short last frame.
      size_t sizeBytes = windowBits <= 17 ? 5 * (1u << windowBits) / 2 + 1001 : 300000 + 77;
      auto data = kind.make(sizeBytes, static_cast<uint32_t>(windowBits));
      Folder folder = compress(data, windowBits);
      EXPECT_EQ(decompress(folder, windowBits), data) << kind.name << " window " << windowBits;
      size_t total = 0;
      for (const auto& b : folder.blocks) total += b.size();
      if (kind.make != randomData) {
        EXPECT_LT(total, data.size() * 3 / 4) << kind.name << " window " << windowBits;
      } else {
        // Incompressible frames go out as uncompressed blocks.
        EXPECT_LT(total, data.size() + data.size() / 100) << "window " << windowBits;
      }
    }
  }
}

TEST(LzxRoundTrip, SmallAndOddSizedFolders) {
  for (size_t sizeBytes : {1u, 2u, 3u, 10u, 11u, 257u, 32767u, 32769u}) {
    for (const DataKind& kind : kinds) {
      auto data = kind.make(sizeBytes, 7);
      EXPECT_EQ(decompress(compress(data, 16), 16), data) << kind.name << " " << sizeBytes;
    }
  }
}

TEST(LzxRoundTrip, OneDecoderForFolderAfterFolderWithReset) {
  uint32_t limit = lzx::FrameBytes, need = 0;
  void* handle = nullptr;
  ASSERT_EQ(lzx::create(&limit, 1u << 17, [](int32_t n) { return std::malloc(n); }, std::free,
                        &need, &handle),
            cab::Ok);
  for (uint32_t seed = 0; seed < 3; ++seed) {
    auto data = seed == 1 ? codeData(100000, seed) : textData(90000, seed);
    Folder folder = compress(data, 17);
    ASSERT_EQ(lzx::reset(handle), cab::Ok);
    EXPECT_EQ(decompress(folder, 17, handle), data) << seed;
  }
  lzx::destroy(handle);
}

TEST(LzxRoundTrip, OutOfRangeWindowBitsGiveNoCompressor) {
  EXPECT_EQ(pack::makeLzxCompressor(14), nullptr);
  EXPECT_EQ(pack::makeLzxCompressor(22), nullptr);
}

}  // namespace
