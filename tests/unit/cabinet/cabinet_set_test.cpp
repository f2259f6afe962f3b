// Folders that continue into the next cabinet of a set.
#include <gtest/gtest.h>

#include "harness.h"

namespace {

using cabtest::Block;
using cabtest::Bytes;
using cabtest::Cabinet;
using cabtest::File;
using cabtest::Harness;
using cabtest::pattern;

Bytes slice(const Bytes& b, size_t from, size_t to) { return Bytes(b.begin() + from, b.begin() + to); }

Block storedBlock(const Bytes& data, uint16_t uncompressedBytes) {
  Block b;
  b.compressed = data;
  b.uncompressedBytes = uncompressedBytes;
  return b;
}

// One folder stream of 250 bytes spread over two cabinets:
//   a.cab: block 0..100, first 30 bytes of the block 100..200 (divided)
//   b.cab: the other 70 bytes of that block, block 200..250
// a.cab lists A 0..100, B 100..140 and D 140..200 (both continuing);
// b.cab lists B and D again, then G 200..250 (continued) and H of its own folder 0.
struct Set {
  Bytes stream = pattern(250, 7);
  Cabinet first, second;

  Set() {
    first.setId = second.setId = 0x4242;
    first.next = {"b.cab", "disk 2"};
    first.folders.push_back({0, {storedBlock(slice(stream, 0, 100), 100),
                                 storedBlock(slice(stream, 100, 130), 0)}, {}, {}, {}});
    first.files = {File{"A", 100, 0, 0}, File{"B", 40, 100, 0xfffe}, File{"D", 60, 140, 0xfffe}};

    second.cabinetIndex = 1;
    second.previous = {"a.cab", "disk 1"};
    second.folders.push_back({0, {storedBlock(slice(stream, 130, 200), 100),
                                  storedBlock(slice(stream, 200, 250), 50)}, {}, {}, {}});
    second.files = {File{"B", 40, 100, 0xfffd}, File{"D", 60, 140, 0xfffd},
                    File{"G", 50, 200, 0xfffd}, File{"H", 10, 0, 0}};
  }
  void install(Harness& h) const {
    h.addFile("set/a.cab", cabtest::build(first));
    h.addFile("set/b.cab", cabtest::build(second));
  }
};

// Answers 0 (skip) to the named files and accepts the rest.
Harness::Answer skipping(std::string skipped) {
  return [skipped](int32_t kind, cab::Notification* n) {
    if (kind == cab::OpenOutput && skipped.find(n->text1) != std::string::npos) return 0;
    return Harness::acceptAll(kind, n);
  };
}

TEST(CabinetSet, FollowsADividedBlockIntoTheNextCabinet) {
  Harness h;
  Set set;
  set.install(h);
  h.answer = skipping("B");  // B continues and is skipped: b.cab lists it first again
  ASSERT_EQ(h.copy("a.cab", "set/"), 1) << cab::errorName(h.errors.code);
  EXPECT_EQ(*h.output("A"), slice(set.stream, 0, 100));
  EXPECT_EQ(h.output("B"), nullptr);
  EXPECT_EQ(*h.output("D"), slice(set.stream, 140, 200));
  EXPECT_EQ(*h.output("G"), slice(set.stream, 200, 250));
  EXPECT_EQ(h.output("H"), nullptr) << "a file of the new cabinet's own folders ends the list";

  std::vector<std::string> seen;
  for (const auto& e : h.events) seen.push_back(std::to_string(e.kind) + e.text1);
  EXPECT_EQ(seen, (std::vector<std::string>{"0b.cab", "5b.cab", "2A", "3A", "2B", "2D",
                                            "4b.cab", "0", "3D", "2G", "3G", "5H"}));
  const auto& need = h.events[6];
  EXPECT_EQ(need.text2, "disk 2");
  EXPECT_EQ(need.text3, "set/");
  EXPECT_EQ(need.setId, 0x4242);
  EXPECT_EQ(need.cabinetIndex, 1);
  EXPECT_EQ(need.errorCode, 0);
  EXPECT_EQ(h.events[7].cabinetIndex, 1);  // b.cab opened
  EXPECT_EQ(h.events[7].text3, "set/");

  // The divided block is reported in two parts, the second holding both.
  std::vector<std::tuple<uint16_t, int32_t, uint16_t>> parts;
  for (const auto& r : h.reserveEvents) {
    if (r.kind == cab::DataReserve) parts.push_back({r.dataBytes, r.split, r.partOffset});
  }
  EXPECT_EQ(parts, (std::vector<std::tuple<uint16_t, int32_t, uint16_t>>{
                       {100, 0, 0}, {30, 1, 0}, {100, 1, 30}, {50, 0, 0}}));
  EXPECT_EQ(memfs::table().openCount(), 0);
}

TEST(CabinetSet, ContinuedEntriesOfTheNextCabinetAreReportedWhenItIsCopiedFirst) {
  Harness h;
  Set set;
  set.install(h);
  set.second.folders[0].blocks.erase(set.second.folders[0].blocks.begin());
  set.second.files = {File{"B", 40, 100, 0xfffd}, File{"H", 50, 0, 0}};
  h.addFile("set/b.cab", cabtest::build(set.second));
  ASSERT_EQ(h.copy("b.cab", "set/"), 1) << cab::errorName(h.errors.code);
  EXPECT_EQ(h.kinds(), (std::vector<int32_t>{0, 5, 1, 2, 3, 5}));
  EXPECT_EQ(h.events[2].text2, "a.cab");
  EXPECT_EQ(h.events[2].text3, "disk 1");
  EXPECT_EQ(*h.output("H"), slice(set.stream, 200, 250));
}

TEST(CabinetSet, NeedNextCabinetIsAskedAgainWithTheFailureUntilAnAttemptSucceeds) {
  Harness h;
  Set set;
  set.install(h);
  // b.cab of another set under the name c.cab, and a b.cab whose layout differs in d.cab.
  Cabinet otherSet = set.second;
  otherSet.setId = 1;
  h.addFile("set/c.cab", cabtest::build(otherSet));
  Cabinet otherLayout = set.second;
  otherLayout.reserveSizes = true;
  otherLayout.dataReserveBytes = 1;
  for (auto& b : otherLayout.folders[0].blocks) b.reserve = {0};
  h.addFile("set/d.cab", cabtest::build(otherLayout));
  Cabinet otherIndex = set.second;
  otherIndex.cabinetIndex = 2;
  h.addFile("set/e.cab", cabtest::build(otherIndex));

  std::vector<std::pair<std::string, int32_t>> asked;
  const char* tries[] = {"missing.cab", "c.cab", "d.cab", "e.cab"};
  h.answer = [&](int32_t kind, cab::Notification* n) {
    if (kind != cab::NeedNextCabinet) return Harness::acceptAll(kind, n);
    asked.push_back({n->text1, n->errorCode});
    if (asked.size() <= 4) {
      std::strcpy(n->text1, tries[asked.size() - 1]);
    } else {
      std::strcpy(n->text1, "b.cab");
    }
    return int32_t(0);
  };
  ASSERT_EQ(h.copy("a.cab", "set/"), 1) << cab::errorName(h.errors.code);
  EXPECT_EQ(asked, (std::vector<std::pair<std::string, int32_t>>{
                       {"b.cab", cab::None},
                       {"missing.cab", cab::OpenFailed},
                       {"c.cab", cab::SetMismatch},
                       {"d.cab", cab::LayoutMismatch},
                       {"e.cab", cab::SetMismatch}}));
  EXPECT_EQ(*h.output("D"), slice(set.stream, 140, 200));
  EXPECT_EQ(memfs::table().openCount(), 0);
}

TEST(CabinetSet, FailuresWhileChangingCabinets) {
  struct Case {
    const char* name;
    std::function<void(Set&, Harness&)> prepare;
    int32_t code;
  } cases[] = {
      {"cancelled", [](Set&, Harness& h) {
         h.answer = [](int32_t k, cab::Notification* n) {
           return k == cab::NeedNextCabinet ? -1 : Harness::acceptAll(k, n);
         };
       }, cab::Cancelled},
      {"next cabinet cancelled when opened", [](Set&, Harness& h) {
         h.answer = [](int32_t k, cab::Notification* n) {
           if (k == cab::CabinetOpened && n->cabinetIndex == 1) return -1;
           return Harness::acceptAll(k, n);
         };
       }, cab::Cancelled},
      {"close fails", [](Set&, Harness&) { memfs::table().failCloseAt = 1; }, cab::Damaged},
      {"no next cabinet named", [](Set& s, Harness& h) {
         s.first.next.reset();
         h.addFile("set/a.cab", cabtest::build(s.first));
       }, cab::Damaged},
      {"second part also undivided size 0", [](Set& s, Harness& h) {
         s.second.folders[0].blocks[0].uncompressedBytes = 0;
         h.addFile("set/b.cab", cabtest::build(s.second));
       }, cab::Damaged},
      {"next cabinet without blocks", [](Set& s, Harness& h) {
         s.second.folders[0].blocks.clear();
         h.addFile("set/b.cab", cabtest::build(s.second));
       }, cab::Damaged},
      {"joined block larger than stated", [](Set& s, Harness& h) {
         s.second.folders[0].blocks[0].uncompressedBytes = 99;
         h.addFile("set/b.cab", cabtest::build(s.second));
       }, cab::DecodeFailed},
  };
  for (const Case& c : cases) {
    Harness h;
    Set set;
    set.install(h);
    set.first.files = {File{"D", 60, 140, 0xfffe}};
    h.addFile("set/a.cab", cabtest::build(set.first));
    c.prepare(set, h);
    // Failed attempts other than cancelling are retried; give up on the second.
    if (c.code != cab::Cancelled) {
      h.answer = [](int32_t k, cab::Notification* n) {
        if (k == cab::NeedNextCabinet && n->errorCode != 0) return -1;
        return Harness::acceptAll(k, n);
      };
    }
    EXPECT_EQ(h.copy("a.cab", "set/"), 0) << c.name;
    int32_t code = h.errors.code;
    for (const auto& e : h.events) {
      if (e.kind == cab::NeedNextCabinet && e.errorCode != 0) code = e.errorCode;
    }
    EXPECT_EQ(code, c.code) << c.name;
    EXPECT_EQ(memfs::table().openCount(), 0) << c.name;
  }
}

TEST(CabinetSet, PathsAboveTheBuffersAreRefused) {
  Harness h;
  Set set;
  std::string path(256, 'p');
  path.back() = '/';
  h.addFile(path + "a.cab", cabtest::build(set.first));
  EXPECT_EQ(h.copy("a.cab", path + "x"), 0) << "path of 257 characters";
  EXPECT_EQ(h.errors.code, cab::OpenFailed);
  EXPECT_EQ(h.copy("a.cab", path), 0) << "path and name of 261 characters";
  EXPECT_EQ(h.errors.code, cab::OpenFailed);
  EXPECT_EQ(h.events.size(), 0u);

  // The callback may name a next cabinet too long for the path: that attempt fails.
  Harness g;
  set.install(g);
  std::vector<int32_t> codes;
  g.answer = [&](int32_t k, cab::Notification* n) {
    if (k != cab::NeedNextCabinet) return Harness::acceptAll(k, n);
    codes.push_back(n->errorCode);
    if (codes.size() == 1) {
      std::memset(n->text1, 'n', 256);  // with "set/", 260 characters
      return int32_t(0);
    }
    return int32_t(-1);
  };
  EXPECT_EQ(g.copy("a.cab", "set/"), 0);
  EXPECT_EQ(codes, (std::vector<int32_t>{cab::None, cab::OpenFailed}));
}

}  // namespace
