// strtab: turns the installer's readable UTF-8 text sources into the resources it reads.
//
//   strtab table  --codepage CP -o OUT [--plain] SOURCE   string table ("RCNE" scrambled
//                                                          unless --plain)
//   strtab readme --codepage CP -o OUT [--plain] SOURCE   readme text: line ends made CR LF;
//                                                          "RCNE" + text XOR 0x6B unless
//                                                          --plain (then the bare text, as
//                                                          the game folder keeps it)
//
// CP is any code page name iconv knows (CP1252, CP932, CP936, CP949, ...). Every text is
// converted from UTF-8 strictly: a character the code page lacks is an error naming its
// line, so a translation never ships with silent question marks.
//
// Table source format (UTF-8, one row per line):
//   # comment                 lines whose first character is '#' are skipped, as are
//                             empty lines
//   KEY <TABs> TEXT           a row without a number
//   KEY <TABs> ID <TABs> TEXT a row with a number: decimal (-5, 4096) or hex (0x3000)
// Fields are separated by one or more TAB characters, so columns can be aligned. In TEXT
// the escapes \n (line feed), \r, \t (TAB) and \\ (backslash) stand for those bytes;
// any other backslash is an error. Keys are ASCII; texts are converted to the code page.
#include <iconv.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "pack/string_table_writer.h"

namespace {

struct ToolError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw ToolError("cannot open " + path);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw ToolError("cannot write " + path);
}

// Converts UTF-8 to the code page; throws on any character the code page cannot hold.
class CodePageConverter {
 public:
  explicit CodePageConverter(const std::string& codePage) : codePage_(codePage) {
    handle_ = iconv_open(codePage.c_str(), "UTF-8");
    if (handle_ == reinterpret_cast<iconv_t>(-1)) throw ToolError("unknown code page " + codePage);
  }
  ~CodePageConverter() { iconv_close(handle_); }
  CodePageConverter(const CodePageConverter&) = delete;
  CodePageConverter& operator=(const CodePageConverter&) = delete;

  std::string convert(const std::string& utf8, const std::string& where) {
    iconv(handle_, nullptr, nullptr, nullptr, nullptr);
    std::string out(utf8.size() * 2 + 16, '\0');
    char* inPtr = const_cast<char*>(utf8.data());
    size_t inLeft = utf8.size();
    char* outPtr = out.data();
    size_t outLeft = out.size();
    if (iconv(handle_, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1)) {
      size_t at = utf8.size() - inLeft;
      throw ToolError(where + ": character at byte " + std::to_string(at) +
                      " cannot be written in " + codePage_ +
                      (errno == EILSEQ ? "" : " (input is not valid UTF-8)"));
    }
    out.resize(out.size() - outLeft);
    return out;
  }

 private:
  std::string codePage_;
  iconv_t handle_;
};

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  for (char c : text) {
    if (c == '\n') {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(line);
      line.clear();
    } else {
      line.push_back(c);
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

std::string unescape(const std::string& text, const std::string& where) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out.push_back(text[i]);
      continue;
    }
    char next = i + 1 < text.size() ? text[i + 1] : '\0';
    switch (next) {
      case 'n': out.push_back('\n'); break;
      case 'r': out.push_back('\r'); break;
      case 't': out.push_back('\t'); break;
      case '\\': out.push_back('\\'); break;
      default: throw ToolError(where + ": unknown escape \\" + std::string(1, next));
    }
    ++i;
  }
  return out;
}

int32_t parseId(const std::string& field, const std::string& where) {
  const char* begin = field.c_str();
  char* end = nullptr;
  long long value = field.rfind("0x", 0) == 0 ? std::strtoll(begin + 2, &end, 16)
                                              : std::strtoll(begin, &end, 10);
  if (field.empty() || field == "0x" || *end != '\0' || value < INT32_MIN || value > UINT32_MAX)
    throw ToolError(where + ": bad number '" + field + "'");
  return static_cast<int32_t>(static_cast<uint32_t>(value));
}

std::vector<pack::StringRow> readTableSource(const std::string& path,
                                             CodePageConverter& converter) {
  std::vector<pack::StringRow> rows;
  std::vector<std::string> lines = splitLines(readFile(path));
  for (size_t n = 0; n < lines.size(); ++n) {
    const std::string& line = lines[n];
    std::string where = path + ":" + std::to_string(n + 1);
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> fields;
    size_t pos = 0;
    while (pos < line.size()) {
      size_t tab = line.find('\t', pos);
      if (tab == std::string::npos) tab = line.size();
      fields.push_back(line.substr(pos, tab - pos));
      pos = line.find_first_not_of('\t', tab);
      if (pos == std::string::npos) pos = line.size();
    }
    if (fields.size() < 2 || fields.size() > 3 || fields[0].empty())
      throw ToolError(where + ": expected KEY, optional ID and TEXT separated by TABs");
    pack::StringRow row;
    row.key = fields[0];
    if (fields.size() == 3) row.id = parseId(fields[1], where);
    row.text = converter.convert(unescape(fields.back(), where), where);
    if (row.text.empty()) throw ToolError(where + ": empty text");
    rows.push_back(std::move(row));
  }
  if (rows.empty()) throw ToolError(path + ": no rows");
  return rows;
}

std::string makeReadme(const std::string& path, CodePageConverter& converter, bool plain) {
  std::string text;
  for (const std::string& line : splitLines(readFile(path))) text += line + "\r\n";
  text = converter.convert(text, path);
  if (plain) return text;
  std::string out = "RCNE";
  for (char c : text) out.push_back(static_cast<char>(static_cast<uint8_t>(c) ^ 0x6B));
  return out;
}

int usage() {
  std::cerr << "usage: strtab table|readme --codepage CP -o OUT [--plain] SOURCE\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  std::string mode = argv[1];
  std::string codePage, output, source;
  bool plain = false;
  for (int i = 2; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--codepage" && i + 1 < argc) codePage = argv[++i];
    else if (arg == "-o" && i + 1 < argc) output = argv[++i];
    else if (arg == "--plain") plain = true;
    else if (source.empty() && arg[0] != '-') source = arg;
    else return usage();
  }
  if ((mode != "table" && mode != "readme") || codePage.empty() || output.empty() ||
      source.empty())
    return usage();
  try {
    CodePageConverter converter(codePage);
    std::string bytes = mode == "table"
                            ? pack::writeStringTable(readTableSource(source, converter), !plain)
                            : makeReadme(source, converter, plain);
    writeFile(output, bytes);
  } catch (const ToolError& error) {
    std::cerr << "strtab: " << error.what() << "\n";
    return 1;
  }
  return 0;
}
