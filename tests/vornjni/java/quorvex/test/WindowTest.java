package quorvex.test;

import java.io.BufferedReader;
import java.io.InputStreamReader;
import java.io.PrintWriter;
import java.nio.charset.StandardCharsets;
import java.util.Arrays;
import quorvex.util.BasicWinAPIImpl;
import quorvex.util.w32.WinAPIImpl;

/**
 * The window helpers from Java. Arguments: "x11" and the window fixture program (run on an X
 * server without a window manager), or "nodisplay" (run with DISPLAY unset); then a work folder.
 */
public final class WindowTest {
  static int passed;
  static int failed;

  static void check(boolean ok, String what) {
    if (ok) {
      ++passed;
    } else {
      ++failed;
      System.out.println("FAILED: " + what);
    }
  }

  static void checkEquals(Object expected, Object actual, String what) {
    check(expected.equals(actual), what + ": expected " + expected + ", got " + actual);
  }

  /** The fixture's own view of its window, through its own X connection. */
  static final class Fixture implements AutoCloseable {
    final Process process;
    final BufferedReader out;
    final PrintWriter in;
    final int window;

    Fixture(String program, String className, String title) throws Exception {
      process = new ProcessBuilder(program, className, title).redirectErrorStream(true).start();
      out = new BufferedReader(
          new InputStreamReader(process.getInputStream(), StandardCharsets.UTF_8));
      in = new PrintWriter(process.getOutputStream(), true, StandardCharsets.UTF_8);
      window = (int) Long.parseLong(out.readLine().trim());
    }

    String ask(String command) throws Exception {
      in.println(command);
      return out.readLine();
    }

    @Override
    public void close() throws Exception {
      in.close();
      process.waitFor();
    }
  }

  static void onX11(String fixtureProgram) throws Exception {
    WinAPIImpl win = new WinAPIImpl();
    BasicWinAPIImpl basic = new BasicWinAPIImpl();
    try (Fixture fixture = new Fixture(fixtureProgram, "VornJavaClass", "Vorn Java Window")) {
      int id = fixture.window;
      checkEquals(id, win.findWindow("VornJavaClass", "Vorn Java Window"), "find by both");
      checkEquals(id, win.findWindow("VornJavaClass", null), "find by class, null title");
      checkEquals(id, win.findWindow("", "Vorn Java Window"), "find by title");
      checkEquals(0, win.findWindow("NoSuchClass", ""), "no such class");
      checkEquals(id, win.findWindowEx(0, 0, "VornJavaClass", ""), "findWindowEx top level");
      checkEquals(0, win.findWindowEx(id, 0, "VornJavaClass", ""), "no such child");

      checkEquals(0, win.setWindowPos(id, WinAPIImpl.HWND_TOP, 30, 40, 200, 100,
          WinAPIImpl.SWP_NOZORDER), "setWindowPos");
      checkEquals("30 40 200 100", fixture.ask("geometry"), "geometry after the move");
      checkEquals(0, win.setWindowPos(id, WinAPIImpl.HWND_BOTTOM, 0, 0, 0, 0,
          WinAPIImpl.SWP_NOMOVE | WinAPIImpl.SWP_NOSIZE), "restack only");
      checkEquals("30 40 200 100", fixture.ask("geometry"), "geometry after the restack");
      checkEquals(99, win.setWindowPos(0x1fffffff, 0, 0, 0, 1, 1, 0), "no such window");

      checkEquals(0, win.showWindow(id, WinAPIImpl.SW_HIDE), "hide a shown window");
      checkEquals("0", fixture.ask("state"), "unmapped");
      checkEquals(99, win.showWindow(id, WinAPIImpl.SW_HIDE), "hide a hidden window");
      checkEquals(99, win.showWindow(id, WinAPIImpl.SW_SHOW), "show a hidden window");
      checkEquals("2", fixture.ask("state"), "viewable");
      checkEquals(0, win.showWindow(id, WinAPIImpl.SW_SHOW), "show a shown window");

      for (int[] at : new int[][] {{321, 123}, {5, 600}}) {
        checkEquals("ok", fixture.ask("warp " + at[0] + " " + at[1]), "warp");
        int[] out = new int[2];
        checkEquals(0, basic.getCursorPos(out), "getCursorPos");
        checkEquals(Arrays.toString(at), Arrays.toString(out), "pointer position");
      }
    }
    try {
      basic.getCursorPos(new int[1]);
      check(false, "a short array is refused");
    } catch (IllegalArgumentException expected) {
      ++passed;
    }
  }

  static void withoutDisplay() {
    WinAPIImpl win = new WinAPIImpl();
    int[] out = {7, 8};
    checkEquals(99, new BasicWinAPIImpl().getCursorPos(out), "getCursorPos");
    checkEquals("[7, 8]", Arrays.toString(out), "position untouched");
    checkEquals(99, win.setWindowPos(1, 0, 0, 0, 10, 10, 0), "setWindowPos");
    checkEquals(99, win.showWindow(1, WinAPIImpl.SW_SHOW), "showWindow");
    checkEquals(0, win.findWindow("", ""), "findWindow");
    checkEquals(0, win.findWindowEx(0, 0, "", ""), "findWindowEx");
  }

  public static void main(String[] args) throws Exception {
    if (args[0].equals("x11")) {
      onX11(args[1]);
    } else {
      withoutDisplay();
    }
    System.out.println(passed + " passed, " + failed + " failed");
    System.exit(failed == 0 ? 0 : 1);
  }
}
