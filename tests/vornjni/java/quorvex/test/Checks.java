package quorvex.test;

import java.nio.charset.StandardCharsets;

/** What the Java tests share: checks that throw, named cases counted, the closing line. */
final class Checks {
  interface Case {
    void run() throws Exception;
  }

  static int passed;
  static int failed;

  private Checks() {}

  static void check(boolean condition, String what) {
    if (!condition) throw new AssertionError(what);
  }

  static void equal(Object expected, Object actual, String what) {
    if (!expected.equals(actual))
      throw new AssertionError(what + ": expected " + expected + ", got " + actual);
  }

  /** The NUL-terminated text in a field of a payload. */
  static String text(byte[] bytes, int offset, int width) {
    int end = offset;
    while (end < offset + width && bytes[end] != 0) end++;
    return new String(bytes, offset, end - offset, StandardCharsets.ISO_8859_1);
  }

  /** Runs one case, printing "ok" or "FAIL" with its name. */
  static void run(String name, Case body) {
    try {
      body.run();
      passed++;
      System.out.println("ok   " + name);
    } catch (Throwable error) {
      failed++;
      System.out.println("FAIL " + name + ": " + error);
    }
  }

  /** Prints the counts and ends the program, failing when a case failed. */
  static void finish() {
    System.out.println(passed + " passed, " + failed + " failed");
    System.exit(failed == 0 ? 0 : 1);
  }
}
