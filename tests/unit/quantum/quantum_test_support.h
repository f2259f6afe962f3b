// Helpers of the Quantum tests: heap callbacks that count and can fail, a decoder session,
// and folder compression through the packer's compressor.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "cabinet/quantum.h"
#include "pack/compressor.h"

namespace quantum_test {

// Live allocations, and how many more allocations succeed (negative: all).
inline int liveBlocks = 0;
inline int allocationsLeft = -1;

inline void* countingAllocate(int32_t bytes) {
  if (allocationsLeft == 0) return nullptr;
  if (allocationsLeft > 0) --allocationsLeft;
  ++liveBlocks;
  return std::malloc(static_cast<size_t>(bytes));
}

inline void countingRelease(void* block) {
  --liveBlocks;
  std::free(block);
}

// One decoder for the test's lifetime of the object.
class Session {
 public:
  explicit Session(uint32_t windowBits, uint32_t blockLimit = 32768) {
    uint32_t need = 0;
    result = quantum::create(&blockLimit, windowBits, countingAllocate, countingRelease, &need, &handle);
  }
  ~Session() {
    if (handle != nullptr) quantum::destroy(handle);
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Decodes one block into `output` (resized to `wantedBytes`, prefilled with 0xAA).
  cab::DecoderResult decode(std::span<const uint8_t> block, uint32_t wantedBytes,
                            std::vector<uint8_t>& output) {
    output.assign(wantedBytes, 0xAA);
    // The block is copied to a buffer of its exact size, so ASan sees any read beyond it.
    std::vector<uint8_t> input(block.begin(), block.end());
    uint32_t size = wantedBytes;
    return quantum::decompress(handle, input.data(), static_cast<uint32_t>(input.size()),
                               output.data(), &size);
  }

  cab::DecoderResult result = cab::DataError;
  void* handle = nullptr;
};

struct CompressedBlock {
  std::vector<uint8_t> bytes;
  uint32_t uncompressedBytes;
};

// Compresses `data` as one folder of blocks of `blockBytes`.
inline std::vector<CompressedBlock> compressFolder(std::span<const uint8_t> data, int windowBits,
                                                   size_t blockBytes = 32768) {
  std::vector<CompressedBlock> blocks;
  auto compressor = pack::makeQuantumCompressor(windowBits);
  for (size_t offset = 0; offset < data.size(); offset += blockBytes) {
    const size_t size = std::min(blockBytes, data.size() - offset);
    CompressedBlock block{{}, static_cast<uint32_t>(size)};
    compressor->compressBlock(data.subspan(offset, size), offset + size == data.size(), block.bytes);
    blocks.push_back(std::move(block));
  }
  return blocks;
}

// Decodes the blocks in order and appends the bytes; false on the first failure.
inline bool decodeFolder(Session& session, const std::vector<CompressedBlock>& blocks,
                         std::vector<uint8_t>& decoded) {
  std::vector<uint8_t> output;
  for (const CompressedBlock& block : blocks) {
    if (session.decode(block.bytes, block.uncompressedBytes, output) != cab::Ok) return false;
    decoded.insert(decoded.end(), output.begin(), output.end());
  }
  return true;
}

}  // namespace quantum_test
