// Feeds arbitrary data blocks to one LZX decoder context, several frames per folder.
// Input layout: window selector byte, then records of
//   input length (2 bytes LE), frame selector (1 byte), that many input bytes.
// Each data block is copied into a buffer of exactly its size, so any read past it is caught.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "cabinet/lzx.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint32_t windowBytes = 1u << (15 + data[0] % 7);
  uint32_t limit = 32768, need = 0;
  void* handle = nullptr;
  if (lzx::create(&limit, windowBytes, [](int32_t n) { return std::malloc(n); }, std::free, &need,
                  &handle) != cab::Ok)
    return 0;
  size_t at = 1;
  while (at + 3 <= size) {
    uint32_t inputBytes = data[at] | uint32_t{data[at + 1]} << 8;
    uint8_t selector = data[at + 2];
    at += 3;
    if (inputBytes > size - at) inputBytes = static_cast<uint32_t>(size - at);
    if (selector == 0xFF) {
      lzx::reset(handle);
      continue;
    }
    // Mostly full frames, sometimes a short one (as the last frame of a folder is), down to none.
    uint32_t frameBytes = selector < 0xC0   ? 32768
                          : selector < 0xE0 ? (selector - 0xC0) * 531 + 1
                                            : selector - 0xE0;  // 0 to 30 bytes
    std::vector<uint8_t> input(data + at, data + at + inputBytes);
    at += inputBytes;
    std::vector<uint8_t> output(frameBytes);  // exactly the frame, so any write past it is caught
    uint32_t produced = frameBytes;
    lzx::decompress(handle, input.data(), inputBytes, output.data(), &produced);
  }
  lzx::destroy(handle);
  return 0;
}
