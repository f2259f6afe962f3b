// The few calls cabtool needs from the operating system, with a POSIX and a Windows
// variant (platform_posix.cpp, platform_win.cpp). Paths are UTF-8.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace cabtool {

// Creates or truncates a file for writing; a C runtime descriptor, or -1 (errno set).
int openOutput(const std::string& path);
// Seconds since 1970 of the file's last modification.
bool modificationTime(const std::string& path, int64_t* seconds);
bool setModificationTime(const std::string& path, int64_t seconds);
// Local calendar time of `seconds`, and back (mktime rules: isdst -1 lets the system decide).
bool localTime(int64_t seconds, std::tm* out);
int64_t fromLocalTime(std::tm* time);
bool stderrIsTerminal();
// True when the file's owner may not write it.
bool isReadOnly(const std::string& path);

}  // namespace cabtool
