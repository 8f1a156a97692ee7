package quorvex.test;

import static quorvex.test.Checks.*;

import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.concurrent.LinkedBlockingQueue;
import java.util.concurrent.TimeUnit;
import quorvex.api.binding.ClientAPI;

/**
 * A whole session from Java on the real simulator library, through the bridge.
 * Arguments: the simulator library's folder (its data files and stand-in library beside it),
 * a work folder for the API's logs.
 */
public final class SimSessionTest {
  static final int HOST_LINK = 1;
  static final int PRICE_LINK = 2;
  static final int LOGON_STATUS = 3;
  static final int DOWNLOAD_COMPLETE = 7;
  static final int CONNECTIVITY_STATUS = 14;
  static final int LINK_UP = 3;
  static final long WAIT_SECONDS = 5;


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

    /**
     * The first event of the type delivered so far, else the next to arrive within
     * WAIT_SECONDS.
     */
    Event first(int type) throws InterruptedException {
      for (Event event : seen)
        if (event.type == type) return event;
      long deadline = System.nanoTime() + TimeUnit.SECONDS.toNanos(WAIT_SECONDS);
      for (;;) {
        Event event = events.poll(deadline - System.nanoTime(), TimeUnit.NANOSECONDS);
        if (event == null) throw new AssertionError("no event " + type + " after " + types());
        seen.add(event);
        if (event.type == type) return event;
      }
    }

    List<Integer> types() {
      List<Integer> types = new ArrayList<>();
      for (Event event : seen) types.add(event.type);
      return types;
    }
  }

  static void logonAndLogoff(String simDir, String workDir) throws Exception {
    Recorder api = new Recorder();
    Thread callbacks = new Thread(() -> api.processCallbacks(api.buffer), "callbacks");
    callbacks.setDaemon(true);
    int loggedOff;
    try {
      equal(0, api.initialise(simDir, workDir, true, false, true, "simtest", false, null, ""),
          "initialise");
      callbacks.start();
      // The simulator ignores the addresses, but each link exists only once one is set.
      equal(0, api.openConnections(new String[] {"simulator:1"}, new String[] {"simulator:2"}),
          "openConnections");
      Event hostLink = api.first(HOST_LINK);
      equal(LINK_UP, (int) hostLink.bytes[1], "host link's new state");
      equal(0, api.logon("trader1", "secret1", "", true, false), "logon");

      Event status = api.first(LOGON_STATUS);
      equal(345, status.bytes.length, "logon status size");
      equal(1, (int) status.bytes[0], "logon accepted");
      equal("Demonstration interface started.", text(status.bytes, 1, 61), "status text");
      equal("TRADER1", text(status.bytes, 62, 21), "trader account");
      api.first(DOWNLOAD_COMPLETE);
      List<Integer> types = api.types();
      check(types.indexOf(LOGON_STATUS) < types.indexOf(DOWNLOAD_COMPLETE),
          "logon status before download complete: " + types);
      Event hub = api.first(CONNECTIVITY_STATUS);
      equal("DEMO HUB", text(hub.bytes, 0, 37), "first server");
      Event prices = api.first(PRICE_LINK);
      equal(LINK_UP, (int) prices.bytes[1], "price link's new state");
    } finally {
      loggedOff = api.logoff();
      callbacks.join(TimeUnit.SECONDS.toMillis(WAIT_SECONDS));
    }
    equal(0, loggedOff, "logoff");
    check(!callbacks.isAlive(), "processCallbacks ended at logoff");
    equal(52, api.logon("trader1", "secret1", "", true, false), "logon after logoff");
    String maps = new String(Files.readAllBytes(Paths.get("/proc/self/maps")),
        StandardCharsets.ISO_8859_1);
    check(!maps.contains(simDir + "libsimapi.so"), "the simulator library is unloaded");
  }

  public static void main(String[] args) {
    String name = "trader logs on to the simulator, events arrive in Java, logoff ends them";
    run(name, () -> logonAndLogoff(args[0], args[1]));
    finish();
  }
}
