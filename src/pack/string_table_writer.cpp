// The string-table writer: the inverse of the installer's table loader.
#include "pack/string_table_writer.h"

namespace pack {
namespace {

constexpr char ScrambleTag[4] = {'R', 'C', 'N', 'E'};
constexpr uint8_t ScrambleKey = 0x6B;

void checkRow(const StringRow& row, size_t rowIndex) {
  if (row.key.find_first_of(std::string("\t\r\n\0", 4)) != std::string::npos)
    throw StringTableError("string table row " + std::to_string(rowIndex + 1) +
                           ": key holds a TAB, CR, LF or NUL byte");
  if (row.text.find('\0') != std::string::npos)
    throw StringTableError("string table row " + std::to_string(rowIndex + 1) +
                           ": text holds a NUL byte");
}

// Escapes the bytes that would end the text field or start an escape. Every other byte
// is stored as it is. An empty text is written as a lone backslash, which the loader
// decodes to nothing; an empty field would drop the line.
void appendText(const std::string& text, std::string& out) {
  if (text.empty()) {
    out += '\\';
    return;
  }
  for (char c : text) {
    switch (c) {
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      case '\\': out += "\\\\"; break;
      default: out += c;
    }
  }
}

}  // namespace

std::string writeStringTable(const std::vector<StringRow>& rows, bool scrambled) {
  std::string body;
  for (size_t i = 0; i < rows.size(); ++i) {
    const StringRow& row = rows[i];
    checkRow(row, i);
    body += row.key;
    body += '\t';
    if (row.id) {
      body += std::to_string(*row.id);
      body += '\t';
    }
    appendText(row.text, body);
    body += '\n';
  }
  if (!scrambled) {
    // A plain text starting with the tag would be taken for a scrambled one; an empty
    // first line, which the loader skips, keeps it plain.
    if (body.compare(0, 4, ScrambleTag, 4) == 0) body.insert(body.begin(), '\n');
    return body;
  }
  std::string out(ScrambleTag, 4);
  out.reserve(4 + body.size());
  for (char c : body) out += static_cast<char>(static_cast<uint8_t>(c) ^ ScrambleKey);
  return out;
}

}  // namespace pack
