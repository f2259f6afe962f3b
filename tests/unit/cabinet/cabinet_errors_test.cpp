// Every error code, each provoked by a crafted cabinet or a failing callback. Whatever the
// failure, copy closes its cabinet and output handles and destroy releases every block.
#include <gtest/gtest.h>

#include "harness.h"

namespace {

using cabtest::Block;
using cabtest::Bytes;
using cabtest::Cabinet;
using cabtest::File;
using cabtest::Folder;
using cabtest::Harness;
using cabtest::pattern;

Cabinet simple(size_t bytes = 300) {
  return cabtest::storedCabinet({{"a", pattern(bytes, 1)}}).cabinet;
}

Cabinet withFolder(uint16_t word, Bytes compressed, uint16_t uncompressedBytes) {
  Cabinet c;
  Block b;
  b.compressed = std::move(compressed);
  b.uncompressedBytes = uncompressedBytes;
  c.folders.push_back(Folder{word, {b}, {}, {}, {}});
  c.files = {File{"a", uncompressedBytes, 0, 0}};
  return c;
}

Bytes truncated(const Cabinet& c, size_t dropBytes) {
  Bytes b = cabtest::build(c);
  b.resize(b.size() - dropBytes);
  return b;
}

struct Case {
  const char* name;
  std::function<Bytes()> cabinet;
  int32_t code;
  std::function<void()> inject = [] {};
};

Bytes built(Cabinet c) { return cabtest::build(c); }

const Case cases[] = {
    {"missing cabinet", [] { return Bytes(); }, cab::OpenFailed,
     [] { memfs::table().files.clear(); }},
    {"second handle refused", [] { return built(simple()); }, cab::OpenFailed,
     [] { memfs::table().failOpenAt = 2; }},

    {"signature", [] { Cabinet c = simple(); c.signature = "MSCX"; return built(c); },
     cab::BadSignature},
    {"short header", [] { return Bytes(20, 'M'); },
     cab::BadSignature},
    {"read callback fails", [] { return built(simple()); }, cab::BadSignature,
     [] { memfs::table().failReadAt = 1; }},
    {"short reserve sizes", [] {
       Cabinet c;
       c.reserveSizes = true;
       Bytes b = built(c);
       b.resize(38);
       return b;
     }, cab::BadSignature},
    {"short header reserve area", [] {
       Cabinet c;
       c.reserveSizes = true;
       c.headerReserve = Bytes(100, 7);
       Bytes b = built(c);
       b.resize(36 + 4 + 50);
       return b;
     }, cab::BadSignature},

    {"version", [] { Cabinet c = simple(); c.version = 0x0104; return built(c); },
     cab::BadVersion},

    {"short file entry", [] {
       Cabinet c;
       c.files = {File{"x", 0, 0, 0xfffd}};
       c.fileCountOverride = 2;
       return built(c);
     }, cab::Damaged},
    {"file entries beyond the cabinet", [] {
       Cabinet c = simple();
       c.fileOffsetOverride = 100000;
       return built(c);
     }, cab::Damaged},
    {"file entry offset the seek cannot express", [] {
       Cabinet c = simple();
       c.fileOffsetOverride = 0x90000000;
       return built(c);
     }, cab::Damaged},
    {"folder entry cut short", [] {
       // Folder entries 0 to 2 would lie at 36, 44 and 52; the cabinet ends at 54.
       Cabinet c;
       c.files = {File{"a", 10, 0, 2}};
       c.folderCountOverride = 3;
       c.fileOffsetOverride = 36;
       return built(c);
     }, cab::Damaged},
    {"first block beyond the seek", [] {
       Cabinet c = simple();
       c.folders[0].firstBlockOverride = 0xfffffff0;
       return built(c);
     }, cab::Damaged},
    {"block header cut short", [] {
       Cabinet c = simple();
       c.folders[0].blockCountOverride = 2;
       c.files[0].size = 400;
       return built(c);
     }, cab::Damaged},
    {"block data cut short", [] { return truncated(simple(), 10); }, cab::Damaged},
    {"checksum mismatch", [] {
       Cabinet c = simple();
       c.folders[0].blocks[0].checksumOverride = 0x12345678;
       return built(c);
     }, cab::Damaged},
    {"block larger than the input buffer", [] {
       return built(withFolder(0, pattern(40000, 2), 40000));
     }, cab::Damaged},
    {"folder index 0xfffc", [] {
       Cabinet c = simple();
       c.files[0].folderIndex = 0xfffc;
       return built(c);
     }, cab::Damaged},
    {"continued into the next without folders", [] {
       Cabinet c;
       c.files = {File{"a", 10, 0, 0xfffe}};
       return built(c);
     }, cab::Damaged},
    {"file beyond its folder in the last cabinet", [] {
       Cabinet c = simple();
       c.files[0].folderOffset = 200;
       return built(c);
     }, cab::Damaged},
    {"size and offset past 4 GiB", [] {
       Cabinet c = simple();
       c.files[0].folderOffset = 100;
       c.files[0].size = 0xffffffff;
       return built(c);
     }, cab::Damaged},

    {"no memory for the folder entry", [] { return built(simple()); }, cab::NoMemory,
     [] { memfs::table().failAllocateAt = memfs::table().allocations + 1; }},
    {"no memory for the block header", [] { return built(simple()); }, cab::NoMemory,
     [] { memfs::table().failAllocateAt = memfs::table().allocations + 2; }},
    {"no memory for the input buffer", [] { return built(simple()); }, cab::NoMemory,
     [] { memfs::table().failAllocateAt = memfs::table().allocations + 3; }},
    {"no memory for the output buffer", [] { return built(simple()); }, cab::NoMemory,
     [] { memfs::table().failAllocateAt = memfs::table().allocations + 4; }},
    {"no memory for the header reserve", [] {
       Cabinet c = simple();
       c.reserveSizes = true;
       c.headerReserve = {1, 2};
       return built(c);
     }, cab::NoMemory, [] { memfs::table().failAllocateAt = memfs::table().allocations + 1; }},

    {"method 4", [] { return built(withFolder(4, {1}, 1)); }, cab::BadMethod},
    {"method 15", [] { return built(withFolder(0x010f, {1}, 1)); }, cab::BadMethod},

    {"stored sizes differ", [] { return built(withFolder(0, {1, 2, 3}, 4)); },
     cab::DecodeFailed},
    {"stored block stating more than a block", [] {
       return built(withFolder(0, pattern(100, 1), 40000));
     }, cab::DecodeFailed},
    {"MSZIP block without its signature", [] { return built(withFolder(1, {1, 2, 3}, 3)); },
     cab::DecodeFailed},
    {"Quantum window of 5 bits", [] { return built(withFolder(0x0502, {1, 2}, 2)); },
     cab::DecodeFailed},
    {"LZX window of 2^25 bytes", [] { return built(withFolder(0x1903, {1, 2}, 2)); },
     cab::DecodeFailed},
    {"LZX window of 2^14 bytes", [] { return built(withFolder(0x0e03, {1, 2}, 2)); },
     cab::DecodeFailed},

    {"short write", [] { return built(simple()); }, cab::WriteFailed,
     [] { memfs::table().shortWriteAfterBytes = 100; }},
};

TEST(CopyFailure, EachCodeFromItsCause) {
  for (const Case& c : cases) {
    Harness h;
    h.addFile("a.cab", c.cabinet());
    c.inject();
    EXPECT_EQ(h.copy(), 0) << c.name;
    EXPECT_EQ(h.errors.code, c.code) << c.name << ": " << cab::errorName(h.errors.code);
    EXPECT_EQ(h.errors.set, 1) << c.name;
    EXPECT_EQ(memfs::table().openCount(), 0) << c.name;
    if (c.code == cab::BadVersion) EXPECT_EQ(h.errors.detail, 0x0104);
    for (const auto& e : h.events) EXPECT_NE(e.kind, cab::OutputComplete) << c.name;
    cab::destroy(h.context);
    h.context = nullptr;
    EXPECT_EQ(memfs::table().liveBlocks, 0) << c.name;
  }
}

TEST(CopyFailure, LaterCabinetsMustKeepTheFirstOnesReserveLayout) {
  for (auto [folderReserve, dataReserve] : {std::pair{1, 0}, std::pair{0, 1}}) {
    Harness h;
    h.addFile("a.cab", built(simple()));
    Cabinet other = simple();
    other.reserveSizes = true;
    other.folderReserveBytes = uint8_t(folderReserve);
    other.dataReserveBytes = uint8_t(dataReserve);
    other.folders[0].reserve = Bytes(folderReserve, 0);
    other.folders[0].blocks[0].reserve = Bytes(dataReserve, 0);
    h.addFile("b.cab", built(other));
    ASSERT_EQ(h.copy("a.cab"), 1);
    EXPECT_EQ(h.copy("b.cab"), 0);
    EXPECT_EQ(h.errors.code, cab::LayoutMismatch);
    // A header reserve of another size is fine.
    other = simple();
    other.reserveSizes = true;
    other.headerReserve = {1, 2, 3};
    h.addFile("c.cab", built(other));
    EXPECT_EQ(h.copy("c.cab"), 1);
  }
}

TEST(CopyFailure, ReadCallbackFailingAnywhereIsAFailureNotACount) {
  // Fail the n-th read for every n a successful copy makes: never a crash, always code > 0.
  Cabinet c = cabtest::storedCabinet({{"a", pattern(3000, 1)}, {"b", pattern(10, 2)}}, 1000)
                  .cabinet;
  int readsNeeded = 0;
  {
    Harness h;
    h.addFile("a.cab", built(c));
    ASSERT_EQ(h.copy(), 1);
    readsNeeded = memfs::table().reads;
  }
  for (int n = 1; n <= readsNeeded; ++n) {
    Harness h;
    h.addFile("a.cab", built(c));
    memfs::table().failReadAt = n;
    EXPECT_EQ(h.copy(), 0) << n;
    EXPECT_GT(h.errors.code, 0) << n;
    EXPECT_EQ(memfs::table().openCount(), 0) << n;
  }
}

}  // namespace
