// The progress animation and the icon as Windows itself reads them: the animation control
// must open the clip from the resources and draw its frames with the intended colours,
// and the icon group must give both image sizes.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr int AnimationId = 113;
constexpr int IconId = 111;
constexpr int FrameWidth = 272;
constexpr int FrameHeight = 60;

COLORREF rgb(int r, int g, int b) { return RGB(r, g, b); }

// An animation control in a hidden window, drawn into a memory bitmap on request.
class AnimationFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    // Loaded by name, so this test program needs no import library beyond the defaults.
    HMODULE controls = LoadLibraryA("comctl32.dll");
    ASSERT_NE(controls, nullptr);
    using InitFn = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    auto initControls = reinterpret_cast<InitFn>(
        reinterpret_cast<void*>(GetProcAddress(controls, "InitCommonControlsEx")));
    ASSERT_NE(initControls, nullptr);
    INITCOMMONCONTROLSEX init{sizeof(init), ICC_ANIMATE_CLASS};
    ASSERT_TRUE(initControls(&init));
    parent_ = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 400, 100, nullptr, nullptr,
                              GetModuleHandleA(nullptr), nullptr);
    // Wine without an X display makes windows only with its null graphics driver, which
    // the test harness selects; without either there is nothing to draw into.
    if (parent_ == nullptr) GTEST_SKIP() << "no window station with a display";
    animation_ = CreateWindowExA(0, ANIMATE_CLASSA, "", WS_CHILD | WS_VISIBLE, 0, 0,
                                 FrameWidth, FrameHeight, parent_, nullptr,
                                 GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(animation_, nullptr);
    screen_ = GetDC(nullptr);
    memory_ = CreateCompatibleDC(screen_);
    bitmap_ = CreateCompatibleBitmap(screen_, FrameWidth, FrameHeight);
    old_ = SelectObject(memory_, bitmap_);
  }

  void TearDown() override {
    if (memory_) {
      SelectObject(memory_, old_);
      DeleteObject(bitmap_);
      DeleteDC(memory_);
      ReleaseDC(nullptr, screen_);
    }
    if (parent_) DestroyWindow(parent_);
  }

  bool open() {
    return SendMessageA(animation_, ACM_OPENA, reinterpret_cast<WPARAM>(GetModuleHandleA(nullptr)),
                        reinterpret_cast<LPARAM>(MAKEINTRESOURCEA(AnimationId))) != 0;
  }

  // Shows one frame and draws it into the memory bitmap.
  void drawFrame(int frame) {
    SendMessageA(animation_, ACM_PLAY, 1, MAKELONG(frame, frame));
    RECT all{0, 0, FrameWidth, FrameHeight};
    FillRect(memory_, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    SendMessageA(animation_, WM_PAINT, reinterpret_cast<WPARAM>(memory_), 0);
  }

  COLORREF pixel(int x, int y) { return GetPixel(memory_, x, y); }

  HWND parent_ = nullptr;
  HWND animation_ = nullptr;
  HDC screen_ = nullptr;
  HDC memory_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ old_ = nullptr;
};

TEST_F(AnimationFixture, OpensFromResourcesAndDrawsFrames) {
  ASSERT_TRUE(open());

  // Points whose colour is the same in every frame: (x, y from the top, colour).
  struct Fixed {
    int x, y;
    COLORREF colour;
    const char* what;
  };
  const Fixed fixedPoints[] = {
      {100, 50, rgb(192, 192, 192), "background between crate and castle"},
      {16, 39, rgb(166, 114, 60), "crate wood"},
      {100, 56, rgb(56, 144, 48), "grass"},
      {225, 50, rgb(40, 40, 48), "castle gate"},
      {10, 40, rgb(0, 0, 0), "crate outline"},
  };
  for (int frame : {0, 9, 25}) {
    drawFrame(frame);
    for (const Fixed& p : fixedPoints)
      EXPECT_EQ(pixel(p.x, p.y), p.colour) << p.what << " in frame " << frame;
  }

  // The documents move: two frames a few steps apart differ in many pixels.
  drawFrame(0);
  std::vector<COLORREF> first;
  for (int y = 0; y < FrameHeight; ++y)
    for (int x = 0; x < FrameWidth; ++x) first.push_back(pixel(x, y));
  drawFrame(4);
  int changed = 0;
  for (int y = 0; y < FrameHeight; ++y)
    for (int x = 0; x < FrameWidth; ++x) changed += pixel(x, y) != first[y * FrameWidth + x];
  EXPECT_GT(changed, 200);
}

TEST(InstallerIcon, GroupHoldsBothSizes) {
  for (int size : {32, 16}) {
    HANDLE icon = LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IconId), IMAGE_ICON,
                             size, size, 0);
    ASSERT_NE(icon, nullptr) << size;
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(static_cast<HICON>(icon), &info));
    BITMAP colour{};
    GetObjectA(info.hbmColor, sizeof(colour), &colour);
    EXPECT_EQ(colour.bmWidth, size);
    EXPECT_EQ(colour.bmHeight, size);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    DestroyIcon(static_cast<HICON>(icon));
  }
  // The group directory names exactly the two 16-colour images.
  HRSRC group = FindResourceA(nullptr, MAKEINTRESOURCEA(IconId), MAKEINTRESOURCEA(14));
  ASSERT_NE(group, nullptr);
  const BYTE* dir = static_cast<const BYTE*>(LockResource(LoadResource(nullptr, group)));
  ASSERT_EQ(dir[4], 2);  // idCount
  for (int i = 0; i < 2; ++i) {
    const BYTE* entry = dir + 6 + 14 * i;
    EXPECT_EQ(entry[0], i == 0 ? 32 : 16);  // width
    EXPECT_EQ(entry[2], 16);                // colour count
    EXPECT_EQ(entry[6], 4);                 // bits per pixel
  }
}

}  // namespace
