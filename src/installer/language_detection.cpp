// The language table and the detection of the installed game: its folder, its version
// and its language edition.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "installer/update_installer.h"
#include "text/stream_factory.h"

namespace installer {
namespace {

// Copies the next token (separated by runs of blanks, commas and tabs) into out, at most
// outBytes - 1 characters; advances cursor. False when no token is left.
bool nextToken(const char*& cursor, char* out, size_t outBytes) {
  cursor += std::strspn(cursor, " ,\t");
  size_t length = std::strcspn(cursor, " ,\t");
  if (length == 0) return false;
  size_t kept = length < outBytes - 1 ? length : outBytes - 1;
  std::memcpy(out, cursor, kept);
  out[kept] = '\0';
  cursor += length;
  return true;
}

// "0x" then hexadecimal digits, else decimal; the row id is the low 16 bits.
uint16_t parseLanguageId(const char* token) {
  unsigned int value = 0;
  if (token[0] == '0' && token[1] == 'x') {
    if (std::sscanf(token + 2, "%x", &value) != 1) value = 0;
  } else {
    value = static_cast<unsigned int>(std::atoi(token));
  }
  return static_cast<uint16_t>(value & 0xffff);
}

}  // namespace

int UpdateInstaller::BuildLanguageTable() {
  int row = 0;
  for (; row < MaxLanguages; ++row) {
    const char* rowText = config.lookupById(ConfigLanguageRows + row);
    if (rowText == nullptr) break;
    LanguageEntry& entry = context.languages[row];
    entry = LanguageEntry{};
    const char* cursor = rowText;
    char token[256] = {};
    // A row lacking its code or name keeps them empty: the row still takes its place, so
    // the rows after it keep their numbers.
    bool haveToken = nextToken(cursor, token, sizeof token);
    entry.enabled = 1;
    if (haveToken && token[0] == '!') {
      entry.enabled = 0;
      haveToken = nextToken(cursor, token, sizeof token);
    }
    entry.id = haveToken ? parseLanguageId(token) : 0;
    nextToken(cursor, entry.code, sizeof entry.code);
    nextToken(cursor, entry.name, sizeof entry.name);
  }
  context.languages[row].id = 0;  // end marker
  return 1;
}

int UpdateInstaller::FindLanguage(uint16_t id) const {
  for (int row = 0; row < MaxLanguages && context.languages[row].id != 0; ++row) {
    if (context.languages[row].id == id) return row;
  }
  return -1;
}

int UpdateInstaller::DetectInstalled() {
  context.languageRow = -1;
  context.installedVersion = -1;

  HKEY key = nullptr;
  const char* keyName = config.lookupById(ConfigRegistryKey);
  // An absent or empty key name would open HKEY_LOCAL_MACHINE itself.
  bool found = keyName != nullptr && keyName[0] != '\0' &&
               RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyName, 0, KEY_READ, &key) == ERROR_SUCCESS;
  if (found) {
    DWORD bytes = sizeof context.installDir - 1;
    DWORD type = 0;
    std::memset(context.installDir, 0, sizeof context.installDir);
    found = RegQueryValueExA(key, ConfigString(ConfigInstallDirValue), nullptr, &type,
                             reinterpret_cast<BYTE*>(context.installDir),
                             &bytes) == ERROR_SUCCESS;
    if (!found) context.installDir[0] = '\0';
  }
  char mainPath[PathChars], sidePath[PathChars];
  if (found) {
    std::snprintf(mainPath, sizeof mainPath, "%s\\%s", context.installDir,
                  ConfigString(ConfigMainFile));
    std::snprintf(sidePath, sizeof sidePath, "%s\\%s", context.installDir,
                  ConfigString(ConfigSideFile));
    HANDLE mainFile = CreateFileA(mainPath, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    found = mainFile != INVALID_HANDLE_VALUE;
    if (found) CloseHandle(mainFile);
  }
  if (!found) {
    if (key != nullptr) RegCloseKey(key);
    // The user's locale: only rows whose id is below 256 can be found this way.
    context.languageRow = FindLanguage(static_cast<uint16_t>(GetUserDefaultLCID() & 0xff));
    if (context.languageRow == -1) context.languageRow = 0;
    return 0;
  }

  DWORD versionValue = 0;
  DWORD bytes = sizeof versionValue;
  DWORD type = 0;
  if (RegQueryValueExA(key, ConfigString(ConfigVersionValue), nullptr, &type,
                       reinterpret_cast<BYTE*>(&versionValue), &bytes) == ERROR_SUCCESS &&
      bytes == sizeof versionValue) {
    context.installedVersion = static_cast<int32_t>(versionValue & 0xffff);
    context.languageRow = FindLanguage(static_cast<uint16_t>(versionValue >> 16));
  } else {
    context.installedVersion = VersionValueMissing;
  }
  RegCloseKey(key);
  if (context.languageRow != -1) return 0;

  // The side file names the installed language.
  context.languageRow = 0;
  auto side = std::make_unique<text::StringTable>();
  text::FileStreamFactory files;
  if (side->load(sidePath, &files, -1) == 0) return 0;
  char reference[PathChars];
  std::snprintf(reference, sizeof reference, "\\%s\\x", ConfigString(ConfigSideFileKey));
  const char* name = side->lookupByKey(reference, text::LookupEchoKey);
  if (name == nullptr || name[0] == 'x') return 0;
  for (int row = 0; row < MaxLanguages && context.languages[row].id != 0; ++row) {
    if (std::strcmp(context.languages[row].name, name) == 0) {
      context.languageRow = row;
      break;
    }
  }
  return 0;
}

}  // namespace installer
