// The Quantum decompressor: its interface, hand-traced blocks, and blocks of chosen items.
#include <gtest/gtest.h>

#include <string>

#include "cabinet/quantum_model.h"
#include "pack/quantum_block_writer.h"
#include "quantum_test_support.h"

namespace {

using namespace quantum_test;
using Bytes = std::vector<uint8_t>;

class QuantumDecoder : public testing::Test {
 protected:
  void SetUp() override {
    liveBlocks = 0;
    allocationsLeft = -1;
  }
  void TearDown() override { EXPECT_EQ(liveBlocks, 0) << "allocations not released"; }
};

Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

// --- create, size query, handles ---

TEST_F(QuantumDecoder, WindowBitsOutside10To21AreRefusedEvenForASizeQuery) {
  for (uint32_t windowBits : {0u, 9u, 22u, 32u}) {
    SCOPED_TRACE(windowBits);
    uint32_t limit = 32768, need = 0;
    EXPECT_EQ(quantum::create(&limit, windowBits, nullptr, nullptr, &need, nullptr), cab::BadWindow);
    void* handle = &limit;
    EXPECT_EQ(quantum::create(&limit, windowBits, countingAllocate, countingRelease, &need, &handle),
              cab::BadWindow);
  }
  EXPECT_EQ(liveBlocks, 0);
}

TEST_F(QuantumDecoder, SizeQueryAdjustsTheBlockLimitAndReportsTheBufferNeed) {
  struct Row {
    uint32_t limitIn, limitOut, need;
  };
  const Row rows[] = {{0, 32768, 43008},     {1, 1, 10241},          {20000, 20000, 30240},
                      {32768, 32768, 43008}, {32769, 32768, 43008},  {0xFFFFFFFF, 32768, 43008}};
  for (uint32_t windowBits : {10u, 21u}) {
    for (const Row& row : rows) {
      SCOPED_TRACE(row.limitIn);
      uint32_t limit = row.limitIn, need = 0;
      EXPECT_EQ(quantum::create(&limit, windowBits, nullptr, nullptr, &need, nullptr), cab::Ok);
      EXPECT_EQ(limit, row.limitOut);
      EXPECT_EQ(need, row.need);
    }
  }
  EXPECT_EQ(liveBlocks, 0);
}

TEST_F(QuantumDecoder, FailedAllocationReleasesWhatWasTaken) {
  for (int succeeding : {0, 1}) {  // the context fails, or the window
    SCOPED_TRACE(succeeding);
    allocationsLeft = succeeding;
    uint32_t limit = 0, need = 0;
    void* handle = &limit;
    EXPECT_EQ(quantum::create(&limit, 15, countingAllocate, countingRelease, &need, &handle),
              cab::OutOfMemory);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(liveBlocks, 0);
  }
}

TEST_F(QuantumDecoder, OperationsCheckTheTag) {
  uint32_t notAContext[8] = {0x43494450};  // one off "QDIC"
  uint8_t output[4];
  uint32_t size = 4;
  const uint8_t input[4] = {};
  for (void* handle : {static_cast<void*>(notAContext), static_cast<void*>(nullptr)}) {
    EXPECT_EQ(quantum::decompress(handle, input, 4, output, &size), cab::BadHandle);
    EXPECT_EQ(quantum::reset(handle), cab::BadHandle);
    EXPECT_EQ(quantum::destroy(handle), cab::BadHandle);
  }
  Session session(15);
  ASSERT_EQ(session.result, cab::Ok);
  EXPECT_EQ(*static_cast<uint32_t*>(session.handle), 0x43494451u);  // "QDIC"
}

TEST_F(QuantumDecoder, WantedSizeAboveTheBlockLimitIsBadSize) {
  Session session(12, 100);
  ASSERT_EQ(session.result, cab::Ok);
  Bytes output;
  EXPECT_EQ(session.decode(Bytes{0, 0}, 101, output), cab::BadSize);
  EXPECT_EQ(session.decode(Bytes{0, 0}, 0, output), cab::Ok);
}

TEST_F(QuantumDecoder, ASecondContextTakesTheStateOverAndTheFirstCanOnlyBeDestroyed) {
  Session first(10);
  Session second(12);
  ASSERT_EQ(first.result, cab::Ok);
  ASSERT_EQ(second.result, cab::Ok);
  EXPECT_EQ(liveBlocks, 3);  // the first window went back with the takeover
  Bytes output;
  EXPECT_EQ(first.decode(Bytes{0, 0}, 0, output), cab::BadHandle);
  EXPECT_EQ(quantum::reset(first.handle), cab::BadHandle);
  EXPECT_EQ(quantum::destroy(first.handle), cab::Ok);
  first.handle = nullptr;
  EXPECT_EQ(second.decode(Bytes{0, 0}, 0, output), cab::Ok);
}

// --- blocks traced by hand ---

TEST_F(QuantumDecoder, ZeroByteRequestStillReadsTheFirst16Bits) {
  Session session(16);
  ASSERT_EQ(session.result, cab::Ok);
  Bytes output;
  EXPECT_EQ(session.decode(Bytes{0x12, 0x34}, 0, output), cab::Ok);
  EXPECT_EQ(session.decode(Bytes{0x12}, 0, output), cab::DataError);
  EXPECT_EQ(session.decode(Bytes{}, 0, output), cab::DataError);
}

// All-zero bits give target 0 everywhere, so every symbol is a model's last entry: selector
// 6, length slot 26 (259 bytes, no extra bits), the last position slot. Bits: 16 for the
// register, 2 + 5 renormalising shifts, then 4 (window 10) or 5 (window 21) shifts and the
// slot's 8 or 19 extra bits. The match reads the cleared window.
TEST_F(QuantumDecoder, AllZeroBitsDecodeAsOneLongMatch) {
  struct Row {
    uint32_t windowBits;
    size_t enoughBytes;  // 35 or 47 bits rounded up
  };
  for (const Row& row : {Row{10, 5}, Row{21, 6}}) {
    SCOPED_TRACE(row.windowBits);
    Bytes output;
    {
      Session session(row.windowBits);
      ASSERT_EQ(session.decode(Bytes(row.enoughBytes, 0), 259, output), cab::Ok);
      EXPECT_EQ(output, Bytes(259, 0));
    }
    {
      Session session(row.windowBits);
      EXPECT_EQ(session.decode(Bytes(row.enoughBytes - 1, 0), 259, output), cab::DataError);
    }
    {
      // The match is one byte longer than wanted: nothing of it is written.
      Session session(row.windowBits);
      EXPECT_EQ(session.decode(Bytes(row.enoughBytes, 0), 258, output), cab::DataError);
      EXPECT_EQ(output, Bytes(258, 0xAA));
    }
  }
}

// All-one bits: selector 0 after 2 shifts, then symbol 0 of literal model 0 after 6 more;
// 24 bits in all. With 16 bits the item still finishes, on zero bits, and then fails.
TEST_F(QuantumDecoder, AllOneBitsDecodeAsTheLiteralZero) {
  Session session(10);
  Bytes output;
  EXPECT_EQ(session.decode(Bytes{0xFF, 0xFF, 0xFF}, 1, output), cab::Ok);
  EXPECT_EQ(output, Bytes{0x00});
  EXPECT_EQ(session.decode(Bytes{0xFF, 0xFF}, 1, output), cab::DataError);
}

// --- blocks of chosen items ---

// Writes items with models that track the decoder's from its creation or last reset.
class ItemBlocks {
 public:
  explicit ItemBlocks(uint32_t windowBits) { models_.setUp(windowBits); }

  struct Item {
    uint32_t lengthBytes;  // 0: literal
    uint32_t distanceOrByte;
  };

  Bytes block(std::initializer_list<Item> items) {
    pack::QuantumBlockWriter writer(models_);
    for (const Item& item : items) {
      if (item.lengthBytes == 0) {
        writer.literal(static_cast<uint8_t>(item.distanceOrByte));
      } else {
        writer.match(item.lengthBytes, item.distanceOrByte);
      }
    }
    Bytes out;
    writer.finish(out);
    return out;
  }

  Bytes literals(const Bytes& bytes) {
    pack::QuantumBlockWriter writer(models_);
    for (uint8_t byte : bytes) writer.literal(byte);
    Bytes out;
    writer.finish(out);
    return out;
  }

  quantum::QuantumModelSet& models() { return models_; }

 private:
  quantum::QuantumModelSet models_;
};

ItemBlocks::Item lit(char byte) { return {0, static_cast<uint8_t>(byte)}; }
ItemBlocks::Item copy(uint32_t length, uint32_t distance) { return {length, distance}; }

TEST_F(QuantumDecoder, DistanceOneRepeatsThePreviousByte) {
  Session session(10);
  ItemBlocks items(10);
  Bytes output;
  ASSERT_EQ(session.decode(items.block({lit('q'), copy(3, 1), copy(4, 1), copy(259, 1)}), 267, output),
            cab::Ok);
  EXPECT_EQ(output, Bytes(267, 'q'));
}

TEST_F(QuantumDecoder, MatchLongerThanTheBytesStillWantedWritesNothing) {
  Session session(12);
  ItemBlocks items(12);
  Bytes output;
  EXPECT_EQ(session.decode(items.block({lit('a'), lit('b'), lit('c'), copy(4, 3)}), 6, output),
            cab::DataError);
  EXPECT_EQ(output, (Bytes{'a', 'b', 'c', 0xAA, 0xAA, 0xAA}));
}

// Writes and match sources that pass the window's end go on at its start. Window of 1024.
TEST_F(QuantumDecoder, WritesAndMatchSourcesWrapAroundTheWindow) {
  Session session(10);
  ItemBlocks items(10);
  Bytes history;
  for (int i = 0; i < 1000; ++i) history.push_back(static_cast<uint8_t>(i * 7 % 251));
  Bytes output;
  ASSERT_EQ(session.decode(items.literals(history), 1000, output), cab::Ok);
  ASSERT_EQ(output, history);

  // Written at 1000 to 1099: the write wraps. Then sources at 1000 (wrapping) and at the
  // oldest byte the window holds (distance 1024).
  const ItemBlocks::Item matches[] = {copy(100, 500), copy(100, 100), copy(259, 1024)};
  Bytes expected = history;
  for (const ItemBlocks::Item& match : matches) {
    for (uint32_t k = 0; k < match.lengthBytes; ++k) {
      expected.push_back(expected[expected.size() - match.distanceOrByte]);
    }
  }
  ASSERT_EQ(session.decode(items.block({matches[0], matches[1], matches[2]}), 459, output), cab::Ok);
  EXPECT_EQ(output, Bytes(expected.begin() + 1000, expected.end()));
}

TEST_F(QuantumDecoder, ResetStartsTheModelsAfreshButKeepsTheWindowBytes) {
  Session session(10);
  ItemBlocks items(10);
  const Bytes first = items.literals(bytesOf("ABCDEFGHIJ"));
  Bytes output;
  ASSERT_EQ(session.decode(first, 10, output), cab::Ok);
  // The same block again means other symbols to models that moved on.
  ASSERT_EQ(session.decode(first, 10, output), cab::Ok);
  EXPECT_NE(output, bytesOf("ABCDEFGHIJ"));

  ASSERT_EQ(quantum::reset(session.handle), cab::Ok);
  ASSERT_EQ(session.decode(first, 10, output), cab::Ok);
  EXPECT_EQ(output, bytesOf("ABCDEFGHIJ"));

  // After a reset the total starts at 0 again, but distances are not held against it: 1022
  // back from the window's start is offset 2, where "CDEFG" still stands.
  ASSERT_EQ(quantum::reset(session.handle), cab::Ok);
  ItemBlocks fresh(10);
  ASSERT_EQ(session.decode(fresh.block({copy(5, 1022)}), 5, output), cab::Ok);
  EXPECT_EQ(output, bytesOf("CDEFG"));
}

// Every coder bit after the last item is still read: a block one byte short produces all its
// bytes and yet fails.
TEST_F(QuantumDecoder, RenormalisingBeyondTheBlocksLastByteFails) {
  ItemBlocks items(10);
  Bytes block = items.literals(bytesOf("zz"));
  block.pop_back();
  Session session(10);
  Bytes output;
  EXPECT_EQ(session.decode(block, 2, output), cab::DataError);
  EXPECT_EQ(output, bytesOf("zz"));
}

}  // namespace
