// The LZX decompressor of the cabinet decoder. One context expands the data blocks of a
// folder, one frame per data block; the LZX stream (trees, repeated offsets, window) runs
// on from one data block to the next until `reset` starts a new folder.
//
// The handle is the context's address. `create` with a null handle pointer is a size query:
// it reports the input buffer the caller must provide and allocates nothing.
#pragma once

#include <cstdint>

#include "cabinet/callbacks.h"

namespace lzx {

using cab::AllocateFn;
using cab::DecoderResult;
using cab::ReleaseFn;

// `bufferNeed` := blockLimit + 6144. `windowBytes` must be a power of two from 2^15 to 2^21.
DecoderResult create(uint32_t* blockLimit, uint32_t windowBytes, AllocateFn allocate,
                     ReleaseFn release, uint32_t* bufferNeed, void** handle);

// Expands one data block into exactly *outputBytes bytes. May read up to 4 bytes beyond
// input + inputBytes, which the caller's buffer of `bufferNeed` bytes keeps readable.
// On failure *outputBytes is set to 0.
DecoderResult decompress(void* handle, const uint8_t* input, uint32_t inputBytes,
                         uint8_t* output, uint32_t* outputBytes);

// Starts a new LZX stream (a new folder).
DecoderResult reset(void* handle);

DecoderResult destroy(void* handle);

}  // namespace lzx
