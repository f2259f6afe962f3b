// Writes rows in the installer's string-table text format, plain or scrambled, so that
// the table loader gives back every key, id and text byte for byte.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace pack {

struct StringRow {
  std::string key;            // any bytes but TAB, CR, LF and NUL; may be empty
  std::optional<int32_t> id;  // the row's StringId, when it has one
  std::string text;           // any bytes but NUL, taken verbatim (already in the code page)
};

// A row that the format cannot carry (a key with TAB, CR, LF or NUL, a text with NUL).
class StringTableError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

// The table as the loader reads it: one line per row, "key TAB [id TAB] text LF", with
// TAB, CR, LF and backslash in texts escaped. Scrambled: "RCNE" then every byte XOR 0x6B.
// Throws StringTableError for a row the format cannot carry.
std::string writeStringTable(const std::vector<StringRow>& rows, bool scrambled);

}  // namespace pack
