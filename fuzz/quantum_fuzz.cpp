// Feeds arbitrary blocks to the Quantum decompressor, one folder per input; every fourth
// input is instead compressed by the packer and must come back unchanged.
//
// Input: byte 0 picks the mode (bits 6-7 == 3: round trip, with windows of 10 to 16 bits,
// whose match finder is cheap to set up) and the window (10 + value % 12).
// Decoding mode, then repeated: wanted size (2 bytes, little-endian, up to 32768), block size
// (2 bytes), the block's bytes. A wanted size with the top bit set resets the folder first.
#include <cstdint>
#include <cstdlib>
#include <vector>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#include <sanitizer/asan_interface.h>
#define QUANTUM_FUZZ_POISON 1
#endif
#endif

#include "cabinet/quantum.h"
#include "pack/compressor.h"

namespace {

// Large blocks (windows) are kept for the next input of the same size: a fresh multi-megabyte
// allocation costs the sanitizer's allocator far more than decoding a block. A kept block
// is poisoned while nobody owns it, so a use after release is still caught.
constexpr int32_t KeptBlockMinBytes = 65536;
void* keptBlock = nullptr;
int32_t keptBytes = 0;

void* allocate(int32_t bytes) {
  if (bytes >= KeptBlockMinBytes && keptBlock != nullptr && keptBytes == bytes) {
    void* block = keptBlock;
    keptBlock = nullptr;
#ifdef QUANTUM_FUZZ_POISON
    ASAN_UNPOISON_MEMORY_REGION(block, static_cast<size_t>(bytes));
#endif
    return block;
  }
  auto* block = static_cast<int32_t*>(std::malloc(sizeof(int64_t) + static_cast<size_t>(bytes)));
  if (block == nullptr) return nullptr;
  block[0] = bytes;
  return reinterpret_cast<uint8_t*>(block) + sizeof(int64_t);
}

void release(void* block) {
  uint8_t* start = static_cast<uint8_t*>(block) - sizeof(int64_t);
  const int32_t bytes = *reinterpret_cast<int32_t*>(start);
  if (bytes >= KeptBlockMinBytes) {
    if (keptBlock != nullptr) std::free(static_cast<uint8_t*>(keptBlock) - sizeof(int64_t));
    keptBlock = block;
    keptBytes = bytes;
#ifdef QUANTUM_FUZZ_POISON
    ASAN_POISON_MEMORY_REGION(block, static_cast<size_t>(bytes));
#endif
    return;
  }
  std::free(start);
}

void roundTrip(uint32_t windowBits, const uint8_t* data, size_t size) {
  auto compressor = pack::makeQuantumCompressor(static_cast<int>(windowBits));
  uint32_t limit = 0, need = 0;
  void* handle = nullptr;
  if (quantum::create(&limit, windowBits, allocate, release, &need, &handle) != cab::Ok) abort();
  // Blocks of 1 to 4096 bytes, sized from the data, to end blocks in odd places.
  const size_t blockBytes = size > 0 ? 1 + data[size / 2] * 16 : 1;
  for (size_t offset = 0; offset < size; offset += blockBytes) {
    const size_t count = std::min(blockBytes, size - offset);
    std::vector<uint8_t> block;
    compressor->compressBlock({data + offset, count}, offset + count == size, block);
    if (block.size() > need) abort();
    std::vector<uint8_t> output(count);
    uint32_t wanted = static_cast<uint32_t>(count);
    if (quantum::decompress(handle, block.data(), static_cast<uint32_t>(block.size()),
                            output.data(), &wanted) != cab::Ok) {
      abort();
    }
    for (size_t k = 0; k < count; ++k) {
      if (output[k] != data[offset + k]) abort();
    }
  }
  quantum::destroy(handle);
}

void decodeBlocks(uint32_t windowBits, const uint8_t* data, size_t size) {
  uint32_t limit = 0, need = 0;
  void* handle = nullptr;
  if (quantum::create(&limit, windowBits, allocate, release, &need, &handle) != cab::Ok) abort();
  while (size >= 4) {
    uint32_t wanted = data[0] | (data[1] & 0x7F) << 8;
    const bool resetFirst = (data[1] & 0x80) != 0;
    size_t blockBytes = data[2] | data[3] << 8;
    data += 4;
    size -= 4;
    if (blockBytes > size) blockBytes = size;
    if (resetFirst) quantum::reset(handle);
    // Exact sizes, so that any access beyond either buffer is caught.
    std::vector<uint8_t> input(data, data + blockBytes);
    std::vector<uint8_t> output(wanted);
    quantum::decompress(handle, input.data(), static_cast<uint32_t>(input.size()), output.data(),
                        &wanted);
    data += blockBytes;
    size -= blockBytes;
  }
  quantum::destroy(handle);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  if ((data[0] >> 6) == 3) {
    roundTrip(10 + data[0] % 7, data + 1, size - 1);
  } else {
    decodeBlocks(10 + data[0] % 12, data + 1, size - 1);
  }
  return 0;
}
