#include "cabinet/lzx.h"

namespace lzx {

// Placeholder until the decoder lands: only the size query works.
DecoderResult create(uint32_t* blockLimit, uint32_t, AllocateFn, ReleaseFn, uint32_t* bufferNeed,
                     void** handle) {
  *bufferNeed = *blockLimit + 6144;
  if (handle == nullptr) return cab::Ok;
  *handle = nullptr;
  return cab::DataError;
}

DecoderResult decompress(void*, const uint8_t*, uint32_t, uint8_t*, uint32_t* outputBytes) {
  *outputBytes = 0;
  return cab::DataError;
}

DecoderResult reset(void*) { return cab::DataError; }

DecoderResult destroy(void*) { return cab::DataError; }

}  // namespace lzx
