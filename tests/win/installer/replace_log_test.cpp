// The undo log of the extracting pass: files put in place keep what they replaced until the
// pass succeeds, and a failed pass leaves the folder exactly as it was.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "payload/cabinet_extractor.h"

namespace {

std::string scratchFolder(const char* name) {
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  std::string folder = std::string(temp) + name;
  CreateDirectoryA(folder.c_str(), nullptr);
  return folder;
}

void writeText(const std::string& path, const std::string& contents) {
  std::ofstream(path, std::ios::binary) << contents;
}

std::string readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

bool exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

class ReplaceLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = scratchFolder("replace_log_test");
    writeText(folder + "\\old.txt", "old contents");
    SetFileAttributesA((folder + "\\old.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  }
  void TearDown() override {
    for (const char* name : {"old.txt", "old.txt.~old", "new.txt", "sub\\x.txt"}) {
      std::string path = folder + "\\" + name;
      SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      DeleteFileA(path.c_str());
    }
    RemoveDirectoryA((folder + "\\sub").c_str());
    RemoveDirectoryA(folder.c_str());
  }

  // Writes a temporary file beside target and installs it through the log.
  bool put(payload::ReplaceLog& log, const std::string& name, const std::string& contents) {
    std::string target = folder + "\\" + name;
    std::string temporary = target + payload::TemporarySuffix;
    writeText(temporary, contents);
    return log.install(temporary, target);
  }

  std::string folder;
};

TEST_F(ReplaceLogTest, CommitKeepsTheNewFilesAndDropsTheBackups) {
  payload::ReplaceLog log;
  ASSERT_TRUE(put(log, "old.txt", "replaced"));
  ASSERT_TRUE(put(log, "new.txt", "created"));
  EXPECT_TRUE(exists(folder + "\\old.txt.~old"));
  log.commit();
  EXPECT_EQ(readText(folder + "\\old.txt"), "replaced");
  EXPECT_EQ(readText(folder + "\\new.txt"), "created");
  EXPECT_FALSE(exists(folder + "\\old.txt.~old"));
  EXPECT_FALSE(exists(folder + "\\old.txt.~new"));
}

TEST_F(ReplaceLogTest, RollbackRestoresReplacedFilesAndRemovesCreatedOnes) {
  payload::ReplaceLog log;
  ASSERT_TRUE(put(log, "old.txt", "replaced"));
  ASSERT_TRUE(put(log, "old.txt", "replaced twice"));
  ASSERT_TRUE(put(log, "new.txt", "created"));
  log.rollback();
  EXPECT_EQ(readText(folder + "\\old.txt"), "old contents");
  EXPECT_EQ(GetFileAttributesA((folder + "\\old.txt").c_str()) & FILE_ATTRIBUTE_READONLY,
            static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(exists(folder + "\\new.txt"));
  EXPECT_FALSE(exists(folder + "\\old.txt.~old"));
}

TEST_F(ReplaceLogTest, FoldersMadeForATargetAreNotedAndRemovedOnRollback) {
  payload::ReplaceLog log;
  std::string target = folder + "\\sub\\x.txt";
  char current[MAX_PATH], after[MAX_PATH];
  GetCurrentDirectoryA(sizeof current, current);
  ASSERT_EQ(payload::makeDirectories(target.c_str(), &log), 1);
  GetCurrentDirectoryA(sizeof after, after);
  EXPECT_STREQ(after, current);
  ASSERT_TRUE(exists(folder + "\\sub"));
  ASSERT_TRUE(put(log, "sub\\x.txt", "x"));
  log.rollback();
  EXPECT_FALSE(exists(folder + "\\sub"));
  EXPECT_TRUE(exists(folder));
}

}  // namespace
