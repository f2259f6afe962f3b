// Placeholder filling: %1 takes the argument, other placeholders a "?", and a lone %
// stays; the buffer is sized exactly.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "text/stream_factory.h"
#include "text/string_table.h"
#include "text/text_helper.h"

namespace text {
namespace {

TEST(FillPlaceholders, Table) {
  struct Case {
    const char* text;
    const char* argument;
    const char* result;
  } cases[] = {
      {"Install to %1?", "C:\\Game", "Install to C:\\Game?"},
      {"%1 and %2", "X", "X and ?"},
      {"%1%1", "X", "XX"},
      {"%Z%9", "X", "??"},
      {"100%", "X", "100%"},
      {"%%1", "X", "%X"},
      {"%a", "X", "%a"},
      {"Path: %1", nullptr, "Path: "},
      {"Path: %1", "", "Path: "},
      {"%0%", "X", "%0%"},
      {"%1", "%2 stays", "%2 stays"},  // the argument is not scanned again
      {"", "X", ""},
  };
  for (const Case& c : cases) {
    const size_t length = TextHelper::fillPlaceholders(c.text, c.argument, nullptr);
    std::string out(length + 1, '\xEE');
    EXPECT_EQ(TextHelper::fillPlaceholders(c.text, c.argument, out.data()), length);
    EXPECT_EQ(out[length], '\0');
    EXPECT_STREQ(out.c_str(), c.result) << c.text;
  }
}

TEST(FormatText, LooksUpTheTextAndAllocatesExactly) {
  const std::string source = "msg\t12\tCopy %1 now (%2)\n";
  MemoryStreamFactory factory({reinterpret_cast<const uint8_t*>(source.data()), source.size()});
  StringTable table;
  ASSERT_EQ(table.load("x", &factory, 0), 1);
  TextHelper helper(&table);

  char* out = nullptr;
  ASSERT_EQ(helper.formatText(&out, 12, "file"), 1);
  std::unique_ptr<char[]> owned(out);
  EXPECT_STREQ(out, "Copy file now (?)");

  char* missing = nullptr;
  EXPECT_EQ(helper.formatText(&missing, 13, "file"), 0);
  std::unique_ptr<char[]> ownedMissing(missing);
  ASSERT_NE(missing, nullptr);
  EXPECT_STREQ(missing, "");

  EXPECT_EQ(helper.formatText(nullptr, 12, "file"), 0);
}

}  // namespace
}  // namespace text
