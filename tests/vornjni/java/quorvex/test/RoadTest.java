package quorvex.test;

import static quorvex.test.Checks.*;

import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.concurrent.LinkedBlockingQueue;
import java.util.concurrent.TimeUnit;
import java.util.function.Predicate;
import quorvex.api.binding.ClientAPI;

/**
 * A trader's road from Java on the live library against vornfakehost (java-road.conv): logon,
 * the download, a price subscribed and read, an order entered, amended and cancelled, another
 * filled, its fill and the position read, logoff. Arguments: the live library's folder, "plain"
 * or "tls" (both links over TLS, the fake host's certificate matched against its address), the
 * fake host's and its price feed's "host:port", a work folder for the API's files.
 */
public final class RoadTest {
  static final int HOST_LINK = 1;
  static final int PRICE_LINK = 2;
  static final int LOGON_STATUS = 3;
  static final int ORDER = 5;
  static final int DOWNLOAD_COMPLETE = 7;
  static final int PRICE = 8;
  static final int FILL = 9;
  // Order states in the order record.
  static final int WORKING = 3;
  static final int CANCELLED = 5;
  static final int FILLED = 8;
  static final String EX = "LIFFE";
  static final String COMM = "FTSE";
  static final String DATE = "MAR27";
  static final String ACCOUNT = "TRADER1";
  static final int LINK_UP = 3;
  static final long WAIT_SECONDS = 10;
  // A link comes up on the heartbeat's ticks, some seconds after it is set up (over TLS about
  // seven here): its wait is longer.
  static final long LINK_WAIT_SECONDS = 40;

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
      return first(type, bytes -> true, WAIT_SECONDS);
    }

    Event first(int type, Predicate<byte[]> test) throws InterruptedException {
      return first(type, test, WAIT_SECONDS);
    }

    /**
     * The first event of the type whose payload passes the test so far, else the next to
     * arrive within the wait.
     */
    Event first(int type, Predicate<byte[]> test, long waitSeconds)
        throws InterruptedException {
      return first(type, test, waitSeconds, 0);
    }

    /** As above, from the event of that index in arrival order on (see mark). */
    Event first(int type, Predicate<byte[]> test, long waitSeconds, int from)
        throws InterruptedException {
      for (Event event : seen.subList(Math.min(from, seen.size()), seen.size()))
        if (event.type == type && test.test(event.bytes)) return event;
      long deadline = System.nanoTime() + TimeUnit.SECONDS.toNanos(waitSeconds);
      for (;;) {
        Event event = events.poll(deadline - System.nanoTime(), TimeUnit.NANOSECONDS);
        if (event == null) throw new AssertionError("no event " + type + " after " + types());
        seen.add(event);
        if (seen.size() > from && event.type == type && test.test(event.bytes)) return event;
      }
    }

    /** The index the next event to arrive will have, so a wait can skip those before it. */
    int mark() {
      return seen.size() + events.size();
    }

    void linkUp(int type) throws InterruptedException {
      first(type, bytes -> bytes[1] == LINK_UP, LINK_WAIT_SECONDS);
    }

    List<Integer> types() {
      List<Integer> types = new ArrayList<>();
      for (Event event : seen) types.add(event.type);
      return types;
    }
  }

  static void put(byte[] record, int offset, String text) {
    byte[] bytes = text.getBytes(StandardCharsets.ISO_8859_1);
    System.arraycopy(bytes, 0, record, offset, bytes.length);
  }

  static void putInt(byte[] record, int offset, int value) {
    ByteBuffer.wrap(record, offset, 4).order(ByteOrder.LITTLE_ENDIAN).putInt(value);
  }

  static int intAt(byte[] record, int offset) {
    return ByteBuffer.wrap(record, offset, 4).order(ByteOrder.LITTLE_ENDIAN).getInt();
  }

  /** A limit order on the March future of the fake host's market. */
  static byte[] newOrder(char side, String price, int lots) {
    return newOrder("LIMIT", EX, COMM, DATE, side, price, lots);
  }

  static byte[] newOrder(String type, String exchange, String commodity, String date, char side,
      String price, int lots) {
    byte[] order = new byte[957];
    put(order, 0, ACCOUNT);
    put(order, 21, type);
    put(order, 32, exchange);
    put(order, 43, commodity);
    put(order, 54, date);
    order[105] = (byte) side;
    put(order, 106, price);
    putInt(order, 148, lots);
    return order;
  }

  /** The order's newest version once it passes the test, within WAIT_SECONDS. */
  static byte[] orderWhen(ClientAPI api, String id, Predicate<byte[]> test, String what)
      throws InterruptedException {
    return orderWhen(api, id, test, what, WAIT_SECONDS);
  }

  static byte[] orderWhen(ClientAPI api, String id, Predicate<byte[]> test, String what,
      long waitSeconds) throws InterruptedException {
    byte[] order = new byte[1410];
    long deadline = System.nanoTime() + TimeUnit.SECONDS.toNanos(waitSeconds);
    for (;;) {
      equal(0, api.getOrderById(id, 0, order), "getOrderById " + id);
      if (test.test(order)) return order;
      if (System.nanoTime() > deadline)
        throw new AssertionError(what + ": order " + id + " stays in state " + order[262]
            + " at " + text(order, 176, 21) + " for " + intAt(order, 218));
      Thread.sleep(20);
    }
  }

  static void road(String apiDir, boolean tls, String host, String price, String workDir)
      throws Exception {
    Recorder api = new Recorder();
    Thread callbacks = new Thread(() -> api.processCallbacks(api.buffer), "callbacks");
    callbacks.setDaemon(true);
    int loggedOff;
    try {
      equal(0, api.initialise(apiDir, workDir, false, false, false, "roadtest", true, null, ""),
          "initialise");
      callbacks.start();
      equal(0, api.setSSLEnabled(tls), "setSSLEnabled");
      equal(0, api.setPDDSSLEnabled(tls), "setPDDSSLEnabled");
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

      equal(0, api.subscribe(EX, COMM, DATE), "subscribe");
      Event priceEvent = api.first(PRICE);
      equal(EX, text(priceEvent.bytes, 0, 11), "price event's exchange");
      byte[] prices = new byte[2408];
      equal(0, api.getContractPrices(EX, COMM, DATE, prices), "getContractPrices");
      equal("6500", text(prices, 0, 21), "bid");
      equal("6501", text(prices, 30, 21), "offer");

      equal(0, api.addOrder(newOrder('B', "6500.5", 3)), "addOrder");
      String id = text(api.first(ORDER).bytes, 0, 11);
      orderWhen(api, id, o -> o[262] == WORKING, "working");
      byte[] amend = new byte[782];
      put(amend, 0, "6501");
      putInt(amend, 42, 5);
      amend[57] = 'O';
      put(amend, 58, ACCOUNT);
      equal(0, api.amendOrder(id, amend), "amendOrder");
      orderWhen(api, id,
          o -> o[262] == WORKING && intAt(o, 218) == 5 && text(o, 176, 21).equals("6501"),
          "amended");
      equal(0, api.cancelOrder(id), "cancelOrder");
      orderWhen(api, id, o -> o[262] == CANCELLED, "cancelled");

      equal(0, api.addOrder(newOrder('S', "6500", 2)), "addOrder of the sell");
      Event fillEvent = api.first(FILL);
      int[] count = new int[1];
      equal(0, api.countFills(count), "countFills");
      equal(1, count[0], "fills");
      byte[] fill = new byte[452];
      equal(0, api.getFill(0, fill), "getFill");
      String sellId = text(fill, 174, 11);
      equal("S", text(fill, 148, 1), "fill's side");
      equal(2, intAt(fill, 149), "fill's lots");
      equal("6500", text(fill, 153, 21), "fill's price");
      orderWhen(api, sellId, o -> o[262] == FILLED && intAt(o, 233) == 2, "filled");
      check(fillEvent.bytes.length == 82, "fill event's size");
      byte[] position = new byte[29];
      equal(0, api.contractPosition(EX, COMM, DATE, ACCOUNT, position), "contractPosition");
      equal(0, intAt(position, 21), "position bought");
      equal(2, intAt(position, 25), "position sold");
    } finally {
      loggedOff = api.logoff();
      callbacks.join(TimeUnit.SECONDS.toMillis(WAIT_SECONDS));
    }
    equal(0, loggedOff, "logoff");
    equal(false, callbacks.isAlive(), "processCallbacks ended at logoff");
  }

  public static void main(String[] args) {
    String name = "the road over " + (args[1].equals("tls") ? "TLS" : "a plain link");
    run(name, () -> road(args[0], args[1].equals("tls"), args[2], args[3], args[4]));
    finish();
  }
}
