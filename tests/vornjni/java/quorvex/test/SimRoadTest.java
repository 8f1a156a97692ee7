package quorvex.test;

import static quorvex.test.Checks.*;

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
    check(value >= LOW && value <= HIGH, what + " " + text + " outside the range");
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
      Event price = api.first(RoadTest.PRICE, bytes -> text(bytes, 11, 11).equals(COMM));
      equal(EX, text(price.bytes, 0, 11), "price event's exchange");
      equal(0, api.getContractPrices(EX, COMM, DATE, prices), "getContractPrices");
      inRange(text(prices, 0, 21), "bid");
      inRange(text(prices, 30, 21), "offer");

      equal(0,
          api.addOrder(RoadTest.newOrder("Limit", EX, COMM, DATE, 'B', "7700", 3)), "addOrder");
      String id = text(api.first(RoadTest.ORDER).bytes, 0, 11);
      byte[] order = new byte[1410];
      equal(0, api.getOrderById(id, 0, order), "getOrderById");
      equal(id, text(order, 6, 11), "order id");
      equal("7700", text(order, 176, 21), "order price");
      equal(3, RoadTest.intAt(order, 218), "order lots");
      int[] count = new int[1];
      equal(0, api.countOrders(count), "countOrders");
      equal(1, count[0], "orders");
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
