// The payload packer, read back through the payload reader's callbacks.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "pack/payload_packer.h"
#include "payload/payload_reader.h"
#include "set_extractor.h"

namespace {

namespace fs = std::filesystem;

void writeBytes(const fs::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

class PayloadPacker : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("payload_packer_" + std::to_string(getpid()));
    fs::create_directories(dir_);
    // Not a real cabinet past its tag: the packer moves bytes and does not parse them.
    cabinet_ = {'M', 'S', 'C', 'F'};
    for (int i = 0; i < 700; i++) cabinet_.push_back(uint8_t(i * 7));
    writeBytes(dir_ / "c.cab", cabinet_);
    writeBytes(dir_ / "prefix.exe", {'M', 'Z', 1, 2, 3});
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string at(const char* name) { return (dir_ / name).string(); }

  // The cabinet as the payload reader presents it.
  std::vector<uint8_t> readBack(const std::string& path) {
    int32_t handle = payload::openPayload(path.c_str(), payload::OpenBinary, 0);
    EXPECT_GE(handle, 0);
    if (handle < 0) return {};
    std::vector<uint8_t> out(cabinet_.size() + 16);
    int32_t got = payload::readPayload(handle, out.data(), uint32_t(out.size()));
    payload::closeFile(handle);
    out.resize(size_t(std::max(got, 0)));
    return out;
  }

  fs::path dir_;
  std::vector<uint8_t> cabinet_;
};

TEST_F(PayloadPacker, ScrambledAndPlainPayloadsReadBackAsTheCabinet) {
  for (bool scrambled : {true, false}) {
    SCOPED_TRACE(scrambled);
    std::string error;
    ASSERT_TRUE(pack::packPayload(at("prefix.exe"), at("c.cab"), at("out.exe"), {0x12345678, scrambled}, &error))
        << error;
    std::vector<uint8_t> packed = packtest::readFile(at("out.exe"));
    size_t tagBytes = scrambled ? 8 : 0;
    ASSERT_EQ(packed.size(), 5 + tagBytes + cabinet_.size() + 4);
    EXPECT_EQ(packtest::get32(packed, packed.size() - 4), tagBytes + cabinet_.size() + 4);
    EXPECT_EQ(std::string(packed.begin() + 5, packed.begin() + 9), scrambled ? "1CNT" : "MSCF");
    if (scrambled) {
      EXPECT_EQ(packtest::get32(packed, 9), 0x12345678u);
      EXPECT_NE(std::vector<uint8_t>(packed.begin() + 13, packed.begin() + 13 + 16),
                std::vector<uint8_t>(cabinet_.begin(), cabinet_.begin() + 16));
    }
    // Trailer not part of the cabinet: the reader hands back the cabinet, then the trailer.
    std::vector<uint8_t> got = readBack(at("out.exe"));
    ASSERT_GE(got.size(), cabinet_.size());
    got.resize(cabinet_.size());
    EXPECT_TRUE(got == cabinet_);
  }
}

TEST_F(PayloadPacker, EmptyPrefixGivesAFileThatStartsWithItsTag) {
  writeBytes(dir_ / "empty", {});
  std::string error;
  ASSERT_TRUE(pack::packPayload(at("empty"), at("c.cab"), at("out.bin"), {99, true}, &error)) << error;
  std::vector<uint8_t> got = readBack(at("out.bin"));
  got.resize(cabinet_.size());
  EXPECT_TRUE(got == cabinet_);
}

TEST_F(PayloadPacker, RefusesWhatTheReaderCouldNotFind) {
  struct Case {
    const char* prefix;
    const char* cabinet;
    const char* words;
  };
  writeBytes(dir_ / "tagged.exe", {'1', 'C', 'N', 'T', 0});
  writeBytes(dir_ / "notcab", {'M', 'Z', 0, 0, 0});
  // Columns: prefix file, cabinet file, words of the refusal.
  const Case cases[] = {
      {"tagged.exe", "c.cab", "payload tag"},
      {"prefix.exe", "notcab", "not a cabinet"},
      {"missing", "c.cab", "cannot open"},
      {"prefix.exe", "missing", "cannot open"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.prefix + std::string(" ") + c.cabinet);
    std::string error;
    EXPECT_FALSE(pack::packPayload(at(c.prefix), at(c.cabinet), at("out.exe"), {}, &error));
    EXPECT_NE(error.find(c.words), std::string::npos) << error;
  }
}

}  // namespace
