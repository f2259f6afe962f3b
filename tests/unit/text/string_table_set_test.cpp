// The table set: lookups in adding order, the language fixed by the first table that
// loads, refusals, and the echo rule for keys nobody answers.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "text/stream_factory.h"
#include "text/string_table.h"
#include "text/string_table_set.h"

namespace text {
namespace {

class StringTableSetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    StringTable sample;
    ASSERT_EQ(set.attachPrototype(&sample), 1);
  }
  int32_t add(const std::string& source, int32_t language) {
    sources.push_back(std::make_unique<std::string>(source));
    MemoryStreamFactory factory({reinterpret_cast<const uint8_t*>(sources.back()->data()),
                                 sources.back()->size()});
    return set.add("TEST\\SET", &factory, language);
  }
  std::vector<std::unique_ptr<std::string>> sources;
  StringTableSet set;
};

TEST_F(StringTableSetTest, FirstTableHoldingTheIdAnswers) {
  ASSERT_EQ(add("a\t5\tfirst five\nb\t6\tsix\n", 3), 2);
  ASSERT_EQ(add("c\t5\tsecond five\nd\t7\tseven\n", 3), 2);
  EXPECT_EQ(set.tableCount(), 2u);
  EXPECT_STREQ(set.lookupById(5), "first five");
  EXPECT_STREQ(set.lookupById(7), "seven");
  EXPECT_EQ(set.lookupById(8), nullptr);
  EXPECT_STREQ(set.lookupByKey("d", LookupNullIfMissing), "seven");
  EXPECT_EQ(set.language(), 3);
}

TEST_F(StringTableSetTest, FailedAddLeavesTheLanguageOpen) {
  EXPECT_EQ(add("no line end", 3), 0);
  EXPECT_EQ(set.language(), 0);
  EXPECT_EQ(add("k\tv\n", 0), 1);
  EXPECT_EQ(set.tableCount(), 1u);
  EXPECT_EQ(set.language(), 0);
  EXPECT_EQ(add("k\tother\n", 3), 0);  // the language is fixed now
  EXPECT_EQ(set.tableCount(), 1u);
}

TEST_F(StringTableSetTest, AnotherLanguageIsRefusedBeforeLoading) {
  ASSERT_EQ(add("k\tv\n", 3), 1);
  EXPECT_EQ(add("j\tw\n", 0), 0);
  EXPECT_EQ(set.lookupByKey("j", LookupNullIfMissing), nullptr);
  EXPECT_EQ(set.language(), 3);
}

TEST_F(StringTableSetTest, ReferenceKeysAreAnsweredByTheFirstTable) {
  ASSERT_EQ(add("a\tfirst\n", 1), 1);
  ASSERT_EQ(add("b\tsecond\n", 1), 1);
  EXPECT_STREQ(set.lookupByKey("\\a\\dflt", LookupNullIfMissing), "first");
  // The first table answers with the default even though the second holds b.
  EXPECT_STREQ(set.lookupByKey("\\b\\dflt", LookupNullIfMissing), "dflt");
}

TEST_F(StringTableSetTest, SecondPrototypeIsRefused) {
  StringTableSet other;
  EXPECT_EQ(set.attachPrototype(&other), 0);  // other's createNew would give null
  EXPECT_EQ(add("k\tv\n", 0), 1);
}

TEST(StringTableSet, WithoutPrototypeNothingIsAdded) {
  StringTableSet set;
  const std::string source = "k\tv\n";
  MemoryStreamFactory factory({reinterpret_cast<const uint8_t*>(source.data()), source.size()});
  EXPECT_EQ(set.add("x", &factory, 0), 0);
  EXPECT_EQ(set.load("x", &factory, 0), 0);
  EXPECT_EQ(set.createNew(), nullptr);
}

TEST(StringTableSet, EmptySetLookups) {
  StringTableSet set;
  EXPECT_EQ(set.lookupById(1), nullptr);
  EXPECT_EQ(set.language(), 0);
  struct Case {
    const char* key;
    int32_t mode;
    int resultOffset;  // offset into the key, or -1 for null
  } cases[] = {
      {"k", LookupEchoKey, 0},
      {"k", LookupNullIfMissing, -1},
      {"KEY\\def", LookupEchoKey, 4},
      {"\\KEY\\def", LookupEchoKey, 5},
      {"\\KEY", LookupEchoKey, 0},  // no backslash past the first character: whole key
      {"", LookupEchoKey, 0},
      {"KEY\\def", LookupNullIfMissing, -1},
  };
  for (const Case& c : cases) {
    const char* expected = c.resultOffset < 0 ? nullptr : c.key + c.resultOffset;
    EXPECT_EQ(set.lookupByKey(c.key, c.mode), expected) << c.key << " mode " << c.mode;
  }
}

}  // namespace
}  // namespace text
