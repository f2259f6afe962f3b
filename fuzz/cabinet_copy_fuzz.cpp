// Runs the cabinet decoder's copy over arbitrary input, accepting every file into a sink
// that only counts bytes. The first byte chooses how the rest is presented:
//   bits 0-1  0: a plain cabinet in memory
//             1: a cabinet in memory followed by the next cabinet of its set; the two
//                bytes after the mode give the first one's length
//             2: a scrambled "1CNT" payload behind a small image, read through the payload
//                reader from a memory-backed file (the first 4 bytes are the seed)
//             3: the bytes as a whole file read through the payload reader
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "../tests/unit/cabinet/memory_files.h"
#include "cabinet/cabinet_decoder.h"
#include "payload/keystream.h"
#include "payload/payload_reader.h"

namespace {

constexpr int32_t SinkHandle = 0x7ffffff0;
uint64_t sinkBytes = 0;

int32_t sinkWrite(int32_t handle, const void*, uint32_t bytes) {
  if (handle != SinkHandle) return -1;
  sinkBytes += bytes;
  return int32_t(bytes);
}

int32_t memoryClose(int32_t handle) { return handle == SinkHandle ? 0 : memfs::close(handle); }
int32_t payloadClose(int32_t handle) {
  return handle == SinkHandle ? 0 : payload::closeFile(handle);
}

int32_t acceptEverything(int32_t kind, cab::Notification* n) {
  switch (kind) {
    case cab::OpenOutput:
      return SinkHandle;
    case cab::OutputComplete:
      return 1;
    case cab::NeedNextCabinet:
      // One attempt at the set's second cabinet, then give up.
      if (n->errorCode != 0) return -1;
      std::snprintf(n->text1, 257, "%s", "b.cab");
      return 0;
    default:
      return 0;
  }
}

void copyOnce(cab::OpenFn open, cab::ReadFn read, cab::CloseFn close, cab::SeekFn seek,
              const char* name, const char* path) {
  cab::ErrorRecord errors{};
  cab::DecoderContext* context = cab::create(memfs::allocate, memfs::release, open, read,
                                             sinkWrite, close, seek, &errors);
  if (context == nullptr) return;
  cab::copy(context, name, path, 0, acceptEverything, nullptr, nullptr);
  cab::destroy(context);
}

void copyThroughPayloadReader(const uint8_t* data, size_t size) {
  int fd = memfd_create("cabinet_copy_fuzz", MFD_CLOEXEC);
  if (fd < 0) return;
  if (size > 0 && write(fd, data, size) != ssize_t(size)) {
    close(fd);
    return;
  }
  std::string path = "/proc/self/fd/";
  std::string name = std::to_string(fd);
  copyOnce(payload::openPayload, payload::readPayload, payloadClose, payload::seekPayload,
           name.c_str(), path.c_str());
  close(fd);
  // The lowest free descriptor is the one the memory file had, unless a handle leaked.
  int probe = dup(0);
  if (probe >= 0) close(probe);
  if (probe != fd) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  int mode = data[0] & 3;
  data += 1;
  size -= 1;
  memfs::table().reset();
  switch (mode) {
    case 0:
      memfs::table().files["a.cab"].assign(data, data + size);
      copyOnce(memfs::open, memfs::read, memoryClose, memfs::seek, "a.cab", "");
      break;
    case 1: {
      if (size < 2) return 0;
      size_t first = std::min<size_t>(size_t(data[0]) | size_t(data[1]) << 8, size - 2);
      memfs::table().files["a.cab"].assign(data + 2, data + 2 + first);
      memfs::table().files["b.cab"].assign(data + 2 + first, data + size);
      copyOnce(memfs::open, memfs::read, memoryClose, memfs::seek, "a.cab", "");
      break;
    }
    case 2: {
      if (size < 4) return 0;
      uint32_t seed = uint32_t(data[0]) | uint32_t(data[1]) << 8 | uint32_t(data[2]) << 16 |
                      uint32_t(data[3]) << 24;
      std::vector<uint8_t> file = {'M', 'Z', 0x90, 0, 'i', 'm', 'g'};
      size_t payloadStart = file.size();
      file.insert(file.end(), {'1', 'C', 'N', 'T'});
      file.insert(file.end(), data, data + 4);
      payload::Keystream keys;
      keys.fill(seed);
      std::vector<uint8_t> cabinet(data + 4, data + size);
      keys.scramble(cabinet.data(), uint32_t(cabinet.size()), 0);
      file.insert(file.end(), cabinet.begin(), cabinet.end());
      uint32_t trailer = uint32_t(file.size() - payloadStart + 4);
      for (int i = 0; i < 4; ++i) file.push_back(uint8_t(trailer >> (8 * i)));
      copyThroughPayloadReader(file.data(), file.size());
      break;
    }
    default:
      copyThroughPayloadReader(data, size);
      break;
  }
  if (memfs::table().liveBlocks != 0) __builtin_trap();  // every allocation released
  return 0;
}
