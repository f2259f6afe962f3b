// FileStream: a ByteStream over the C runtime's buffered file functions.
#include <climits>
#include <new>

#include "text/byte_stream.h"

namespace text {

FileStream::~FileStream() {
  if (file_ != nullptr) std::fclose(file_);
}

void FileStream::modeFor(uint32_t flags, char mode[4]) {
  size_t length = 0;
  if (flags & OpenWrite) {
    if (flags & OpenRead) {
      mode[length++] = (flags & OpenKeep) ? 'r' : 'w';
      mode[length++] = '+';
    } else {
      mode[length++] = (flags & OpenKeep) ? 'a' : 'w';
    }
  } else if (flags & OpenRead) {
    mode[length++] = 'r';
  }
  mode[length++] = (flags & OpenText) ? 't' : 'b';
  mode[length] = '\0';
}

int32_t FileStream::open(const char* name, uint32_t flags) {
  if (file_ != nullptr || name == nullptr) return 0;
  // Without an access letter the runtime would be asked for "t" or "b" alone, which it
  // refuses; say so here rather than rely on every runtime to agree.
  if ((flags & (OpenRead | OpenWrite)) == 0) return 0;
  char mode[4];
  modeFor(flags, mode);
  file_ = std::fopen(name, mode);
  return file_ != nullptr ? 1 : 0;
}

int32_t FileStream::close() {
  if (file_ == nullptr) return -1;
  int result = std::fclose(file_);
  file_ = nullptr;
  return result;
}

int32_t FileStream::read(void* dst, uint32_t recordBytes, uint32_t count) {
  if (file_ == nullptr || dst == nullptr) return 0;
  size_t records = std::fread(dst, recordBytes, count, file_);
  return records > INT32_MAX ? INT32_MAX : static_cast<int32_t>(records);
}

int32_t FileStream::write(const void* src, uint32_t recordBytes, uint32_t count) {
  if (file_ == nullptr || src == nullptr) return 0;
  size_t records = std::fwrite(src, recordBytes, count, file_);
  return records > INT32_MAX ? INT32_MAX : static_cast<int32_t>(records);
}

int32_t FileStream::seek(int32_t offset, int32_t origin) {
  if (file_ == nullptr) return -1;
  int whence;
  switch (origin) {
    case OriginBegin: whence = SEEK_SET; break;
    case OriginEnd: whence = SEEK_END; break;
    case OriginCurrent: whence = SEEK_CUR; break;
    default: return -1;
  }
  return std::fseek(file_, offset, whence);
}

int32_t FileStream::tell() {
  if (file_ == nullptr) return -1;
  long position = std::ftell(file_);
  if (position < 0 || position > INT32_MAX) return -1;
  return static_cast<int32_t>(position);
}

ByteStream* FileStream::createNew() { return new (std::nothrow) FileStream; }

}  // namespace text
