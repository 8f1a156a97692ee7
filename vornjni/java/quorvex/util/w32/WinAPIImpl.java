package quorvex.util.w32;

/**
 * Finding and placing windows, through the native library vornjni (found on
 * java.library.path). On Linux a window handle is an X window id of the display named by
 * DISPLAY, and the arguments keep the values of the Windows calls they stand for. Every method
 * returns its failure result when there is no display (99; 0 "no window" for the two finds).
 */
public class WinAPIImpl {
  static {
    System.loadLibrary("vornjni");
  }

  public static final int HWND_TOP = 0;
  public static final int HWND_BOTTOM = 1;
  public static final int HWND_TOPMOST = -1;
  public static final int HWND_NOTOPMOST = -2;
  public static final int SWP_NOSIZE = 0x1;
  public static final int SWP_NOMOVE = 0x2;
  public static final int SWP_NOZORDER = 0x4;
  public static final int SWP_SHOWWINDOW = 0x40;
  public static final int SWP_HIDEWINDOW = 0x80;
  public static final int SW_HIDE = 0;
  public static final int SW_SHOWNORMAL = 1;
  public static final int SW_MAXIMIZE = 3;
  public static final int SW_SHOWNOACTIVATE = 4;
  public static final int SW_SHOW = 5;
  public static final int SW_MINIMIZE = 6;
  public static final int SW_RESTORE = 9;

  /**
   * Moves, sizes and restacks the window as the SWP_ flags say (hwndInsertAfter: HWND_TOP,
   * HWND_BOTTOM, HWND_TOPMOST, HWND_NOTOPMOST, or the window to go just below), then shows or
   * hides it. 0 on success, 99 on failure.
   */
  public native int setWindowPos(int hwnd, int hwndInsertAfter, int x, int y, int cx, int cy,
      int flags);

  /** Applies an SW_ command: 0 when the window was visible before, else 99. */
  public native int showWindow(int hwnd, int cmdShow);

  /**
   * The topmost top-level window of that class (WM_CLASS class or instance) and title
   * (_NET_WM_NAME or WM_NAME); an empty or null text matches any. 0 when there is none.
   */
  public native int findWindow(String className, String title);

  /**
   * As findWindow among the children of parent (0: the top-level windows), below childAfter
   * (0: from the top).
   */
  public native int findWindowEx(int parent, int childAfter, String className, String title);
}
