#pragma once
// The window helpers of quorvex.util.w32.WinAPIImpl and quorvex.util.BasicWinAPIImpl over X11,
// without the JVM. Window handles are X window ids (29 bits, so they fit a Java int); the
// Windows constants the callers pass (SWP_ flags, HWND_ positions, SW_ commands) are mapped onto
// Xlib requests. Xlib is loaded and the display opened at the first call; either is tried again
// at every call until it succeeds, and while it fails each helper writes a line to the bridge's
// error log and gives its failure result (never a made-up window or position).
//
// Thread-safe: the helpers share one display connection, used only under the object's lock.
// While a helper runs, an X error handler of ours is installed; errors on other connections of
// the process go on to the handler it replaced.

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "vornjni/core/XLibrary.h"

namespace vorn::bridge {

// What the callers pass, with the values of the Windows API.
inline constexpr std::uint32_t kSwpNoSize = 0x1;
inline constexpr std::uint32_t kSwpNoMove = 0x2;
inline constexpr std::uint32_t kSwpNoZOrder = 0x4;
inline constexpr std::uint32_t kSwpShowWindow = 0x40;
inline constexpr std::uint32_t kSwpHideWindow = 0x80;
inline constexpr std::int32_t kHwndTop = 0;
inline constexpr std::int32_t kHwndBottom = 1;
inline constexpr std::int32_t kHwndTopMost = -1;
inline constexpr std::int32_t kHwndNoTopMost = -2;
inline constexpr std::int32_t kSwHide = 0;
inline constexpr std::int32_t kSwShowNormal = 1;
inline constexpr std::int32_t kSwShowMinimized = 2;
inline constexpr std::int32_t kSwMaximize = 3;
inline constexpr std::int32_t kSwShowNoActivate = 4;
inline constexpr std::int32_t kSwShow = 5;
inline constexpr std::int32_t kSwMinimize = 6;
inline constexpr std::int32_t kSwShowMinNoActive = 7;
inline constexpr std::int32_t kSwShowNA = 8;
inline constexpr std::int32_t kSwRestore = 9;
inline constexpr std::int32_t kSwShowDefault = 10;
inline constexpr std::int32_t kSwForceMinimize = 11;

inline constexpr std::int32_t kWindowCallFailed = 99;

class TXWindows {
 public:
  // libraryFile: the Xlib to load; displayName: null for $DISPLAY.
  explicit TXWindows(std::string libraryFile = "libX11.so.6", const char* displayName = nullptr);
  TXWindows(const TXWindows&) = delete;
  TXWindows& operator=(const TXWindows&) = delete;
  // Closes the display. No helper may be running.
  ~TXWindows();

  // The pointer in root window coordinates: 0, or 99 with x and y untouched.
  std::int32_t GetCursorPos(std::int32_t& x, std::int32_t& y);
  // Moves, sizes (at least 1 x 1) and restacks the window as the flags say (insertAfter:
  // HWND_TOP/BOTTOM raise or lower it, TOPMOST/NOTOPMOST ask the window manager for the
  // "above" state, another window places it just below that one), then shows or hides it.
  // 0, or 99 when the window does not exist or X refused a request.
  std::int32_t SetWindowPos(std::int32_t window, std::int32_t insertAfter, std::int32_t x,
                            std::int32_t y, std::int32_t cx, std::int32_t cy,
                            std::uint32_t flags);
  // 0 when the window was mapped before the call, 99 when it was not (even though the call
  // worked), when it does not exist, or for an unknown command.
  std::int32_t ShowWindow(std::int32_t window, std::int32_t command);
  // The topmost top-level window (the client window inside a window manager's frame) whose
  // WM_CLASS class or instance is className and whose _NET_WM_NAME or WM_NAME is title; an
  // empty text matches any. 0 when there is none.
  std::int32_t FindWindow(const std::string& className, const std::string& title);
  // As FindWindow among the children of parent (0: the top-level windows), from the top of
  // the stack down, starting below childAfter (0: from the top). 0 when there is none, or
  // when childAfter is not a child of parent.
  std::int32_t FindWindowEx(std::int32_t parent, std::int32_t childAfter,
                            const std::string& className, const std::string& title);

 private:
  // Loads Xlib and opens the display when not yet done; false (and a log line naming the
  // helper) when either fails. Caller holds mutex_.
  bool Ready(const char* helper);
  std::int32_t Find(const char* helper, std::int32_t parent, std::int32_t childAfter,
                    const std::string& className, const std::string& title);
  std::vector<x11::Window> Children(x11::Window window) const;
  bool HasProperty(x11::Window window, x11::Atom property) const;
  std::string TextProperty(x11::Window window, x11::Atom property) const;
  bool Matches(x11::Window window, const std::string& className,
               const std::string& title) const;
  // The window that carries WM_STATE within a top-level window (itself when none does).
  x11::Window ClientWindow(x11::Window topLevel) const;
  void SendState(x11::Window window, bool add, x11::Atom first, x11::Atom second) const;

  std::mutex mutex_;
  std::string libraryFile_;
  const char* displayName_;
  x11::TXLibrary x_;
  x11::Display* display_ = nullptr;
  x11::Window root_ = x11::kNone;
  int screen_ = 0;
  x11::Atom wmState_ = 0, wmName_ = 0, netWmName_ = 0, netWmState_ = 0, stateAbove_ = 0,
            stateMaxVert_ = 0, stateMaxHorz_ = 0;
};

// The process's helpers on $DISPLAY, never destroyed.
TXWindows& XWindows();

}  // namespace vorn::bridge
