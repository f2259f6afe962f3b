// The Quantum decompressor of the cabinet decoder. Quantum is LZ77 whose symbols are coded
// by a 16-bit arithmetic coder over nine adaptive frequency models; the extra bits of
// lengths and distances are taken raw from the same bit sequence. The window and the models
// run on through all data blocks of a folder; every data block is a freshly started
// arithmetic code yielding exactly the block's uncompressed size.
//
// The handle is the context's address. `create` with a null handle pointer is a size query:
// it reports the input buffer the caller must provide and allocates nothing.
//
// Not reentrant: the decoding state (window, models, coder) is process-wide, so at most one
// context may exist at a time; every operation makes its context the current one.
#pragma once

#include <cstdint>

#include "cabinet/callbacks.h"

namespace quantum {

using cab::AllocateFn;
using cab::DecoderResult;
using cab::ReleaseFn;

// `windowBits` 10 to 21, else BadWindow (also for a size query). `blockLimit` (in/out):
// 0 or above 32768 becomes 32768. `bufferNeed` := blockLimit + 10240.
DecoderResult create(uint32_t* blockLimit, uint32_t windowBits, AllocateFn allocate,
                     ReleaseFn release, uint32_t* bufferNeed, void** handle);

// Expands one data block into exactly *outputBytes bytes (BadSize above the block limit).
// Reads nothing beyond input + inputBytes. *outputBytes is never written.
DecoderResult decompress(void* handle, const uint8_t* input, uint32_t inputBytes,
                         uint8_t* output, uint32_t* outputBytes);

// Starts a new folder: models set up afresh, total and write position back to the start.
// The window's bytes are kept.
DecoderResult reset(void* handle);

DecoderResult destroy(void* handle);

}  // namespace quantum
