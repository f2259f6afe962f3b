// Stands in for the program associated with text files: records how it was started, so the
// end-to-end tests can tell whether and with what the installer opened the readme.
#include <windows.h>

#include <cstdio>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char path[MAX_PATH];
  DWORD chars = GetEnvironmentVariableA("E2E_LAUNCH_LOG", path, sizeof path);
  if (chars == 0 || chars >= sizeof path) std::snprintf(path, sizeof path, "C:\\launched.txt");
  if (std::FILE* log = std::fopen(path, "ab")) {
    std::fprintf(log, "%s\n", GetCommandLineA());
    std::fclose(log);
  }
  return 0;
}
