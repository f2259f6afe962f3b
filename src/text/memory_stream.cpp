// MemoryStream: a read-only ByteStream over a private copy of some bytes.
#include <cstring>
#include <new>

#include "text/byte_stream.h"

namespace text {

MemoryStream::MemoryStream(std::span<const uint8_t> source) : source_(source) {}

int32_t MemoryStream::open(const char*, uint32_t flags) {
  if (isOpen() || !(flags & OpenRead)) return 0;
  return openCopy(source_.data(), static_cast<uint32_t>(source_.size()));
}

int32_t MemoryStream::openCopy(const uint8_t* bytes, uint32_t sizeBytes) {
  if (isOpen() || sizeBytes > INT32_MAX) return 0;
  // At least one byte, so that an empty copy still marks the stream open.
  std::unique_ptr<uint8_t[]> copy(new (std::nothrow) uint8_t[sizeBytes == 0 ? 1 : sizeBytes]);
  if (copy == nullptr) return 0;
  if (sizeBytes != 0) std::memcpy(copy.get(), bytes, sizeBytes);
  data_ = std::move(copy);
  sizeBytes_ = static_cast<int32_t>(sizeBytes);
  position_ = 0;
  return 1;
}

int32_t MemoryStream::close() {
  data_.reset();
  sizeBytes_ = 0;
  position_ = 0;
  return 0;
}

int32_t MemoryStream::read(void* dst, uint32_t recordBytes, uint32_t count) {
  if (!isOpen() || dst == nullptr) return 0;
  auto* out = static_cast<uint8_t*>(dst);
  int32_t records = 0;
  for (uint32_t i = 0; i < count; ++i) {
    // 64-bit sum: a huge record size must not wrap around and look as if it fitted.
    if (static_cast<int64_t>(position_) + recordBytes > sizeBytes_) break;
    std::memcpy(out, data_.get() + position_, recordBytes);
    out += recordBytes;
    position_ += static_cast<int32_t>(recordBytes);
    ++records;
  }
  return records;
}

int32_t MemoryStream::write(const void*, uint32_t, uint32_t) { return 0; }

int32_t MemoryStream::seek(int32_t offset, int32_t origin) {
  if (!isOpen()) return 1;
  int64_t target;
  switch (origin) {
    case OriginBegin: target = offset; break;
    case OriginEnd: target = static_cast<int64_t>(sizeBytes_) + offset; break;
    case OriginCurrent: target = static_cast<int64_t>(position_) + offset; break;
    default: return 1;
  }
  if (target < 0 || target > sizeBytes_) return 1;
  position_ = static_cast<int32_t>(target);
  return 0;
}

int32_t MemoryStream::tell() { return isOpen() ? position_ : -1; }

ByteStream* MemoryStream::createNew() { return new (std::nothrow) MemoryStream(source_); }

}  // namespace text
