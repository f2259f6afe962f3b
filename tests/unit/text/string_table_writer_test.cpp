// The string-table writer against the loader: random rows of any bytes come back exactly,
// plain and scrambled; rows the format cannot carry are refused.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <unistd.h>

#include "pack/string_table_writer.h"
#include "text/stream_factory.h"
#include "text/string_table.h"

namespace {

using pack::StringRow;
using text::LookupNullIfMissing;
using text::StringTable;

std::span<const uint8_t> bytesOf(const std::string& s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

// Bytes drawn half from the ones the format treats specially, half from all of 1..255.
class RowMaker {
 public:
  explicit RowMaker(uint32_t seed) : random_(seed) {}

  std::string bytes(size_t maxLength, bool forKey) {
    static const std::string specials = "\\\t\r\nx0179%RCNE\x7f\x80\xff";
    std::string out;
    const size_t length = std::uniform_int_distribution<size_t>(0, maxLength)(random_);
    while (out.size() < length) {
      char c = coin()
                   ? specials[std::uniform_int_distribution<size_t>(0, specials.size() - 1)(random_)]
                   : static_cast<char>(std::uniform_int_distribution<int>(1, 255)(random_));
      if (forKey && (c == '\t' || c == '\r' || c == '\n')) continue;
      out += c;
    }
    return out;
  }

  std::vector<StringRow> rows() {
    std::vector<StringRow> rows;
    std::set<std::string> keys;
    std::set<int32_t> ids;
    const size_t count = std::uniform_int_distribution<size_t>(1, 20)(random_);
    while (rows.size() < count) {
      StringRow row;
      row.key = coin() && rows.empty() ? "RCNE" + bytes(4, true) : bytes(12, true);
      if (!keys.insert(row.key).second) continue;
      if (std::uniform_int_distribution<int>(0, 4)(random_) != 0) {
        int32_t id = static_cast<int32_t>(random_());
        if (coin()) id = std::uniform_int_distribution<int32_t>(-3, 3)(random_);
        if (!ids.insert(id).second) continue;
        row.id = id;
      }
      row.text = bytes(40, false);
      rows.push_back(std::move(row));
    }
    return rows;
  }

 private:
  bool coin() { return std::uniform_int_distribution<int>(0, 1)(random_) != 0; }
  std::mt19937 random_;
};

// Every row must be reachable by its id and, unless the key has the reference form that
// lookups treat specially, by its key.
void expectRowsBack(const StringTable& table, const std::vector<StringRow>& rows) {
  ASSERT_EQ(table.entryCount(), rows.size());
  for (const StringRow& row : rows) {
    if (row.id) {
      const char* text = table.lookupById(*row.id);
      ASSERT_NE(text, nullptr);
      EXPECT_EQ(std::string(text), row.text);
    }
    const bool referenceForm = !row.key.empty() && row.key[0] == '\\' &&
                               row.key.find('\\', 1) != std::string::npos;
    if (!referenceForm) {
      const char* text = table.lookupByKey(row.key.c_str(), LookupNullIfMissing);
      ASSERT_NE(text, nullptr) << row.key;
      EXPECT_EQ(std::string(text), row.text);
    }
  }
}

TEST(StringTableWriter, RandomRowsRoundTripThroughTheLoader) {
  RowMaker maker(20261211);
  for (int round = 0; round < 400; ++round) {
    const std::vector<StringRow> rows = maker.rows();
    for (bool scrambled : {false, true}) {
      const std::string written = pack::writeStringTable(rows, scrambled);
      EXPECT_EQ(written.compare(0, 4, "RCNE") == 0, scrambled);
      text::MemoryStreamFactory factory(bytesOf(written));
      StringTable table;
      ASSERT_EQ(table.load("x", &factory, -1), int32_t(rows.size())) << "round " << round;
      expectRowsBack(table, rows);
      if (HasFatalFailure()) return;
    }
  }
}

TEST(StringTableWriter, RoundTripsThroughAFile) {
  const std::vector<StringRow> rows = {
      {"INSTALL_DIR", 0x3000, "C:\\Program Files\\Game\\"},
      {"", std::nullopt, ""},
      {"tabs", -5, "a\tb\r\nc"},
      {"\\ref\\x", 7, "\\101 \\x41 %1"},
  };
  const auto path = std::filesystem::temp_directory_path() /
                    ("text_writer_" + std::to_string(::getpid()) + ".tab");
  std::ofstream(path, std::ios::binary) << pack::writeStringTable(rows, true);
  text::FileStreamFactory factory;
  StringTable table;
  EXPECT_EQ(table.load(path.string().c_str(), &factory, -1), 4);
  std::filesystem::remove(path);
  expectRowsBack(table, rows);
}

TEST(StringTableWriter, PlainOutputIsReadable) {
  const std::vector<StringRow> rows = {{"a", std::nullopt, "one"}, {"b", 7, "x\\y"}};
  EXPECT_EQ(pack::writeStringTable(rows, false), "a\tone\nb\t7\tx\\\\y\n");
  EXPECT_EQ(pack::writeStringTable({}, true), "RCNE");
  // A plain table whose first key starts with the tag must not pass for a scrambled one.
  EXPECT_EQ(pack::writeStringTable({{"RCNEkey", std::nullopt, "v"}}, false), "\nRCNEkey\tv\n");
}

TEST(StringTableWriter, RefusesRowsTheFormatCannotCarry) {
  const std::vector<StringRow> bad[] = {
      {{"a\tb", std::nullopt, "v"}},
      {{"a\rb", std::nullopt, "v"}},
      {{"a\nb", std::nullopt, "v"}},
      {{std::string("a\0b", 3), std::nullopt, "v"}},
      {{"ok", std::nullopt, "fine"}, {"k", 1, std::string("t\0u", 3)}},
  };
  for (const auto& rows : bad) {
    EXPECT_THROW(pack::writeStringTable(rows, true), pack::StringTableError);
  }
}

}  // namespace
