package quorvex.test;

import static quorvex.test.Checks.*;

import java.util.concurrent.TimeUnit;
import java.util.function.Predicate;
import quorvex.test.RoadTest.Event;
import quorvex.test.RoadTest.Recorder;

/**
 * The Java road on the simulator library, with no server: logon, the download, a price of the
 * simulated market subscribed and read, a resting order entered, amended and cancelled, a buy at
 * the upper price limit that fills, its fill and the position read, logoff. The simulated host
 * moves orders on its own clock (a status pass every 600 ms, a cancel or amend completing one
 * pass in three), so each step reads the order's state until it holds, within a generous wait.
 * Arguments: the simulator library's folder (its data files beside it), a work folder for the
 * API's files.
 */
public final class SimRoadTest {
  static final String EX = "LIFFE";
  static final String COMM = "IDX100";
  static final String DATE = "MAR27";
  // The March contract's price limits in the simulator's data. The simulated market starts
  // midway (7900) and one step a second moves its best offer down by a few points at most, so a
  // buy at the lower limit rests for the road's length and one at the upper limit trades.
  static final double LOW = 7600;
  static final double HIGH = 8200;
  static final long SIM_WAIT_SECONDS = 40;
  // Order states in the order events.
  static final int EVENT_QUEUED = 1;
  static final int EVENT_SENT = 2;
  static final int EVENT_FILLED = 10;
  static final int INVALID_ORDER_ID = 25;

  static void inRange(String text, String what) {
    double value = Double.parseDouble(text);
    check(value >= LOW && value <= HIGH, what + " " + text + " outside the range");
  }

  static boolean digits(String text) {
    return !text.isEmpty() && text.chars().allMatch(Character::isDigit);
  }

  /**
   * Enters a limit order and follows it to the number the simulated host gives it on sending:
   * the local id 'N...' comes with the queued event, the number with the event whose old id is
   * the local one.
   */
  static String enter(Recorder api, char side, String price, int lots) throws Exception {
    byte[] order = RoadTest.newOrder("Limit", EX, COMM, DATE, side, price, lots);
    order[163] = 'O';
    int from = api.mark();
    equal(0, api.addOrder(order), "addOrder at " + price);
    String local = text(api.first(RoadTest.ORDER,
        e -> e[0] == 'N' && e[22] == EVENT_QUEUED, SIM_WAIT_SECONDS, from).bytes, 0, 11);
    Event sent = api.first(RoadTest.ORDER,
        e -> text(e, 11, 11).equals(local) && !text(e, 0, 11).equals(local), SIM_WAIT_SECONDS,
        from);
    String id = text(sent.bytes, 0, 11);
    check(digits(id), "numbered id " + id + " of " + local);
    equal(EVENT_SENT, (int) sent.bytes[22], "state of " + id + " on its numbering");
    byte[] gone = new byte[1410];
    equal(INVALID_ORDER_ID, api.getOrderById(local, 0, gone),
        "the local id " + local + " after the renaming");
    return id;
  }

  static boolean isCommodity(byte[] priceEvent) {
    return text(priceEvent, 11, 11).equals(COMM);
  }

  /**
   * The contract's prices once both sides of the book are quoted: an order of the simulated
   * market that crosses a side's last levels leaves that side empty ("0") until an order comes
   * to it.
   */
  static byte[] quoted(Recorder api) throws InterruptedException {
    byte[] prices = new byte[2408];
    long deadline = System.nanoTime() + TimeUnit.SECONDS.toNanos(SIM_WAIT_SECONDS);
    for (;;) {
      int from = api.mark();
      equal(0, api.getContractPrices(EX, COMM, DATE, prices), "getContractPrices");
      String bid = text(prices, 0, 21), offer = text(prices, 30, 21);
      if (!bid.equals("0") && !offer.equals("0")) return prices;
      check(System.nanoTime() < deadline,
          "no quote on both sides: bid " + bid + ", offer " + offer);
      // Reading cleared the change mask, so the next change brings an event.
      api.first(RoadTest.PRICE, SimRoadTest::isCommodity, SIM_WAIT_SECONDS, from);
    }
  }

  static byte[] orderWhen(Recorder api, String id, Predicate<byte[]> test, String what)
      throws InterruptedException {
    return RoadTest.orderWhen(api, id, test, what, SIM_WAIT_SECONDS);
  }

  static byte[] position(Recorder api) {
    byte[] position = new byte[29];
    equal(0, api.contractPosition(EX, COMM, DATE, RoadTest.ACCOUNT, position),
        "contractPosition");
    return position;
  }

  static void road(String simDir, String workDir) throws Exception {
    Recorder api = new Recorder();
    Thread callbacks = new Thread(() -> api.processCallbacks(api.buffer), "callbacks");
    callbacks.setDaemon(true);
    int loggedOff;
    try {
      equal(0,
          api.initialise(simDir, workDir, true, false, false, "simroad", true, null, ""),
          "initialise");
      callbacks.start();
      equal(0,
          api.openConnections(new String[] {"simulator:1"}, new String[] {"simulator:2"}),
          "openConnections");
      api.linkUp(RoadTest.HOST_LINK);
      equal(0, api.logon("trader1", "secret1", "", true, false), "logon");
      equal(1, (int) api.first(RoadTest.LOGON_STATUS).bytes[0], "logon accepted");
      api.first(RoadTest.DOWNLOAD_COMPLETE);
      api.linkUp(RoadTest.PRICE_LINK);

      equal(0, api.subscribe(EX, COMM, DATE), "subscribe");
      // A price event follows only a change of the change mask: reading clears it.
      byte[] prices = new byte[2408];
      api.getContractPrices(EX, COMM, DATE, prices);
      Event price = api.first(RoadTest.PRICE, SimRoadTest::isCommodity);
      equal(EX, text(price.bytes, 0, 11), "price event's exchange");
      prices = quoted(api);
      inRange(text(prices, 0, 21), "bid");
      inRange(text(prices, 30, 21), "offer");
      byte[] before = position(api);

      // A buy resting at the lower limit: working, amended, cancelled.
      String resting = enter(api, 'B', "7600", 3);
      byte[] order = orderWhen(api, resting, o -> o[262] == RoadTest.WORKING, "working");
      equal(resting, text(order, 6, 11), "order id");
      equal(resting, text(order, 17, 11), "display id");
      equal("7600", text(order, 176, 21), "order price");
      equal(3, RoadTest.intAt(order, 218), "order lots");
      byte[] amend = new byte[782];
      RoadTest.put(amend, 0, "7601");
      RoadTest.putInt(amend, 42, 5);
      amend[57] = 'O';
      RoadTest.put(amend, 58, RoadTest.ACCOUNT);
      equal(0, api.amendOrder(resting, amend), "amendOrder");
      order = orderWhen(api, resting,
          o -> o[262] == RoadTest.WORKING && RoadTest.intAt(o, 218) == 5, "amended");
      equal("7601", text(order, 176, 21), "amended price");
      equal(0, RoadTest.intAt(order, 233), "filled lots of the resting order");
      equal(0, api.cancelOrder(resting), "cancelOrder");
      order = orderWhen(api, resting, o -> o[262] == RoadTest.CANCELLED, "cancelled");
      equal(0, RoadTest.intAt(order, 233), "filled lots of the cancelled order");

      // A buy at the upper limit trades with the best offer, at a price of the book.
      int[] fills = new int[1];
      equal(0, api.countFills(fills), "countFills");
      int fillsBefore = fills[0];
      int from = api.mark();
      String filled = enter(api, 'B', "8200", 1);
      order = orderWhen(api, filled, o -> o[262] == RoadTest.FILLED, "filled");
      equal(1, RoadTest.intAt(order, 233), "filled lots");
      equal(1, RoadTest.intAt(order, 237), "number of fills");
      equal(0, api.countFills(fills), "countFills");
      equal(fillsBefore + 1, fills[0], "fills");
      // The fill's event comes before the order's, which reports it filled.
      Event fillEvent = api.first(RoadTest.FILL, e -> text(e, 0, 11).equals(filled));
      Event filledEvent = api.first(RoadTest.ORDER,
          e -> text(e, 0, 11).equals(filled) && e[22] == EVENT_FILLED, RoadTest.WAIT_SECONDS, from);
      check(api.seen.indexOf(fillEvent) < api.seen.indexOf(filledEvent),
          "fill event after the order's " + api.types());
      String fillId = text(fillEvent.bytes, 11, 71);
      byte[] fill = new byte[452];
      equal(0, api.getFillById(fillId, fill), "getFillById " + fillId);
      equal(fillId, text(fill, 4, 71), "fill id");
      equal(filled, text(fill, 174, 11), "fill's order");
      equal(EX, text(fill, 75, 11), "fill's exchange");
      equal(COMM, text(fill, 86, 11), "fill's commodity");
      equal(DATE, text(fill, 97, 51), "fill's date");
      equal("B", text(fill, 148, 1), "fill's side");
      equal(1, RoadTest.intAt(fill, 149), "fill's lots");
      equal(RoadTest.ACCOUNT, text(fill, 249, 21), "fill's account");
      String fillPrice = text(fill, 153, 21);
      inRange(fillPrice, "fill price");
      equal(Double.parseDouble(fillPrice), Double.parseDouble(text(order, 241, 21)),
          "average price");
      byte[] after = position(api);
      equal(RoadTest.intAt(before, 21) + 1, RoadTest.intAt(after, 21), "position bought");
      equal(RoadTest.intAt(before, 25), RoadTest.intAt(after, 25), "position sold");
    } finally {
      loggedOff = api.logoff();
      callbacks.join(TimeUnit.SECONDS.toMillis(RoadTest.WAIT_SECONDS));
    }
    equal(0, loggedOff, "logoff");
    check(!callbacks.isAlive(), "processCallbacks ended at logoff");
  }

  public static void main(String[] args) {
    run("the road on the simulator", () -> road(args[0], args[1]));
    finish();
  }
}
