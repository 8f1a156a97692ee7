// A window for the Java window helpers' test to find and move, and its outside view of it.
// Usage: vornjni_xwindow_fixture CLASS TITLE. Prints the new window's id, then answers one line
// per command read from stdin: "geometry" (x y width height), "state" (the map state),
// "warp X Y" (moves the pointer; "ok"). Ends at end of input.

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  Display* display = XOpenDisplay(nullptr);
  if (!display) return 3;
  const Window root = DefaultRootWindow(display);
  const Window window = XCreateSimpleWindow(display, root, 5, 5, 50, 40, 0, 0, 0);
  XClassHint hint{argv[1], argv[1]};
  XSetClassHint(display, window, &hint);
  XStoreName(display, window, argv[2]);
  XMapWindow(display, window);
  XSync(display, False);
  std::printf("%lu\n", window);
  std::fflush(stdout);
  char line[128];
  while (std::fgets(line, sizeof line, stdin)) {
    int x = 0, y = 0;
    if (std::sscanf(line, "warp %d %d", &x, &y) == 2) {
      XWarpPointer(display, None, root, 0, 0, 0, 0, x, y);
      XSync(display, False);
      std::printf("ok\n");
    } else if (line[0] == 'g') {
      Window parent;
      unsigned width = 0, height = 0, border, depth;
      XGetGeometry(display, window, &parent, &x, &y, &width, &height, &border, &depth);
      std::printf("%d %d %u %u\n", x, y, width, height);
    } else if (line[0] == 's') {
      XWindowAttributes attributes{};
      XGetWindowAttributes(display, window, &attributes);
      std::printf("%d\n", attributes.map_state);
    } else {
      std::printf("?\n");
    }
    std::fflush(stdout);
  }
  XDestroyWindow(display, window);
  XCloseDisplay(display);
  return 0;
}
