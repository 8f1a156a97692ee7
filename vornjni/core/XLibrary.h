#pragma once
// The few Xlib declarations the window helpers use, and the table of Xlib functions bound at run
// time from libX11.so.6: the bridge is never linked to libX11, so it loads on a machine without
// X. The layouts repeat those of Xlib's own headers (the tests check them against the system's).

#include <string>

#include "platform/DynamicLibrary.h"

namespace vorn::bridge::x11 {

using XID = unsigned long;
using Window = XID;
using Atom = unsigned long;
using Bool = int;
using Status = int;
struct Display;
struct Visual;
struct Screen;

inline constexpr Window kNone = 0;
inline constexpr Atom kAnyPropertyType = 0;
inline constexpr int kIsUnmapped = 0;
inline constexpr int kClientMessage = 33;
inline constexpr long kSubstructureNotifyMask = 1L << 19;
inline constexpr long kSubstructureRedirectMask = 1L << 20;
// XConfigureWindow's value mask and stack modes.
inline constexpr unsigned kCWX = 1u << 0;
inline constexpr unsigned kCWY = 1u << 1;
inline constexpr unsigned kCWWidth = 1u << 2;
inline constexpr unsigned kCWHeight = 1u << 3;
inline constexpr unsigned kCWSibling = 1u << 5;
inline constexpr unsigned kCWStackMode = 1u << 6;
inline constexpr int kAbove = 0;
inline constexpr int kBelow = 1;

struct WindowAttributes {
  int x, y;
  int width, height;
  int border_width;
  int depth;
  Visual* visual;
  Window root;
  int c_class;
  int bit_gravity;
  int win_gravity;
  int backing_store;
  unsigned long backing_planes;
  unsigned long backing_pixel;
  Bool save_under;
  unsigned long colormap;
  Bool map_installed;
  int map_state;
  long all_event_masks;
  long your_event_mask;
  long do_not_propagate_mask;
  Bool override_redirect;
  Screen* screen;
};

struct WindowChanges {
  int x, y;
  int width, height;
  int border_width;
  Window sibling;
  int stack_mode;
};

struct ClassHint {
  char* res_name;
  char* res_class;
};

struct ErrorEvent {
  int type;
  Display* display;
  XID resourceid;
  unsigned long serial;
  unsigned char error_code;
  unsigned char request_code;
  unsigned char minor_code;
};

struct ClientMessageEvent {
  int type;
  unsigned long serial;
  Bool send_event;
  Display* display;
  Window window;
  Atom message_type;
  int format;
  union {
    char b[20];
    short s[10];
    long l[5];
  } data;
};

union Event {
  int type;
  ClientMessageEvent xclient;
  long pad[24];
};

using ErrorHandler = int (*)(Display*, ErrorEvent*);

// The bound functions; all null until Load succeeds.
struct TXLibrary {
  Display* (*XOpenDisplay)(const char*) = nullptr;
  int (*XCloseDisplay)(Display*) = nullptr;
  int (*XDefaultScreen)(Display*) = nullptr;
  Window (*XDefaultRootWindow)(Display*) = nullptr;
  ErrorHandler (*XSetErrorHandler)(ErrorHandler) = nullptr;
  int (*XSync)(Display*, Bool) = nullptr;
  int (*XFree)(void*) = nullptr;
  Atom (*XInternAtom)(Display*, const char*, Bool) = nullptr;
  Status (*XQueryTree)(Display*, Window, Window*, Window*, Window**, unsigned*) = nullptr;
  Status (*XGetWindowAttributes)(Display*, Window, WindowAttributes*) = nullptr;
  Status (*XGetClassHint)(Display*, Window, ClassHint*) = nullptr;
  int (*XGetWindowProperty)(Display*, Window, Atom, long, long, Bool, Atom, Atom*, int*,
                            unsigned long*, unsigned long*, unsigned char**) = nullptr;
  int (*XConfigureWindow)(Display*, Window, unsigned, WindowChanges*) = nullptr;
  int (*XMapWindow)(Display*, Window) = nullptr;
  int (*XMapRaised)(Display*, Window) = nullptr;
  Status (*XWithdrawWindow)(Display*, Window, int) = nullptr;
  Status (*XIconifyWindow)(Display*, Window, int) = nullptr;
  Status (*XSendEvent)(Display*, Window, Bool, long, Event*) = nullptr;
  Bool (*XQueryPointer)(Display*, Window, Window*, Window*, int*, int*, int*, int*,
                        unsigned*) = nullptr;

  // Loads the file and binds every function; false with why when either fails (nothing is
  // then bound). The library stays loaded for as long as this object lives.
  bool Load(const std::string& file, std::string& why);
  bool Loaded() const { return library_.Loaded(); }

 private:
  TDynamicLibrary library_;
};

}  // namespace vorn::bridge::x11
