#include "vornjni/core/XLibrary.h"

#include <type_traits>
#include <utility>

namespace vorn::bridge::x11 {

bool TXLibrary::Load(const std::string& file, std::string& why) {
  TDynamicLibrary library;
  if (!library.Load(file)) {
    why = "cannot load " + file + ": " + library.Error();
    return false;
  }
  const char* missing = nullptr;
  auto bind = [&](auto& function, const char* name) {
    function = library.Function<std::remove_reference_t<decltype(function)>>(name);
    if (!function && !missing) missing = name;
  };
  bind(XOpenDisplay, "XOpenDisplay");
  bind(XCloseDisplay, "XCloseDisplay");
  bind(XDefaultScreen, "XDefaultScreen");
  bind(XDefaultRootWindow, "XDefaultRootWindow");
  bind(XSetErrorHandler, "XSetErrorHandler");
  bind(XSync, "XSync");
  bind(XFree, "XFree");
  bind(XInternAtom, "XInternAtom");
  bind(XQueryTree, "XQueryTree");
  bind(XGetWindowAttributes, "XGetWindowAttributes");
  bind(XGetClassHint, "XGetClassHint");
  bind(XGetWindowProperty, "XGetWindowProperty");
  bind(XConfigureWindow, "XConfigureWindow");
  bind(XMapWindow, "XMapWindow");
  bind(XMapRaised, "XMapRaised");
  bind(XWithdrawWindow, "XWithdrawWindow");
  bind(XIconifyWindow, "XIconifyWindow");
  bind(XSendEvent, "XSendEvent");
  bind(XQueryPointer, "XQueryPointer");
  if (missing) {
    *this = TXLibrary{};
    why = file + " lacks " + missing;
    return false;
  }
  library_ = std::move(library);
  return true;
}

}  // namespace vorn::bridge::x11
