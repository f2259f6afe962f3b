#include "cabinet/mszip.h"

namespace mszip {

// Placeholder until the decoder lands: answers the size query, refuses everything else.
DecoderResult create(uint32_t* blockLimit, AllocateFn, ReleaseFn, uint32_t* bufferNeed,
                     void** handle) {
  if (*blockLimit == 0 || *blockLimit > cab::MaxBlockBytes) *blockLimit = cab::MaxBlockBytes;
  *bufferNeed = *blockLimit + 12;
  if (handle == nullptr) return cab::Ok;
  *handle = nullptr;
  return cab::DataError;
}

DecoderResult decompress(void*, const uint8_t*, uint32_t, uint8_t*, uint32_t*) {
  return cab::DataError;
}
DecoderResult reset(void*) { return cab::DataError; }
DecoderResult destroy(void*) { return cab::DataError; }

}  // namespace mszip
