// The string-table loader: line and field rules, identifiers, escapes, scrambling,
// lookups by id and key, the reference form, and refusals.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "text/stream_factory.h"
#include "text/string_table.h"

namespace text {
namespace {

std::span<const uint8_t> bytesOf(const std::string& s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

// Loads `source` as the plain bytes of a stream.
int32_t loadFrom(StringTable& table, const std::string& source, int32_t language = -1) {
  MemoryStreamFactory factory(bytesOf(source));
  return table.load("TEST\\TABLE", &factory, language);
}

std::string scrambled(const std::string& text) {
  std::string out = "RCNE";
  for (char c : text) out += static_cast<char>(c ^ 0x6B);
  return out;
}

TEST(StringTableLoad, LinesFieldsAndLineEnds) {
  StringTable table;
  ASSERT_EQ(loadFrom(table, "a\tone\r\nb\t7\ttwo\r\n", 4), 2);
  EXPECT_STREQ(table.lookupByKey("a", LookupNullIfMissing), "one");
  EXPECT_STREQ(table.lookupByKey("b", LookupNullIfMissing), "two");
  EXPECT_STREQ(table.lookupById(7), "two");
  EXPECT_EQ(table.lookupById(0), nullptr);
  EXPECT_EQ(table.language(), 4);
  EXPECT_TRUE(table.isLoaded());
}

TEST(StringTableLoad, WhatCountsAsALine) {
  using namespace std::string_literals;
  struct Case {
    std::string source;
    int32_t entries;
  } cases[] = {
      {"a\tone", 0},                               // no line end: nothing
      {"a\tone\nb\ttwo", 1},                      // last line dropped
      {"no tab\nk\t\n\n\r\r\nk\tv\n", 1},          // no TAB, empty text, blank lines
      {"\tempty key\n", 1},
      {"k\tx\rl\ty\r", 2},                         // CR alone ends lines too
      {"", 0},
      {"\n\n", 0},
      {"a\tone\n\0b\ttwo\n"s, 1},                  // a NUL byte ends the text
  };
  for (const Case& c : cases) {
    StringTable table;
    EXPECT_EQ(loadFrom(table, c.source), c.entries) << c.source;
    EXPECT_EQ(table.isLoaded(), c.entries > 0) << c.source;
    if (c.entries == 0) EXPECT_EQ(table.language(), 0);
  }
}

TEST(StringTableLoad, EmptyKeyAndExtraFields) {
  StringTable table;
  ASSERT_EQ(loadFrom(table, "\tempty key\nk\t1\tmid\tlast\nz\t\ttext\n"), 3);
  EXPECT_STREQ(table.lookupByKey("", LookupNullIfMissing), "empty key");
  EXPECT_STREQ(table.lookupByKey("k", LookupNullIfMissing), "last");
  EXPECT_STREQ(table.lookupById(1), "last");
  EXPECT_STREQ(table.lookupById(0), "text");  // an empty identifier field is 0
}

TEST(StringTableLoad, LaterLinesWinForKeysAndIds) {
  StringTable table;
  ASSERT_EQ(loadFrom(table, "k\t5\tfirst\nk\tsecond\nj\t5\tthird\n"), 3);
  EXPECT_STREQ(table.lookupByKey("k", LookupNullIfMissing), "second");
  EXPECT_STREQ(table.lookupById(5), "third");
  EXPECT_EQ(table.entryCount(), 3u);
}

TEST(StringTableIds, DecimalAndLowerCaseHex) {
  struct Case {
    const char* field;
    int32_t id;
  } cases[] = {
      {"0x3000", 12288}, {"0X10", 0},      {"-5", -5},       {"", 0},
      {"abc", 0},        {"0x", 0},        {"0xg", 0},       {"0xFFffFFff", -1},
      {"12abc", 12},     {" 42", 42},      {"0x7fffffff", INT32_MAX},
      {"-2147483648", INT32_MIN},          {"0x0x1f", 31},   {"010", 10},
  };
  for (const Case& c : cases) EXPECT_EQ(StringTable::parseId(c.field), c.id) << c.field;
}

std::string decoded(const std::string& field) {
  std::string buffer = field;
  int32_t length = StringTable::decodeEscapes(buffer.data());
  return buffer.substr(0, size_t(length));
}

TEST(StringTableEscapes, DecodeTable) {
  struct Case {
    std::string field, result;
  } cases[] = {
      {"a\\tb", "a\tb"},
      {"\\q", "q"},
      {"\\", ""},
      {"\\x41", "A"},
      {"\\X4a", "J"},
      {"\\101", "A"},
      {"\\x4g", std::string("\x04g")},
      {"\\xag", std::string("\x0Ag")},
      {"\\xg", "xg"},
      {"\\x", "x"},
      {"ab\\000cd", std::string("ab\0cd", 5)},
      {"\\400", std::string(1, '\0')},
      {"\\777", "\xFF"},
      {"\\9ab", std::string(1, char(((9u << 6) | (49u << 3) | 50u) & 0xFF))},
      {"\\\"\\'\\?\\\\", "\"'?\\"},
      {"\\a\\b\\f\\n\\r\\v", "\a\b\f\n\r\v"},
      {"\\\\n", "\\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(decoded(c.field), c.result) << c.field;
}

// A digit escape cut short by the end of the text must not read past the terminator;
// the backslash is dropped and the rest copied.
TEST(StringTableEscapes, NumericEscapeAtTheEndStaysInsideTheText) {
  struct Case {
    const char* field;
    const char* result;
  } cases[] = {{"a\\1", "a1"}, {"a\\12", "a12"}, {"\\7", "7"}, {"\\x4", "\x04"}};
  for (const Case& c : cases) {
    // Exactly sized heap copies, so that AddressSanitizer sees any read past the NUL.
    const size_t bytes = std::strlen(c.field) + 1;
    std::unique_ptr<char[]> buffer(new char[bytes]);
    std::memcpy(buffer.get(), c.field, bytes);
    int32_t length = StringTable::decodeEscapes(buffer.get());
    EXPECT_EQ(std::string(buffer.get(), size_t(length)), c.result) << c.field;
  }
}

TEST(StringTableEscapes, StoredTextEndsAtADecodedNul) {
  StringTable table;
  ASSERT_EQ(loadFrom(table, "k\tab\\000cd\nlone\t\\\n"), 2);
  EXPECT_STREQ(table.lookupByKey("k", LookupNullIfMissing), "ab");
  EXPECT_STREQ(table.lookupByKey("lone", LookupNullIfMissing), "");
}

TEST(StringTableScrambled, TaggedSourcesAreUnscrambled) {
  StringTable table;
  ASSERT_EQ(loadFrom(table, scrambled("k\t0x3000\tvalue\r\n")), 1);
  EXPECT_STREQ(table.lookupById(0x3000), "value");

  StringTable tagOnly;
  EXPECT_EQ(loadFrom(tagOnly, "RCNE"), 0);
  EXPECT_FALSE(tagOnly.isLoaded());

  StringTable shortSource;  // fewer than 4 bytes is plain
  EXPECT_EQ(loadFrom(shortSource, "k\tv\n"), 1);
}

TEST(StringTableLookup, KeysAreExactAndCaseSensitive) {
  StringTable table;
  ASSERT_EQ(loadFrom(table, "Key\tvalue\n"), 1);
  EXPECT_STREQ(table.lookupByKey("Key", LookupEchoKey), "value");
  const char* key = "key";
  EXPECT_EQ(table.lookupByKey(key, LookupEchoKey), key);
  EXPECT_EQ(table.lookupByKey(key, LookupNullIfMissing), nullptr);
  EXPECT_EQ(table.lookupByKey("Key ", LookupNullIfMissing), nullptr);
}

TEST(StringTableLookup, ReferenceForm) {
  StringTable table;
  ASSERT_EQ(loadFrom(table, "Key\tvalue\nA\ta-text\n\\Key\twhole\n"), 3);
  struct Case {
    const char* key;
    const char* result;
  } cases[] = {
      {"\\Key\\fallback", "value"},
      {"\\Missing\\x", "x"},
      {"\\A\\B\\C", "a-text"},
      {"\\Z\\B\\C", "B\\C"},
      {"\\Key", "whole"},  // no second backslash: looked up whole
      {"\\\\", ""},        // empty key, missing: the empty default
  };
  for (const Case& c : cases) {
    EXPECT_STREQ(table.lookupByKey(c.key, LookupNullIfMissing), c.result) << c.key;
  }
  const char* key = "\\Missing\\dflt";
  EXPECT_EQ(table.lookupByKey(key, LookupNullIfMissing), key + 9);  // inside the caller's key
}

TEST(StringTableLookup, NothingBeforeLoad) {
  StringTable table;
  EXPECT_EQ(table.lookupById(0), nullptr);
  EXPECT_EQ(table.lookupByKey("k", LookupEchoKey), nullptr);
  EXPECT_EQ(table.lookupByKey("\\k\\d", LookupEchoKey), nullptr);
  EXPECT_EQ(table.language(), 0);
}

TEST(StringTableLoad, ASecondLoadIsRefused) {
  StringTable table;
  ASSERT_EQ(loadFrom(table, "k\tfirst\n", 2), 1);
  EXPECT_EQ(loadFrom(table, "k\tsecond\nj\tmore\n", 3), 0);
  EXPECT_STREQ(table.lookupByKey("k", LookupNullIfMissing), "first");
  EXPECT_EQ(table.lookupByKey("j", LookupNullIfMissing), nullptr);
  EXPECT_EQ(table.language(), 2);
}

// Streams that misbehave in the ways a loader must survive.
class FaultyStream : public MemoryStream {
 public:
  enum Fault { FailOpen, ShortRead, FailSeek };
  FaultyStream(std::span<const uint8_t> source, Fault fault) : MemoryStream(source), fault_(fault) {}
  int32_t open(const char* name, uint32_t flags) override {
    return fault_ == FailOpen ? 0 : MemoryStream::open(name, flags);
  }
  int32_t read(void* dst, uint32_t recordBytes, uint32_t count) override {
    if (fault_ != ShortRead) return MemoryStream::read(dst, recordBytes, count);
    std::memset(dst, 'k', recordBytes / 2);  // part of the record arrives
    return 0;
  }
  int32_t seek(int32_t offset, int32_t origin) override {
    return fault_ == FailSeek ? 1 : MemoryStream::seek(offset, origin);
  }

 private:
  Fault fault_;
};

class FaultyFactory : public StreamFactory {
 public:
  FaultyFactory(std::span<const uint8_t> source, FaultyStream::Fault fault, bool noStream = false)
      : source_(source), fault_(fault), noStream_(noStream) {}
  ByteStream* createStream() override {
    return noStream_ ? nullptr : new FaultyStream(source_, fault_);
  }
  StreamFactory* clone() override { return new FaultyFactory(source_, fault_, noStream_); }

 private:
  std::span<const uint8_t> source_;
  FaultyStream::Fault fault_;
  bool noStream_;
};

TEST(StringTableLoad, StreamFailuresLeaveTheTableEmpty) {
  const std::string source = "k\tv\nj\tw\n";
  FaultyFactory factories[] = {
      {bytesOf(source), FaultyStream::FailOpen},
      {bytesOf(source), FaultyStream::ShortRead},
      {bytesOf(source), FaultyStream::FailSeek},
      {bytesOf(source), FaultyStream::FailOpen, true},
  };
  for (FaultyFactory& factory : factories) {
    StringTable table;
    EXPECT_EQ(table.load("x", &factory, 1), 0);
    EXPECT_FALSE(table.isLoaded());
    EXPECT_EQ(table.entryCount(), 0u);
  }
  StringTable table;
  EXPECT_EQ(table.load("x", nullptr, 1), 0);
}

TEST(StringTable, CreateNewGivesAnEmptyTable) {
  StringTable table;
  ASSERT_EQ(loadFrom(table, "k\tv\n"), 1);
  std::unique_ptr<TextSource> fresh(table.createNew());
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(fresh->lookupByKey("k", LookupNullIfMissing), nullptr);
  EXPECT_EQ(fresh->language(), 0);
}

}  // namespace
}  // namespace text
