// File callbacks for the cabinet decoder that find a cabinet appended to a file (plain, or
// scrambled behind a "1CNT" tag) and present it as a plain cabinet starting at position 0.
//
// Payload layout, integers little-endian:
//   payload start + 0   4   "MSCF" (a plain cabinet begins here) or "1CNT"
//   payload start + 4   4   "1CNT" only: seed of the keystream
//   payload start + 8   ..  "1CNT" only: the scrambled cabinet
//   end of file - 4     4   trailer: bytes from the payload start to the end of the file,
//                           the trailer included
// The payload starts at offset 0 when a tag stands there (a bare cabinet), else at
// file size - trailer.
//
// Handles are C runtime file descriptors. Open flags and permissions are given in the
// Windows C runtime's values below and translated for other systems.
#pragma once

#include <cstdint>

#include "payload/keystream.h"

namespace payload {

// Open flags (Windows C runtime values).
inline constexpr int32_t OpenReadOnly = 0x0000;
inline constexpr int32_t OpenWriteOnly = 0x0001;
inline constexpr int32_t OpenReadWrite = 0x0002;
inline constexpr int32_t OpenAppend = 0x0008;
inline constexpr int32_t OpenCreate = 0x0100;
inline constexpr int32_t OpenTruncate = 0x0200;
inline constexpr int32_t OpenExclusive = 0x0400;
inline constexpr int32_t OpenText = 0x4000;
inline constexpr int32_t OpenBinary = 0x8000;
// Permission bits (Windows C runtime values).
inline constexpr int32_t PermissionRead = 0x0100;
inline constexpr int32_t PermissionWrite = 0x0080;

// Where the located cabinet lies; rewritten by every successful open, so the latest open
// decides for all handles (all of them refer to the same file).
struct PayloadState {
  int32_t baseOffset;  // file offset of the cabinet's first byte
  int32_t scrambled;   // nonzero for a "1CNT" payload
  Keystream keystream;
};
extern PayloadState payloadState;

void* allocate(int32_t bytes);
void release(void* block);
// Opens the file and locates its payload; the handle is left at cabinet position 0.
// -1 when the file cannot be opened or holds no payload (no handle is left open then).
int32_t openPayload(const char* path, int32_t flags, int32_t permission);
// Reads and unscrambles; -1 on failure, with the buffer untouched.
int32_t readPayload(int32_t handle, void* buffer, uint32_t bytes);
// Plain descriptor write, no translation; bytes written or -1.
int32_t writeFile(int32_t handle, const void* buffer, uint32_t bytes);
int32_t closeFile(int32_t handle);
// origin 0: cabinet position `distance`; 1 and 2 as the descriptor seek (2 measures from
// the end of the whole file). Returns the new cabinet position, or -1.
int32_t seekPayload(int32_t handle, int32_t distance, int32_t origin);
// 1 and the state updated when a tag stands at file offset `offset`, else 0.
int32_t probePayload(int32_t handle, int32_t offset);
// Builds the keystream from `seed` and marks the payload scrambled.
void fillKeystream(uint32_t seed);

}  // namespace payload
