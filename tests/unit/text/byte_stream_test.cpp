// Memory and file streams: record-wise reads, seeks within bounds, open modes, and clean
// failures on streams that are not open.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include <unistd.h>

#include "text/byte_stream.h"
#include "text/stream_factory.h"

namespace text {
namespace {

const uint8_t TenBytes[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};

class MemoryStreamTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(stream.open("ignored", OpenRead), 1); }
  MemoryStream stream{TenBytes};
};

TEST_F(MemoryStreamTest, SeekToEndTellsSizeAndBackToStart) {
  EXPECT_EQ(stream.seek(0, OriginEnd), 0);
  EXPECT_EQ(stream.tell(), 10);
  EXPECT_EQ(stream.seek(0, OriginBegin), 0);
  EXPECT_EQ(stream.tell(), 0);
}

TEST_F(MemoryStreamTest, SeeksOutsideTheCopyFailAndKeepPosition) {
  struct Case {
    int32_t offset, origin, result, position;
  } cases[] = {
      {-1, OriginBegin, 1, 3},         {1, OriginEnd, 1, 3},
      {-4, OriginEnd, 0, 6},           {10, OriginBegin, 0, 10},
      {2, OriginCurrent, 0, 5},        {-4, OriginCurrent, 1, 3},
      {0, 3, 1, 3},                    {0, -1, 1, 3},
      {INT32_MAX, OriginCurrent, 1, 3}, {INT32_MIN, OriginEnd, 1, 3},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(stream.seek(3, OriginBegin), 0);
    EXPECT_EQ(stream.seek(c.offset, c.origin), c.result) << c.offset << " from " << c.origin;
    EXPECT_EQ(stream.tell(), c.position) << c.offset << " from " << c.origin;
  }
}

TEST_F(MemoryStreamTest, ReadCopiesWholeRecordsOnly) {
  uint8_t dst[12];
  std::memset(dst, 0xEE, sizeof dst);
  EXPECT_EQ(stream.read(dst, 2, 3), 3);
  EXPECT_EQ(std::memcmp(dst, TenBytes, 6), 0);
  EXPECT_EQ(dst[6], 0xEE);

  ASSERT_EQ(stream.seek(6, OriginBegin), 0);
  std::memset(dst, 0xEE, sizeof dst);
  EXPECT_EQ(stream.read(dst, 4, 3), 1);
  EXPECT_EQ(std::memcmp(dst, TenBytes + 6, 4), 0);
  EXPECT_EQ(dst[4], 0xEE);
  EXPECT_EQ(stream.tell(), 10);
  EXPECT_EQ(stream.read(dst, 4, 3), 0);

  ASSERT_EQ(stream.seek(8, OriginBegin), 0);
  EXPECT_EQ(stream.read(dst, 4, 1), 0);  // would only partly fit
  EXPECT_EQ(stream.tell(), 8);
  EXPECT_EQ(stream.read(dst, 1, 0), 0);
  EXPECT_EQ(stream.read(dst, UINT32_MAX, 1), 0);  // must not wrap around
  EXPECT_EQ(stream.tell(), 8);
}

TEST_F(MemoryStreamTest, IsReadOnlyAndOpensOnce) {
  EXPECT_EQ(stream.write(TenBytes, 1, 1), 0);
  EXPECT_EQ(stream.open("again", OpenRead), 0);
  EXPECT_EQ(stream.tell(), 0);
}

TEST(MemoryStream, RefusesOpenWithoutReadAndFailsWhileClosed) {
  MemoryStream stream(TenBytes);
  EXPECT_EQ(stream.open("x", OpenWrite), 0);
  uint8_t dst[4];
  EXPECT_EQ(stream.read(dst, 1, 4), 0);
  EXPECT_EQ(stream.seek(0, OriginBegin), 1);
  EXPECT_EQ(stream.tell(), -1);
  ASSERT_EQ(stream.open("x", OpenRead | 0x200), 1);
  stream.close();
  EXPECT_EQ(stream.tell(), -1);
  EXPECT_EQ(stream.open("x", OpenRead), 1);  // closed streams open again
}

TEST(MemoryStream, EmptySourceOpensWithSizeZero) {
  MemoryStream stream{std::span<const uint8_t>()};
  ASSERT_EQ(stream.open("x", OpenRead), 1);
  EXPECT_EQ(stream.seek(0, OriginEnd), 0);
  EXPECT_EQ(stream.tell(), 0);
}

TEST(MemoryStream, ReadsItsCopyNotTheSource) {
  uint8_t source[3] = {'a', 'b', 'c'};
  MemoryStream stream(source);
  ASSERT_EQ(stream.open("x", OpenRead), 1);
  source[0] = 'z';
  char dst[3];
  ASSERT_EQ(stream.read(dst, 3, 1), 1);
  EXPECT_EQ(dst[0], 'a');
}

TEST(FileStream, ModeStringsFollowTheFlags) {
  struct Case {
    uint32_t flags;
    const char* mode;
  } cases[] = {
      {OpenRead, "rb"},
      {OpenRead | 0x200, "rb"},
      {OpenWrite, "wb"},
      {OpenWrite | OpenKeep, "ab"},
      {OpenRead | OpenWrite, "w+b"},
      {OpenRead | OpenWrite | OpenKeep, "r+b"},
      {OpenRead | OpenKeep, "rb"},
      {OpenWrite | OpenText, "wt"},
      {OpenRead | OpenWrite | OpenKeep | OpenText, "r+t"},
      {0, "b"},
      {OpenText, "t"},
  };
  for (const Case& c : cases) {
    char mode[4];
    FileStream::modeFor(c.flags, mode);
    EXPECT_STREQ(mode, c.mode) << std::hex << c.flags;
  }
}

class FileStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path = std::filesystem::temp_directory_path() /
           ("text_file_stream_" + std::to_string(::getpid()) + ".bin");
    std::ofstream(path, std::ios::binary) << "0123456789";
  }
  void TearDown() override { std::filesystem::remove(path); }
  std::filesystem::path path;
};

TEST_F(FileStreamTest, ReadsSeeksAndTells) {
  FileStream stream;
  ASSERT_EQ(stream.open(path.string().c_str(), 0x201), 1);
  EXPECT_EQ(stream.seek(0, OriginEnd), 0);
  EXPECT_EQ(stream.tell(), 10);
  EXPECT_EQ(stream.seek(-4, OriginCurrent), 0);
  char dst[8] = {};
  EXPECT_EQ(stream.read(dst, 2, 3), 2);
  EXPECT_STREQ(dst, "6789");
  EXPECT_EQ(stream.seek(0, 7), -1);  // unknown origin, position kept
  EXPECT_EQ(stream.tell(), 10);
  EXPECT_EQ(stream.open(path.string().c_str(), OpenRead), 0);  // already open
  EXPECT_EQ(stream.close(), 0);
}

TEST_F(FileStreamTest, WritesAppendsAndUpdates) {
  const std::string name = path.string();
  {
    FileStream stream;
    ASSERT_EQ(stream.open(name.c_str(), OpenWrite | OpenKeep), 1);
    EXPECT_EQ(stream.write("ab", 2, 1), 1);
  }  // the destructor closes
  {
    FileStream stream;
    ASSERT_EQ(stream.open(name.c_str(), OpenRead | OpenWrite | OpenKeep), 1);
    EXPECT_EQ(stream.write("X", 1, 1), 1);
  }
  std::ifstream in(path, std::ios::binary);
  std::string contents((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(contents, "X123456789ab");
  {
    FileStream stream;
    ASSERT_EQ(stream.open(name.c_str(), OpenWrite), 1);  // truncates
    EXPECT_EQ(stream.tell(), 0);
  }
  EXPECT_EQ(std::filesystem::file_size(path), 0u);
}

TEST_F(FileStreamTest, FailsCleanlyWhenNotOpen) {
  FileStream stream;
  EXPECT_EQ(stream.open(path.string().c_str(), 0), 0);
  EXPECT_EQ(stream.open(path.string().c_str(), OpenText), 0);
  EXPECT_EQ(stream.open((path.string() + ".missing").c_str(), OpenRead), 0);
  char dst[4];
  EXPECT_EQ(stream.read(dst, 1, 4), 0);
  EXPECT_EQ(stream.write("ab", 1, 2), 0);
  EXPECT_NE(stream.seek(0, OriginBegin), 0);
  EXPECT_EQ(stream.tell(), -1);
  EXPECT_EQ(stream.close(), -1);
  ASSERT_EQ(stream.open(path.string().c_str(), OpenRead), 1);
  EXPECT_EQ(stream.close(), 0);
  EXPECT_EQ(stream.close(), -1);  // a second close does not touch a freed handle
  EXPECT_EQ(stream.tell(), -1);
}

TEST(StreamFactory, MakeUnopenedStreamsOfTheirKind) {
  FileStreamFactory files;
  std::unique_ptr<ByteStream> file(files.createStream());
  EXPECT_NE(dynamic_cast<FileStream*>(file.get()), nullptr);
  std::unique_ptr<ByteStream> sibling(file->createNew());
  EXPECT_NE(dynamic_cast<FileStream*>(sibling.get()), nullptr);
  std::unique_ptr<StreamFactory> fileClone(files.clone());
  EXPECT_NE(dynamic_cast<FileStreamFactory*>(fileClone.get()), nullptr);
  EXPECT_EQ(files.reserved1(), 0);
  EXPECT_EQ(files.reserved2(), 0);
  EXPECT_EQ(files.reserved4(7), 0);

  MemoryStreamFactory memory(TenBytes);
  std::unique_ptr<StreamFactory> memoryClone(memory.clone());
  std::unique_ptr<ByteStream> stream(memoryClone->createStream());
  EXPECT_EQ(stream->tell(), -1);
  ASSERT_EQ(stream->open("x", OpenRead), 1);
  EXPECT_EQ(stream->seek(0, OriginEnd), 0);
  EXPECT_EQ(stream->tell(), 10);
}

}  // namespace
}  // namespace text
