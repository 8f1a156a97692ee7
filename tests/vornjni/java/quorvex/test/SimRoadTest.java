package quorvex.test;

import java.util.concurrent.TimeUnit;
import quorvex.test.RoadTest.Event;
import quorvex.test.RoadTest.Recorder;

/**
 * The Java road on the simulator library, with no server: logon, the download, a price of the
 * simulated market subscribed and read, an order entered and read back, logoff. Arguments: the
 * simulator library's folder (its data files beside it), a work folder for the API's files.
 */
public final class SimRoadTest {
  static final String EX = "LIFFE";
  static final String COMM = "IDX100";
  static final String DATE = "MAR27";
  // The March contract's price range in the simulator's data.
  static final double LOW = 7600;
  static final double HIGH = 8200;

  static void inRange(String text, String what) {
    double value = Double.parseDouble(text);
    RoadTest.check(value >= LOW && value <= HIGH, what + " " + text + " outside the range");
  }

  static void road(String simDir, String workDir) throws Exception {
    Recorder api = new Recorder();
    Thread callbacks = new Thread(() -> api.processCallbacks(api.buffer), "callbacks");
    callbacks.setDaemon(true);
    int loggedOff;
    try {
      RoadTest.equal(0,
          api.initialise(simDir, workDir, true, false, false, "simroad", true, null, ""),
          "initialise");
      callbacks.start();
      RoadTest.equal(0,
          api.openConnections(new String[] {"simulator:1"}, new String[] {"simulator:2"}),
          "openConnections");
      api.linkUp(RoadTest.HOST_LINK);
      RoadTest.equal(0, api.logon("trader1", "secret1", "", true, false), "logon");
      RoadTest.equal(1, (int) api.first(RoadTest.LOGON_STATUS).bytes[0], "logon accepted");
      api.first(RoadTest.DOWNLOAD_COMPLETE);
      api.linkUp(RoadTest.PRICE_LINK);

      RoadTest.equal(0, api.subscribe(EX, COMM, DATE), "subscribe");
      Event price = api.first(RoadTest.PRICE, bytes -> RoadTest.text(bytes, 11, 11).equals(COMM));
      RoadTest.equal(EX, RoadTest.text(price.bytes, 0, 11), "price event's exchange");
      byte[] prices = new byte[2408];
      RoadTest.equal(0, api.getContractPrices(EX, COMM, DATE, prices), "getContractPrices");
      inRange(RoadTest.text(prices, 0, 21), "bid");
      inRange(RoadTest.text(prices, 30, 21), "offer");

      RoadTest.equal(0,
          api.addOrder(RoadTest.newOrder("Limit", EX, COMM, DATE, 'B', "7700", 3)), "addOrder");
      String id = RoadTest.text(api.first(RoadTest.ORDER).bytes, 0, 11);
      byte[] order = new byte[1410];
      RoadTest.equal(0, api.getOrderById(id, 0, order), "getOrderById");
      RoadTest.equal(id, RoadTest.text(order, 6, 11), "order id");
      RoadTest.equal("7700", RoadTest.text(order, 176, 21), "order price");
      RoadTest.equal(3, RoadTest.intAt(order, 218), "order lots");
      int[] count = new int[1];
      RoadTest.equal(0, api.countOrders(count), "countOrders");
      RoadTest.equal(1, count[0], "orders");
    } finally {
      loggedOff = api.logoff();
      callbacks.join(TimeUnit.SECONDS.toMillis(RoadTest.WAIT_SECONDS));
    }
    RoadTest.equal(0, loggedOff, "logoff");
    RoadTest.check(!callbacks.isAlive(), "processCallbacks ended at logoff");
  }

  public static void main(String[] args) {
    int failed = 0;
    try {
      road(args[0], args[1]);
      System.out.println("ok   the road on the simulator");
    } catch (Throwable error) {
      failed++;
      System.out.println("FAIL the road on the simulator: " + error);
    }
    System.out.println((1 - failed) + " passed, " + failed + " failed");
    System.exit(failed == 0 ? 0 : 1);
  }
}
