// Byte streams: the one abstraction every table and text of the installer is read through,
// so that the same loader takes its bytes from a resource of the program's own file, from a
// file on disk or, in tests and tools, from memory.
//
// Results follow the C runtime's habits: `open` gives 1 or 0, `seek` 0 on success,
// `read` and `write` the number of whole records moved, `tell` the position or -1.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>

namespace text {

// Flags of `open` (a bit set). Every loader passes OpenRead | 0x200; bit 0x200 and all bits
// not listed here are ignored by every stream.
enum OpenFlags : uint32_t {
  OpenRead = 0x001,
  OpenWrite = 0x002,
  OpenKeep = 0x004,  // with OpenWrite: keep the contents (append, or update with OpenRead)
  OpenText = 0x100,  // text mode; binary without it
};

// Origins of `seek`. The order is the stream's own, not the C runtime's.
enum SeekOrigin : int32_t {
  OriginBegin = 0,
  OriginEnd = 1,
  OriginCurrent = 2,
};

class ByteStream {
 public:
  virtual int32_t open(const char* name, uint32_t flags) = 0;
  virtual int32_t close() = 0;
  // Reads up to `count` records of `recordBytes` each into dst; returns the whole records read.
  virtual int32_t read(void* dst, uint32_t recordBytes, uint32_t count) = 0;
  virtual int32_t write(const void* src, uint32_t recordBytes, uint32_t count) = 0;
  virtual int32_t seek(int32_t offset, int32_t origin) = 0;
  virtual int32_t tell() = 0;
  // A new, unopened stream of the same kind on the heap, owned by the caller.
  virtual ByteStream* createNew() = 0;
  // Closes the stream when it is still open.
  virtual ~ByteStream() = default;
};

// A file read or written through the C runtime's buffered file functions.
class FileStream : public ByteStream {
 public:
  FileStream() = default;
  FileStream(const FileStream&) = delete;
  FileStream& operator=(const FileStream&) = delete;
  ~FileStream() override;

  // Refuses (0) while already open. The mode string is built from the flags:
  // OpenRead "r", OpenWrite "w", OpenWrite|OpenKeep "a", OpenRead|OpenWrite "w+",
  // OpenRead|OpenWrite|OpenKeep "r+", then "t" with OpenText or "b" without.
  int32_t open(const char* name, uint32_t flags) override;
  // The C runtime's result (0 on success); -1 when not open.
  int32_t close() override;
  // 0 when not open.
  int32_t read(void* dst, uint32_t recordBytes, uint32_t count) override;
  int32_t write(const void* src, uint32_t recordBytes, uint32_t count) override;
  // Nonzero for a stream that is not open or an unknown origin.
  int32_t seek(int32_t offset, int32_t origin) override;
  // -1 when not open, on error, or past what 32 bits can tell.
  int32_t tell() override;
  ByteStream* createNew() override;

  // The mode string `open` uses for these flags (at most 3 characters plus NUL).
  static void modeFor(uint32_t flags, char mode[4]);

 private:
  std::FILE* file_ = nullptr;
};

// Serves a private copy of bytes held in memory. `open` copies the source given at
// construction (the name is not examined); reads and seeks work on the copy, never on
// the source. Used for the installer's resources (ResourceStream) and for tests and tools.
class MemoryStream : public ByteStream {
 public:
  MemoryStream() = default;
  // The source is not owned and must outlive every `open` of this stream.
  explicit MemoryStream(std::span<const uint8_t> source);
  MemoryStream(const MemoryStream&) = delete;
  MemoryStream& operator=(const MemoryStream&) = delete;
  ~MemoryStream() override = default;

  // Refuses (0) while open or without OpenRead; other flag bits are ignored.
  int32_t open(const char* name, uint32_t flags) override;
  // Frees the copy. Returns 0.
  int32_t close() override;
  // Copies whole records only: a record that would pass the end is not copied and the
  // position stays before it. 0 when not open.
  int32_t read(void* dst, uint32_t recordBytes, uint32_t count) override;
  // Read-only: always 0.
  int32_t write(const void* src, uint32_t recordBytes, uint32_t count) override;
  // 0 when the target lies within 0..size; 1 (position unchanged) otherwise, for an
  // unknown origin, or when not open.
  int32_t seek(int32_t offset, int32_t origin) override;
  // The position, or -1 when not open.
  int32_t tell() override;
  ByteStream* createNew() override;

  bool isOpen() const { return data_ != nullptr; }

 protected:
  // Makes a private copy of the bytes and opens the stream on it. 1 opened, 0 failed.
  int32_t openCopy(const uint8_t* bytes, uint32_t sizeBytes);

 private:
  std::span<const uint8_t> source_;
  std::unique_ptr<uint8_t[]> data_;  // null while not open
  int32_t sizeBytes_ = 0;
  int32_t position_ = 0;  // offset of the next byte to read, 0 <= position <= size
};

}  // namespace text
