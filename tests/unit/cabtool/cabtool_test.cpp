// cabtool end to end: the built program run on temporary folders.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

namespace {

namespace fs = std::filesystem;

struct ToolRun {
  int status;
  std::string out, err;
};

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
void spit(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}
void setTime(const fs::path& path, time_t seconds) {
  struct timeval times[2] = {{seconds, 0}, {seconds, 0}};
  utimes(path.c_str(), times);
}
size_t countFiles(const fs::path& dir) {
  size_t count = 0;
  for (auto& entry : fs::recursive_directory_iterator(dir))
    if (entry.is_regular_file()) count++;
  return count;
}

class Cabtool : public ::testing::Test {
 protected:
  void SetUp() override {
    // DOS times are local times; one zone makes them predictable.
    setenv("TZ", "UTC", 1);
    tzset();
    dir_ = fs::temp_directory_path() / ("cabtool_e2e_" + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Runs cabtool with arguments already quoted for the shell, in the temporary folder.
  ToolRun cabtool(const std::string& arguments) {
    std::string command = "cd '" + dir_.string() + "' && '" CABTOOL_PATH "' " + arguments +
                          " > out.txt 2> err.txt";
    int raw = std::system(command.c_str());
    ToolRun run{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(dir_ / "out.txt"), slurp(dir_ / "err.txt")};
    fs::remove(dir_ / "out.txt");
    fs::remove(dir_ / "err.txt");
    return run;
  }
  fs::path at(const std::string& name) { return dir_ / name; }

  // A small tree: tree/a.txt, tree/sub/b.bin, tree/sub/empty, all at one known time.
  void makeTree() {
    spit(at("tree/a.txt"), "alpha\n");
    std::string noise;
    for (int i = 0; i < 100000; i++) noise.push_back(char(i * 31 + (i >> 8)));
    spit(at("tree/sub/b.bin"), noise);
    spit(at("tree/sub/empty"), "");
    // 2021-03-04 05:06:08 UTC
    for (const char* name : {"tree/a.txt", "tree/sub/b.bin", "tree/sub/empty"}) setTime(at(name), 1614834368);
  }

  // One error line naming the file and the decoder's error.
  void expectErrorLine(const ToolRun& run, const std::string& subject, const std::string& words) {
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err.find("cabtool: " + subject + ": "), 0u) << run.err;
    EXPECT_NE(run.err.find(words), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  }

  fs::path dir_;
};

TEST_F(Cabtool, CreateListTestExtractEveryMethod) {
  makeTree();
  for (const char* method : {"none", "mszip", "mszip:1", "lzx:15", "lzx:21", "quantum:10", "quantum:21"}) {
    SCOPED_TRACE(method);
    ToolRun create = cabtool(std::string("create --method ") + method + " -o t.cab tree");
    if (create.status != 0 && create.err.find("not available") != std::string::npos) continue;
    ASSERT_EQ(create.status, 0) << create.err;
    ToolRun list = cabtool("list --tsv t.cab");
    ASSERT_EQ(list.status, 0) << list.err;
    EXPECT_EQ(list.out,
              "6\t2021-03-04 05:06:08\t0020\t0\ta.txt\n"
              "100000\t2021-03-04 05:06:08\t0020\t0\tsub\\b.bin\n"
              "0\t2021-03-04 05:06:08\t0020\t0\tsub\\empty\n");
    ToolRun test = cabtool("test t.cab");
    EXPECT_EQ(test.status, 0) << test.err;
    EXPECT_EQ(test.out + test.err, "");
    fs::remove_all(at("x"));
    ToolRun extract = cabtool("extract -d x t.cab");
    ASSERT_EQ(extract.status, 0) << extract.err;
    for (const char* name : {"a.txt", "sub/b.bin", "sub/empty"}) {
      EXPECT_EQ(slurp(at(std::string("x/") + name)), slurp(at(std::string("tree/") + name))) << name;
      struct stat info;
      ASSERT_EQ(stat(at(std::string("x/") + name).c_str(), &info), 0);
      EXPECT_EQ(info.st_mtime, 1614834368) << name;
    }
  }
  ToolRun people = cabtool("list t.cab");
  EXPECT_EQ(people.status, 0);
  EXPECT_NE(people.out.find("sub\\b.bin"), std::string::npos);
  EXPECT_NE(people.out.find("3 files, 100006 bytes"), std::string::npos) << people.out;
}

// Names taken verbatim from the list: folders, attributes, Windows-1252 and UTF-8 names.
TEST_F(Cabtool, FilesFromCraftsNamesFoldersAndAttributes) {
  makeTree();
  spit(at("list.txt"),
       "tree/a.txt\tgame\\caf\xe9.txt\n"
       "tree/sub/empty\tgame\\run.exe\t60\n"
       "\n"
       "tree/sub/b.bin\tdata\\\xc3\xbc" "ber.bin\n");
  ToolRun create = cabtool("create --method none --files-from list.txt -o t.cab");
  ASSERT_EQ(create.status, 0) << create.err;
  ToolRun list = cabtool("list --tsv t.cab");
  EXPECT_EQ(list.out,
            "6\t2021-03-04 05:06:08\t0020\t0\tgame\\caf\xc3\xa9.txt\n"
            "0\t2021-03-04 05:06:08\t0060\t0\tgame\\run.exe\n"
            "100000\t2021-03-04 05:06:08\t00a0\t1\tdata\\\xc3\xbc" "ber.bin\n");
  ToolRun extract = cabtool("extract -d x t.cab");
  ASSERT_EQ(extract.status, 0) << extract.err;
  EXPECT_EQ(slurp(at("x/game/caf\xc3\xa9.txt")), "alpha\n");
  EXPECT_TRUE(fs::exists(at("x/game/run.exe")));
  EXPECT_EQ(slurp(at("x/data/\xc3\xbc" "ber.bin")).size(), 100000u);

  spit(at("bad.txt"), "tree/a.txt without a tab\n");
  ToolRun bad = cabtool("create --files-from bad.txt -o u.cab");
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find("bad.txt:1"), std::string::npos) << bad.err;
  EXPECT_FALSE(fs::exists(at("u.cab")));
}

TEST_F(Cabtool, NamesLeavingTheTargetAreRefusedBeforeAnythingIsWritten) {
  spit(at("f"), "payload");
  // Columns: archived name that must be refused.
  const char* names[] = {"..\\evil.txt", "a\\..\\..\\evil.txt", "\\abs.txt", "/abs.txt", "C:\\evil.txt", "c:evil.txt", "..", "\\"};
  for (const char* name : names) {
    SCOPED_TRACE(name);
    // A harmless file first, so "before anything is written" is visible.
    spit(at("list.txt"), std::string("f\tfirst.txt\nf\t") + name + "\n");
    ASSERT_EQ(cabtool("create --method none --files-from list.txt -o t.cab").status, 0);
    fs::remove_all(at("x"));
    fs::create_directories(at("x/inner"));
    ToolRun extract = cabtool("extract -d x/inner t.cab");
    expectErrorLine(extract, "t.cab", "refused");
    EXPECT_EQ(countFiles(at("x")), 0u);
    EXPECT_FALSE(fs::exists(at("evil.txt")));
    EXPECT_FALSE(fs::exists(at("x/evil.txt")));
  }
}

TEST_F(Cabtool, SetsAreFollowedWhateverTheCaseOfTheirNames) {
  makeTree();
  std::string big;
  for (int i = 0; i < 300000; i++) big.push_back(char((i * 2654435761u) >> 13));
  spit(at("tree/sub/big.bin"), big);
  ToolRun create = cabtool("create --method none --split 40000 --set-id 77 --reserve 10,2,3 -o Set.cab tree");
  ASSERT_EQ(create.status, 0) << create.err;
  ASSERT_TRUE(fs::exists(at("Set9.cab")));
  // Later cabinets renamed as a case-insensitive file system might show them.
  for (int i = 2; fs::exists(at("Set" + std::to_string(i) + ".cab")); i++)
    fs::rename(at("Set" + std::to_string(i) + ".cab"), at((i % 2 ? "SET" : "set") + std::to_string(i) + ".CAB"));

  ToolRun list = cabtool("list --tsv Set.cab");
  ASSERT_EQ(list.status, 0) << list.err;
  std::multiset<std::string> names;
  for (size_t at = 0; at < list.out.size();) {
    size_t end = list.out.find('\n', at);
    names.insert(list.out.substr(list.out.rfind('\t', end) + 1, end - list.out.rfind('\t', end) - 1));
    at = end + 1;
  }
  EXPECT_EQ(names, (std::multiset<std::string>{"a.txt", "sub\\b.bin", "sub\\big.bin", "sub\\empty"}));

  EXPECT_EQ(cabtool("test Set.cab").status, 0);
  ToolRun extract = cabtool("extract -d x Set.cab");
  ASSERT_EQ(extract.status, 0) << extract.err;
  EXPECT_EQ(countFiles(at("x")), 4u);
  EXPECT_EQ(slurp(at("x/sub/big.bin")), big);
  EXPECT_EQ(slurp(at("x/sub/b.bin")), slurp(at("tree/sub/b.bin")));

  // A later cabinet given first: its continued files cannot be extracted from it alone.
  expectErrorLine(cabtool("extract -d y set4.CAB"), "set4.CAB", "first cabinet");
  // A cabinet of another set in its place is refused before anything is written.
  ASSERT_EQ(cabtool("create --method none --split 40000 --set-id 78 --reserve 10,2,3 -o Other.cab tree").status, 0);
  fs::rename(at("SET3.CAB"), at("keep.cab"));
  fs::copy_file(at("Other3.cab"), at("SET3.CAB"));
  for (const char* command : {"list Set.cab", "extract -d w Set.cab"}) {
    SCOPED_TRACE(command);
    expectErrorLine(cabtool(command), "Set.cab", "SetMismatch: ");
  }
  EXPECT_FALSE(fs::exists(at("w")));
  fs::remove(at("SET3.CAB"));
  fs::rename(at("keep.cab"), at("SET3.CAB"));

  fs::remove(at("set6.CAB"));
  for (const char* command : {"list Set.cab", "test Set.cab", "extract -d z Set.cab"}) {
    SCOPED_TRACE(command);
    expectErrorLine(cabtool(command), "Set.cab", "OpenFailed: next cabinet Set6.cab not found");
  }
  EXPECT_FALSE(fs::exists(at("z")));
}

TEST_F(Cabtool, PackedPayloadsReadLikeCabinets) {
  makeTree();
  ASSERT_EQ(cabtool("create --method mszip -o t.cab tree").status, 0);
  spit(at("stub.exe"), std::string("MZ") + std::string(5000, '\x90'));
  for (const char* options : {"--seed 12345", "--plain", ""}) {
    SCOPED_TRACE(options);
    ToolRun pack = cabtool(std::string("pack ") + options + " -o up.exe stub.exe t.cab");
    ASSERT_EQ(pack.status, 0) << pack.err;
    std::string packed = slurp(at("up.exe"));
    EXPECT_EQ(packed.substr(0, 5002), slurp(at("stub.exe")));
    EXPECT_EQ(packed.substr(5002, 4), std::string(options) == "--plain" ? "MSCF" : "1CNT");
    EXPECT_EQ(cabtool("list --tsv up.exe").out, cabtool("list --tsv t.cab").out);
    EXPECT_EQ(cabtool("test up.exe").status, 0);
    fs::remove_all(at("x"));
    ASSERT_EQ(cabtool("extract -d x up.exe").status, 0);
    EXPECT_EQ(slurp(at("x/sub/b.bin")), slurp(at("tree/sub/b.bin")));
  }
  expectErrorLine(cabtool("pack -o up2.exe t.cab t.cab"), "up2.exe", "payload tag");
}

TEST_F(Cabtool, FailuresGiveOneLineAndStatusOne) {
  makeTree();
  ASSERT_EQ(cabtool("create --method none -o t.cab tree").status, 0);
  std::string cabinet = slurp(at("t.cab"));
  // Flip a byte of b.bin's stored data: its block checksum no longer matches.
  std::string damaged = cabinet;
  damaged[damaged.size() - 50000] ^= 1;
  spit(at("damaged.cab"), damaged);
  std::string version = cabinet;
  version[24] = 2;
  spit(at("version.cab"), version);
  spit(at("short.cab"), cabinet.substr(0, cabinet.size() - 10));
  spit(at("text.txt"), "just some text, no cabinet and no trailer");
  ASSERT_EQ(cabtool("create --method none --no-checksum -o plain.cab tree").status, 0);
  std::string unchecked = slurp(at("plain.cab"));
  unchecked[unchecked.size() - 50000] ^= 1;
  spit(at("unchecked.cab"), unchecked);

  struct Case {
    const char* command;
    const char* subject;
    const char* words;
  };
  // Columns: command, the file named by the error line, words the line holds.
  const Case cases[] = {
      {"test damaged.cab", "damaged.cab", "Damaged: "},
      {"extract -d x damaged.cab", "damaged.cab", "Damaged: "},
      {"test version.cab", "version.cab", "BadVersion: version 0x0102"},
      {"test short.cab", "short.cab", "Damaged: "},
      {"list text.txt", "text.txt", "OpenFailed: "},
      {"test missing.cab", "missing.cab", "OpenFailed: "},
      {"create --method lzx:3 -o n.cab tree", "n.cab", "out of range"},
      {"create --method zip -o n.cab tree", "n.cab", "unknown method"},
      {"create -o n.cab nothing-here", "nothing-here", "no such file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    expectErrorLine(cabtool(c.command), c.subject, c.words);
  }
  // The decoder holds at most 257 bytes of path and name: longer ones are refused, not overrun.
  std::string deep = std::string(200, 'd') + "/" + std::string(100, 'e');
  fs::create_directories(at(deep));
  fs::copy_file(at("t.cab"), at(deep + "/t.cab"));
  expectErrorLine(cabtool("test " + deep + "/t.cab"), deep + "/t.cab", "OpenFailed: path of t.cab above 257 bytes");
  // A damaged file is not left behind half-written.
  EXPECT_FALSE(fs::exists(at("x/sub/b.bin")));
  EXPECT_FALSE(fs::exists(at("n.cab")));
  // Without checksums the damage passes unnoticed by design of the format.
  EXPECT_EQ(cabtool("test unchecked.cab").status, 0);
  EXPECT_EQ(cabtool("frobnicate").status, 1);
  EXPECT_EQ(cabtool("list").status, 1);
}

TEST_F(Cabtool, HeaderOptionsReachTheCabinet) {
  makeTree();
  ASSERT_EQ(cabtool("create --method none --reserve 20,4,8 --set-id 4660 --no-checksum -o t.cab tree").status, 0);
  std::string b = slurp(at("t.cab"));
  auto get16 = [&](size_t at) { return unsigned(uint8_t(b[at]) | uint8_t(b[at + 1]) << 8); };
  EXPECT_EQ(get16(30), 4u);  // reserve flag
  EXPECT_EQ(get16(32), 4660u);
  EXPECT_EQ(get16(36), 20u);
  EXPECT_EQ(uint8_t(b[38]), 4);
  EXPECT_EQ(uint8_t(b[39]), 8);
  size_t firstBlock = uint8_t(b[60]) | uint8_t(b[61]) << 8 | uint8_t(b[62]) << 16;
  EXPECT_EQ(b.substr(firstBlock, 4), std::string(4, '\0'));  // no checksum
  EXPECT_EQ(cabtool("test t.cab").status, 0);
}

}  // namespace
