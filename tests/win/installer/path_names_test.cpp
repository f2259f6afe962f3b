// Splitting paths by characters of a double-byte code page, and the check that keeps
// archived names inside the install folder.
#include <gtest/gtest.h>

#include <string>

#include "payload/cabinet_extractor.h"

namespace {

constexpr uint32_t ShiftJis = 932;
constexpr uint32_t WesternEurope = 1252;

// "\x83\x5C" is a katakana letter whose trail byte is the backslash byte.
struct SplitCase {
  const char* path;
  uint32_t codePage;
  const char* directory;
  const char* fileName;
};

const SplitCase splitCases[] = {
    {"C:\\Game\\data\\a.bin", WesternEurope, "C:\\Game\\data\\", "a.bin"},
    {"a.bin", WesternEurope, "", "a.bin"},
    {"dir/sub:x", WesternEurope, "dir/sub:", "x"},
    {"C:\\Game\\\x83\x5C.bin", ShiftJis, "C:\\Game\\", "\x83\x5C.bin"},
    {"C:\\\x83\x5C\\x.bin", ShiftJis, "C:\\\x83\x5C\\", "x.bin"},
    // Read in a single-byte page the same bytes do hold a separator.
    {"C:\\Game\\\x83\x5C.bin", WesternEurope, "C:\\Game\\\x83\\", ".bin"},
    {"folder\\", WesternEurope, "folder\\", ""},
};

TEST(PathParts, SplitsByCharactersOfTheCodePage) {
  for (const SplitCase& c : splitCases) {
    char directory[payload::PathChars], fileName[payload::PathChars];
    payload::directoryPartInCodePage(c.path, directory, sizeof directory, c.codePage);
    payload::fileNamePartInCodePage(c.path, fileName, sizeof fileName, c.codePage);
    EXPECT_STREQ(directory, c.directory) << c.path;
    EXPECT_STREQ(fileName, c.fileName) << c.path;
  }
}

TEST(PathParts, CutsToTheBufferWithoutSplittingACharacter) {
  char out[4];
  payload::fileNamePartInCodePage("dir\\ab\x83\x5C", out, sizeof out, ShiftJis);
  EXPECT_STREQ(out, "ab");  // the double-byte character does not fit in the last byte
  payload::directoryPartInCodePage("abcdef\\x", out, sizeof out, WesternEurope);
  EXPECT_STREQ(out, "abc");
}

struct NameCase {
  std::string name;
  size_t destinationChars;
  bool safe;
};

TEST(TargetNames, RefusesNamesThatLeaveTheFolderOrDoNotFit) {
  const NameCase cases[] = {
      {"data\\a.bin", 10, true},
      {"\\x", 10, true},  // joined as folder\\x: still inside
      {"a..b\\c", 10, true},
      {"..\\evil.exe", 10, false},
      {"data\\..\\..\\evil.exe", 10, false},
      {"data/../evil.exe", 10, false},
      {"..", 10, false},
      {"data\\. .\\x", 10, false},
      {"data\\...\\x", 10, false},
      {"C:\\Windows\\evil.exe", 10, false},
      {"data\\a.bin:stream", 10, false},
      {"", 10, false},
      {std::string(200, 'a'), 40, true},
      {std::string(220, 'a'), 40, false},
  };
  for (const NameCase& c : cases) {
    EXPECT_EQ(payload::isSafeTargetName(c.name.c_str(), c.destinationChars, WesternEurope),
              c.safe)
        << c.name;
  }
}

TEST(TargetNames, ADoubleByteTrailNeverMakesASegment) {
  // ".\x81\x2E" is a dot and one double-byte letter, not a segment of dots.
  EXPECT_TRUE(payload::isSafeTargetName("\x83\x5C.\\a", 10, ShiftJis));
  EXPECT_TRUE(payload::isSafeTargetName(".\x81\x2E\\a", 10, ShiftJis));
}

}  // namespace
