#include "payload/payload_reader.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#include <stdio.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace payload {

PayloadState payloadState;

namespace {

constexpr uint32_t TagBytes = 4;
constexpr uint32_t SeedBytes = 4;
constexpr uint32_t TrailerBytes = 4;

uint32_t get32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Thin wrappers over the descriptor functions; the C runtime values of flags and permission
// are those of Windows and are translated elsewhere.
#ifdef _WIN32
int32_t openDescriptor(const char* path, int32_t flags, int32_t permission) {
  return _open(path, flags, permission);
}
int64_t seekDescriptor(int32_t handle, int64_t offset, int32_t origin) {
  return _lseeki64(handle, offset, origin);
}
int32_t readDescriptor(int32_t handle, void* buffer, uint32_t bytes) {
  return _read(handle, buffer, bytes);
}
int32_t writeDescriptor(int32_t handle, const void* buffer, uint32_t bytes) {
  return _write(handle, buffer, bytes);
}
int32_t closeDescriptor(int32_t handle) { return _close(handle); }
#else
int translateFlags(int32_t flags) {
  int result = 0;
  switch (flags & 3) {
    case OpenWriteOnly: result = O_WRONLY; break;
    case OpenReadWrite: result = O_RDWR; break;
    default: result = O_RDONLY; break;
  }
  if (flags & OpenAppend) result |= O_APPEND;
  if (flags & OpenCreate) result |= O_CREAT;
  if (flags & OpenTruncate) result |= O_TRUNC;
  if (flags & OpenExclusive) result |= O_EXCL;
  return result;  // text and binary modes are the same here
}
mode_t translatePermission(int32_t permission) {
  mode_t mode = 0;
  if (permission & PermissionRead) mode |= S_IRUSR | S_IRGRP | S_IROTH;
  if (permission & PermissionWrite) mode |= S_IWUSR | S_IWGRP | S_IWOTH;
  return mode;
}
int32_t openDescriptor(const char* path, int32_t flags, int32_t permission) {
  return ::open(path, translateFlags(flags), translatePermission(permission));
}
int64_t seekDescriptor(int32_t handle, int64_t offset, int32_t origin) {
  int whence = origin == 0 ? SEEK_SET : origin == 1 ? SEEK_CUR : SEEK_END;
  return ::lseek(handle, off_t(offset), whence);
}
int32_t readDescriptor(int32_t handle, void* buffer, uint32_t bytes) {
  return int32_t(::read(handle, buffer, bytes));
}
int32_t writeDescriptor(int32_t handle, const void* buffer, uint32_t bytes) {
  return int32_t(::write(handle, buffer, bytes));
}
int32_t closeDescriptor(int32_t handle) { return ::close(handle); }
#endif

bool readExact(int32_t handle, uint8_t* buffer, uint32_t bytes) {
  int32_t got = readDescriptor(handle, buffer, bytes);
  return got >= 0 && uint32_t(got) == bytes;
}

}  // namespace

void* allocate(int32_t bytes) { return bytes < 0 ? nullptr : std::malloc(size_t(bytes)); }

void release(void* block) { std::free(block); }

void fillKeystream(uint32_t seed) {
  payloadState.keystream.fill(seed);
  payloadState.scrambled = 1;
}

int32_t probePayload(int32_t handle, int32_t offset) {
  uint8_t tag[TagBytes];
  if (offset < 0 || seekDescriptor(handle, offset, 0) != offset ||
      !readExact(handle, tag, TagBytes)) {
    return 0;
  }
  // The state changes only once a payload was found, so a failed open leaves the handles
  // of an earlier one working.
  if (std::memcmp(tag, "MSCF", TagBytes) == 0) {
    payloadState.baseOffset = offset;
    payloadState.scrambled = 0;
    return 1;
  }
  uint8_t seed[SeedBytes];
  if (std::memcmp(tag, "1CNT", TagBytes) != 0 || offset > INT32_MAX - 8 ||
      !readExact(handle, seed, SeedBytes)) {
    return 0;
  }
  fillKeystream(get32(seed));
  payloadState.baseOffset = offset + int32_t(TagBytes + SeedBytes);
  return 1;
}

int32_t openPayload(const char* path, int32_t flags, int32_t permission) {
  int32_t handle = openDescriptor(path, flags, permission);
  if (handle == -1) return -1;
  bool found = probePayload(handle, 0) == 1;
  if (!found) {
    uint8_t trailer[TrailerBytes] = {};
    int64_t fileBytes = -1;
    if (seekDescriptor(handle, -int64_t(TrailerBytes), 2) != -1 &&
        readExact(handle, trailer, TrailerBytes)) {
      fileBytes = seekDescriptor(handle, 0, 1);
    }
    int64_t start = fileBytes - int64_t(get32(trailer));
    // A trailer that points outside the file finds no tag.
    found = fileBytes != -1 && start >= 0 && start <= INT32_MAX &&
            probePayload(handle, int32_t(start)) == 1;
  }
  if (!found || seekDescriptor(handle, payloadState.baseOffset, 0) == -1) {
    closeDescriptor(handle);
    return -1;
  }
  return handle;
}

int32_t readPayload(int32_t handle, void* buffer, uint32_t bytes) {
  int64_t position = seekDescriptor(handle, 0, 1);
  if (position == -1) return -1;
  if (bytes > INT32_MAX) bytes = INT32_MAX;
  int32_t got = readDescriptor(handle, buffer, bytes);
  if (got < 0) return -1;
  if (payloadState.scrambled) {
    // Cabinet positions wrap with the keystream, so only their low bits matter.
    uint32_t cabinetPosition = uint32_t(position - payloadState.baseOffset);
    payloadState.keystream.unscramble(static_cast<uint8_t*>(buffer), uint32_t(got),
                                      cabinetPosition);
  }
  return got;
}

int32_t writeFile(int32_t handle, const void* buffer, uint32_t bytes) {
  if (bytes > INT32_MAX) bytes = INT32_MAX;
  return writeDescriptor(handle, buffer, bytes);
}

int32_t closeFile(int32_t handle) { return closeDescriptor(handle); }

int32_t seekPayload(int32_t handle, int32_t distance, int32_t origin) {
  if (origin < 0 || origin > 2) return -1;
  int64_t offset = origin == 0 ? int64_t(payloadState.baseOffset) + distance : distance;
  int64_t position = seekDescriptor(handle, offset, origin);
  if (position == -1) return -1;
  int64_t cabinetPosition = position - payloadState.baseOffset;
  // Positions before the cabinet or beyond what the decoder can express are failures.
  if (cabinetPosition < 0 || cabinetPosition > INT32_MAX) return -1;
  return int32_t(cabinetPosition);
}

}  // namespace payload
