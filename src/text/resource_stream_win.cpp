// ResourceStream and its factory: custom resources of the program's own module.
#include "text/resource_stream.h"

#include <windows.h>

#include <cstring>
#include <new>

#include "text/stream_factory.h"

namespace text {

int32_t ResourceStream::open(const char* name, uint32_t flags) {
  if (isOpen() || !(flags & OpenRead) || name == nullptr) return 0;
  // The name is split in a buffer of MaxNameChars + 1; a longer name is refused rather
  // than cut, which could find some other resource.
  size_t nameChars = strnlen(name, MaxNameChars + 1);
  if (nameChars > MaxNameChars) return 0;
  char type[MaxNameChars + 1];
  std::memcpy(type, name, nameChars + 1);
  char* separator = std::strchr(type, '\\');
  if (separator == nullptr) return 0;
  *separator = '\0';
  const char* resourceName = separator + 1;

  HRSRC found = FindResourceExA(nullptr, type, resourceName, 0);
  if (found == nullptr) return 0;
  DWORD sizeBytes = SizeofResource(nullptr, found);
  HGLOBAL loaded = LoadResource(nullptr, found);
  if (loaded == nullptr) return 0;
  const void* bytes = LockResource(loaded);
  if (bytes == nullptr && sizeBytes != 0) return 0;
  return openCopy(static_cast<const uint8_t*>(bytes), sizeBytes);
}

ByteStream* ResourceStream::createNew() { return new (std::nothrow) ResourceStream; }

ByteStream* ResourceStreamFactory::createStream() { return new (std::nothrow) ResourceStream; }
StreamFactory* ResourceStreamFactory::clone() {
  return new (std::nothrow) ResourceStreamFactory;
}

}  // namespace text
