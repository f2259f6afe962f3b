// The cabinet writer, checked through the bytes it lays down and by reading its cabinets
// and sets back with the cabinet decoder.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "cabinet/checksum.h"
#include "pack/cabinet_writer.h"
#include "set_extractor.h"

namespace {

namespace fs = std::filesystem;
using packtest::get16;
using packtest::get32;

struct SourceFile {
  pack::FileEntry entry;
  std::vector<uint8_t> bytes;
};
using Tree = std::vector<std::vector<SourceFile>>;  // files by folder

class TempDir {
 public:
  TempDir() {
    static int counter = 0;
    path_ = fs::temp_directory_path() /
            ("pack_cabinet_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
             std::to_string(getpid()) + "_" + std::to_string(counter++));
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~TempDir() { fs::remove_all(path_); }
  std::string dir() const { return path_.string() + "/"; }
  fs::path path() const { return path_; }

 private:
  fs::path path_;
};

std::string setName(int index) {
  return index == 0 ? "set.cab" : "set" + std::to_string(index + 1) + ".cab";
}

// Text-like bytes for the compressing methods, noise otherwise; sizes around the block
// size and zero-length files mixed in.
Tree randomTree(uint32_t seed, int folders, int filesPerFolder, bool compressible) {
  std::mt19937 random(seed);
  const uint32_t sizes[] = {0, 1, 7, 1000, 32767, 32768, 32769, 65536, 100000, 250000};
  const char* words[] = {"cabinet ", "folder ", "block ", "the ", "update ", "\r\n", "0x7f ", "game "};
  Tree tree(folders);
  int number = 0;
  for (auto& folder : tree) {
    for (int i = 0; i < filesPerFolder; i++) {
      SourceFile file;
      file.entry.name = "dir" + std::to_string(number % 3) + "\\file" + std::to_string(number) + ".bin";
      file.entry.date = uint16_t(((2020 - 1980) << 9) | ((number % 12 + 1) << 5) | (number % 28 + 1));
      file.entry.time = uint16_t(((number % 24) << 11) | ((number % 60) << 5) | (number % 30));
      file.entry.attributes = uint16_t(pack::AttributeArchive | (number % 5 == 0 ? pack::AttributeRunAfterExtraction : 0));
      uint32_t bytes = sizes[random() % std::size(sizes)];
      if (random() % 3 == 0) bytes = random() % 70000;
      while (file.bytes.size() < bytes) {
        if (compressible) {
          for (const char* c = words[random() % std::size(words)]; *c && file.bytes.size() < bytes; c++)
            file.bytes.push_back(uint8_t(*c));
        } else {
          file.bytes.push_back(uint8_t(random()));
        }
      }
      folder.push_back(std::move(file));
      number++;
    }
  }
  return tree;
}

// Writes the tree; every folder gets a compressor of `method`.
bool writeTree(const Tree& tree, const std::string& dir, const pack::CabinetLayout& layout,
               const char* method, std::string* error) {
  pack::CabinetWriter writer(dir, setName, layout);
  for (const auto& folder : tree) {
    if (!writer.beginFolder(pack::makeCompressor(method, error))) return false;
    for (const SourceFile& file : folder) {
      if (!writer.addFile(file.entry)) return *error = writer.error(), false;
      // Uneven pieces, so block boundaries fall inside appendData calls.
      size_t at = 0, step = 1;
      while (at < file.bytes.size()) {
        size_t take = std::min(step, file.bytes.size() - at);
        if (!writer.appendData({file.bytes.data() + at, take})) return *error = writer.error(), false;
        at += take;
        step = step * 7 + 3;
      }
    }
  }
  if (!writer.finish()) return *error = writer.error(), false;
  return true;
}

void expectSameFiles(const Tree& tree, const packtest::ExtractResult& result) {
  size_t count = 0;
  for (const auto& folder : tree) {
    for (const SourceFile& file : folder) {
      count++;
      auto found = result.files.find(file.entry.name);
      ASSERT_NE(found, result.files.end()) << file.entry.name;
      const packtest::ExtractedFile& got = found->second;
      EXPECT_EQ(got.timesWritten, 1) << file.entry.name;
      EXPECT_TRUE(got.bytes == file.bytes) << file.entry.name << " " << got.bytes.size() << " of " << file.bytes.size();
      EXPECT_EQ(got.date, file.entry.date);
      EXPECT_EQ(got.time, file.entry.time);
      bool run = file.entry.attributes & pack::AttributeRunAfterExtraction;
      EXPECT_EQ(got.runAfterExtraction, run ? 1 : 0);
      EXPECT_EQ(got.attributes, file.entry.attributes & ~pack::AttributeRunAfterExtraction);
    }
  }
  EXPECT_EQ(result.files.size(), count);
}

struct RoundTrip {
  const char* label;
  const char* method;
  uint64_t maxCabinetBytes;
  uint16_t headerReserve;
  uint8_t folderReserve, dataReserve;
  bool checksums;
  int folders, filesPerFolder;
};

// Names the case in test output (otherwise GoogleTest dumps the struct's bytes).
void PrintTo(const RoundTrip& roundTrip, std::ostream* out) { *out << roundTrip.label; }

// Columns: label, method, size limit (0 none), header/folder/data reserve bytes, checksums,
// folders, files per folder.
const RoundTrip roundTrips[] = {
    {"stored", "none", 0, 0, 0, 0, true, 1, 12},
    {"stored_many_folders", "none", 0, 0, 0, 0, true, 20, 3},
    {"stored_reserves", "none", 0, 1000, 7, 255, true, 3, 5},
    {"stored_no_checksum", "none", 0, 0, 0, 0, false, 2, 6},
    {"stored_set", "none", 50000, 0, 0, 0, true, 3, 8},
    {"stored_small_set_reserves", "none", 34500, 100, 20, 30, true, 4, 6},
    {"stored_set_no_checksum", "none", 33000, 0, 0, 12, false, 5, 4},
    {"mszip", "mszip", 0, 0, 0, 0, true, 3, 8},
    {"mszip_set", "mszip:9", 40000, 16, 4, 8, true, 4, 6},
    {"lzx15", "lzx:15", 0, 0, 0, 0, true, 2, 8},
    {"lzx21_set", "lzx:21", 45000, 0, 0, 4, true, 3, 8},
    {"quantum10", "quantum:10", 0, 0, 0, 0, true, 2, 8},
    {"quantum21_set", "quantum:21", 45000, 8, 8, 8, true, 3, 8},
};

class CabinetWriterRoundTrip : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(CabinetWriterRoundTrip, DecoderGetsEveryFileBackOnce) {
  const RoundTrip& c = GetParam();
  std::string error;
  if (!pack::makeCompressor(c.method, &error)) GTEST_SKIP() << error;
  bool compressible = std::string(c.method) != "none";
  for (uint32_t seed : {1u, 2u}) {
    SCOPED_TRACE(seed);
    Tree tree = randomTree(seed, c.folders, c.filesPerFolder, compressible);
    TempDir temp;
    pack::CabinetLayout layout;
    layout.setId = uint16_t(0x1234 + seed);
    layout.headerReserveBytes = c.headerReserve;
    layout.folderReserveBytes = c.folderReserve;
    layout.dataReserveBytes = c.dataReserve;
    layout.checksums = c.checksums;
    layout.maxCabinetBytes = c.maxCabinetBytes;
    ASSERT_TRUE(writeTree(tree, temp.dir(), layout, c.method, &error)) << error;

    packtest::ExtractResult result = packtest::extractSet(temp.dir(), "set.cab");
    ASSERT_TRUE(result.ok) << "code " << result.errorCode << " in " << result.cabinets.back();
    expectSameFiles(tree, result);
    for (const std::string& name : result.cabinets) {
      std::vector<uint8_t> cabinet = packtest::readFile(temp.path() / name);
      if (c.maxCabinetBytes) EXPECT_LE(cabinet.size(), c.maxCabinetBytes) << name;
      EXPECT_EQ(get32(cabinet, 8), cabinet.size());
      EXPECT_EQ(get16(cabinet, 32), layout.setId);
    }
    if (c.maxCabinetBytes) EXPECT_GT(result.cabinets.size(), 2u);
    // No spool or stray cabinet is left behind.
    EXPECT_EQ(size_t(std::distance(fs::directory_iterator(temp.path()), fs::directory_iterator())),
              result.cabinets.size());
  }
}

INSTANTIATE_TEST_SUITE_P(Methods, CabinetWriterRoundTrip, ::testing::ValuesIn(roundTrips),
                         [](const auto& info) { return std::string(info.param.label); });

// Each folder with its own method, in one cabinet and across a set: the reader changes
// decompressor at every folder, and a folder continued into the next cabinet keeps its own.
TEST(CabinetWriterSet, FoldersWithDifferentMethods) {
  const char* methods[] = {"none", "mszip", "lzx:15", "quantum:10", "lzx:21", "mszip:1", "quantum:21"};
  for (const char* method : methods) {
    std::string error;
    if (!pack::makeCompressor(method, &error)) GTEST_SKIP() << error;
  }
  Tree tree = randomTree(7, int(std::size(methods)), 4, true);
  for (uint64_t limit : {0ull, 36000ull}) {
    SCOPED_TRACE(limit);
    TempDir temp;
    pack::CabinetLayout layout;
    layout.maxCabinetBytes = limit;
    pack::CabinetWriter writer(temp.dir(), setName, layout);
    for (size_t f = 0; f < tree.size(); f++) {
      ASSERT_TRUE(writer.beginFolder(pack::makeCompressor(methods[f], nullptr)));
      for (const SourceFile& file : tree[f]) {
        ASSERT_TRUE(writer.addFile(file.entry));
        ASSERT_TRUE(writer.appendData(file.bytes));
      }
    }
    ASSERT_TRUE(writer.finish()) << writer.error();
    packtest::ExtractResult result = packtest::extractSet(temp.dir(), "set.cab");
    ASSERT_TRUE(result.ok) << "code " << result.errorCode << " in " << result.cabinets.back();
    expectSameFiles(tree, result);
    if (limit) EXPECT_GT(result.cabinets.size(), 2u);
  }
}

// A folder whose last frame holds 7 to 10 bytes, in code-like data full of 0xE8 bytes: the
// call translation must leave such a frame alone (it once read past the frame).
TEST(CabinetWriterRoundTripEdges, LzxFolderEndingInAShortFrame) {
  std::string error;
  if (!pack::makeCompressor("lzx:15", &error)) GTEST_SKIP() << error;
  for (uint32_t tail = 1; tail <= 12; tail++) {
    SCOPED_TRACE(tail);
    Tree tree(1);
    SourceFile file;
    file.entry.name = "code.exe";
    std::mt19937 random(tail);
    for (uint32_t i = 0; i < 32768 + tail; i++) file.bytes.push_back(i % 5 == 0 ? 0xE8 : uint8_t(random()));
    tree[0].push_back(std::move(file));
    TempDir temp;
    ASSERT_TRUE(writeTree(tree, temp.dir(), {}, "lzx:15", &error)) << error;
    packtest::ExtractResult result = packtest::extractSet(temp.dir(), "set.cab");
    ASSERT_TRUE(result.ok) << result.errorCode;
    expectSameFiles(tree, result);
  }
}

// Every size limit in a range moves the cabinet boundaries across block ends, file ends and
// zero-length files one byte at a time.
TEST(CabinetWriterSet, EveryBoundaryPositionRoundTrips) {
  Tree tree(2);
  const uint32_t sizes[] = {32768, 0, 32768, 5, 0, 32763, 40000, 0};
  int number = 0;
  for (auto& folder : tree)
    for (uint32_t bytes : sizes) {
      SourceFile file;
      file.entry.name = "f" + std::to_string(number);
      file.bytes.assign(bytes, uint8_t(number++));
      folder.push_back(std::move(file));
    }
  for (uint64_t limit = 33050; limit < 33250; limit += 3) {
    SCOPED_TRACE(limit);
    TempDir temp;
    pack::CabinetLayout layout;
    layout.maxCabinetBytes = limit;
    std::string error;
    ASSERT_TRUE(writeTree(tree, temp.dir(), layout, "none", &error)) << error;
    packtest::ExtractResult result = packtest::extractSet(temp.dir(), "set.cab");
    ASSERT_TRUE(result.ok) << "code " << result.errorCode << " in " << result.cabinets.back();
    expectSameFiles(tree, result);
  }
}

// The bytes of a one-file stored cabinet, field by field.
TEST(CabinetWriterFormat, HeaderEntriesAndBlockOfAStoredCabinet) {
  TempDir temp;
  pack::CabinetLayout layout;
  layout.setId = 0xbeef;
  pack::CabinetWriter writer(temp.dir(), setName, layout);
  pack::FileEntry entry{"sub\\a.txt", 0x5021, 0x6000, 0xa0};
  ASSERT_TRUE(writer.addFile(entry));
  const uint8_t text[] = {'h', 'e', 'l', 'l', 'o'};
  ASSERT_TRUE(writer.appendData(text));
  ASSERT_TRUE(writer.finish()) << writer.error();

  std::vector<uint8_t> b = packtest::readFile(temp.path() / "set.cab");
  const size_t folderAt = 36, fileAt = folderAt + 8, nameAt = fileAt + 16, blockAt = nameAt + 10;
  ASSERT_EQ(b.size(), blockAt + 8 + 5);
  EXPECT_EQ(std::string(b.begin(), b.begin() + 4), "MSCF");
  EXPECT_EQ(get32(b, 8), b.size());
  EXPECT_EQ(get32(b, 16), fileAt);
  EXPECT_EQ(get16(b, 24), 0x0103);
  EXPECT_EQ(get16(b, 26), 1);       // folders
  EXPECT_EQ(get16(b, 28), 1);       // files
  EXPECT_EQ(get16(b, 30), 0);       // flags
  EXPECT_EQ(get16(b, 32), 0xbeef);  // set id
  EXPECT_EQ(get16(b, 34), 0);       // index
  EXPECT_EQ(get32(b, folderAt), blockAt);
  EXPECT_EQ(get16(b, folderAt + 4), 1);  // blocks
  EXPECT_EQ(get16(b, folderAt + 6), 0);  // stored
  EXPECT_EQ(get32(b, fileAt), 5u);
  EXPECT_EQ(get32(b, fileAt + 4), 0u);
  EXPECT_EQ(get16(b, fileAt + 8), 0);
  EXPECT_EQ(get16(b, fileAt + 10), 0x5021);
  EXPECT_EQ(get16(b, fileAt + 12), 0x6000);
  EXPECT_EQ(get16(b, fileAt + 14), 0xa0);
  EXPECT_EQ(std::string(b.begin() + nameAt, b.begin() + nameAt + 10), std::string("sub\\a.txt\0", 10));
  EXPECT_EQ(get16(b, blockAt + 4), 5);
  EXPECT_EQ(get16(b, blockAt + 6), 5);
  // Data part: "hell" as one little-endian word XOR the leftover 'o'; then the size fields.
  uint32_t expected = (uint32_t('h') | 'e' << 8 | 'l' << 16 | uint32_t('l') << 24) ^ 'o';
  expected ^= 5u | 5u << 16;
  EXPECT_EQ(get32(b, blockAt), expected);
}

TEST(CabinetWriterFormat, ReserveSizesAndAreasSitAfterTheHeader) {
  TempDir temp;
  pack::CabinetLayout layout;
  layout.headerReserveBytes = 6;
  layout.folderReserveBytes = 3;
  layout.dataReserveBytes = 2;
  layout.checksums = false;
  pack::CabinetWriter writer(temp.dir(), setName, layout);
  ASSERT_TRUE(writer.addFile({"x", 0, 0, 0x20}));
  const uint8_t byte[] = {42};
  ASSERT_TRUE(writer.appendData(byte));
  ASSERT_TRUE(writer.finish());
  std::vector<uint8_t> b = packtest::readFile(temp.path() / "set.cab");
  EXPECT_EQ(get16(b, 30), 4);  // reserve flag only
  EXPECT_EQ(get16(b, 36), 6);
  EXPECT_EQ(b[38], 3);
  EXPECT_EQ(b[39], 2);
  const size_t folderAt = 40 + 6, fileAt = folderAt + 8 + 3, blockAt = fileAt + 16 + 2;
  EXPECT_EQ(get32(b, 16), fileAt);
  EXPECT_EQ(get32(b, folderAt), blockAt);
  EXPECT_EQ(get32(b, blockAt), 0u);  // no checksum
  EXPECT_EQ(b.size(), blockAt + 8 + 2 + 1);
  EXPECT_EQ(b.back(), 42);
}

// One file across five cabinets: the entries carry it from cabinet to cabinet, the names
// chain the set, and blocks divided at a boundary store uncompressed size 0 first.
TEST(CabinetWriterSet, OneFileAcrossManyCabinets) {
  TempDir temp;
  pack::CabinetLayout layout;
  layout.maxCabinetBytes = 30000;
  std::vector<uint8_t> data(130000);
  for (size_t i = 0; i < data.size(); i++) data[i] = uint8_t(i * 13 + (i >> 9));
  pack::CabinetWriter writer(temp.dir(), setName, layout);
  ASSERT_TRUE(writer.addFile({"big.bin", 0, 0, 0x20}));
  ASSERT_TRUE(writer.appendData(data));
  ASSERT_TRUE(writer.finish()) << writer.error();
  const std::vector<std::string>& paths = writer.cabinetPaths();
  ASSERT_EQ(paths.size(), 5u);

  bool dividedBlockSeen = false;
  for (size_t i = 0; i < paths.size(); i++) {
    SCOPED_TRACE(i);
    std::vector<uint8_t> b = packtest::readFile(paths[i]);
    bool first = i == 0, last = i + 1 == paths.size();
    EXPECT_EQ(get16(b, 30), (first ? 0 : 1) | (last ? 0 : 2));
    EXPECT_EQ(get16(b, 34), i);
    size_t at = 36;
    if (!first) {
      std::string previous(reinterpret_cast<const char*>(&b[at]));
      EXPECT_EQ(previous, setName(int(i - 1)));
      at += previous.size() + 2;
    }
    if (!last) {
      std::string next(reinterpret_cast<const char*>(&b[at]));
      EXPECT_EQ(next, setName(int(i + 1)));
      at += next.size() + 2;
    }
    ASSERT_EQ(get16(b, 26), 1);
    ASSERT_EQ(get16(b, 28), 1);
    uint16_t index = get16(b, get32(b, 16) + 8);
    EXPECT_EQ(index, first ? 0xfffe : last ? 0xfffd : 0xffff);
    size_t block = get32(b, at);
    for (int k = 0; k < get16(b, at + 4); k++) {
      uint16_t compressed = get16(b, block + 4);
      if (get16(b, block + 6) == 0) dividedBlockSeen = true;
      block += 8 + compressed;
    }
    EXPECT_EQ(block, b.size());
  }
  EXPECT_TRUE(dividedBlockSeen);
  packtest::ExtractResult result = packtest::extractSet(temp.dir(), "set.cab");
  ASSERT_TRUE(result.ok) << result.errorCode;
  EXPECT_TRUE(result.files["big.bin"].bytes == data);
}

TEST(CabinetWriterErrors, RefusedInputsAndLimits) {
  TempDir temp;
  {
    pack::CabinetWriter writer(temp.dir(), setName, {});
    EXPECT_FALSE(writer.addFile({std::string(256, 'n'), 0, 0, 0}));
    EXPECT_NE(writer.error().find("255"), std::string::npos);
  }
  {
    pack::CabinetWriter writer(temp.dir(), setName, {});
    EXPECT_FALSE(writer.addFile({"", 0, 0, 0}));
  }
  {
    pack::CabinetWriter writer(temp.dir(), setName, {});
    const uint8_t byte[] = {1};
    EXPECT_FALSE(writer.appendData(byte));
  }
  {
    pack::CabinetLayout layout;
    layout.maxCabinetBytes = 100;  // less than a header, names and one block header
    pack::CabinetWriter writer(temp.dir(), setName, layout);
    ASSERT_TRUE(writer.addFile({"a", 0, 0, 0}));
    std::vector<uint8_t> data(1000, 7);
    ASSERT_TRUE(writer.appendData(data));
    EXPECT_FALSE(writer.finish());
    EXPECT_NE(writer.error().find("too small"), std::string::npos) << writer.error();
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(temp.path()), fs::directory_iterator()), 0);
}

// Files only, no data at all: folders without blocks, and a cabinet with no folder.
TEST(CabinetWriterSet, EmptyFilesAndEmptyCabinet) {
  TempDir temp;
  {
    pack::CabinetWriter writer(temp.dir(), setName, {});
    ASSERT_TRUE(writer.finish()) << writer.error();
    std::vector<uint8_t> b = packtest::readFile(temp.path() / "set.cab");
    EXPECT_EQ(b.size(), 36u);
    EXPECT_EQ(get16(b, 26), 0);
  }
  pack::CabinetWriter writer(temp.dir(), setName, {});
  for (const char* name : {"e1", "e2"}) ASSERT_TRUE(writer.addFile({name, 0x21, 0, 0x20}));
  ASSERT_TRUE(writer.beginFolder(pack::makeStoredCompressor()));
  ASSERT_TRUE(writer.addFile({"e3", 0x21, 0, 0x20}));
  ASSERT_TRUE(writer.finish()) << writer.error();
  packtest::ExtractResult result = packtest::extractSet(temp.dir(), "set.cab");
  ASSERT_TRUE(result.ok);
  EXPECT_EQ(result.files.size(), 3u);
}

struct MethodText {
  const char* text;
  bool accepted;  // when the method is built in
  const char* errorWords;
};
// Columns: method text, accepted, words the refusal must hold.
const MethodText methodTexts[] = {
    {"none", true, ""},         {"mszip", true, ""},           {"mszip:1", true, ""},
    {"mszip:0", false, "range"}, {"mszip:x", false, "bad"},     {"lzx", false, "needs"},
    {"lzx:14", false, "range"}, {"lzx:21", true, ""},          {"quantum:9", false, "range"},
    {"quantum:10", true, ""},   {"zip", false, "unknown"},     {"lzx:", false, "bad"},
};

TEST(MethodTexts, ParsedIntoCompressorsOrClearRefusals) {
  for (const MethodText& m : methodTexts) {
    SCOPED_TRACE(m.text);
    std::string error;
    auto compressor = pack::makeCompressor(m.text, &error);
    if (m.accepted) {
      if (!compressor) EXPECT_NE(error.find("not available"), std::string::npos) << error;
    } else {
      EXPECT_FALSE(compressor);
      EXPECT_NE(error.find(m.errorWords), std::string::npos) << error;
    }
  }
  auto stored = pack::makeCompressor("none", nullptr);
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->compressionWord(), 0);
}

}  // namespace
