// strtab end to end: the built tool turns UTF-8 sources into the tables and readmes the
// installer reads; its tables are read back with the installer's own table loader.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "text/stream_factory.h"
#include "text/string_table.h"
#include "text/text_source.h"

namespace {

namespace fs = std::filesystem;

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string unscramble(const std::string& bytes) {
  std::string out;
  for (size_t i = 4; i < bytes.size(); ++i) out.push_back(static_cast<char>(bytes[i] ^ 0x6B));
  return out;
}

class Strtab : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("strtab_test_" + std::to_string(getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Runs strtab on a source with the given UTF-8 text; the exit status and stderr.
  int run(const std::string& mode, const std::string& options, const std::string& source) {
    std::ofstream(dir_ / "source.txt", std::ios::binary) << source;
    std::string command = "cd '" + dir_.string() + "' && '" STRTAB_PATH "' " + mode + " " +
                          options + " -o out.bin source.txt 2> err.txt";
    int raw = std::system(command.c_str());
    error_ = slurp(dir_ / "err.txt");
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }
  std::string output() { return slurp(dir_ / "out.bin"); }
  std::string outputPath() { return (dir_ / "out.bin").string(); }

  fs::path dir_;
  std::string error_;
};

TEST_F(Strtab, TableReadsBackThroughTheInstallersLoader) {
  const std::string source =
      "# comment line, then an empty one\n"
      "\n"
      "Caption\t\t\t1000\tBrennholt アップデート\n"
      "Software\t4096\tソフト表示\n"  // trail bytes 0x5C in code page 932
      "Lines\t\t0x3000\tone\\ntwo\\tthree\\\\four\n"
      "Negative\t-5\tminus\n"
      "INST_JPN\tcommon, jpn\r\n";
  ASSERT_EQ(run("table", "--codepage CP932", source), 0) << error_;
  EXPECT_EQ(output().substr(0, 4), "RCNE");

  text::StringTable table;
  text::FileStreamFactory files;
  ASSERT_EQ(table.load(outputPath().c_str(), &files, -1), 5);
  EXPECT_STREQ(table.lookupById(1000), "Brennholt \x83\x41\x83\x62\x83\x76\x83\x66\x81\x5B\x83\x67");
  EXPECT_STREQ(table.lookupById(4096), "\x83\x5C\x83\x74\x83\x67\x95\x5C\x8E\xA6");
  EXPECT_STREQ(table.lookupById(0x3000), "one\ntwo\tthree\\four");
  EXPECT_STREQ(table.lookupById(-5), "minus");
  EXPECT_STREQ(table.lookupByKey("INST_JPN", text::LookupNullIfMissing), "common, jpn");
  EXPECT_EQ(table.lookupById(0), nullptr);  // the row without a number has none

  ASSERT_EQ(run("table", "--codepage CP1252 --plain", "K\t1\tGrüße\n"), 0) << error_;
  EXPECT_EQ(output(), "K\t1\tGr\xFC\xDF" "e\n");
}

TEST_F(Strtab, RefusesWhatWouldShipWrong) {
  struct Case {
    const char* source;
    const char* codePage;
    const char* words;  // expected in the message, after "source.txt:<line>"
  };
  const Case cases[] = {
      {"K\t1\tok\nK2\t2\tbad \\q escape\n", "CP1252", "source.txt:2: unknown escape \\q"},
      {"K\t1\tEuro € sign\n", "CP932", "source.txt:1: character at byte 5"},
      {"K\t1\t中文\n", "CP1252", "cannot be written in CP1252"},
      {"K\t12x\ttext\n", "CP1252", "source.txt:1: bad number '12x'"},
      {"K\t0x\ttext\n", "CP1252", "bad number '0x'"},
      {"only-a-key\n", "CP1252", "source.txt:1: expected KEY"},
      {"K\t1\tx\textra\n", "CP1252", "expected KEY"},
      {"# nothing but a comment\n", "CP1252", "no rows"},
      {"K\t1\t\xC3\n", "CP1252", "not valid UTF-8"},
      {"K\t1\ttext\n", "NO-SUCH-CODEPAGE", "unknown code page"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(run("table", std::string("--codepage ") + c.codePage, c.source), 1) << c.source;
    EXPECT_NE(error_.find(c.words), std::string::npos) << c.source << " gave: " << error_;
  }
}

TEST_F(Strtab, ReadmeGetsCodePageAndWindowsLineEnds) {
  // LF and CR LF sources give the same CR LF text; the last line is ended too.
  for (const char* source : {"Grüße\nzweite Zeile", "Grüße\r\nzweite Zeile\r\n"}) {
    ASSERT_EQ(run("readme", "--codepage CP1252", source), 0) << error_;
    std::string scrambled = output();
    EXPECT_EQ(scrambled.substr(0, 4), "RCNE");
    EXPECT_EQ(unscramble(scrambled), "Gr\xFC\xDF" "e\r\nzweite Zeile\r\n");
    ASSERT_EQ(run("readme", "--codepage CP1252 --plain", source), 0) << error_;
    EXPECT_EQ(output(), "Gr\xFC\xDF" "e\r\nzweite Zeile\r\n");
  }
  ASSERT_EQ(run("readme", "--codepage CP949", "한국어\n"), 0) << error_;
  EXPECT_EQ(unscramble(output()), "\xC7\xD1\xB1\xB9\xBE\xEE\r\n");
}

}  // namespace
