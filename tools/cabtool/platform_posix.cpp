#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include "platform.h"

namespace cabtool {

int openOutput(const std::string& path) {
  return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
}

bool modificationTime(const std::string& path, int64_t* seconds) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) return false;
  *seconds = int64_t(info.st_mtime);
  return true;
}

bool setModificationTime(const std::string& path, int64_t seconds) {
  struct timeval times[2] = {};
  times[0].tv_sec = time_t(seconds);
  times[1].tv_sec = time_t(seconds);
  return ::utimes(path.c_str(), times) == 0;
}

bool localTime(int64_t seconds, std::tm* out) {
  time_t value = time_t(seconds);
  return ::localtime_r(&value, out) != nullptr;
}

int64_t fromLocalTime(std::tm* time) { return int64_t(std::mktime(time)); }

bool stderrIsTerminal() { return ::isatty(2) != 0; }

bool isReadOnly(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && (info.st_mode & S_IWUSR) == 0;
}

}  // namespace cabtool
