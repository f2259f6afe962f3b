// The installer's decisions that need no window: the language table, the detection of the
// installed game from the registry, its folder and side file, the version gate, and the
// prefix filter that selects and renames the archived files.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "installer/update_installer.h"

namespace {

using installer::UpdateInstaller;

constexpr const char* TestKey = "SOFTWARE\\InstallerUnitTest";

// Loads a configuration table from lines of "key<TAB>id<TAB>text".
void loadConfig(UpdateInstaller& installer, const std::vector<std::string>& lines) {
  std::string source;
  for (const std::string& line : lines) source += line + "\n";
  std::vector<char> buffer(source.begin(), source.end());
  buffer.push_back('\0');
  ASSERT_GT(installer.config.parseText(buffer.data(), -1), 0);
}

const std::vector<std::string> baseConfig = {
    "Key\t4100\tSOFTWARE\\\\InstallerUnitTest",
    "Version\t4101\tVersion",
    "Dir\t4102\tInstallDir",
    "Main\t4097\tGame.exe",
    "Side\t4103\tLanguage.dat",
    "SideKey\t8192\tLanguage",
    "Update\t4099\t104",
    "L0\t0x3000\t0x09 ENG English",
    "L1\t0x3001\t!x 7 DEU German",
    "L2\t0x3002\t0x11,JPN,, Japanese",
    "L3\t0x3003\t1033 USA American",
    "INST_ENG\tcommon, eng",
    "INST_JPN\t" + std::string(40, 'j') + " jpn",
};

TEST(LanguageTable, ReadsRowsUntilTheFirstMissingOne) {
  UpdateInstaller installer;
  std::vector<std::string> lines = baseConfig;
  lines.push_back("L5\t0x3005\t0x0c FRA French");  // after the gap at 0x3004: never read
  loadConfig(installer, lines);
  installer.BuildLanguageTable();
  const installer::LanguageEntry* rows = installer.context.languages;
  EXPECT_EQ(rows[0].id, 9);
  EXPECT_STREQ(rows[0].code, "ENG");
  EXPECT_STREQ(rows[0].name, "English");
  EXPECT_EQ(rows[0].enabled, 1);
  EXPECT_EQ(rows[1].id, 7);
  EXPECT_EQ(rows[1].enabled, 0);
  EXPECT_STREQ(rows[1].code, "DEU");
  EXPECT_EQ(rows[2].id, 0x11);
  EXPECT_STREQ(rows[2].name, "Japanese");
  EXPECT_EQ(rows[3].id, 1033);
  EXPECT_EQ(rows[4].id, 0);  // end marker

  EXPECT_EQ(installer.FindLanguage(0x11), 2);
  EXPECT_EQ(installer.FindLanguage(1033), 3);
  EXPECT_EQ(installer.FindLanguage(0x0c), -1);
}

TEST(LanguageTable, AnUpperCaseHexPrefixReadsAsZeroAndEndsTheTable) {
  UpdateInstaller installer;
  loadConfig(installer, {"L0\t0x3000\t0x09 ENG English", "L1\t0x3001\t0X07 DEU German",
                         "L2\t0x3002\t0x11 JPN Japanese"});
  installer.BuildLanguageTable();
  EXPECT_EQ(installer.context.languages[1].id, 0);
  EXPECT_EQ(installer.FindLanguage(0x11), -1);
}

TEST(VersionGate, RefusesInTheOrderOfItsTests) {
  struct Case {
    int32_t installed, update, enabled, outcome;
  } cases[] = {
      {5, 5, 1, 4006},     {6, 5, 1, 4005},         {-1, 5, 1, 4003},
      {4, 5, 1, 0},        {4, 5, 0, 4009},         {10000, 9999, 1, 4005},
      {10000, 10000, 1, 4006}, {10000, 10001, 1, 0},
  };
  for (const Case& c : cases) {
    UpdateInstaller installer;
    installer.context.languages[0] = {9, "ENG", "English", c.enabled};
    installer.context.languageRow = 0;
    installer.context.installedVersion = c.installed;
    installer.context.updateVersion = c.update;
    EXPECT_EQ(installer.VersionGate(), c.outcome) << c.installed << " " << c.update;
  }
}

TEST(PrefixFilter, SelectsAndStripsByTheFirstMatchingPrefix) {
  UpdateInstaller installer;
  loadConfig(installer, baseConfig);
  installer.BuildLanguageTable();
  EXPECT_EQ(installer.BuildPrefixList(0), 'c');
  EXPECT_STREQ(installer.context.prefixes[0], "common");
  EXPECT_STREQ(installer.context.prefixes[1], "eng");
  EXPECT_STREQ(installer.context.prefixes[2], "");

  struct Case {
    const char* name;
    int32_t answer;
    const char* renamed;
  } cases[] = {
      {"eng\\data\\a.bin", 1, "data\\a.bin"},
      {"english\\a.bin", 1, "ish\\a.bin"},
      {"common\\x.dat", 1, "x.dat"},
      {"deu\\x.dat", 0, "deu\\x.dat"},
      {"eng", 0, "eng"},  // the prefix alone names no file
  };
  for (const Case& c : cases) {
    char name[payload::PathChars];
    std::snprintf(name, sizeof name, "%s", c.name);
    EXPECT_EQ(installer::InstallerFilter(payload::FilterAccept, name, &installer), c.answer)
        << c.name;
    EXPECT_STREQ(name, c.renamed);
  }
}

TEST(PrefixFilter, LeavesOutOverlongTokensAndMissingLists) {
  UpdateInstaller installer;
  loadConfig(installer, baseConfig);
  installer.BuildLanguageTable();
  installer.BuildPrefixList(2);  // JPN: a 40-character token, then jpn
  EXPECT_STREQ(installer.context.prefixes[0], "jpn");
  EXPECT_EQ(installer.BuildPrefixList(3), 0);  // no INST_USA
  char name[payload::PathChars] = "common\\x";
  EXPECT_EQ(installer::InstallerFilter(payload::FilterAccept, name, &installer), 0);
}

TEST(OwnPath, TakesTheQuotedOrFirstWordOfTheCommandLine) {
  char out[installer::PathChars];
  installer::CopyOwnPath("\"C:\\Program Files\\up.exe\" 1", out);
  EXPECT_STREQ(out, "C:\\Program Files\\up.exe");
  installer::CopyOwnPath("C:\\up.exe", out);
  EXPECT_STREQ(out, "C:\\up.exe");
  installer::CopyOwnPath("C:\\up.exe 12", out);
  EXPECT_STREQ(out, "C:\\up.exe");
  std::string longLine(400, 'a');
  installer::CopyOwnPath(longLine.c_str(), out);
  EXPECT_EQ(std::string(out).size(), installer::PathChars - 1);
}

// A game folder and the installation key, removed again after each case.
class DetectInstalledTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    folder = std::string(temp) + "detect_installed_test";
    CreateDirectoryA(folder.c_str(), nullptr);
    loadConfig(installer, baseConfig);
    installer.BuildLanguageTable();
  }
  void TearDown() override {
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, TestKey);
    DeleteFileA((folder + "\\Game.exe").c_str());
    DeleteFileA((folder + "\\Language.dat").c_str());
    RemoveDirectoryA(folder.c_str());
  }

  void makeKey(bool withFolder) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, TestKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    if (withFolder) {
      RegSetValueExA(key, "InstallDir", 0, REG_SZ,
                     reinterpret_cast<const BYTE*>(folder.c_str()), folder.size() + 1);
    }
    RegCloseKey(key);
  }
  void setVersion(DWORD value) {
    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, TestKey, 0, KEY_ALL_ACCESS, &key),
              ERROR_SUCCESS);
    RegSetValueExA(key, "Version", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                   sizeof value);
    RegCloseKey(key);
  }
  void writeFile(const char* name, const std::string& contents) {
    std::ofstream(folder + "\\" + name, std::ios::binary) << contents;
  }
  int localeRow() const {
    int row = installer.FindLanguage(static_cast<uint16_t>(GetUserDefaultLCID() & 0xff));
    return row == -1 ? 0 : row;
  }

  UpdateInstaller installer;
  std::string folder;
};

TEST_F(DetectInstalledTest, NoInstallationFallsBackToTheLocale) {
  installer.DetectInstalled();  // no key
  EXPECT_EQ(installer.context.installedVersion, -1);
  EXPECT_EQ(installer.context.languageRow, localeRow());

  makeKey(false);  // key without folder
  installer.DetectInstalled();
  EXPECT_EQ(installer.context.installedVersion, -1);

  makeKey(true);  // folder without main file
  setVersion(0x110067);
  installer.DetectInstalled();
  EXPECT_EQ(installer.context.installedVersion, -1);
  EXPECT_EQ(installer.context.languageRow, localeRow());
}

TEST_F(DetectInstalledTest, TheVersionValueNamesVersionAndLanguage) {
  makeKey(true);
  writeFile("Game.exe", "MZ");
  writeFile("Language.dat", "Language\tEnglish\n");  // not read: the value decides
  setVersion((0x11u << 16) | 103);
  installer.DetectInstalled();
  EXPECT_EQ(installer.context.installedVersion, 103);
  EXPECT_EQ(installer.context.languageRow, 2);
  EXPECT_STREQ(installer.context.installDir, folder.c_str());
}

TEST_F(DetectInstalledTest, AnUnknownLanguageIsTakenFromTheSideFile) {
  struct Case {
    const char* side;  // null: no side file
    int row;
  } cases[] = {
      {"Language\tJapanese\n", 2},
      {"Language\tKlingon\n", 0},
      {"Language\txJapanese\n", 0},
      {"Other\tJapanese\n", 0},
      {nullptr, 0},
  };
  makeKey(true);
  writeFile("Game.exe", "MZ");
  setVersion((0x55u << 16) | 103);
  for (const Case& c : cases) {
    DeleteFileA((folder + "\\Language.dat").c_str());
    if (c.side != nullptr) writeFile("Language.dat", c.side);
    installer.DetectInstalled();
    EXPECT_EQ(installer.context.installedVersion, 103);
    EXPECT_EQ(installer.context.languageRow, c.row) << (c.side ? c.side : "(none)");
  }
}

TEST_F(DetectInstalledTest, AMissingVersionValueReadsAsTenThousand) {
  makeKey(true);
  writeFile("Game.exe", "MZ");
  writeFile("Language.dat", "Language\tJapanese\n");
  installer.DetectInstalled();
  EXPECT_EQ(installer.context.installedVersion, installer::VersionValueMissing);
  EXPECT_EQ(installer.context.languageRow, 2);
}

}  // namespace
