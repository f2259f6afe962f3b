// The payload callbacks over real files: locating a bare or appended cabinet, unscrambling
// by cabinet position, and the decoder reading through them.
#include "payload/payload_reader.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "../cabinet/cabinet_builder.h"
#include "cabinet/cabinet_decoder.h"

namespace {

using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

constexpr int32_t ReadBinary = payload::OpenReadOnly | payload::OpenBinary;

int openDescriptors() {
  int count = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (readdir(dir) != nullptr) ++count;
    closedir(dir);
  }
  return count;
}

// The classic C runtime generator, stepped independently of the code under test.
uint16_t keyEntry(uint32_t seed, int index) {
  uint32_t x = seed;
  for (int i = 0; i <= index; ++i) x = x * 214013u + 2531011u;
  return uint16_t((x >> 16) & 0x7fff);
}

void append32(Bytes& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

class PayloadFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("payload_test_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string write(const std::string& name, const Bytes& bytes) {
    std::string path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                std::streamsize(bytes.size()));
    return path;
  }
  // An executable image, a scrambled "1CNT" payload of `cabinet` and the trailer.
  static Bytes installer(const Bytes& image, const Bytes& cabinet, uint32_t seed) {
    payload::Keystream keys;
    keys.fill(seed);
    Bytes out = image;
    Bytes scrambled = cabinet;
    keys.scramble(scrambled.data(), uint32_t(scrambled.size()), 0);
    out.insert(out.end(), {'1', 'C', 'N', 'T'});
    append32(out, seed);
    out.insert(out.end(), scrambled.begin(), scrambled.end());
    append32(out, uint32_t(8 + scrambled.size() + 4));
    return out;
  }
  static Bytes readAll(int32_t handle, uint32_t bytes) {
    Bytes out(bytes);
    int32_t got = payload::readPayload(handle, out.data(), bytes);
    out.resize(got < 0 ? 0 : size_t(got));
    return out;
  }

  fs::path dir_;
};

TEST(Keystream, FollowsTheClassicGeneratorAndScramblingInverts) {
  payload::Keystream keys;
  keys.fill(1);
  EXPECT_EQ(keys.entry(0), 41);  // the first rand() after srand(1)
  EXPECT_EQ(keys.entry(1), 18467);
  EXPECT_EQ(keys.entry(256), keys.entry(0));
  keys.fill(0xdeadbeef);
  for (uint32_t position : {0u, 1u, 255u, 256u, 300u, 70000u}) {
    uint16_t key = keyEntry(0xdeadbeef, int(position & 0xff));
    for (int plain = 0; plain < 256; ++plain) {
      uint8_t stored = keys.scramble(uint8_t(plain), position);
      ASSERT_EQ(stored, uint8_t(uint8_t(plain + (key >> 8)) ^ (key & 0xff)));
      ASSERT_EQ(keys.unscramble(stored, position), plain);
    }
  }
}

TEST_F(PayloadFiles, BareCabinetIsReadAsIs) {
  Bytes cabinet = cabtest::build(cabtest::storedCabinet({{"a", cabtest::pattern(500, 1)}}).cabinet);
  int32_t handle = payload::openPayload(write("bare.cab", cabinet).c_str(), ReadBinary, 0x180);
  ASSERT_NE(handle, -1);
  EXPECT_EQ(payload::payloadState.baseOffset, 0);
  EXPECT_EQ(payload::payloadState.scrambled, 0);
  EXPECT_EQ(readAll(handle, 10000), cabinet);
  EXPECT_EQ(payload::seekPayload(handle, 100, 0), 100);
  EXPECT_EQ(readAll(handle, 4), Bytes(cabinet.begin() + 100, cabinet.begin() + 104));
  EXPECT_EQ(payload::seekPayload(handle, 0, 1), 104);
  EXPECT_EQ(payload::closeFile(handle), 0);
}

TEST_F(PayloadFiles, ScrambledPayloadBehindAnImageIsUnscrambledByCabinetPosition) {
  Bytes cabinet = cabtest::pattern(700, 3);
  cabinet[0] = 'M', cabinet[1] = 'S', cabinet[2] = 'C', cabinet[3] = 'F';
  Bytes image = cabtest::pattern(1000, 4);
  image[0] = 'M', image[1] = 'Z';
  const uint32_t seed = 0x12345678;
  Bytes file = installer(image, cabinet, seed);
  std::string path = write("setup.exe", file);

  int32_t handle = payload::openPayload(path.c_str(), ReadBinary, 0x180);
  ASSERT_NE(handle, -1);
  EXPECT_EQ(payload::payloadState.baseOffset, 1008);
  EXPECT_NE(payload::payloadState.scrambled, 0);
  // Position 0 is the cabinet's first byte: tag and seed are never delivered.
  EXPECT_EQ(readAll(handle, 4), (Bytes{'M', 'S', 'C', 'F'}));

  // Position 300 uses entry 44; a read across 255 goes on with entry 0 at 256.
  EXPECT_EQ(payload::seekPayload(handle, 300, 0), 300);
  uint16_t key = keyEntry(seed, 44);
  uint8_t stored = file[1008 + 300];
  uint8_t expected = uint8_t((stored ^ (key & 0xff)) - (key >> 8));
  EXPECT_EQ(readAll(handle, 1), Bytes{expected});
  EXPECT_EQ(expected, cabinet[300]);
  payload::seekPayload(handle, 250, 0);
  EXPECT_EQ(readAll(handle, 20), Bytes(cabinet.begin() + 250, cabinet.begin() + 270));

  // The same range twice, and through a second handle.
  int32_t second = payload::openPayload(path.c_str(), ReadBinary, 0);
  ASSERT_NE(second, -1);
  payload::seekPayload(second, 100, 0);
  payload::seekPayload(handle, 100, 0);
  Bytes once = readAll(handle, 300);
  payload::seekPayload(handle, 100, 0);
  EXPECT_EQ(readAll(handle, 300), once);
  EXPECT_EQ(readAll(second, 300), once);
  EXPECT_EQ(once, Bytes(cabinet.begin() + 100, cabinet.begin() + 400));

  EXPECT_EQ(payload::seekPayload(handle, 0, 0), 0);
  EXPECT_EQ(payload::seekPayload(handle, 0, 1), 0);
  // Origin 2 measures from the end of the whole file, trailer included.
  EXPECT_EQ(payload::seekPayload(handle, 0, 2), int32_t(cabinet.size() + 4));
  payload::closeFile(handle);
  payload::closeFile(second);
}

TEST_F(PayloadFiles, FilesWithoutAPayloadAreRefusedWithNoHandleLeftOpen) {
  Bytes cabinet = cabtest::pattern(300, 5);
  cabinet[0] = 'M', cabinet[1] = 'S', cabinet[2] = 'C', cabinet[3] = 'F';
  Bytes good = installer(Bytes(64, 'x'), cabinet, 7);
  std::string goodPath = write("good.exe", good);

  Bytes wrongTrailer = good;
  wrongTrailer[wrongTrailer.size() - 4] ^= 1;  // points one byte off the tag
  Bytes outside = good;
  for (int i = 1; i <= 4; ++i) outside[outside.size() - i] = 0x7f;
  struct Case {
    const char* name;
    Bytes bytes;
  } cases[] = {
      {"wrong trailer", wrongTrailer},
      {"trailer beyond the file", outside},
      {"too short for a trailer", Bytes{'x', 'y'}},
      {"empty", Bytes{}},
      {"tag without seed", Bytes{'1', 'C', 'N', 'T', 1, 2}},
  };
  // A payload found before must keep working when a later open fails.
  int32_t handle = payload::openPayload(goodPath.c_str(), ReadBinary, 0);
  ASSERT_NE(handle, -1);
  int before = openDescriptors();
  for (const Case& c : cases) {
    EXPECT_EQ(payload::openPayload(write("bad", c.bytes).c_str(), ReadBinary, 0), -1) << c.name;
    EXPECT_EQ(openDescriptors(), before) << c.name;
  }
  EXPECT_EQ(payload::openPayload((dir_ / "missing").c_str(), ReadBinary, 0), -1);
  EXPECT_EQ(payload::payloadState.baseOffset, 64 + 8);
  EXPECT_EQ(readAll(handle, 300), cabinet);
  payload::closeFile(handle);
}

TEST_F(PayloadFiles, OpenFlagsAreTranslatedFromTheRuntimeValues) {
  // Read-write, create, truncate, binary; read and write permission: the file is made,
  // then refused for holding no payload.
  std::string path = (dir_ / "created").string();
  EXPECT_EQ(payload::openPayload(path.c_str(), 0x8302, 0x180), -1);
  ASSERT_TRUE(fs::exists(path));
  EXPECT_EQ(fs::file_size(path), 0u);
  auto permissions = fs::status(path).permissions();
  EXPECT_NE(permissions & fs::perms::owner_read, fs::perms::none);
  EXPECT_NE(permissions & fs::perms::owner_write, fs::perms::none);
  // Truncation of a file that was there.
  write("created", Bytes(10, 'x'));
  EXPECT_EQ(payload::openPayload(path.c_str(), 0x8302, 0x180), -1);
  EXPECT_EQ(fs::file_size(path), 0u);
}

TEST_F(PayloadFiles, DecoderExtractsThroughThePayloadCallbacks) {
  auto files = cabtest::storedCabinet(
      {{"a.txt", cabtest::pattern(40000, 1)}, {"b.txt", cabtest::pattern(3000, 2)}});
  Bytes cabinet = cabtest::build(files.cabinet);
  std::string folder = (dir_ / "").string();
  write("setup.exe", installer(cabtest::pattern(5000, 9), cabinet, 99));

  cab::ErrorRecord errors{};
  cab::DecoderContext* context =
      cab::create(payload::allocate, payload::release, payload::openPayload,
                  payload::readPayload, payload::writeFile, payload::closeFile,
                  payload::seekPayload, &errors);
  ASSERT_NE(context, nullptr);
  int32_t test = payload::openPayload((folder + "setup.exe").c_str(), ReadBinary, 0);
  cab::CabinetInfo info{};
  EXPECT_EQ(cab::isCabinet(context, test, &info), 1);
  EXPECT_EQ(info.fileCount, 2);
  payload::closeFile(test);

  static std::string outputFolder;
  outputFolder = folder;
  auto notify = [](int32_t kind, cab::Notification* n) -> int32_t {
    if (kind == cab::OpenOutput) {
      std::string path = outputFolder + "out_" + n->text1;
      return ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    }
    if (kind == cab::OutputComplete) payload::closeFile(n->handle);
    return kind == cab::OutputComplete ? 1 : 0;
  };
  ASSERT_EQ(cab::copy(context, "setup.exe", folder.c_str(), 0, notify, nullptr, nullptr), 1)
      << cab::errorName(errors.code);
  for (size_t i = 0; i < files.contents.size(); ++i) {
    std::ifstream in(folder + "out_" + files.cabinet.files[i].name, std::ios::binary);
    Bytes got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(got, files.contents[i]);
  }
  EXPECT_EQ(cab::destroy(context), 1);
}

}  // namespace
