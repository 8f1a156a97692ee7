package quorvex.test;

import static quorvex.test.Checks.*;

import java.io.File;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.concurrent.LinkedBlockingQueue;
import java.util.concurrent.TimeUnit;
import quorvex.api.binding.ClientAPI;

/**
 * The bridge in a real JVM against the fake API library.
 * Arguments: the fake's folder, the folder of the fake lacking one export, a work folder.
 */
public final class BridgeTest {
  static final int[] REGISTRATION_ORDER = {1, 2, 8, 27, 26, 21, 22, 16, 19, 10, 5, 38, 9, 4, 11,
      12, 33, 32, 31, 36, 7, 3, 6, 13, 25, 18, 14, 15, 28, 29, 23, 24, 30, 37};

  static String fakeDir;
  static String missingDir;
  static String workDir;
  static final ExecutorService callbackThread = Executors.newSingleThreadExecutor();

  /** One event as messageReceived saw it. */
  static final class Event {
    final int type;
    final byte[] bytes;

    Event(int type, byte[] bytes) {
      this.type = type;
      this.bytes = bytes;
    }
  }

  /** Records every event; subclasses add what a case needs. */
  static class Recorder extends ClientAPI {
    final byte[] buffer = new byte[ClientAPI.CALLBACK_BUFFER_SIZE];
    final LinkedBlockingQueue<Event> events = new LinkedBlockingQueue<>();

    @Override
    protected void messageReceived(int type, int size) {
      events.add(new Event(type, Arrays.copyOf(buffer, size)));
    }

    Future<?> startCallbacks() {
      return callbackThread.submit(() -> processCallbacks(buffer));
    }

    int initialise(String apiDir, boolean demo, boolean test, boolean conStatus) {
      return initialise(apiDir, workDir, demo, test, conStatus, "app", false, null, "res");
    }
  }

  static void ended(Future<?> callbacks, String what) throws Exception {
    callbacks.get(10, TimeUnit.SECONDS);
    check(callbacks.isDone(), what);
  }

  static List<String> callLog() throws Exception {
    return Files.readAllLines(Paths.get(workDir + "fakeapi.log"), StandardCharsets.ISO_8859_1);
  }

  static List<Integer> registeredIds(List<String> log) {
    List<Integer> ids = new ArrayList<>();
    for (String line : log)
      if (line.startsWith("vnRegister")) ids.add(Integer.parseInt(line.split("\\|")[1]));
    return ids;
  }

  static List<Integer> expectedIds(boolean conStatus) {
    List<Integer> ids = new ArrayList<>();
    for (int id : REGISTRATION_ORDER)
      if (id != 14 || conStatus) ids.add(id);
    return ids;
  }

  static int payloadByte(int id, int index) {
    return (id * 31 + index + 1) & 0xff;
  }

  static int payloadSize(int id) {
    switch (id) {
      case 1: case 2: return 2;
      case 3: return 345;
      case 4: return 514;
      case 5: case 15: case 25: case 28: case 29: return 27;
      case 6: case 7: case 18: case 30: return 0;
      case 9: return 82;
      case 10: return 77;
      case 13: case 31: case 36: return 11;
      case 14: return 394;
      case 22: return 114;
      case 23: return 135;
      case 24: return 145;
      case 26: return 78;
      case 32: return 22;
      case 37: return 47;
      case 38: return 36;
      default: return 73;
    }
  }

  static String hex(byte[] bytes) {
    StringBuilder text = new StringBuilder();
    for (byte b : bytes) text.append(String.format("%02x", b & 0xff));
    return text.toString();
  }

  static long count(String folder) {
    String[] names = new File(folder).list();
    return names == null ? -1 : names.length;
  }

  public static void main(String[] args) throws Exception {
    fakeDir = args[0];
    missingDir = args[1];
    workDir = args[2];

    run("natives answer 52 before initialise, logoff gives 0", () -> {
      Recorder api = new Recorder();
      equal(52, api.openConnections(new String[] {"a:1"}, new String[0]), "openConnections");
      equal(52, api.logon("u", "p", "", false, false), "logon");
      equal(0, api.logoff(), "logoff");
      equal("Library not loaded", api.getErrorMessage(52), "text 52");
      equal("Callback not registered", api.getErrorMessage(56), "text 56");
      equal("Dynamic API Error - vnGetErrorMessage not Assigned", api.getErrorMessage(3),
          "text 3");
    });

    run("a failed load: 55, 53, and logoff still ends a waiting processCallbacks", () -> {
      Recorder api = new Recorder();
      equal(55, api.initialise(workDir, false, false, false), "no file");
      Future<?> callbacks = api.startCallbacks();
      equal(53, api.initialise(missingDir, false, false, false), "lacking an export");
      equal(52, api.logon("u", "p", "", false, false), "left unloaded");
      equal(0, api.logoff(), "logoff");
      ended(callbacks, "processCallbacks ended");
    });

    run("initialise calls in order; environment letters and files", () -> {
      Recorder api = new Recorder();
      Object[][] cases = {{false, false, "C"}, {false, true, "T"}, {true, false, "D"}};
      for (Object[] c : cases) {
        boolean demo = (Boolean) c[0];
        boolean conStatus = !demo;
        equal(0, api.initialise(fakeDir, demo, (Boolean) c[1], conStatus), "initialise " + c[2]);
        List<String> log = callLog();
        equal(Arrays.asList("vnSetClientPath|" + workDir,
                  "vnInitialise|" + c[2] + "|v2.8.3|app|Calvoru 6.3|res|0",
                  "vnSetHostHandShake|0|0", "vnSetPriceHandShake|0|0"),
            log.subList(0, 4), "first calls " + c[2]);
        equal(expectedIds(conStatus), registeredIds(log), "registrations " + c[2]);
        equal(0, api.logoff(), "logoff");
      }
    });

    run("openConnections feeds each list from last to first; null arrays give 99", () -> {
      Recorder api = new Recorder();
      equal(0, api.initialise(fakeDir, false, false, false), "initialise");
      equal(0, api.openConnections(new String[] {"a:1", "b:2"}, new String[] {"p:3", null}),
          "openConnections");
      List<String> log = callLog();
      int b = log.indexOf("vnSetHostAddress|b|2");
      int a = log.indexOf("vnSetHostAddress|a|1");
      int empty = log.indexOf("vnSetPriceAddress||");
      int p = log.indexOf("vnSetPriceAddress|p|3");
      int ready = log.indexOf("vnReady");
      check(b >= 0 && b < a && a < empty && empty < p && p < ready, "order " + log);
      equal(99, api.openConnections(null, new String[0]), "null hosts");
      equal(0, api.logoff(), "logoff");
    });

    run("logon record bytes, texts cut to 255; a refused logon gives its code", () -> {
      Recorder api = new Recorder();
      equal(0, api.initialise(fakeDir, false, false, false), "initialise");
      char[] longName = new char[300];
      Arrays.fill(longName, 'u');
      equal(0, api.logon(new String(longName), "pw", "np", true, false), "logon");
      byte[] record = new byte[770];
      Arrays.fill(record, 0, 255, (byte) 'u');
      record[256] = 'p';
      record[257] = 'w';
      record[512] = 'n';
      record[513] = 'p';
      record[768] = 'Y';
      record[769] = 'N';
      List<String> log = callLog();
      check(log.contains("vnNotifyAllMessages|Y"), "vnNotifyAllMessages");
      check(log.contains("vnLogOn|" + hex(record)), "record");
      equal(0, api.logoff(), "logoff");
      equal(0, api.initialise(fakeDir, false, false, false), "initialise");
      equal(4, api.logon("NOPE", "pw", "", false, false), "refused");
      equal(0, api.logoff(), "logoff");
    });

    run("all 34 events arrive in order with type, size and bytes", () -> {
      Recorder api = new Recorder();
      equal(0, api.initialise(fakeDir, false, false, true), "initialise");
      Future<?> callbacks = api.startCallbacks();
      equal(0, api.logon("u", "p", "", false, false), "logon");
      for (int id : REGISTRATION_ORDER) {
        Event event = api.events.poll(10, TimeUnit.SECONDS);
        check(event != null, "event " + id + " arrived");
        equal(id, event.type, "type");
        equal(payloadSize(id), event.bytes.length, "size of " + id);
        for (int i = 0; i < event.bytes.length; i++) {
          int expected = payloadByte(id, i);
          if (id == 3 && i == 343) expected = 1;
          if (id == 3 && i == 344) expected = 0;
          equal(expected, event.bytes[i] & 0xff, "byte " + i + " of " + id);
        }
      }
      equal(0, api.logoff(), "logoff");
      ended(callbacks, "processCallbacks ended");
      check(api.events.isEmpty(), "no more events (the unknown user message gave none)");
    });

    run("an exception from messageReceived is cleared and delivery goes on", () -> {
      Recorder api = new Recorder() {
        @Override
        protected void messageReceived(int type, int size) {
          super.messageReceived(type, size);
          if (type == 1) throw new IllegalStateException("thrown on purpose by the test");
        }
      };
      equal(0, api.initialise(fakeDir, false, false, true), "initialise");
      Future<?> callbacks = api.startCallbacks();
      equal(0, api.logon("u", "p", "", false, false), "logon");
      for (int i = 0; i < REGISTRATION_ORDER.length; i++)
        check(api.events.poll(10, TimeUnit.SECONDS) != null, "event " + i);
      equal(0, api.logoff(), "logoff");
      ended(callbacks, "processCallbacks ended");
    });

    run("logoff inside messageReceived", () -> {
      int[] result = {-1};
      Recorder api = new Recorder() {
        @Override
        protected void messageReceived(int type, int size) {
          if (result[0] == -1) result[0] = logoff();
        }
      };
      equal(0, api.initialise(fakeDir, false, false, false), "initialise");
      Future<?> callbacks = api.startCallbacks();
      equal(0, api.logon("u", "p", "", false, false), "logon");
      ended(callbacks, "processCallbacks ended");
      equal(0, result[0], "logoff result");
      equal(52, api.logon("u", "p", "", false, false), "unloaded");
    });

    run("logoff before processCallbacks starts is not lost", () -> {
      Recorder api = new Recorder();
      equal(0, api.initialise(fakeDir, false, false, false), "initialise");
      equal(0, api.logon("u", "p", "", false, false), "logon");
      equal(0, api.logoff(), "logoff");
      ended(api.startCallbacks(), "processCallbacks ended");
      check(api.events.isEmpty(), "events queued at logoff are not delivered");
    });

    run("a short or null buffer throws IllegalArgumentException", () -> {
      Recorder api = new Recorder();
      for (byte[] buffer : new byte[][] {new byte[513], null}) {
        try {
          api.processCallbacks(buffer);
          throw new AssertionError("no exception");
        } catch (IllegalArgumentException expected) {
          // as it should
        }
      }
    });

    run("20 sessions leave the threads and open files as they were", () -> {
      Recorder api = new Recorder();
      Runnable session = () -> {
        equal(0, api.initialise(fakeDir, false, false, true), "initialise");
        Future<?> callbacks = api.startCallbacks();
        equal(0, api.logon("u", "p", "", false, false), "logon");
        try {
          for (int i = 0; i < REGISTRATION_ORDER.length; i++)
            check(api.events.poll(10, TimeUnit.SECONDS) != null, "event");
          equal(0, api.logoff(), "logoff");
          ended(callbacks, "processCallbacks ended");
        } catch (Exception error) {
          throw new AssertionError(error);
        }
      };
      session.run();  // the first loads what stays loaded
      long threads = count("/proc/self/task");
      long files = count("/proc/self/fd");
      for (int i = 0; i < 20; i++) session.run();
      // The JVM may start a thread or open a file of its own meanwhile; a leak per session
      // would show as 20 or more.
      long moreThreads = count("/proc/self/task") - threads;
      long moreFiles = count("/proc/self/fd") - files;
      check(moreThreads <= 3, moreThreads + " more threads");
      check(moreFiles <= 3, moreFiles + " more open files");
      String maps = new String(Files.readAllBytes(Paths.get("/proc/self/maps")),
          StandardCharsets.ISO_8859_1);
      check(!maps.contains(fakeDir + "libvornapi.so"), "the API library is unloaded");
    });

    callbackThread.shutdownNow();
    finish();
  }
}
