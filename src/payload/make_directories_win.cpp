// Creating the folders of a target path, one segment at a time from the current folder.
#include <windows.h>

#include <direct.h>

#include <cctype>
#include <cstdio>
#include <cstring>

#include "payload/cabinet_extractor.h"

namespace payload {

int32_t makeDirectories(const char* path, ReplaceLog* log) {
  char copy[PathChars];
  std::snprintf(copy, sizeof copy, "%s", path);
  char remembered[PathChars];
  DWORD rememberedChars = GetCurrentDirectoryA(sizeof remembered, remembered);
  if (rememberedChars == 0 || rememberedChars >= sizeof remembered) remembered[0] = '\0';

  int32_t result = 1;
  size_t i = 0;
  if (copy[0] != '\0' && copy[1] == ':') {
    // Drive numbers count from 1 for A.
    int drive = std::toupper(static_cast<unsigned char>(copy[0])) & 0x3f;
    result = _chdrive(drive) == 0 ? 1 : 0;
    i = 2;
  }
  if (copy[i] == '\\') {
    SetCurrentDirectoryA("\\");
    i += 1;
  }
  if (result == 1) {
    // Step by characters of the ANSI code page: the file system converts names with it,
    // so the trail byte 0x5C of a double-byte character is no separator.
    char* segment = copy + i;
    char* p = segment;
    while (*p != '\0') {
      if (*p != '\\') {
        p = CharNextA(p);
        continue;
      }
      *p = '\0';
      if (*segment != '\0' && !SetCurrentDirectoryA(segment)) {
        if (CreateDirectoryA(segment, nullptr) && log != nullptr) {
          char full[PathChars];
          DWORD chars = GetFullPathNameA(segment, sizeof full, full, nullptr);
          if (chars > 0 && chars < sizeof full) log->noteCreatedDirectory(full);
        }
        SetCurrentDirectoryA(segment);
      }
      segment = p + 1;
      p = segment;
    }
  }
  if (remembered[0] != '\0') SetCurrentDirectoryA(remembered);
  return result;
}

}  // namespace payload
