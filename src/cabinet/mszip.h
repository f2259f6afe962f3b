// MSZIP decompressor: the data blocks of a folder compressed with method 1.
//
// Each data block is "CK" followed by deflate data that expand to at most 32768 bytes.
// The deflate history runs on from one block to the next within a folder and lives in
// the caller's 32768-byte output buffer, which must be the same buffer for every block.
#pragma once

#include <cstdint>

#include "cabinet/callbacks.h"

namespace mszip {

using cab::AllocateFn;
using cab::DecoderResult;
using cab::ReleaseFn;

// Clamps *blockLimit to 1..32768 (0 means 32768) and stores in *bufferNeed the input
// buffer size the caller must provide (block limit + 12). With a null `handle` this is a
// size query and nothing is allocated.
DecoderResult create(uint32_t* blockLimit, AllocateFn allocate, ReleaseFn release,
                     uint32_t* bufferNeed, void** handle);

// Expands one data block of `inputBytes` bytes into `output`. *outputBytes holds the most
// bytes to produce on entry and the bytes produced on success; it is unchanged on failure.
DecoderResult decompress(void* handle, const uint8_t* input, uint32_t inputBytes,
                         uint8_t* output, uint32_t* outputBytes);

// Starts a new folder. Nothing to do: the history lives in the caller's buffer.
DecoderResult reset(void* handle);

// Releases the context; the handle is dead afterwards.
DecoderResult destroy(void* handle);

}  // namespace mszip
