// The window helpers against a real X server (XWindowsX11.*: run under with-xvfb.sh, so no
// window manager), and without one (XWindowsNoDisplay.*: run with DISPLAY unset). The fixture
// makes and checks its windows over its own connection through the system's Xlib.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "vornjni/core/XWindows.h"

// Last: Xlib's macros (None, Bool, Status) would break the declarations above.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace vorn::bridge {
namespace {

// The bridge's own declarations must lay out as Xlib's.
#define VORN_SAME_LAYOUT(ours, theirs, field) \
  static_assert(offsetof(x11::ours, field) == offsetof(theirs, field), #field)
static_assert(sizeof(x11::WindowAttributes) == sizeof(XWindowAttributes));
VORN_SAME_LAYOUT(WindowAttributes, XWindowAttributes, map_state);
VORN_SAME_LAYOUT(WindowAttributes, XWindowAttributes, screen);
static_assert(sizeof(x11::WindowChanges) == sizeof(XWindowChanges));
VORN_SAME_LAYOUT(WindowChanges, XWindowChanges, sibling);
VORN_SAME_LAYOUT(WindowChanges, XWindowChanges, stack_mode);
static_assert(sizeof(x11::ErrorEvent) == sizeof(XErrorEvent));
VORN_SAME_LAYOUT(ErrorEvent, XErrorEvent, error_code);
static_assert(sizeof(x11::Event) == sizeof(XEvent));
VORN_SAME_LAYOUT(ClientMessageEvent, XClientMessageEvent, message_type);
VORN_SAME_LAYOUT(ClientMessageEvent, XClientMessageEvent, data);
static_assert(sizeof(x11::ClassHint) == sizeof(XClassHint));
static_assert(x11::kClientMessage == ClientMessage && x11::kIsUnmapped == IsUnmapped);
static_assert(x11::kCWSibling == CWSibling && x11::kCWStackMode == CWStackMode &&
              x11::kBelow == Below && x11::kAbove == Above);
static_assert(x11::kSubstructureRedirectMask == SubstructureRedirectMask &&
              x11::kSubstructureNotifyMask == SubstructureNotifyMask);

class XWindowsX11 : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "run under with-xvfb.sh";
    display_ = XOpenDisplay(nullptr);
    ASSERT_NE(display_, nullptr);
  }
  static void TearDownTestSuite() {
    if (display_) XCloseDisplay(display_);
    display_ = nullptr;
  }
  void TearDown() override {
    for (auto it = made_.rbegin(); it != made_.rend(); ++it) XDestroyWindow(display_, *it);
    XSync(display_, False);
  }

  Window Root() const { return DefaultRootWindow(display_); }

  // A window with the given class hint (instance, class) and names; mapped when asked.
  Window Make(Window parent, const char* instance, const char* className, const char* name,
              const char* netName = nullptr, bool mapped = true) {
    const Window window = XCreateSimpleWindow(display_, parent, 5, 5, 50, 40, 0, 0, 0);
    made_.push_back(window);
    if (className) {
      XClassHint hint{const_cast<char*>(instance), const_cast<char*>(className)};
      XSetClassHint(display_, window, &hint);
    }
    if (name) XStoreName(display_, window, name);
    if (netName)
      XChangeProperty(display_, window, XInternAtom(display_, "_NET_WM_NAME", False),
                      XInternAtom(display_, "UTF8_STRING", False), 8, PropModeReplace,
                      reinterpret_cast<const unsigned char*>(netName),
                      static_cast<int>(std::strlen(netName)));
    if (mapped) XMapWindow(display_, window);
    XSync(display_, False);
    return window;
  }

  struct TGeometry {
    int x, y;
    unsigned width, height;
    bool operator==(const TGeometry&) const = default;
  };
  TGeometry Geometry(Window window) const {
    Window root;
    TGeometry geometry{};
    unsigned border, depth;
    EXPECT_TRUE(XGetGeometry(display_, window, &root, &geometry.x, &geometry.y, &geometry.width,
                             &geometry.height, &border, &depth));
    return geometry;
  }
  int MapState(Window window) const {
    XWindowAttributes attributes{};
    EXPECT_TRUE(XGetWindowAttributes(display_, window, &attributes));
    return attributes.map_state;
  }
  // Children of parent, bottom of the stack first.
  std::vector<Window> Stack(Window parent) const {
    Window root, up, *children = nullptr;
    unsigned count = 0;
    XQueryTree(display_, parent, &root, &up, &children, &count);
    std::vector<Window> stack(children, children + count);
    if (children) XFree(children);
    return stack;
  }
  static std::int32_t Handle(Window window) { return static_cast<std::int32_t>(window); }

  static Display* display_;
  std::vector<Window> made_;
  TXWindows windows_;
};
Display* XWindowsX11::display_ = nullptr;

TEST_F(XWindowsX11, FindsTopLevelWindowsByClassAndTitle) {
  const Window plain = Make(Root(), "vorntest", "VornTestClass", "Vorn Test Window");
  const Window utf8 = Make(Root(), "other", "OtherClass", "legacy", "Fen\xc3\xaatre");
  const Window hidden = Make(Root(), "hidden", "HiddenClass", "Hidden", nullptr, false);
  const Window browser = Make(Root(), "browser", "IEFrame", "Start");
  struct {
    const char* className;
    const char* title;
    Window expected;
  } cases[] = {
      {"VornTestClass", "Vorn Test Window", plain},
      {"vorntest", "", plain},  // the instance part of WM_CLASS
      {"", "Vorn Test Window", plain},
      {"VornTestClass", "", plain},
      {"", "Fen\xc3\xaatre", utf8},  // _NET_WM_NAME
      {"OtherClass", "legacy", utf8},  // WM_NAME beside it
      {"HiddenClass", "", hidden},  // unmapped windows are found too
      {"IEFrame", "Start", browser},  // no registry: the title as given
      {"VornTestClass", "Other Title", 0},
      {"NoSuchClass", "", 0},
      {"vorntestclass", "", 0},  // exact bytes
  };
  for (const auto& c : cases)
    EXPECT_EQ(windows_.FindWindow(c.className, c.title), Handle(c.expected))
        << c.className << " / " << c.title;
  // Both texts empty: the top of the stack.
  EXPECT_EQ(windows_.FindWindow("", ""), Handle(Stack(Root()).back()));
  EXPECT_EQ(Stack(Root()).back(), browser);
}

TEST_F(XWindowsX11, FindWindowExWalksChildrenDownTheStackAfterTheGivenOne) {
  const Window parent = Make(Root(), "parent", "VornParent", "Parent");
  const Window lower = Make(parent, "child", "VornChild", "Lower");
  const Window upper = Make(parent, "child", "VornChild", "Upper");
  const Window other = Make(Root(), "other", "VornOther", "Other");
  const auto find = [&](Window within, Window after, const char* className) {
    return windows_.FindWindowEx(Handle(within), Handle(after), className, "");
  };
  EXPECT_EQ(find(parent, 0, "VornChild"), Handle(upper));
  EXPECT_EQ(find(parent, upper, "VornChild"), Handle(lower));
  EXPECT_EQ(find(parent, lower, "VornChild"), 0);
  EXPECT_EQ(find(parent, other, "VornChild"), 0);  // not a child of parent
  EXPECT_EQ(windows_.FindWindowEx(Handle(parent), 0, "", "Lower"), Handle(lower));
  EXPECT_EQ(find(0, 0, "VornParent"), Handle(parent));  // 0: the top-level windows
  EXPECT_EQ(find(0, other, "VornParent"), Handle(parent));
  EXPECT_EQ(find(0x1fffffff, 0, "VornChild"), 0);  // no such parent
}

TEST_F(XWindowsX11, SetWindowPosMovesSizesAndStacksAsTheFlagsSay) {
  const Window window = Make(Root(), "moved", "VornMoved", "Moved");
  EXPECT_EQ(windows_.SetWindowPos(Handle(window), kHwndTop, 10, 20, 300, 200, kSwpNoZOrder), 0);
  EXPECT_EQ(Geometry(window), (TGeometry{10, 20, 300, 200}));
  EXPECT_EQ(windows_.SetWindowPos(Handle(window), 0, 70, 80, 120, 90, kSwpNoMove | kSwpNoZOrder),
            0);
  EXPECT_EQ(Geometry(window), (TGeometry{10, 20, 120, 90}));
  EXPECT_EQ(windows_.SetWindowPos(Handle(window), 0, 70, 80, 1, 1, kSwpNoSize | kSwpNoZOrder), 0);
  EXPECT_EQ(Geometry(window), (TGeometry{70, 80, 120, 90}));
  EXPECT_EQ(windows_.SetWindowPos(Handle(window), 0, 70, 80, 0, -5, kSwpNoZOrder), 0);
  EXPECT_EQ(Geometry(window), (TGeometry{70, 80, 1, 1}));

  const Window second = Make(Root(), "second", "VornSecond", "Second");
  const auto position = [&](Window w) {
    const std::vector<Window> stack = Stack(Root());
    return std::find(stack.begin(), stack.end(), w) - stack.begin();
  };
  const std::uint32_t keep = kSwpNoMove | kSwpNoSize;
  EXPECT_EQ(windows_.SetWindowPos(Handle(second), kHwndBottom, 0, 0, 0, 0, keep), 0);
  EXPECT_EQ(position(second), 0);
  EXPECT_EQ(windows_.SetWindowPos(Handle(second), kHwndTop, 0, 0, 0, 0, keep), 0);
  EXPECT_EQ(Stack(Root()).back(), second);
  EXPECT_EQ(windows_.SetWindowPos(Handle(second), Handle(window), 0, 0, 0, 0, keep), 0);
  EXPECT_EQ(position(second) + 1, position(window));  // just below the one given
  EXPECT_EQ(windows_.SetWindowPos(Handle(second), kHwndTopMost, 0, 0, 0, 0, keep), 0);
  EXPECT_EQ(Stack(Root()).back(), second);

  EXPECT_EQ(windows_.SetWindowPos(Handle(window), 0, 0, 0, 0, 0, keep | kSwpHideWindow), 0);
  EXPECT_EQ(MapState(window), IsUnmapped);
  EXPECT_EQ(windows_.SetWindowPos(Handle(window), 0, 0, 0, 0, 0, keep | kSwpShowWindow), 0);
  EXPECT_EQ(MapState(window), IsViewable);

  EXPECT_EQ(windows_.SetWindowPos(0, 0, 1, 1, 10, 10, 0), kWindowCallFailed);
  EXPECT_EQ(windows_.SetWindowPos(0x1fffffff, 0, 1, 1, 10, 10, 0), kWindowCallFailed);
  // X refuses a sibling that is not one: a failure, not a crash of the process.
  const Window child = Make(window, "child", "VornChild", "Child");
  EXPECT_EQ(windows_.SetWindowPos(Handle(second), Handle(child), 0, 0, 0, 0, keep),
            kWindowCallFailed);
}

TEST_F(XWindowsX11, ShowWindowAnswersWhetherTheWindowWasShownBefore) {
  const Window window = Make(Root(), "shown", "VornShown", "Shown", nullptr, false);
  struct {
    std::int32_t command;
    std::int32_t expected;
    int mapState;
  } steps[] = {
      {kSwShow, kWindowCallFailed, IsViewable},  // was hidden: 99 though it worked
      {kSwShow, 0, IsViewable},
      {kSwShowNA, 0, IsViewable},
      {kSwMinimize, 0, IsViewable},  // no window manager to iconify it
      {kSwHide, 0, IsUnmapped},
      {kSwHide, kWindowCallFailed, IsUnmapped},
      {kSwShowNoActivate, kWindowCallFailed, IsViewable},
      {42, kWindowCallFailed, IsViewable},  // unknown: refused, nothing done
  };
  for (const auto& step : steps) {
    EXPECT_EQ(windows_.ShowWindow(Handle(window), step.command), step.expected)
        << "command " << step.command;
    EXPECT_EQ(MapState(window), step.mapState) << "command " << step.command;
  }
  EXPECT_EQ(windows_.ShowWindow(0x1fffffff, kSwShow), kWindowCallFailed);
}

TEST_F(XWindowsX11, GetCursorPosReadsWhereThePointerWasWarped) {
  for (const auto& [x, y] : {std::pair{123, 45}, std::pair{0, 0}, std::pair{1000, 700}}) {
    XWarpPointer(display_, None, Root(), 0, 0, 0, 0, x, y);
    XSync(display_, False);
    std::int32_t gotX = -1, gotY = -1;
    EXPECT_EQ(windows_.GetCursorPos(gotX, gotY), 0);
    EXPECT_EQ(gotX, x);
    EXPECT_EQ(gotY, y);
  }
}

// Without a display or without Xlib, every helper gives its failure result, leaves its output
// alone and says why on the bridge's error log (stderr while no API library is loaded).
void ExpectEveryHelperFails(TXWindows& windows, const std::string& why) {
  struct {
    const char* helper;
    std::int32_t (*call)(TXWindows&);
    std::int32_t expected;
  } cases[] = {
      {"getCursorPos",
       [](TXWindows& w) {
         std::int32_t x = 7, y = 8;
         const std::int32_t result = w.GetCursorPos(x, y);
         EXPECT_EQ(x, 7);
         EXPECT_EQ(y, 8);
         return result;
       },
       kWindowCallFailed},
      {"setWindowPos", [](TXWindows& w) { return w.SetWindowPos(1, 0, 1, 1, 1, 1, 0); },
       kWindowCallFailed},
      {"showWindow", [](TXWindows& w) { return w.ShowWindow(1, kSwShow); }, kWindowCallFailed},
      {"findWindow", [](TXWindows& w) { return w.FindWindow("", ""); }, 0},
      {"findWindowEx", [](TXWindows& w) { return w.FindWindowEx(0, 0, "", ""); }, 0},
  };
  for (const auto& c : cases) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(c.call(windows), c.expected) << c.helper;
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(log.find("Wrapper API Error - " + std::string(c.helper) + ": " + why), 0u)
        << log;
    EXPECT_EQ(log.find('\n'), log.size() - 1) << log;  // one line
  }
}

TEST(XWindowsNoDisplay, EveryHelperFailsAndSaysSo) {
  ASSERT_EQ(std::getenv("DISPLAY"), nullptr) << "run with DISPLAY unset";
  TXWindows windows;
  ExpectEveryHelperFails(windows, "no X display");
}

TEST(XWindowsNoDisplay, AMissingXlibFailsTheSameWay) {
  TXWindows windows("libX11-absent.so.6");
  ExpectEveryHelperFails(windows, "cannot load libX11-absent.so.6");
}

TEST(XWindowsNoDisplay, AnUnreachableDisplayFailsTheSameWay) {
  TXWindows windows("libX11.so.6", ":999");
  ExpectEveryHelperFails(windows, "cannot open X display :999");
}

}  // namespace
}  // namespace vorn::bridge
