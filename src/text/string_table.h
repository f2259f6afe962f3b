// A string table: one tab-separated text, plain or scrambled, loaded once and then asked
// by number (StringId) or by key.
//
// Source bytes: either "RCNE" followed by the text with every byte XOR 0x6B, or the text
// itself. The text is a sequence of lines, each ended by CR or by LF (a CR LF pair is one
// line end and an empty line); text after the last line end is ignored. A line is
//   key TAB text   or   key TAB id TAB [ignored TAB ...] text
// where id is decimal, or hexadecimal after "0x", and text carries backslash escapes.
// Lines without TAB or with an empty text are ignored.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "text/text_source.h"

namespace text {

class StringTable : public TextSource {
 public:
  // Tag of the scrambled form and the key byte every text byte is XORed with.
  static constexpr char ScrambleTag[4] = {'R', 'C', 'N', 'E'};
  static constexpr uint8_t ScrambleKey = 0x6B;
  // The flags every loader opens its stream with: OpenRead and a bit no stream examines.
  static constexpr uint32_t LoadOpenFlags = 0x201;

  StringTable() = default;

  // Refuses (0) when already loaded. Otherwise reads the whole stream, unscrambles it when
  // tagged and parses it. Returns the number of accepted lines; 0 leaves the table empty.
  int32_t load(const char* name, StreamFactory* factory, int32_t language) override;
  // Null when not loaded or the id is unknown.
  const char* lookupById(int32_t id) const override;
  // Null when not loaded. A key of the reference form \KEY\default gives the text of KEY,
  // or else a pointer to default inside the given key. Any other key is looked up exactly;
  // missing, it gives null with LookupNullIfMissing, else the key itself.
  const char* lookupByKey(const char* key, int32_t flags) const override;
  int32_t language() const override { return language_; }
  TextSource* createNew() const override;

  // Parses a NUL-terminated text in place (separators become NUL) and stores copies of
  // its accepted lines. Returns their number; with none the table is cleared.
  int32_t parseText(char* text, int32_t language);
  // Decodes the backslash escapes of a NUL-terminated text in place and returns the new
  // length (which may count decoded NUL bytes). Never reads past the terminating NUL.
  static int32_t decodeEscapes(char* text);
  // Reads an identifier field: "0x" then hexadecimal, else decimal; 0 when not a number.
  static int32_t parseId(const char* field);
  // Forgets everything: not loaded, language 0, no entries.
  void clear();

  bool isLoaded() const { return loaded_ != 0; }
  // Number of accepted lines, also those whose key and id were later taken by another line.
  size_t entryCount() const { return texts_.size(); }

 private:
  int32_t language_ = 0;
  std::map<std::string, int32_t> keyIndex_;  // key -> entry index (latest line wins)
  std::unordered_map<int32_t, int32_t> idIndex_;  // StringId -> entry index (latest wins)
  std::vector<std::string> texts_;           // one per accepted line, in line order
  int32_t loaded_ = 0;
};

}  // namespace text
