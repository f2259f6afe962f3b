// In-memory files and a counting heap behind the decoder's plain-function callbacks, for
// tests, the fuzzer and the benchmark. One process-wide table; reset() between cases.
#pragma once

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace memfs {

struct Handle {
  std::string name;
  int64_t position = 0;
  bool open = false;
};

struct Table {
  std::map<std::string, std::vector<uint8_t>> files;
  std::vector<Handle> handles;
  // Fault injection: the n-th call (counting from 1) of each kind fails; 0 never.
  int failOpenAt = 0, failReadAt = 0, failSeekAt = 0, failCloseAt = 0, failAllocateAt = 0;
  int opens = 0, reads = 0, seeks = 0, closes = 0, allocations = 0;
  int32_t shortWriteAfterBytes = -1;  // a write crossing this many bytes in total is cut short
  int64_t writtenBytes = 0;
  int liveBlocks = 0;
  std::vector<int32_t> allocationSizes;

  void reset() { *this = Table{}; }
  int openCount() const {
    int count = 0;
    for (const Handle& h : handles) count += h.open ? 1 : 0;
    return count;
  }
  // An output file, opened for writing from its start.
  int32_t create(const std::string& name) {
    files[name].clear();
    handles.push_back(Handle{name, 0, true});
    return int32_t(handles.size() - 1);
  }
};

inline Table& table() {
  static Table instance;
  return instance;
}

inline Handle* find(int32_t handle) {
  Table& t = table();
  if (handle < 0 || size_t(handle) >= t.handles.size() || !t.handles[handle].open) return nullptr;
  return &t.handles[handle];
}

inline void* allocate(int32_t bytes) {
  Table& t = table();
  t.allocations += 1;
  t.allocationSizes.push_back(bytes);
  if (t.failAllocateAt == t.allocations || bytes < 0) return nullptr;
  t.liveBlocks += 1;
  return std::malloc(size_t(bytes) + 1);
}

inline void release(void* block) {
  if (block == nullptr) return;
  table().liveBlocks -= 1;
  std::free(block);
}

inline int32_t open(const char* path, int32_t, int32_t) {
  Table& t = table();
  t.opens += 1;
  if (t.failOpenAt == t.opens || t.files.count(path) == 0) return -1;
  t.handles.push_back(Handle{path, 0, true});
  return int32_t(t.handles.size() - 1);
}

inline int32_t read(int32_t handle, void* buffer, uint32_t bytes) {
  Table& t = table();
  t.reads += 1;
  Handle* h = find(handle);
  if (h == nullptr || t.failReadAt == t.reads) return -1;
  const std::vector<uint8_t>& data = t.files[h->name];
  if (h->position >= int64_t(data.size())) return 0;
  uint32_t count = uint32_t(std::min<int64_t>(bytes, int64_t(data.size()) - h->position));
  if (count > 0) std::memcpy(buffer, data.data() + h->position, count);
  h->position += count;
  return int32_t(count);
}

inline int32_t write(int32_t handle, const void* buffer, uint32_t bytes) {
  Table& t = table();
  Handle* h = find(handle);
  if (h == nullptr) return -1;
  uint32_t count = bytes;
  if (t.shortWriteAfterBytes >= 0 && t.writtenBytes + bytes > t.shortWriteAfterBytes) {
    count = uint32_t(std::max<int64_t>(0, t.shortWriteAfterBytes - t.writtenBytes));
  }
  std::vector<uint8_t>& data = t.files[h->name];
  if (int64_t(data.size()) < h->position + count) data.resize(size_t(h->position + count));
  if (count > 0) std::memcpy(data.data() + h->position, buffer, count);
  h->position += count;
  t.writtenBytes += count;
  return int32_t(count);
}

inline int32_t close(int32_t handle) {
  Table& t = table();
  t.closes += 1;
  Handle* h = find(handle);
  if (h == nullptr) return -1;
  h->open = false;
  return t.failCloseAt == t.closes ? -1 : 0;
}

inline int32_t seek(int32_t handle, int32_t distance, int32_t origin) {
  Table& t = table();
  t.seeks += 1;
  Handle* h = find(handle);
  if (h == nullptr || t.failSeekAt == t.seeks) return -1;
  int64_t base = origin == 0 ? 0 : origin == 1 ? h->position : int64_t(t.files[h->name].size());
  int64_t position = base + distance;
  if (position < 0 || position > INT32_MAX) return -1;
  h->position = position;
  return int32_t(position);
}

}  // namespace memfs
