// Stream factories: a loader is handed the source of its bytes as a factory object and
// makes, opens, drains and destroys one stream of the factory's kind.
#pragma once

#include <cstdint>
#include <span>

#include "text/byte_stream.h"

namespace text {

class StreamFactory {
 public:
  // A new, unopened stream of the factory's kind, owned by the caller; null when memory
  // is exhausted.
  virtual ByteStream* createStream() = 0;
  // Reserved hooks kept for the layout of the interface; they do nothing, return 0 and
  // nothing calls them.
  virtual int32_t reserved1() { return 0; }
  virtual int32_t reserved2() { return 0; }
  // A new factory of the same kind, owned by the caller.
  virtual StreamFactory* clone() = 0;
  virtual int32_t reserved4(int32_t) { return 0; }
  virtual ~StreamFactory() = default;
};

class FileStreamFactory : public StreamFactory {
 public:
  ByteStream* createStream() override;
  StreamFactory* clone() override;
};

// Makes MemoryStreams over one span of bytes, which must outlive every stream made.
class MemoryStreamFactory : public StreamFactory {
 public:
  explicit MemoryStreamFactory(std::span<const uint8_t> source) : source_(source) {}
  ByteStream* createStream() override;
  StreamFactory* clone() override;

 private:
  std::span<const uint8_t> source_;
};

#ifdef _WIN32
// Makes ResourceStreams over the program's own resources.
class ResourceStreamFactory : public StreamFactory {
 public:
  ByteStream* createStream() override;
  StreamFactory* clone() override;
};
#endif

}  // namespace text
