// Types shared by the cabinet decoder, its decompressors and their callers.
//
// The decoder owns no heap and no files: every allocation and every file access goes
// through the callbacks its caller hands to create. File handles are C runtime
// descriptors (int32), -1 meaning failure.
#pragma once

#include <cstdint>

namespace cab {

using AllocateFn = void* (*)(int32_t bytes);
using ReleaseFn = void (*)(void* block);
using OpenFn = int32_t (*)(const char* path, int32_t flags, int32_t permission);
// Returns the bytes transferred, or -1 on failure.
using ReadFn = int32_t (*)(int32_t handle, void* buffer, uint32_t bytes);
using WriteFn = int32_t (*)(int32_t handle, const void* buffer, uint32_t bytes);
using CloseFn = int32_t (*)(int32_t handle);
// origin: 0 from the start, 1 from the current position, 2 from the end.
// Returns the new position, or -1 on failure.
using SeekFn = int32_t (*)(int32_t handle, int32_t distance, int32_t origin);

// Result of every decompressor operation.
enum DecoderResult : int32_t {
  Ok = 0,
  OutOfMemory = 1,
  BadHandle = 2,   // the context's tag word does not match
  BadSize = 3,     // input block or requested output larger than the decoder was created for
  DataError = 4,   // malformed or exhausted compressed data
  BadWindow = 5,   // Quantum window bits outside 10..21
};

// Largest output of one data block, and so the size of the reader's output buffer.
inline constexpr uint32_t MaxBlockBytes = 32768;

}  // namespace cab
