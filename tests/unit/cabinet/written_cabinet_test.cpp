// Cabinets made by the cabinet writer with every method, read back through the decoder:
// one folder per configuration, and sets whose folders and blocks run across cabinets.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "harness.h"
#include "pack/cabinet_writer.h"

namespace {

using cabtest::Bytes;
using cabtest::Harness;
namespace fs = std::filesystem;

// Compressible content: repeated phrases with some noise.
Bytes text(size_t bytes, uint32_t seed) {
  static const char* words[] = {"cabinet ", "folder ", "block ", "window ", "stream ", "\r\n"};
  Bytes noise = cabtest::pattern(bytes, seed);
  Bytes out;
  for (size_t i = 0; out.size() < bytes; ++i) {
    const char* w = words[noise[i % bytes] % 6];
    out.insert(out.end(), w, w + std::strlen(w));
    if (noise[i % bytes] < 20) out.push_back(noise[(i + 1) % bytes]);
  }
  out.resize(bytes);
  return out;
}

struct Configuration {
  const char* name;
  std::unique_ptr<pack::FolderCompressor> (*make)();
};

class WrittenCabinets : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("written_cabinet_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Loads the written cabinets into the harness's in-memory files under their bare names.
  void load(const std::vector<std::string>& paths) {
    for (const std::string& path : paths) {
      std::ifstream in(path, std::ios::binary);
      Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      memfs::table().files[fs::path(path).filename().string()] = bytes;
    }
  }

  fs::path dir_;
};

TEST_F(WrittenCabinets, EveryMethodAndWindowInOneCabinet) {
  struct Folder {
    const char* name;
    std::unique_ptr<pack::FolderCompressor> compressor;
  };
  std::vector<Folder> folders;
  folders.push_back({"stored", pack::makeStoredCompressor()});
  folders.push_back({"mszip", pack::makeMszipCompressor(6)});
  folders.push_back({"lzx15", pack::makeLzxCompressor(15)});
  folders.push_back({"lzx17", pack::makeLzxCompressor(17)});
  folders.push_back({"quantum10", pack::makeQuantumCompressor(10)});
  folders.push_back({"quantum16", pack::makeQuantumCompressor(16)});
  folders.push_back({"mszip-again", pack::makeMszipCompressor(1)});

  // Folders of one method with another window only decode with a decompressor made for
  // that window: the LZX trees and Quantum models differ in size.
  Harness h;
  pack::CabinetWriter writer(dir_.string() + "/", [](int) { return std::string("all.cab"); },
                             pack::CabinetLayout{});
  std::map<std::string, Bytes> expected;
  uint32_t seed = 1;
  for (Folder& f : folders) {
    ASSERT_NE(f.compressor, nullptr) << f.name;
    ASSERT_TRUE(writer.beginFolder(std::move(f.compressor)));
    // Sizes around block boundaries, an empty file, and a file spanning many blocks.
    for (size_t bytes : {size_t(1), size_t(0), size_t(32768), size_t(100000), size_t(7)}) {
      std::string name = std::string(f.name) + "\\" + std::to_string(bytes);
      Bytes data = text(bytes, seed++);
      ASSERT_TRUE(writer.addFile({name, 0x5a21, 0x6b4c, pack::AttributeArchive}));
      ASSERT_TRUE(writer.appendData(data));
      expected[name] = data;
    }
  }
  ASSERT_TRUE(writer.finish()) << writer.error();
  load(writer.cabinetPaths());

  ASSERT_EQ(h.copy("all.cab"), 1) << cab::errorName(h.errors.code);
  for (const auto& [name, data] : expected) {
    const Bytes* out = h.output(name);
    ASSERT_NE(out, nullptr) << name;
    EXPECT_EQ(*out, data) << name;
  }
  EXPECT_EQ(memfs::table().openCount(), 0);
  cab::destroy(h.context);
  h.context = nullptr;
  EXPECT_EQ(memfs::table().liveBlocks, 0);
}

TEST_F(WrittenCabinets, SetsAreExtractedByCopyingEachCabinetInTurn) {
  struct Method {
    const char* name;
    std::unique_ptr<pack::FolderCompressor> (*make)();
  } methods[] = {
      {"stored", [] { return pack::makeStoredCompressor(); }},
      {"mszip", [] { return pack::makeMszipCompressor(6); }},
      {"lzx", [] { return pack::makeLzxCompressor(16); }},
      {"quantum", [] { return pack::makeQuantumCompressor(15); }},
  };
  for (const Method& m : methods) {
    Harness h;
    pack::CabinetLayout layout;
    layout.setId = 0x7777;
    layout.maxCabinetBytes = 50000;
    layout.dataReserveBytes = 2;
    fs::path setDir = dir_ / m.name;
    fs::create_directories(setDir);
    pack::CabinetWriter writer(setDir.string() + "/",
                               [](int i) { return "part" + std::to_string(i) + ".cab"; }, layout);
    std::map<std::string, Bytes> expected;
    // Two folders, noisy enough that blocks do not shrink to nothing.
    for (int folder = 0; folder < 2; ++folder) {
      ASSERT_TRUE(writer.beginFolder(m.make()));
      for (int file = 0; file < 4; ++file) {
        std::string name = "f" + std::to_string(folder) + "_" + std::to_string(file);
        Bytes data = cabtest::pattern(20000 + 7000 * size_t(file), uint32_t(folder * 10 + file));
        ASSERT_TRUE(writer.addFile({name, 0, 0, pack::AttributeArchive}));
        ASSERT_TRUE(writer.appendData(data));
        expected[name] = data;
      }
    }
    ASSERT_TRUE(writer.finish()) << writer.error();
    ASSERT_GT(writer.cabinetPaths().size(), 3u) << m.name;
    load(writer.cabinetPaths());

    int needNext = 0;
    h.answer = [&](int32_t kind, cab::Notification* n) {
      if (kind == cab::NeedNextCabinet) {
        ++needNext;
        return n->errorCode == 0 ? 0 : -1;
      }
      return Harness::acceptAll(kind, n);
    };
    std::map<std::string, int> extracted;
    for (size_t i = 0; i < writer.cabinetPaths().size(); ++i) {
      size_t before = h.events.size();
      ASSERT_EQ(h.copy("part" + std::to_string(i) + ".cab"), 1)
          << m.name << " cabinet " << i << ": " << cab::errorName(h.errors.code);
      for (size_t e = before; e < h.events.size(); ++e) {
        if (h.events[e].kind == cab::OutputComplete) extracted[h.events[e].text1] += 1;
      }
    }
    EXPECT_GT(needNext, 0) << m.name;
    for (const auto& [name, data] : expected) {
      EXPECT_EQ(extracted[name], 1) << m.name << " " << name;
      const Bytes* out = h.output(name);
      ASSERT_NE(out, nullptr) << m.name << " " << name;
      EXPECT_EQ(*out, data) << m.name << " " << name;
    }
  }
}

}  // namespace
