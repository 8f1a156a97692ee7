package quorvex.test;

import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.concurrent.LinkedBlockingQueue;
import java.util.concurrent.TimeUnit;
import java.util.function.Predicate;
import quorvex.api.binding.ClientAPI;

/**
 * A trader's road from Java on the live library against vornfakehost (its default session):
 * logon, the download, both links up, logoff. Arguments: the live library's folder, the fake
 * host's and its price feed's "host:port", a work folder for the API's files.
 */
public final class RoadTest {
  static final int HOST_LINK = 1;
  static final int PRICE_LINK = 2;
  static final int LOGON_STATUS = 3;
  static final int DOWNLOAD_COMPLETE = 7;
  static final int LINK_UP = 3;
  static final long WAIT_SECONDS = 10;

  /** One event as messageReceived saw it. */
  static final class Event {
    final int type;
    final byte[] bytes;

    Event(int type, byte[] bytes) {
      this.type = type;
      this.bytes = bytes;
    }
  }

  static final class Recorder extends ClientAPI {
    final byte[] buffer = new byte[ClientAPI.CALLBACK_BUFFER_SIZE];
    final LinkedBlockingQueue<Event> events = new LinkedBlockingQueue<>();
    final List<Event> seen = new ArrayList<>();

    @Override
    protected void messageReceived(int type, int size) {
      events.add(new Event(type, Arrays.copyOf(buffer, size)));
    }

    Event first(int type) throws InterruptedException {
      return first(type, bytes -> true);
    }

    /**
     * The first event of the type whose payload passes the test so far, else the next to
     * arrive within WAIT_SECONDS.
     */
    Event first(int type, Predicate<byte[]> test) throws InterruptedException {
      for (Event event : seen)
        if (event.type == type && test.test(event.bytes)) return event;
      long deadline = System.nanoTime() + TimeUnit.SECONDS.toNanos(WAIT_SECONDS);
      for (;;) {
        Event event = events.poll(deadline - System.nanoTime(), TimeUnit.NANOSECONDS);
        if (event == null) throw new AssertionError("no event " + type + " after " + types());
        seen.add(event);
        if (event.type == type && test.test(event.bytes)) return event;
      }
    }

    void linkUp(int type) throws InterruptedException {
      first(type, bytes -> bytes[1] == LINK_UP);
    }

    List<Integer> types() {
      List<Integer> types = new ArrayList<>();
      for (Event event : seen) types.add(event.type);
      return types;
    }
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

  static void road(String apiDir, String host, String price, String workDir) throws Exception {
    Recorder api = new Recorder();
    Thread callbacks = new Thread(() -> api.processCallbacks(api.buffer), "callbacks");
    callbacks.setDaemon(true);
    int loggedOff;
    try {
      equal(0, api.initialise(apiDir, workDir, false, false, false, "roadtest", true, null, ""),
          "initialise");
      callbacks.start();
      equal(0, api.openConnections(new String[] {host}, new String[] {price}),
          "openConnections");
      api.linkUp(HOST_LINK);
      equal(0, api.logon("trader1", "secret1", "", true, false), "logon");
      Event status = api.first(LOGON_STATUS);
      equal(1, (int) status.bytes[0], "logon accepted");
      equal("Welcome to the fake host", text(status.bytes, 1, 61), "status text");
      equal("TRADER1", text(status.bytes, 62, 21), "trader account");
      api.first(DOWNLOAD_COMPLETE);
      api.linkUp(PRICE_LINK);
    } finally {
      loggedOff = api.logoff();
      callbacks.join(TimeUnit.SECONDS.toMillis(WAIT_SECONDS));
    }
    equal(0, loggedOff, "logoff");
    equal(false, callbacks.isAlive(), "processCallbacks ended at logoff");
  }

  public static void main(String[] args) {
    int failed = 0;
    try {
      road(args[0], args[1], args[2], args[3]);
      System.out.println("ok   the road over a plain link");
    } catch (Throwable error) {
      failed++;
      System.out.println("FAIL the road over a plain link: " + error);
    }
    System.out.println((1 - failed) + " passed, " + failed + " failed");
    System.exit(failed == 0 ? 0 : 1);
  }
}
