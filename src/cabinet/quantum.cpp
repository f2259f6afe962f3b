#include "cabinet/quantum.h"

namespace quantum {

DecoderResult create(uint32_t* blockLimit, uint32_t windowBits, AllocateFn, ReleaseFn,
                     uint32_t* bufferNeed, void** handle) {
  if (windowBits < 10 || windowBits > 21) return cab::BadWindow;
  if (*blockLimit == 0 || *blockLimit > cab::MaxBlockBytes) *blockLimit = cab::MaxBlockBytes;
  *bufferNeed = *blockLimit + 10240;
  if (handle == nullptr) return cab::Ok;
  *handle = nullptr;
  return cab::DataError;
}

DecoderResult decompress(void*, const uint8_t*, uint32_t, uint8_t*, uint32_t*) {
  return cab::DataError;
}

DecoderResult reset(void*) { return cab::DataError; }

DecoderResult destroy(void*) { return cab::DataError; }

}  // namespace quantum
