package quorvex.util;

/**
 * The pointer position, through the native library vornjni (found on java.library.path). On
 * Linux it is read from the X display named by DISPLAY.
 */
public class BasicWinAPIImpl {
  static {
    System.loadLibrary("vornjni");
  }

  /**
   * Writes the pointer's screen position to out[0] (x) and out[1] (y) and returns 0; returns 99
   * with out untouched when there is no display. An array shorter than 2 throws
   * IllegalArgumentException.
   */
  public native int getCursorPos(int[] out);
}
