#include "vornjni/core/XWindows.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <deque>
#include <utility>

#include "vornjni/core/Session.h"

namespace vorn::bridge {

namespace {

using namespace x11;

// Xlib's default error handler ends the process; while a helper runs, errors on its display
// are recorded instead. One trap at a time in the process.
std::mutex trapMutex;
std::atomic<Display*> trapDisplay{nullptr};
std::atomic<ErrorHandler> previousHandler{nullptr};
std::atomic<int> trappedError{0};

int OnXError(Display* display, ErrorEvent* error) {
  if (display == trapDisplay.load()) {
    int none = 0;
    trappedError.compare_exchange_strong(none, error->error_code);
    return 0;
  }
  const ErrorHandler previous = previousHandler.load();
  return previous && previous != OnXError ? previous(display, error) : 0;
}

class TErrorTrap {
 public:
  TErrorTrap(const TXLibrary& x, Display* display) : x_(x), display_(display), lock_(trapMutex) {
    trappedError = 0;
    trapDisplay = display;
    previousHandler = x_.XSetErrorHandler(OnXError);
  }
  TErrorTrap(const TErrorTrap&) = delete;
  TErrorTrap& operator=(const TErrorTrap&) = delete;
  ~TErrorTrap() {
    x_.XSync(display_, 0);
    x_.XSetErrorHandler(previousHandler.load());
    trapDisplay = nullptr;
  }

  // Waits until the server has handled every request so far; true when none failed.
  bool Ok() {
    x_.XSync(display_, 0);
    return trappedError.load() == 0;
  }

 private:
  const TXLibrary& x_;
  Display* display_;
  std::lock_guard<std::mutex> lock_;
};

Window ToWindow(std::int32_t handle) { return static_cast<std::uint32_t>(handle); }
std::int32_t ToHandle(Window window) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(window));
}

}  // namespace

TXWindows::TXWindows(std::string libraryFile, const char* displayName)
    : libraryFile_(std::move(libraryFile)), displayName_(displayName) {}

TXWindows::~TXWindows() {
  if (display_) x_.XCloseDisplay(display_);
}

bool TXWindows::Ready(const char* helper) {
  if (display_) return true;
  std::string why;
  if (!x_.Loaded() && !x_.Load(libraryFile_, why)) {
    LogBridgeError(std::string(" - ") + helper + ": " + why);
    return false;
  }
  display_ = x_.XOpenDisplay(displayName_);
  if (!display_) {
    const char* name = displayName_ ? displayName_ : std::getenv("DISPLAY");
    LogBridgeError(std::string(" - ") + helper +
                   (name && *name ? ": cannot open X display " + std::string(name)
                                  : std::string(": no X display (DISPLAY is not set)")));
    return false;
  }
  screen_ = x_.XDefaultScreen(display_);
  root_ = x_.XDefaultRootWindow(display_);
  wmState_ = x_.XInternAtom(display_, "WM_STATE", 0);
  wmName_ = x_.XInternAtom(display_, "WM_NAME", 0);
  netWmName_ = x_.XInternAtom(display_, "_NET_WM_NAME", 0);
  netWmState_ = x_.XInternAtom(display_, "_NET_WM_STATE", 0);
  stateAbove_ = x_.XInternAtom(display_, "_NET_WM_STATE_ABOVE", 0);
  stateMaxVert_ = x_.XInternAtom(display_, "_NET_WM_STATE_MAXIMIZED_VERT", 0);
  stateMaxHorz_ = x_.XInternAtom(display_, "_NET_WM_STATE_MAXIMIZED_HORZ", 0);
  return true;
}

std::vector<Window> TXWindows::Children(Window window) const {
  Window root = kNone, parent = kNone;
  Window* children = nullptr;
  unsigned count = 0;
  std::vector<Window> result;
  if (x_.XQueryTree(display_, window, &root, &parent, &children, &count) && children)
    result.assign(children, children + count);
  if (children) x_.XFree(children);
  return result;  // bottom of the stack first
}

bool TXWindows::HasProperty(Window window, Atom property) const {
  Atom type = kNone;
  int format = 0;
  unsigned long items = 0, after = 0;
  unsigned char* data = nullptr;
  const int status = x_.XGetWindowProperty(display_, window, property, 0, 0, 0,
                                           kAnyPropertyType, &type, &format, &items, &after,
                                           &data);
  if (data) x_.XFree(data);
  return status == 0 && type != kNone;
}

std::string TXWindows::TextProperty(Window window, Atom property) const {
  Atom type = kNone;
  int format = 0;
  unsigned long items = 0, after = 0;
  unsigned char* data = nullptr;
  const int status = x_.XGetWindowProperty(display_, window, property, 0, 1024, 0,
                                           kAnyPropertyType, &type, &format, &items, &after,
                                           &data);
  std::string text;
  if (status == 0 && data && format == 8) text.assign(reinterpret_cast<char*>(data), items);
  if (data) x_.XFree(data);
  return text;
}

bool TXWindows::Matches(Window window, const std::string& className,
                        const std::string& title) const {
  if (!className.empty()) {
    ClassHint hint{};
    if (!x_.XGetClassHint(display_, window, &hint)) return false;
    const bool same = (hint.res_class && className == hint.res_class) ||
                      (hint.res_name && className == hint.res_name);
    if (hint.res_name) x_.XFree(hint.res_name);
    if (hint.res_class) x_.XFree(hint.res_class);
    if (!same) return false;
  }
  return title.empty() || TextProperty(window, netWmName_) == title ||
         TextProperty(window, wmName_) == title;
}

Window TXWindows::ClientWindow(Window topLevel) const {
  if (HasProperty(topLevel, wmState_)) return topLevel;
  // A window manager's frame holds the client one or two levels down.
  std::deque<std::pair<Window, int>> pending{{topLevel, 0}};
  while (!pending.empty()) {
    const auto [window, depth] = pending.front();
    pending.pop_front();
    if (depth == 2) continue;
    for (Window child : Children(window)) {
      if (HasProperty(child, wmState_)) return child;
      pending.emplace_back(child, depth + 1);
    }
  }
  return topLevel;
}

void TXWindows::SendState(Window window, bool add, Atom first, Atom second) const {
  Event event{};
  event.xclient.type = kClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = netWmState_;
  event.xclient.format = 32;
  event.xclient.data.l[0] = add ? 1 : 0;
  event.xclient.data.l[1] = static_cast<long>(first);
  event.xclient.data.l[2] = static_cast<long>(second);
  event.xclient.data.l[3] = 1;  // a normal application
  x_.XSendEvent(display_, root_, 0, kSubstructureRedirectMask | kSubstructureNotifyMask, &event);
}

std::int32_t TXWindows::GetCursorPos(std::int32_t& x, std::int32_t& y) {
  std::lock_guard lock(mutex_);
  if (!Ready("getCursorPos")) return kWindowCallFailed;
  TErrorTrap trap(x_, display_);
  Window root = kNone, child = kNone;
  int rootX = 0, rootY = 0, windowX = 0, windowY = 0;
  unsigned mask = 0;
  // False only says the pointer is on another screen; the root coordinates hold either way.
  x_.XQueryPointer(display_, root_, &root, &child, &rootX, &rootY, &windowX, &windowY, &mask);
  if (!trap.Ok() || root == kNone) return kWindowCallFailed;
  x = rootX;
  y = rootY;
  return 0;
}

std::int32_t TXWindows::SetWindowPos(std::int32_t window, std::int32_t insertAfter,
                                     std::int32_t x, std::int32_t y, std::int32_t cx,
                                     std::int32_t cy, std::uint32_t flags) {
  std::lock_guard lock(mutex_);
  if (!Ready("setWindowPos")) return kWindowCallFailed;
  TErrorTrap trap(x_, display_);
  const Window target = ToWindow(window);
  WindowAttributes attributes{};
  if (target == kNone || !x_.XGetWindowAttributes(display_, target, &attributes))
    return kWindowCallFailed;
  WindowChanges changes{};
  unsigned mask = 0;
  if (!(flags & kSwpNoMove)) {
    changes.x = x;
    changes.y = y;
    mask |= kCWX | kCWY;
  }
  if (!(flags & kSwpNoSize)) {
    // X has no empty windows.
    changes.width = std::max(cx, 1);
    changes.height = std::max(cy, 1);
    mask |= kCWWidth | kCWHeight;
  }
  if (!(flags & kSwpNoZOrder)) {
    switch (insertAfter) {
      case kHwndTop:
      case kHwndTopMost:
        changes.stack_mode = kAbove;
        mask |= kCWStackMode;
        break;
      case kHwndBottom:
        changes.stack_mode = kBelow;
        mask |= kCWStackMode;
        break;
      case kHwndNoTopMost:
        break;
      default:
        changes.sibling = ToWindow(insertAfter);
        changes.stack_mode = kBelow;
        mask |= kCWSibling | kCWStackMode;
    }
    if (insertAfter == kHwndTopMost || insertAfter == kHwndNoTopMost)
      SendState(target, insertAfter == kHwndTopMost, stateAbove_, kNone);
  }
  if (mask) x_.XConfigureWindow(display_, target, mask, &changes);
  if (flags & kSwpShowWindow)
    x_.XMapWindow(display_, target);
  else if (flags & kSwpHideWindow)
    x_.XWithdrawWindow(display_, target, screen_);
  return trap.Ok() ? 0 : kWindowCallFailed;
}

std::int32_t TXWindows::ShowWindow(std::int32_t window, std::int32_t command) {
  std::lock_guard lock(mutex_);
  if (!Ready("showWindow")) return kWindowCallFailed;
  TErrorTrap trap(x_, display_);
  const Window target = ToWindow(window);
  WindowAttributes attributes{};
  if (target == kNone || !x_.XGetWindowAttributes(display_, target, &attributes))
    return kWindowCallFailed;
  const bool wasVisible = attributes.map_state != kIsUnmapped;
  switch (command) {
    case kSwHide:
      x_.XWithdrawWindow(display_, target, screen_);
      break;
    case kSwShowMinimized:
    case kSwMinimize:
    case kSwShowMinNoActive:
    case kSwForceMinimize:
      x_.XIconifyWindow(display_, target, screen_);
      break;
    case kSwMaximize:
      x_.XMapRaised(display_, target);
      SendState(target, true, stateMaxVert_, stateMaxHorz_);
      break;
    case kSwShowNormal:
    case kSwRestore:
      x_.XMapRaised(display_, target);
      SendState(target, false, stateMaxVert_, stateMaxHorz_);
      break;
    case kSwShow:
    case kSwShowDefault:
      x_.XMapRaised(display_, target);
      break;
    case kSwShowNoActivate:
    case kSwShowNA:
      x_.XMapWindow(display_, target);
      break;
    default:
      return kWindowCallFailed;
  }
  return trap.Ok() && wasVisible ? 0 : kWindowCallFailed;
}

std::int32_t TXWindows::FindWindow(const std::string& className, const std::string& title) {
  return Find("findWindow", 0, 0, className, title);
}

std::int32_t TXWindows::FindWindowEx(std::int32_t parent, std::int32_t childAfter,
                                     const std::string& className, const std::string& title) {
  return Find("findWindowEx", parent, childAfter, className, title);
}

std::int32_t TXWindows::Find(const char* helper, std::int32_t parent, std::int32_t childAfter,
                             const std::string& className, const std::string& title) {
  std::lock_guard lock(mutex_);
  if (!Ready(helper)) return 0;
  TErrorTrap trap(x_, display_);
  const bool topLevel = parent == 0;
  const Window after = ToWindow(childAfter);
  bool skipping = after != kNone;
  const std::vector<Window> children = Children(topLevel ? root_ : ToWindow(parent));
  for (auto it = children.rbegin(); it != children.rend(); ++it) {
    const Window candidate = topLevel ? ClientWindow(*it) : *it;
    if (skipping) {
      skipping = *it != after && candidate != after;
      continue;
    }
    // A window destroyed meanwhile fails its reads inside the trap and matches nothing.
    if (Matches(candidate, className, title)) return ToHandle(candidate);
  }
  return 0;
}

TXWindows& XWindows() {
  static TXWindows* const windows = new TXWindows();
  return *windows;
}

}  // namespace vorn::bridge
