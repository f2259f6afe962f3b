// The decoder over single cabinets: extraction, the notification protocol and its answers,
// the block and folder logic, reserve areas and names.
#include <gtest/gtest.h>

#include "harness.h"

namespace {

using cabtest::Bytes;
using cabtest::Cabinet;
using cabtest::Harness;
using cabtest::pattern;
using cabtest::storedCabinet;

TEST(IsCabinet, ReportsTheHeader) {
  Harness h;
  Cabinet c = storedCabinet({{"x", pattern(10, 1)}, {"y", pattern(5, 2)}}).cabinet;
  c.setId = 77;
  c.cabinetIndex = 3;
  c.next = {"next.cab", "disk 2"};
  c.reserveSizes = true;
  h.addFile("a.cab", cabtest::build(c));
  int32_t handle = memfs::open("a.cab", 0, 0);
  cab::CabinetInfo info{};
  ASSERT_EQ(cab::isCabinet(h.context, handle, &info), 1);
  EXPECT_EQ(info.cabinetBytes, memfs::table().files["a.cab"].size());
  EXPECT_EQ(info.folderCount, 1);
  EXPECT_EQ(info.fileCount, 2);
  EXPECT_EQ(info.setId, 77);
  EXPECT_EQ(info.cabinetIndex, 3);
  EXPECT_EQ(info.hasReserve, 1);
  EXPECT_EQ(info.hasPrevious, 0);
  EXPECT_EQ(info.hasNext, 2);  // the flag value, unshifted
  EXPECT_EQ(h.errors.set, 0);
}

TEST(IsCabinet, RefusesOtherPositionsWithoutACodeAndOtherVersionsWithCode3) {
  Harness h;
  Cabinet c = storedCabinet({{"x", pattern(10, 1)}}).cabinet;
  h.addFile("a.cab", cabtest::build(c));
  c.version = 0x0102;
  h.addFile("old.cab", cabtest::build(c));
  h.addFile("short.cab", Bytes{'M', 'S', 'C', 'F', 0});
  cab::CabinetInfo info{};

  int32_t handle = memfs::open("a.cab", 0, 0);
  memfs::seek(handle, 1, 0);
  EXPECT_EQ(cab::isCabinet(h.context, handle, &info), 0);
  EXPECT_EQ(cab::isCabinet(h.context, memfs::open("short.cab", 0, 0), &info), 0);
  memfs::table().failReadAt = memfs::table().reads + 1;
  EXPECT_EQ(cab::isCabinet(h.context, memfs::open("a.cab", 0, 0), &info), 0);
  EXPECT_EQ(h.errors.set, 0);

  EXPECT_EQ(cab::isCabinet(h.context, memfs::open("old.cab", 0, 0), &info), 0);
  EXPECT_EQ(h.errors.code, cab::BadVersion);
  EXPECT_EQ(h.errors.detail, 0x0102);
  EXPECT_EQ(h.errors.set, 1);
}

TEST(Copy, ExtractsStoredFilesAcrossBlocks) {
  Harness h;
  // Small blocks so files start, end and span inside blocks.
  auto files = storedCabinet({{"one.txt", pattern(700, 1)},
                              {"dir\\two.bin", pattern(2500, 2)},
                              {"three", pattern(1, 3)},
                              {"four", pattern(1024, 4)}},
                             1000);
  // A stored checksum of 0 means none: that block is not verified.
  files.cabinet.folders[0].blocks[2].withChecksum = false;
  h.addFile("a.cab", cabtest::build(files.cabinet));
  ASSERT_EQ(h.copy(), 1) << cab::errorName(h.errors.code);
  for (size_t i = 0; i < files.contents.size(); ++i) {
    const Bytes* out = h.output(files.cabinet.files[i].name);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(*out, files.contents[i]) << files.cabinet.files[i].name;
  }
  EXPECT_EQ(h.blockReads(), 5);  // every block once
  EXPECT_EQ(h.errors.set, 0);
  EXPECT_EQ(memfs::table().openCount(), 0);
}

TEST(Copy, SendsTheNotificationsInOrderWithTheirFields) {
  Harness h;
  auto files = storedCabinet({{"run.exe", pattern(100, 1)}, {"b", pattern(50, 2)}});
  files.cabinet.files[0].attributes = 0x41;
  files.cabinet.previous = {"prev.cab", "disk 0"};
  files.cabinet.next = {"next.cab", "disk 2"};
  // The previous cabinet's files are not in this one; its folders would be continued.
  files.cabinet.setId = 9;
  files.cabinet.cabinetIndex = 1;
  h.addFile("dir/a.cab", cabtest::build(files.cabinet));
  ASSERT_EQ(h.copy("a.cab", "dir/"), 1) << cab::errorName(h.errors.code);

  using K = cab::NotificationKind;
  EXPECT_EQ(h.kinds(), (std::vector<int32_t>{K::CabinetOpened, K::ListPosition, K::OpenOutput,
                                             K::OutputComplete, K::OpenOutput,
                                             K::OutputComplete, K::ListPosition}));
  const auto& e = h.events;
  EXPECT_EQ(e[0].text1, "next.cab");
  EXPECT_EQ(e[0].text2, "disk 2");
  EXPECT_EQ(e[0].text3, "dir/");
  EXPECT_EQ(e[0].setId, 9);
  EXPECT_EQ(e[0].cabinetIndex, 1);
  EXPECT_EQ(e[1].folderIndex, 2);  // files remaining
  EXPECT_EQ(e[1].setId, 9);
  EXPECT_EQ(e[2].value, 100);
  EXPECT_EQ(e[2].text1, "run.exe");
  EXPECT_EQ(e[2].text2, "prev.cab");
  EXPECT_EQ(e[2].text3, "disk 0");
  EXPECT_EQ(e[2].attributes, 0x41);
  EXPECT_EQ(e[2].date, 0x5a21);
  EXPECT_EQ(e[2].time, 0x6b4c);
  // Run-after-extraction is reported in value and removed from the attributes.
  EXPECT_EQ(e[3].value, 1);
  EXPECT_EQ(e[3].attributes, 0x01);
  EXPECT_EQ(e[3].text1, "run.exe");
  EXPECT_EQ(e[3].folderIndex, 0);
  EXPECT_EQ(e[5].value, 0);
  EXPECT_EQ(e[6].folderIndex, 0);
  // After the list: then only the one data block (8-byte header, 150 bytes) follows.
  EXPECT_EQ(e[6].value, int32_t(memfs::table().files["dir/a.cab"].size()) - 150 - 8);
}

TEST(Copy, AnswersToTheNotifications) {
  auto files = storedCabinet({{"a", pattern(100, 1)}, {"b", pattern(50, 2)}});
  files.cabinet.files.push_back({"c", 0, 0, 0xfffd});
  Bytes cabinet = cabtest::build(files.cabinet);

  {  // 0 to every OpenOutput lists all files and extracts none.
    Harness h;
    h.addFile("a.cab", cabinet);
    h.answer = [](int32_t, cab::Notification*) { return 0; };
    EXPECT_EQ(h.copy(), 1);
    EXPECT_EQ(h.blockReads(), 0);
    EXPECT_EQ(h.events.size(), 6u);
  }
  // -1 to any kind cancels.
  for (int32_t kind : {cab::CabinetOpened, cab::ContinuedFile, cab::OpenOutput,
                       cab::OutputComplete, cab::ListPosition}) {
    Harness h;
    h.addFile("a.cab", cabinet);
    h.answer = [kind](int32_t k, cab::Notification* n) {
      return k == kind ? -1 : Harness::acceptAll(k, n);
    };
    EXPECT_EQ(h.copy(), 0) << kind;
    EXPECT_EQ(h.errors.code, cab::Cancelled) << kind;
    EXPECT_EQ(h.events.back().kind, kind);
    EXPECT_EQ(memfs::table().openCount(), kind == cab::OutputComplete ? 1 : 0)
        << "only the output handle handed to the callback stays open";
  }
  {  // 0 to OutputComplete fails with code 8 although the bytes were written.
    Harness h;
    h.addFile("a.cab", cabinet);
    h.answer = [](int32_t k, cab::Notification* n) {
      return k == cab::OutputComplete ? 0 : Harness::acceptAll(k, n);
    };
    EXPECT_EQ(h.copy(), 0);
    EXPECT_EQ(h.errors.code, cab::WriteFailed);
    EXPECT_EQ(*h.output("a"), files.contents[0]);
  }
}

TEST(Copy, ZeroLengthFileCompletesAtOnceWithoutDecoding) {
  Harness h;
  auto files = storedCabinet({{"empty", {}}});
  // Its folder's only block is damaged: decoding it would fail.
  files.cabinet.folders[0].blocks.push_back({Bytes{1, 2, 3}, 3, true, 0x1234, {}});
  h.addFile("a.cab", cabtest::build(files.cabinet));
  ASSERT_EQ(h.copy(), 1) << cab::errorName(h.errors.code);
  EXPECT_EQ(h.kinds(), (std::vector<int32_t>{0, 5, 2, 3, 5}));
  EXPECT_EQ(h.output("empty")->size(), 0u);
  EXPECT_EQ(h.blockReads(), 0);
}

TEST(Copy, ContinuedAndOutOfRangeEntriesBeforeAnySwitch) {
  Harness h;
  auto files = storedCabinet({{"a", pattern(10, 1)}});
  files.cabinet.files.push_back({"from-previous", 5, 0, 0xfffd});
  files.cabinet.files.push_back({"both", 5, 0, 0xffff});
  files.cabinet.files.push_back({"beyond", 5, 0, 1});       // folder count is 1
  files.cabinet.files.push_back({"far-beyond", 5, 0, 0xfffb});
  h.addFile("a.cab", cabtest::build(files.cabinet));
  h.answer = [](int32_t k, cab::Notification* n) {
    return k == cab::OpenOutput ? 0 : Harness::acceptAll(k, n);
  };
  ASSERT_EQ(h.copy(), 1);
  std::vector<std::pair<int32_t, std::string>> seen;
  for (const auto& e : h.events) {
    if (e.kind == cab::ContinuedFile || e.kind == cab::OpenOutput) seen.push_back({e.kind, e.text1});
  }
  EXPECT_EQ(seen, (std::vector<std::pair<int32_t, std::string>>{
                      {cab::OpenOutput, "a"},
                      {cab::ContinuedFile, "from-previous"},
                      {cab::ContinuedFile, "both"}}));
}

TEST(Copy, FolderIsDecodedOnceForFilesInOrderAndAgainForAnEarlierOffset) {
  auto files = storedCabinet({{"a", pattern(1500, 1)}, {"b", pattern(1500, 2)},
                              {"c", pattern(1500, 3)}},
                             1000);
  {
    Harness h;
    h.addFile("a.cab", cabtest::build(files.cabinet));
    ASSERT_EQ(h.copy(), 1);
    EXPECT_EQ(h.blockReads(), 5);
  }
  {  // c listed first: a then starts before the block now held.
    Harness h;
    auto& list = files.cabinet.files;
    list = {list[2], list[0], list[1]};
    h.addFile("a.cab", cabtest::build(files.cabinet));
    ASSERT_EQ(h.copy(), 1);
    // c reaches blocks 0-4; a goes back to blocks 0-1; b needs only block 2 more.
    EXPECT_EQ(h.blockReads(), 5 + 2 + 1);
    EXPECT_EQ(*h.output("a"), files.contents[0]);
    EXPECT_EQ(*h.output("b"), files.contents[1]);
    EXPECT_EQ(*h.output("c"), files.contents[2]);
  }
}

TEST(Copy, TwoFoldersAndAnotherCompressionWordOfTheSameMethod) {
  Harness h;
  Cabinet c;
  Bytes first = pattern(300, 1), second = pattern(200, 2);
  c.folders.push_back({0x0000, cabtest::storedBlocks(first), {}, {}, {}});
  // Method 0 with another window parameter: still stored, but another configuration.
  c.folders.push_back({0x0100, cabtest::storedBlocks(second), {}, {}, {}});
  c.files = {{"f0", 300, 0, 0}, {"f1", 200, 0, 1}, {"f0again", 100, 200, 0}};
  h.addFile("a.cab", cabtest::build(c));
  ASSERT_EQ(h.copy(), 1) << cab::errorName(h.errors.code);
  EXPECT_EQ(*h.output("f1"), second);
  EXPECT_EQ(*h.output("f0again"), Bytes(first.begin() + 200, first.end()));
  int bufferAllocations = 0;
  for (int32_t bytes : memfs::table().allocationSizes) bufferAllocations += bytes >= 32768;
  EXPECT_EQ(bufferAllocations, 3 * 2) << "input and output buffer for each change of word";
  EXPECT_EQ(h.blockReads(), 3);
}

TEST(Copy, ReserveAreasReachTheReserveCallback) {
  Harness h;
  auto files = storedCabinet({{"a", pattern(3000, 1)}}, 2000);
  Cabinet& c = files.cabinet;
  c.reserveSizes = true;
  c.headerReserve = {1, 2, 3, 4, 5};
  c.folderReserveBytes = 2;
  c.dataReserveBytes = 3;
  c.folders[0].reserve = {0xf0, 0xf1};
  c.folders[0].blocks[0].reserve = {0xd0, 0xd1, 0xd2};
  c.folders[0].blocks[1].reserve = {0xe0, 0xe1, 0xe2};
  c.setId = 5;
  h.addFile("a.cab", cabtest::build(c));
  // Kind 2 may change the block's data in place before it is decoded.
  h.reserveAnswer = [](cab::ReserveRecord* r) {
    if (r->kind == cab::DataReserve) r->data[0] = 0xaa;
    return 0;
  };
  ASSERT_EQ(h.copy(), 1) << cab::errorName(h.errors.code);
  const auto& r = h.reserveEvents;
  ASSERT_EQ(r.size(), 4u);
  EXPECT_EQ(r[0].kind, cab::HeaderReserve);
  EXPECT_EQ(r[0].area, (Bytes{1, 2, 3, 4, 5}));
  EXPECT_EQ(r[0].setId, 5);
  EXPECT_EQ(r[1].kind, cab::FolderReserve);
  EXPECT_EQ(r[1].area, (Bytes{0xf0, 0xf1}));
  EXPECT_EQ(r[1].folderIndex, 0);
  EXPECT_EQ(r[2].kind, cab::DataReserve);
  EXPECT_EQ(r[2].area, (Bytes{0xd0, 0xd1, 0xd2}));
  EXPECT_EQ(r[2].dataBytes, 2000);
  EXPECT_EQ(r[2].split, 0);
  EXPECT_EQ(r[3].area, (Bytes{0xe0, 0xe1, 0xe2}));
  EXPECT_EQ(r[3].dataBytes, 1000);
  Bytes expected = files.contents[0];
  expected[0] = expected[2000] = 0xaa;
  EXPECT_EQ(*h.output("a"), expected);
}

TEST(Copy, HeaderReserveOfTheLargestSize) {
  // 0xffff bytes: the same value that marks the size as not yet known in a new context.
  Harness h;
  auto files = storedCabinet({{"a", pattern(100, 1)}});
  files.cabinet.reserveSizes = true;
  files.cabinet.headerReserve = pattern(0xffff, 9);
  h.addFile("a.cab", cabtest::build(files.cabinet));
  ASSERT_EQ(h.copy(), 1) << cab::errorName(h.errors.code);
  ASSERT_EQ(h.reserveEvents.size(), 3u);
  EXPECT_EQ(h.reserveEvents[0].area, files.cabinet.headerReserve);
  EXPECT_EQ(*h.output("a"), files.contents[0]);
}

TEST(Copy, ReserveFlagWithZeroSizesBehavesAsNone) {
  auto files = storedCabinet({{"a", pattern(100, 1)}});
  Harness plain;
  plain.addFile("a.cab", cabtest::build(files.cabinet));
  ASSERT_EQ(plain.copy(), 1);
  files.cabinet.reserveSizes = true;
  Harness zero;
  zero.addFile("a.cab", cabtest::build(files.cabinet));
  ASSERT_EQ(zero.copy(), 1) << cab::errorName(zero.errors.code);
  EXPECT_EQ(*zero.output("a"), files.contents[0]);
  ASSERT_EQ(zero.reserveEvents.size(), plain.reserveEvents.size());
  for (const auto& e : zero.reserveEvents) EXPECT_TRUE(e.area.empty());
}

TEST(Copy, ReserveCallbackCancelsAtEachKind) {
  for (int32_t kind : {cab::HeaderReserve, cab::FolderReserve, cab::DataReserve}) {
    Harness h;
    h.addFile("a.cab", cabtest::build(storedCabinet({{"a", pattern(100, 1)}}).cabinet));
    h.reserveAnswer = [kind](cab::ReserveRecord* r) { return r->kind == kind ? -1 : 0; };
    EXPECT_EQ(h.copy(), 0);
    EXPECT_EQ(h.errors.code, cab::Cancelled) << kind;
    EXPECT_EQ(memfs::table().openCount(), 0) << "the output handle is closed on failure";
  }
}

TEST(Copy, NamesOf255CharactersAreAcceptedAnd256Refused) {
  std::string longest(255, 'n');
  {
    Harness h;
    auto files = storedCabinet({{longest, pattern(10, 1)}, {"after", pattern(5, 2)}});
    files.cabinet.next = {longest, longest};
    h.addFile("a.cab", cabtest::build(files.cabinet));
    ASSERT_EQ(h.copy(), 1) << cab::errorName(h.errors.code);
    EXPECT_EQ(h.events[0].text1, longest);
    EXPECT_EQ(*h.output(longest), files.contents[0]);
    EXPECT_EQ(*h.output("after"), files.contents[1]);
  }
  // 256 characters, in a file entry and in the header, and a name cut off by the end of file.
  for (int where = 0; where < 3; ++where) {
    Harness h;
    auto files = storedCabinet({{"a", pattern(10, 1)}});
    if (where == 0) files.cabinet.files[0].name = longest + "x";
    if (where == 1) files.cabinet.previous = {"p", longest + "x"};
    Bytes bytes = cabtest::build(files.cabinet);
    if (where == 2) {
      files.cabinet.folders.clear();
      files.cabinet.files[0].terminated = false;
      bytes = cabtest::build(files.cabinet);
    }
    h.addFile("a.cab", bytes);
    EXPECT_EQ(h.copy(), 0) << where;
    EXPECT_EQ(h.errors.code, cab::Damaged) << where;
  }
}

TEST(Copy, ListPositionAnswersMoveAndShortenTheList) {
  auto files = storedCabinet({{"a", pattern(10, 1)}, {"b", pattern(10, 2)}, {"c", pattern(10, 3)}});
  Bytes cabinet = cabtest::build(files.cabinet);
  auto offered = [](const Harness& h) {
    std::string names;
    for (const auto& e : h.events) names += e.kind == cab::OpenOutput ? e.text1 : "";
    return names;
  };
  {  // Only one file, then again from the first entry with two more.
    Harness h;
    h.addFile("a.cab", cabinet);
    int32_t start = -1;
    int round = 0;
    h.answer = [&](int32_t k, cab::Notification* n) {
      if (k != cab::ListPosition) return int32_t(0);
      if (round == 0) {
        start = n->value;
        n->folderIndex = 1;
      } else if (round == 1) {
        EXPECT_EQ(n->folderIndex, 0);
        n->value = start;
        n->folderIndex = 2;
      }
      ++round;
      return int32_t(0);
    };
    ASSERT_EQ(h.copy(), 1);
    EXPECT_EQ(offered(h), "aab");
  }
  {  // A position the seek refuses cancels.
    Harness h;
    h.addFile("a.cab", cabinet);
    h.answer = [](int32_t k, cab::Notification* n) {
      if (k == cab::ListPosition) n->value = -5;
      return int32_t(0);
    };
    EXPECT_EQ(h.copy(), 0);
    EXPECT_EQ(h.errors.code, cab::Cancelled);
  }
}

TEST(Context, SurvivesFailuresAndReleasesEverything) {
  memfs::table().reset();
  {
    Harness h;
    auto files = storedCabinet({{"a", pattern(100, 1)}});
    h.addFile("a.cab", cabtest::build(files.cabinet));
    EXPECT_EQ(h.copy("missing.cab"), 0);
    EXPECT_EQ(h.errors.code, cab::OpenFailed);
    ASSERT_EQ(h.copy(), 1);
    ASSERT_EQ(h.copy(), 1);
    EXPECT_EQ(h.blockReads(), 2) << "each copy decodes its folder afresh";
    EXPECT_EQ(h.errors.code, cab::OpenFailed) << "the record is never cleared";
    EXPECT_EQ(memfs::table().openCount(), 0);
    EXPECT_EQ(cab::destroy(h.context), 1);
    h.context = nullptr;
    EXPECT_EQ(memfs::table().liveBlocks, 0);
  }
  memfs::table().reset();
  memfs::table().failAllocateAt = 1;
  cab::ErrorRecord errors{};
  EXPECT_EQ(cab::create(memfs::allocate, memfs::release, memfs::open, memfs::read,
                        memfs::write, memfs::close, memfs::seek, &errors),
            nullptr);
  EXPECT_EQ(errors.code, cab::NoMemory);
  EXPECT_EQ(errors.set, 1);
}

TEST(ErrorName, NamesEveryCode) {
  EXPECT_STREQ(cab::errorName(0), "None");
  EXPECT_STREQ(cab::errorName(4), "Damaged");
  EXPECT_STREQ(cab::errorName(11), "Cancelled");
  EXPECT_STREQ(cab::errorName(12), "Unknown");
  EXPECT_STREQ(cab::errorName(-1), "Unknown");
}

}  // namespace
