// The portable stream factories.
#include "text/stream_factory.h"

#include <new>

namespace text {

ByteStream* FileStreamFactory::createStream() { return new (std::nothrow) FileStream; }
StreamFactory* FileStreamFactory::clone() { return new (std::nothrow) FileStreamFactory; }

ByteStream* MemoryStreamFactory::createStream() {
  return new (std::nothrow) MemoryStream(source_);
}
StreamFactory* MemoryStreamFactory::clone() {
  return new (std::nothrow) MemoryStreamFactory(source_);
}

}  // namespace text
