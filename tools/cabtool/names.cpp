#include "names.h"

#include <cstdio>
#include <ctime>

#include "platform.h"

namespace cabtool {
namespace {

// Unicode code points of Windows-1252 bytes 0x80-0x9f; the five bytes the code page leaves
// undefined map to the C1 control of the same value, as Windows itself converts them.
constexpr uint16_t HighControls[32] = {
    0x20ac, 0x0081, 0x201a, 0x0192, 0x201e, 0x2026, 0x2020, 0x2021,
    0x02c6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008d, 0x017d, 0x008f,
    0x0090, 0x2018, 0x2019, 0x201c, 0x201d, 0x2022, 0x2013, 0x2014,
    0x02dc, 0x2122, 0x0161, 0x203a, 0x0153, 0x009d, 0x017e, 0x0178,
};

void appendUtf8(std::string& out, uint32_t code) {
  if (code < 0x80) {
    out.push_back(char(code));
  } else if (code < 0x800) {
    out.push_back(char(0xc0 | (code >> 6)));
    out.push_back(char(0x80 | (code & 0x3f)));
  } else {
    out.push_back(char(0xe0 | (code >> 12)));
    out.push_back(char(0x80 | ((code >> 6) & 0x3f)));
    out.push_back(char(0x80 | (code & 0x3f)));
  }
}

bool isSeparator(char c) { return c == '\\' || c == '/'; }

#ifdef _WIN32
// CON, PRN, AUX, NUL, COM1-9 and LPT1-9 name devices on Windows whatever their extension.
bool isDeviceName(std::string_view segment) {
  std::string stem;
  for (char c : segment.substr(0, segment.find('.'))) stem.push_back(char(c & ~0x20));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL") return true;
  return stem.size() == 4 && (stem.starts_with("COM") || stem.starts_with("LPT")) && stem[3] >= '1' &&
         stem[3] <= '9';
}
#endif

}  // namespace

std::string windows1252ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    auto byte = uint8_t(c);
    if (byte < 0x80) out.push_back(c);
    else if (byte < 0xa0) appendUtf8(out, HighControls[byte - 0x80]);
    else appendUtf8(out, byte);
  }
  return out;
}

std::string entryNameToUtf8(std::string_view name, uint16_t attributes) {
  if (attributes & 0x80) return std::string(name);
  return windows1252ToUtf8(name);
}

bool isNonAsciiUtf8(std::string_view text) {
  bool nonAscii = false;
  for (size_t i = 0; i < text.size();) {
    auto byte = uint8_t(text[i]);
    if (byte < 0x80) {
      i++;
      continue;
    }
    nonAscii = true;
    size_t length = byte >= 0xf0 && byte < 0xf5 ? 4 : byte >= 0xe0 ? 3 : byte >= 0xc2 ? 2 : 0;
    if (byte >= 0xf5 || length == 0 || i + length > text.size()) return false;
    for (size_t j = 1; j < length; j++)
      if ((uint8_t(text[i + j]) & 0xc0) != 0x80) return false;
    i += length;
  }
  return nonAscii;
}

bool relativeOutputPath(std::string_view name, std::string* path, std::string* reason) {
  path->clear();
  if (!name.empty() && isSeparator(name[0])) {
    *reason = "absolute name";
    return false;
  }
  if (name.size() >= 2 && name[1] == ':') {
    *reason = "name with a drive";
    return false;
  }
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = start;
    while (end < name.size() && !isSeparator(name[end])) end++;
    std::string_view segment = name.substr(start, end - start);
    if (segment == "..") {
      *reason = "name with a \"..\" segment";
      return false;
    }
#ifdef _WIN32
    // A colon names an alternate stream or a device on Windows.
    if (segment.find(':') != std::string_view::npos) {
      *reason = "name with a colon";
      return false;
    }
    if (isDeviceName(segment)) {
      *reason = "device name";
      return false;
    }
#endif
    if (!segment.empty() && segment != ".") {
      if (!path->empty()) path->push_back('/');
      path->append(segment);
    }
    start = end + 1;
  }
  if (path->empty()) {
    *reason = "empty name";
    return false;
  }
  return true;
}

std::string formatDosDateTime(uint16_t date, uint16_t time) {
  char text[32];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", 1980u + (date >> 9),
                (date >> 5) & 15u, date & 31u, time >> 11, (time >> 5) & 63u, (time & 31u) * 2);
  return text;
}

void toDosDateTime(int64_t seconds, uint16_t* date, uint16_t* time) {
  std::tm local{};
  if (!localTime(seconds, &local) || local.tm_year < 80) {
    *date = (1 << 5) | 1;
    *time = 0;
    return;
  }
  int year = local.tm_year - 80;
  if (year > 127) year = 127;
  *date = uint16_t((year << 9) | ((local.tm_mon + 1) << 5) | local.tm_mday);
  *time = uint16_t((local.tm_hour << 11) | (local.tm_min << 5) | (local.tm_sec / 2));
}

bool fromDosDateTime(uint16_t date, uint16_t time, int64_t* seconds) {
  std::tm local{};
  local.tm_year = 80 + (date >> 9);
  local.tm_mon = ((date >> 5) & 15) - 1;
  local.tm_mday = date & 31;
  local.tm_hour = time >> 11;
  local.tm_min = (time >> 5) & 63;
  local.tm_sec = (time & 31) * 2;
  local.tm_isdst = -1;
  if (local.tm_mon < 0 || local.tm_mon > 11 || local.tm_mday == 0 || local.tm_hour > 23 ||
      local.tm_min > 59 || local.tm_sec > 59)
    return false;
  int64_t value = fromLocalTime(&local);
  if (value == -1) return false;
  *seconds = value;
  return true;
}

}  // namespace cabtool
