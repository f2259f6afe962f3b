// What follows a successful extraction: the registry stamp with the success message, the
// readme, and the optional move of one file into a folder under Program Files.

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "installer/update_installer.h"

#include <shellapi.h>

namespace installer {

ShellExecuteFn shellExecute = ShellExecuteA;

int ReadRegistryString(HKEY root, const char* key, const char* valueName, char* out) {
  HKEY opened = nullptr;
  out[0] = '\0';
  if (RegOpenKeyExA(root, key, 0, KEY_ALL_ACCESS, &opened) != ERROR_SUCCESS) return 0;
  char buffer[1024];
  DWORD bytes = sizeof buffer - 1;
  DWORD type = 0;
  if (RegQueryValueExA(opened, valueName, nullptr, &type, reinterpret_cast<BYTE*>(buffer),
                       &bytes) == ERROR_SUCCESS) {
    buffer[bytes < sizeof buffer ? bytes : sizeof buffer - 1] = '\0';
    std::snprintf(out, PathChars, "%s", buffer);
  }
  RegCloseKey(opened);
  return 1;
}

int ReadProgramFilesDir(char* out) {
  ReadRegistryString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion",
                     "ProgramFilesDir", out);
  return 0;
}

int FileExists(const char* path) {
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return 0;
  std::fclose(file);
  return 1;
}

int UpdateInstaller::StampRegistry() {
  const char* keyName = config.lookupById(ConfigRegistryKey);
  const char* valueName = config.lookupById(ConfigVersionValue);
  const char* version = config.lookupById(ConfigUpdateVersion);
  if (keyName == nullptr || keyName[0] == '\0' || valueName == nullptr || version == nullptr) {
    return 1;
  }
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyName, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) {
    return 1;
  }
  if (!OnStampKeyOpened(key)) {
    RegCloseKey(key);
    return 1;
  }
  DWORD value = static_cast<DWORD>(std::atoi(version)) |
                (static_cast<DWORD>(context.languages[context.languageRow].id) << 16);
  RegSetValueExA(key, valueName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                 sizeof value);
  RegCloseKey(key);
  messages.formattedMessageBox(TextCaption, TextInstalled, ConfigString(ConfigProductName),
                               MB_ICONINFORMATION);
  return 1;
}

int UpdateInstaller::OpenReadme() {
  if (context.skipReadme) return 1;
  char file[PathChars];
  int n = std::snprintf(file, sizeof file, "\"%s\\%s\"", context.installDir,
                        ConfigString(ConfigReadmeFile));
  if (n < 0 || static_cast<size_t>(n) >= sizeof file) return 1;  // no cut path is opened

  // The program associated with the readme; FindExecutableA wants the bare path.
  char bare[PathChars];
  std::snprintf(bare, sizeof bare, "%s\\%s", context.installDir, ConfigString(ConfigReadmeFile));
  char exe[MAX_PATH] = {};
  HINSTANCE found = FindExecutableA(bare, context.installDir, exe);
  if (reinterpret_cast<INT_PTR>(found) > 32) {
    shellExecute(nullptr, "open", exe, file, context.installDir, SW_SHOWNORMAL);
    return 1;
  }
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                    "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\WORDPAD.EXE", 0,
                    KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) {
    return 1;
  }
  DWORD bytes = sizeof exe - 1;
  DWORD type = 0;
  std::memset(exe, 0, sizeof exe);
  if (RegQueryValueExA(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(exe), &bytes) ==
      ERROR_SUCCESS) {
    shellExecute(nullptr, "open", exe, file, context.installDir, SW_SHOWNORMAL);
  }
  RegCloseKey(key);
  return 1;
}

int UpdateInstaller::MoveExtraFile() {
  const char* folder = config.lookupById(ConfigMoveFolder);
  const char* other = config.lookupById(ConfigMoveFolderOther);
  const char* file = config.lookupById(ConfigMoveFile);
  if (folder == nullptr || other == nullptr || file == nullptr || file[0] == '\0') return 1;

  char programFiles[PathChars];
  ReadProgramFilesDir(programFiles);
  char probe[PathChars], dest[PathChars], src[PathChars];
  int n = std::snprintf(probe, sizeof probe, "%s\\%s\\%s", programFiles, folder, file);
  if (n < 0 || static_cast<size_t>(n) >= sizeof probe) return 1;
  n = std::snprintf(dest, sizeof dest, "%s\\%s\\%s", programFiles,
                    FileExists(probe) ? folder : other, file);
  if (n < 0 || static_cast<size_t>(n) >= sizeof dest) return 1;
  n = std::snprintf(src, sizeof src, "%s\\%s", context.installDir, file);
  if (n < 0 || static_cast<size_t>(n) >= sizeof src) return 1;
  if (CopyFileA(src, dest, FALSE)) DeleteFileA(src);
  return 1;
}

}  // namespace installer
