// A stream over a custom resource of the program's own module (Windows only). The name
// joins the resource type and the resource name with a backslash, as in "INSTALL\INSTALL"
// or "POLYGLOT\ENG". `open` copies the resource; everything else works on the copy.
#pragma once

#include "text/byte_stream.h"

namespace text {

class ResourceStream : public MemoryStream {
 public:
  // Longest name `open` accepts, in characters.
  static constexpr size_t MaxNameChars = 255;

  // Refuses (0) when open already, without OpenRead, when the name has no backslash or
  // is longer than MaxNameChars, or when the resource cannot be found or loaded.
  int32_t open(const char* name, uint32_t flags) override;
  ByteStream* createNew() override;
};

}  // namespace text
