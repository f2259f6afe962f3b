// StringTable: loading, parsing and lookups of one tab-separated text table.
#include "text/string_table.h"

#include <cstring>
#include <memory>
#include <new>

#include "text/stream_factory.h"

namespace text {
namespace {

int hexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool isSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The C runtime's "%x" conversion: blanks, a sign, an optional 0x or 0X, hexadecimal
// digits. Values wrap modulo 2^32. No digit gives 0.
int32_t scanHex(const char* p) {
  while (isSpace(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = (*p++ == '-');
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && hexDigitValue(p[2]) >= 0) p += 2;
  uint32_t value = 0;
  for (int digit; (digit = hexDigitValue(*p)) >= 0; ++p) value = value * 16 + uint32_t(digit);
  return static_cast<int32_t>(negative ? 0u - value : value);
}

// atoi: blanks, a sign, decimal digits. Values wrap modulo 2^32. No digit gives 0.
int32_t scanDecimal(const char* p) {
  while (isSpace(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = (*p++ == '-');
  uint32_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) value = value * 10 + uint32_t(*p - '0');
  return static_cast<int32_t>(negative ? 0u - value : value);
}

// What a backslash and one letter stand for; 0 for a letter that is no simple escape.
char simpleEscape(char c) {
  switch (c) {
    case '"': case '\'': case '?': case '\\': return c;
    case 'a': return '\a';
    case 'b': return '\b';
    case 'f': return '\f';
    case 'n': return '\n';
    case 'r': return '\r';
    case 't': return '\t';
    case 'v': return '\v';
    default: return 0;
  }
}

}  // namespace

int32_t StringTable::parseId(const char* field) {
  if (field[0] == '0' && field[1] == 'x') return scanHex(field + 2);
  return scanDecimal(field);
}

int32_t StringTable::decodeEscapes(char* text) {
  const char* in = text;
  char* out = text;
  while (*in != '\0') {
    if (*in != '\\') {
      *out++ = *in++;
      continue;
    }
    const char c1 = in[1];
    if (c1 >= '0' && c1 <= '9') {
      // Three characters, each taken as an octal digit whatever it is; the value is cut
      // to 8 bits. When the text ends before all three are there the escape is dropped
      // and the characters that are there are copied as they stand.
      const char c2 = in[2];
      const char c3 = (c2 != '\0') ? in[3] : '\0';
      if (c2 == '\0' || c3 == '\0') {
        ++in;
        continue;
      }
      uint32_t value = (uint32_t(c1 - '0') << 6) | (uint32_t(c2 - '0') << 3) | uint32_t(c3 - '0');
      *out++ = static_cast<char>(value & 0xFF);
      in += 4;
    } else if (c1 == 'x' || c1 == 'X') {
      const int high = hexDigitValue(in[2]);
      if (high < 0) {
        ++in;  // drop the backslash; the x is copied as an ordinary character
        continue;
      }
      const int low = hexDigitValue(in[3]);
      if (low < 0) {
        *out++ = static_cast<char>(high);
        in += 3;
      } else {
        *out++ = static_cast<char>(high * 16 + low);
        in += 4;
      }
    } else if (char decoded = simpleEscape(c1); decoded != 0) {
      *out++ = decoded;
      in += 2;
    } else {
      ++in;  // drop the backslash; what follows (maybe the end) is handled as usual
    }
  }
  *out = '\0';
  return static_cast<int32_t>(out - text);
}

void StringTable::clear() {
  language_ = 0;
  loaded_ = 0;
  keyIndex_.clear();
  idIndex_.clear();
  texts_.clear();
  texts_.shrink_to_fit();
}

int32_t StringTable::parseText(char* text, int32_t language) {
  if (text[0] == '\0') {
    clear();
    return 0;
  }
  char* fieldStart = nullptr;  // the open field, none at first
  const char* key = nullptr;
  const char* idField = nullptr;
  int32_t count = 0;
  for (char* cursor = text; *cursor != '\0'; ++cursor) {
    if (fieldStart == nullptr) fieldStart = cursor;
    const char c = *cursor;
    if (c == '\t') {
      *cursor = '\0';
      if (key == nullptr) {
        key = fieldStart;
      } else if (idField == nullptr) {
        idField = fieldStart;
      }
      fieldStart = nullptr;
    } else if (c == '\r' || c == '\n') {
      *cursor = '\0';
      if (fieldStart != cursor && key != nullptr) {
        decodeEscapes(fieldStart);
        texts_.emplace_back(fieldStart);  // up to the first NUL, decoded ones included
        keyIndex_[key] = count;
        if (idField != nullptr) idIndex_[parseId(idField)] = count;
        ++count;
      }
      key = nullptr;
      idField = nullptr;
      fieldStart = nullptr;
    }
  }
  if (count == 0) {
    clear();
    return 0;
  }
  language_ = language;
  loaded_ = 1;
  return count;
}

int32_t StringTable::load(const char* name, StreamFactory* factory, int32_t language) {
  if (loaded_ || factory == nullptr) return 0;
  std::unique_ptr<ByteStream> stream(factory->createStream());
  if (stream == nullptr) return 0;
  if (!stream->open(name, LoadOpenFlags)) return 0;

  if (stream->seek(0, OriginEnd) != 0) return 0;
  const int32_t sizeBytes = stream->tell();
  if (sizeBytes < 0 || stream->seek(0, OriginBegin) != 0) return 0;
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[size_t(sizeBytes) + 1]);
  if (buffer == nullptr) return 0;
  // A stream that delivers less than it said it holds is taken as unreadable: parsing a
  // partly filled buffer would read bytes that never came from the source.
  if (sizeBytes > 0 && stream->read(buffer.get(), uint32_t(sizeBytes), 1) != 1) return 0;

  char* text = buffer.get();
  int32_t textBytes = sizeBytes;
  if (sizeBytes >= 4 && std::memcmp(text, ScrambleTag, 4) == 0) {
    textBytes = sizeBytes - 4;
    for (int32_t i = 0; i < textBytes; ++i) text[i] = static_cast<char>(text[i + 4] ^ ScrambleKey);
  }
  text[textBytes] = '\0';
  return parseText(text, language);
}

const char* StringTable::lookupById(int32_t id) const {
  if (!loaded_) return nullptr;
  auto found = idIndex_.find(id);
  return found == idIndex_.end() ? nullptr : texts_[size_t(found->second)].c_str();
}

const char* StringTable::lookupByKey(const char* key, int32_t flags) const {
  if (!loaded_ || key == nullptr) return nullptr;
  if (key[0] == '\\') {
    if (const char* second = std::strchr(key + 1, '\\'); second != nullptr) {
      auto found = keyIndex_.find(std::string(key + 1, second));
      return found == keyIndex_.end() ? second + 1 : texts_[size_t(found->second)].c_str();
    }
  }
  auto found = keyIndex_.find(key);
  if (found != keyIndex_.end()) return texts_[size_t(found->second)].c_str();
  return (flags & LookupNullIfMissing) ? nullptr : key;
}

TextSource* StringTable::createNew() const { return new (std::nothrow) StringTable; }

}  // namespace text
