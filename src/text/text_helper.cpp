// TextHelper, portable part: filling a message's placeholders.
#include "text/text_helper.h"

#include <cstring>
#include <new>

namespace text {

size_t TextHelper::fillPlaceholders(const char* text, const char* argument, char* dst) {
  const size_t argumentBytes = argument != nullptr ? std::strlen(argument) : 0;
  size_t length = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    const char next = p[1];
    // %1 .. %9 and %A .. %Z are placeholders; %1 takes the argument, the others a "?".
    const bool placeholder = p[0] == '%' && ((next >= '1' && next <= '9') ||
                                             (next >= 'A' && next <= 'Z'));
    if (!placeholder) {
      // A % before anything else is copied and scanning goes on right after it, so in
      // "%%1" the second % still opens a placeholder.
      if (dst != nullptr) dst[length] = *p;
      ++length;
      continue;
    }
    if (next == '1') {
      if (dst != nullptr && argumentBytes != 0) std::memcpy(dst + length, argument, argumentBytes);
      length += argumentBytes;
    } else {
      if (dst != nullptr) dst[length] = '?';
      ++length;
    }
    ++p;  // the placeholder's digit or letter
  }
  if (dst != nullptr) dst[length] = '\0';
  return length;
}

int32_t TextHelper::formatText(char** out, int32_t textId, const char* argument) const {
  if (out == nullptr) return 0;
  const char* message = source_ != nullptr ? source_->lookupById(textId) : nullptr;
  const char* pattern = message != nullptr ? message : "";
  const size_t length = fillPlaceholders(pattern, argument, nullptr);
  *out = new char[length + 1];
  fillPlaceholders(pattern, argument, *out);
  return message != nullptr ? 1 : 0;
}

}  // namespace text
