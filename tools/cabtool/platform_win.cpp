#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <sys/utime.h>
#include <windows.h>

#include "platform.h"

namespace cabtool {
namespace {

std::wstring wide(const std::string& utf8) {
  int count = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
  std::wstring out(size_t(count), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), out.data(), count);
  return out;
}

}  // namespace

int openOutput(const std::string& path) {
  return _wopen(wide(path).c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY,
                _S_IREAD | _S_IWRITE);
}

bool modificationTime(const std::string& path, int64_t* seconds) {
  struct _stat64 info;
  if (_wstat64(wide(path).c_str(), &info) != 0) return false;
  *seconds = int64_t(info.st_mtime);
  return true;
}

bool setModificationTime(const std::string& path, int64_t seconds) {
  struct __utimbuf64 times;
  times.actime = seconds;
  times.modtime = seconds;
  return _wutime64(wide(path).c_str(), &times) == 0;
}

bool localTime(int64_t seconds, std::tm* out) {
  __time64_t value = seconds;
  return _localtime64_s(out, &value) == 0;
}

int64_t fromLocalTime(std::tm* time) { return int64_t(_mktime64(time)); }

bool stderrIsTerminal() { return _isatty(2) != 0; }

bool isReadOnly(const std::string& path) {
  DWORD attributes = GetFileAttributesW(wide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
}

}  // namespace cabtool
