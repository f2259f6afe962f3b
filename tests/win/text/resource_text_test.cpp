// Resource streams over this program's own resources, string tables loaded from them,
// and the window calls of TextHelper on a real dialog and a stand-in message box.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "text/resource_stream.h"
#include "text/stream_factory.h"
#include "text/string_table.h"
#include "text/text_helper.h"
#include "text_test_ids.h"

namespace text {
namespace {

TEST(ResourceStream, ReadsACopyOfTheResource) {
  ResourceStream stream;
  ASSERT_EQ(stream.open("TESTDATA\\TEN", 0x201), 1);
  EXPECT_EQ(stream.seek(0, OriginEnd), 0);
  EXPECT_EQ(stream.tell(), 10);
  EXPECT_EQ(stream.seek(1, OriginEnd), 1);
  EXPECT_EQ(stream.seek(-4, OriginEnd), 0);
  uint8_t dst[12] = {};
  EXPECT_EQ(stream.read(dst, 4, 3), 1);
  const uint8_t expected[4] = {6, 7, 8, 9};
  EXPECT_EQ(std::memcmp(dst, expected, 4), 0);
  EXPECT_EQ(stream.read(dst, 4, 3), 0);
  EXPECT_EQ(stream.write(dst, 1, 1), 0);
  EXPECT_EQ(stream.open("TESTDATA\\TEN", OpenRead), 0);  // already open
  stream.close();
  EXPECT_EQ(stream.tell(), -1);
}

TEST(ResourceStream, RefusesWhatItCannotOpen) {
  const std::string longest = "TESTDATA\\" + std::string(246, 'L');
  ASSERT_EQ(longest.size(), ResourceStream::MaxNameChars);
  struct Case {
    std::string name;
    uint32_t flags;
    int32_t result;
  } cases[] = {
      {"TESTDATA\\TEN", OpenWrite, 0},
      {"TESTDATA\\TEN", OpenWrite | OpenKeep | OpenText, 0},
      {"TESTDATA\\TEN", OpenRead | OpenText, 1},
      {"TESTDATATEN", OpenRead, 0},      // no backslash
      {"TESTDATA\\MISSING", OpenRead, 0},
      {"NOTYPE\\TEN", OpenRead, 0},
      {longest, OpenRead, 1},
      // One character more: cutting it to 255 would find the resource above.
      {longest + "L", OpenRead, 0},
      {longest + std::string(5000, 'L'), OpenRead, 0},
  };
  for (const Case& c : cases) {
    ResourceStream stream;
    EXPECT_EQ(stream.open(c.name.c_str(), c.flags), c.result) << c.name.size() << " " << c.flags;
    EXPECT_EQ(stream.tell(), c.result ? 0 : -1);
  }
}

TEST(ResourceStream, FactoryAndTableLoad) {
  ResourceStreamFactory factory;
  std::unique_ptr<ByteStream> stream(factory.createStream());
  EXPECT_NE(dynamic_cast<ResourceStream*>(stream.get()), nullptr);
  std::unique_ptr<StreamFactory> clone(factory.clone());
  EXPECT_NE(dynamic_cast<ResourceStreamFactory*>(clone.get()), nullptr);

  StringTable table;
  EXPECT_EQ(table.load("TABLES\\ENG", clone.get(), -1), 5);
  EXPECT_STREQ(table.lookupById(101), "Label text");
  EXPECT_STREQ(table.lookupByKey("\\title\\none", LookupNullIfMissing), "Test title");
  EXPECT_EQ(table.language(), -1);

  StringTable missing;
  EXPECT_EQ(missing.load("TABLES\\XYZ", &factory, 0), 0);
}

// Stands in for MessageBoxA and records what it was asked to show.
struct ShownBox {
  HWND owner;
  std::string text;
  bool hasCaption;
  std::string caption;
  UINT type;
};
std::vector<ShownBox> shownBoxes;

int WINAPI recordMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  shownBoxes.push_back({owner, text ? text : "", caption != nullptr, caption ? caption : "", type});
  return IDOK;
}

class TextHelperTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResourceStreamFactory factory;
    ASSERT_EQ(table.load("TABLES\\ENG", &factory, 0), 5);
    shownBoxes.clear();
    saved = TextHelper::showMessageBox;
    TextHelper::showMessageBox = recordMessageBox;
  }
  void TearDown() override { TextHelper::showMessageBox = saved; }
  StringTable table;
  TextHelper helper{&table};
  TextHelper::MessageBoxFn saved = nullptr;
};

TEST_F(TextHelperTest, MessageBoxNeedsTextAndCaption) {
  EXPECT_EQ(helper.messageBox(nullptr, 103, 1000, MB_OK | MB_ICONSTOP), IDOK);
  ASSERT_EQ(shownBoxes.size(), 1u);
  EXPECT_EQ(shownBoxes[0].text, "Disk %1 is full");
  EXPECT_EQ(shownBoxes[0].caption, "Caption");
  EXPECT_EQ(shownBoxes[0].type, UINT(MB_OK | MB_ICONSTOP));

  EXPECT_EQ(helper.messageBox(nullptr, 103, 999, MB_OK), 0);  // caption missing
  EXPECT_EQ(helper.messageBox(nullptr, 999, 1000, MB_OK), 0);  // text missing
  EXPECT_EQ(shownBoxes.size(), 1u);
}

TEST_F(TextHelperTest, FormattedMessageBox) {
  EXPECT_EQ(helper.formattedMessageBox(1000, 103, "C:", MB_YESNO), IDOK);
  EXPECT_EQ(helper.formattedMessageBox(999, 103, nullptr, MB_OK), IDOK);
  EXPECT_EQ(helper.formattedMessageBox(1000, 999, "C:", MB_OK), 0);  // text missing
  ASSERT_EQ(shownBoxes.size(), 2u);
  EXPECT_EQ(shownBoxes[0].owner, nullptr);
  EXPECT_EQ(shownBoxes[0].text, "Disk C: is full");
  EXPECT_EQ(shownBoxes[0].caption, "Caption");
  EXPECT_EQ(shownBoxes[0].type, UINT(MB_YESNO));
  EXPECT_EQ(shownBoxes[1].text, "Disk  is full");
  EXPECT_FALSE(shownBoxes[1].hasCaption);  // the platform's default caption
}

class DialogTest : public TextHelperTest {
 protected:
  void SetUp() override {
    TextHelperTest::SetUp();
    dialog = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_TEXTS), nullptr,
                                dialogProc, 0);
    // Without a display Wine has no window driver unless the prefix selects its null
    // driver (HKCU\Software\Wine\Drivers, Graphics = null); then there is nothing to test.
    if (dialog == nullptr) GTEST_SKIP() << "no window can be created here";
  }
  void TearDown() override {
    if (dialog != nullptr) DestroyWindow(dialog);
    TextHelperTest::TearDown();
  }
  static INT_PTR CALLBACK dialogProc(HWND, UINT message, WPARAM, LPARAM) {
    return message == WM_INITDIALOG;
  }
  std::string itemText(int id) {
    char buffer[256] = {};
    GetDlgItemTextA(dialog, id, buffer, sizeof buffer);
    return buffer;
  }
  std::string title() {
    char buffer[256] = {};
    GetWindowTextA(dialog, buffer, sizeof buffer);
    return buffer;
  }
  HWND dialog = nullptr;
};

TEST_F(DialogTest, SetsTitleAndEveryControlThatHasAText) {
  const ControlText rows[] = {
      {IDC_ABSENT, 101},  // no such control: skipped
      {IDC_OTHER, 999},   // no such text: skipped
      {IDC_LABEL, 101},
      {IDC_BUTTON, 102},
      {0, 0},
      {IDC_OTHER, 100},  // after the end row: never read
  };
  EXPECT_EQ(helper.setDialogTexts(dialog, rows, 100), 1);
  EXPECT_EQ(title(), "Test title");
  EXPECT_EQ(itemText(IDC_LABEL), "Label text");
  EXPECT_EQ(itemText(IDC_BUTTON), "Press %1");
  EXPECT_EQ(itemText(IDC_OTHER), "Original other");
}

TEST_F(DialogTest, TitleZeroOrMissingKeepsTheTitle) {
  const ControlText rows[] = {{IDC_LABEL, 101}, {0, 0}};
  EXPECT_EQ(helper.setDialogTexts(dialog, rows, 0), 1);
  EXPECT_EQ(title(), "Original title");
  EXPECT_EQ(itemText(IDC_LABEL), "Label text");
  EXPECT_EQ(helper.setDialogTexts(dialog, rows, 999), 1);
  EXPECT_EQ(title(), "Original title");
}

TEST_F(DialogTest, NullDialogChangesNothing) {
  const ControlText rows[] = {{IDC_LABEL, 101}, {0, 0}};
  EXPECT_EQ(helper.setDialogTexts(nullptr, rows, 100), 0);
  EXPECT_EQ(itemText(IDC_LABEL), "Original label");
  EXPECT_EQ(title(), "Original title");
}

}  // namespace
}  // namespace text
