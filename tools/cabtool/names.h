// Archived names and DOS times as cabtool shows and writes them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace cabtool {

// Bytes 0x80-0xff of Windows-1252 as UTF-8; ASCII passes unchanged.
std::string windows1252ToUtf8(std::string_view text);
// The name of a file entry as UTF-8: verbatim when the attributes carry 0x80, else read as
// Windows-1252.
std::string entryNameToUtf8(std::string_view name, uint16_t attributes);
// True when `text` holds a byte above 0x7f and is well-formed UTF-8.
bool isNonAsciiUtf8(std::string_view text);

// The path below the target folder that an archived name (UTF-8) stands for, with '/'
// separators. False, with the reason, for a name that would leave the folder: absolute,
// with a drive, with a ".." segment, or naming nothing.
bool relativeOutputPath(std::string_view name, std::string* path, std::string* reason);

// "YYYY-MM-DD HH:MM:SS" of DOS date and time fields, as stored.
std::string formatDosDateTime(uint16_t date, uint16_t time);
// DOS fields of a moment, in local time (1980-2107; earlier moments become 1980-01-01).
void toDosDateTime(int64_t seconds, uint16_t* date, uint16_t* time);
// The moment of DOS fields taken as local time; false for fields naming no valid time.
bool fromDosDateTime(uint16_t date, uint16_t time, int64_t* seconds);

}  // namespace cabtool
