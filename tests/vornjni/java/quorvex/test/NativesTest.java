package quorvex.test;

import static quorvex.test.Checks.*;

import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.List;
import java.util.Set;
import java.util.TreeSet;
import java.util.concurrent.atomic.AtomicBoolean;
import quorvex.api.binding.ClientAPI;

/**
 * Every native of ClientAPI beyond the session ones, in a real JVM against the fake API
 * library: the arguments that reach the API (its call log), the records and numbers that come
 * back, and the arguments refused. Arguments: the fake's folder, a work folder.
 */
public final class NativesTest {
  static final Set<String> SESSION_NATIVES = Set.of("initialise", "openConnections", "logon",
      "logoff", "processCallbacks", "getErrorMessage");
  static final String E = "EX", C = "CO", D = "DT", A = "AC";

  static String fakeDir;
  static String workDir;

  interface Call {
    int run(ClientAPI api) throws Exception;
  }

  interface Check extends Case {}

  /** One native: how to call it, the call log lines it must cause, its result, its outputs. */
  static final class Row {
    final String name;
    final Call call;
    final List<String> log;
    final int result;
    final Check check;

    Row(String name, Call call, List<String> log, int result, Check check) {
      this.name = name;
      this.call = call;
      this.log = log;
      this.result = result;
      this.check = check;
    }
  }

  static final List<Row> rows = new ArrayList<>();

  static Path logPath() {
    return Paths.get(workDir + "fakeapi.log");
  }

  static List<String> callLog() throws Exception {
    if (!Files.exists(logPath())) return Collections.emptyList();
    return Files.readAllLines(logPath(), StandardCharsets.ISO_8859_1);
  }

  /** The lines body adds to the call log. */
  static List<String> logged(Check body) throws Exception {
    int before = callLog().size();
    body.run();
    List<String> log = callLog();
    return new ArrayList<>(log.subList(Math.min(before, log.size()), log.size()));
  }

  static String hex(byte[] bytes) {
    StringBuilder text = new StringBuilder();
    for (byte b : bytes) text.append(String.format("%02x", b & 0xff));
    return text.toString();
  }

  static int recordByte(int index) {
    return (index * 7 + 3) & 0xff;
  }

  /** An input record whose bytes tell it from the others. */
  static byte[] input(int size, int seed) {
    byte[] bytes = new byte[size];
    for (int i = 0; i < size; i++) bytes[i] = (byte) (i * 13 + seed);
    return bytes;
  }

  static byte[] filled(int size, int value) {
    byte[] bytes = new byte[size];
    Arrays.fill(bytes, (byte) value);
    return bytes;
  }

  /** The fake's record in the first apiBytes, zeros up to bytes, the rest untouched. */
  static void checkRecord(byte[] out, int bytes, int apiBytes, String what) {
    for (int i = 0; i < out.length; i++) {
      int expected = i < apiBytes ? recordByte(i) : i < bytes ? 0 : 0x55;
      equal(expected, out[i] & 0xff, what + " byte " + i);
    }
  }

  static void checkUntouched(byte[] out, String what) {
    for (int i = 0; i < out.length; i++) equal(0x55, out[i] & 0xff, what + " byte " + i);
  }

  interface IntsCall {
    int run(ClientAPI api, int[] out) throws Exception;
  }

  interface BytesCall {
    int run(ClientAPI api, byte[] out) throws Exception;
  }

  interface DoublesCall {
    int run(ClientAPI api, double[] out) throws Exception;
  }

  static void counter(String name, String log, IntsCall call) {
    int[] out = {-1};
    rows.add(new Row(name, api -> call.run(api, out), List.of(log), 0,
        () -> equal(7, out[0], "count")));
  }

  static void record(String name, String log, int bytes, int apiBytes, BytesCall call) {
    byte[] out = filled(bytes + 3, 0x55);
    rows.add(new Row(name, api -> call.run(api, out), List.of(log), 0,
        () -> checkRecord(out, bytes, apiBytes, name)));
  }

  static void record(String name, String log, int bytes, BytesCall call) {
    record(name, log, bytes, bytes, call);
  }

  static void number(String name, String log, DoublesCall call) {
    double[] out = {-1};
    rows.add(new Row(name, api -> call.run(api, out), List.of(log), 0,
        () -> equal(12.5, out[0], "figure")));
  }

  static void plain(String name, int result, Call call, String... log) {
    rows.add(new Row(name, call, List.of(log), result, () -> {}));
  }

  static byte[] strategyLegs(String[][] fields) {
    ByteBuffer legs = ByteBuffer.allocate(16 * 78).order(ByteOrder.LITTLE_ENDIAN);
    for (int i = 0; i < fields.length && i < 16; i++) {
      legs.position(78 * i);
      legs.put((byte) fields[i][0].charAt(0));
      legs.put(fields[i][1].getBytes(StandardCharsets.ISO_8859_1));
      legs.position(78 * i + 52);
      legs.put(fields[i][2].getBytes(StandardCharsets.ISO_8859_1));
      legs.position(78 * i + 63);
      legs.putInt(Integer.parseInt(fields[i][3]));
      legs.put(fields[i][4].getBytes(StandardCharsets.ISO_8859_1));
    }
    return legs.array();
  }

  static void buildTable() {
    counter("countAccounts", "vnCountTraders|out", (api, out) -> api.countAccounts(out));
    counter("countExchanges", "vnCountExchanges|out", (api, out) -> api.countExchanges(out));
    counter("countCommodities", "vnCountCommodities|out",
        (api, out) -> api.countCommodities(out));
    counter("countOrderTypes", "vnCountOrderTypes|out", (api, out) -> api.countOrderTypes(out));
    counter("countOrders", "vnCountOrders|out", (api, out) -> api.countOrders(out));
    counter("countFills", "vnCountFills|out", (api, out) -> api.countFills(out));
    counter("countContracts", "vnCountContracts|out", (api, out) -> api.countContracts(out));
    counter("countReportTypes", "vnCountReportTypes|out",
        (api, out) -> api.countReportTypes(out));
    counter("countMessages", "vnCountUsrMsgs|out", (api, out) -> api.countMessages(out));
    counter("nextOrderSequence", "vnNextOrderSequence|out",
        (api, out) -> api.nextOrderSequence(out));
    counter("countOrderHistory", "vnCountOrderHistory|5|out",
        (api, out) -> api.countOrderHistory(5, out));
    counter("getOrderIndex", "vnGetOrderIndex|OID|out",
        (api, out) -> api.getOrderIndex("OID", out));
    counter("getReportSize", "vnGetReportSize|RPT|out",
        (api, out) -> api.getReportSize("RPT", out));
    counter("countContractAtBest", "vnCountContractAtBest|EX|CO|DT|out",
        (api, out) -> api.countContractAtBest(E, C, D, out));
    counter("countContractSubscriberDepth", "vnCountContractSubscriberDepth|EX|CO|DT|out",
        (api, out) -> api.countContractSubscriberDepth(E, C, D, out));

    record("getAccount", "vnGetTrader|3|out", 48, 47, (api, out) -> api.getAccount(3, out));
    record("getExchange", "vnGetExchange|3|out", 33, (api, out) -> api.getExchange(3, out));
    record("getCommodity", "vnGetCommodity|3|out", 74, (api, out) -> api.getCommodity(3, out));
    record("getOrderType", "vnGetOrderType|3|out", 37, 36,
        (api, out) -> api.getOrderType(3, out));
    record("getOrder", "vnGetOrder|3|out", 1410, (api, out) -> api.getOrder(3, out));
    record("getFill", "vnGetFill|3|out", 452, (api, out) -> api.getFill(3, out));
    record("getContract", "vnGetExtendedContract|3|out", 1107,
        (api, out) -> api.getContract(3, out));
    record("getReportType", "vnGetReportType|3|out", 21,
        (api, out) -> api.getReportType(3, out));
    record("getMessage", "vnGetUsrMsg|3|out", 514, (api, out) -> api.getMessage(3, out));
    record("getOrderHistory", "vnGetOrderHistory|4|2|out", 1410,
        (api, out) -> api.getOrderHistory(4, 2, out));

    record("getContractByName", "vnGetExtendedContractByName|EX|CO|DT|out", 1107,
        (api, out) -> api.getContractByName(E, C, D, out));
    record("getAccountByName", "vnGetTraderByName|AC|out", 48, 47,
        (api, out) -> api.getAccountByName(A, out));
    record("getExchangeByName", "vnGetExchangeByName|EX|out", 33,
        (api, out) -> api.getExchangeByName(E, out));
    record("getCommodityByName", "vnGetCommodityByName|EX|CO|out", 74,
        (api, out) -> api.getCommodityByName(E, C, out));
    record("getContractPrices", "vnGetPriceForContract|EX|CO|DT|out", 2408,
        (api, out) -> api.getContractPrices(E, C, D, out));
    record("getGenericPrice", "vnGetGenericPrice|EX|CO|DT|26|-2|out", 30,
        (api, out) -> api.getGenericPrice(E, C, D, 26, -2, out));
    record("getOrderById", "vnGetOrderByID|OID|out|1", 1410,
        (api, out) -> api.getOrderById("OID", 1, out));
    record("getFillById", "vnGetFillByID|FID|out", 452, (api, out) -> api.getFillById("FID", out));
    record("getExchangeRate", "vnGetExchangeRate|GBP|out", 21,
        (api, out) -> api.getExchangeRate("GBP", out));
    record("getContractAtBest", "vnGetContractAtBest|EX|CO|DT|6|out", 9,
        (api, out) -> api.getContractAtBest(E, C, D, 6, out));
    record("getContractAtBestPrices", "vnGetContractAtBestPrices|EX|CO|DT|out", 50,
        (api, out) -> api.getContractAtBestPrices(E, C, D, out));
    record("openPosition", "vnGetOpenPosition|EX|CO|DT|AC|out", 29,
        (api, out) -> api.openPosition(E, C, D, A, out));
    record("contractPosition", "vnGetContractPosition|EX|CO|DT|AC|out", 29,
        (api, out) -> api.contractPosition(E, C, D, A, out));
    record("getContractSubscriberDepth", "vnGetContractSubscriberDepth|EX|CO|DT|6|out", 30,
        (api, out) -> api.getContractSubscriberDepth(E, C, D, 6, out));
    record("APIBuildVersion", "vnGetAPIBuildVersion|out", 26,
        (api, out) -> api.APIBuildVersion(out));
    byte[] report = filled(20, 0x55);
    rows.add(new Row("getReport", api -> api.getReport("RPT", report),
        List.of("vnGetReport|RPT|20|out"), 0, () -> {
          byte[] expected =
              Arrays.copyOf("0123456789ABCDEF".getBytes(StandardCharsets.US_ASCII), 20);
          equal(hex(expected), hex(report), "report");
        }));

    number("pLBurnRate", "vnPLBurnRate|EX|CO|DT|12.5|out",
        (api, out) -> api.pLBurnRate(E, C, D, "12.5", out));
    number("openPositionExposure", "vnOpenPositionExposure|EX|CO|DT|12.5|out",
        (api, out) -> api.openPositionExposure(E, C, D, "12.5", out));
    number("buyingPowerRemaining", "vnBuyingPowerRemaining|EX|CO|DT|12.5|out",
        (api, out) -> api.buyingPowerRemaining(E, C, D, "12.5", out));
    number("buyingPowerUsed", "vnBuyingPowerUsed|EX|CO|DT|12.5|out",
        (api, out) -> api.buyingPowerUsed(E, C, D, "12.5", out));
    number("averagePrice", "vnGetAveragePrice|EX|CO|DT|12.5|out",
        (api, out) -> api.averagePrice(E, C, D, "12.5", out));
    number("marginForTrade", "vnMarginForTrade|EX|CO|DT|AC|-4|OID|12.5|out",
        (api, out) -> api.marginForTrade(E, C, D, A, -4, "OID", "12.5", out));
    number("getOptionPremium", "vnGetOptionPremium|EX|CO|DT|S|12.5|3|out",
        (api, out) -> api.getOptionPremium(E, C, D, "Sell", "12.5", 3, out));

    byte[] order = input(957, 1);
    byte[] second = input(957, 2);
    byte[] protection = input(149, 3);
    byte[] orders = input(9570, 4);
    byte[] ids = input(110, 5);
    byte[] aggregate = input(147, 6);
    byte[] request = input(222, 7);
    byte[] legPrices = input(336, 8);
    byte[] basis = input(64, 9);
    byte[] amendment = input(782, 10);
    plain("addOrder", 0, api -> api.addOrder(order), "vnAddOrder|" + hex(order) + "|(null)");
    plain("addProtectionOrder", 0, api -> api.addProtectionOrder(order, protection),
        "vnAddProtectionOrder|" + hex(order) + "|" + hex(protection) + "|(null)");
    plain("addBatchOrder", 0, api -> api.addBatchOrder(3, orders, ids),
        "vnAddBatchOrder|3|" + hex(orders) + "|" + hex(ids));
    plain("addAggOrder", 0, api -> api.addAggOrder(aggregate),
        "vnAddAggregateOrder|" + hex(aggregate) + "|(null)");
    plain("addCustReqOrder", 0, api -> api.addCustReqOrder(request),
        "vnAddCustRequest|" + hex(request) + "|(null)");
    record("addCrossingOrder",
        "vnAddCrossingOrder|" + hex(order) + "|" + hex(second) + "|" + hex(legPrices) + "|out|X",
        22, (api, out) -> api.addCrossingOrder(order, second, legPrices, 'X', out));
    record("addBlockOrder",
        "vnAddBlockOrder|" + hex(order) + "|" + hex(second) + "|" + hex(legPrices) + "|out", 22,
        (api, out) -> api.addBlockOrder(order, second, legPrices, out));
    record("addBasisOrder",
        "vnAddBasisOrder|" + hex(order) + "|" + hex(second) + "|" + hex(basis) + "|out", 22,
        (api, out) -> api.addBasisOrder(order, second, basis, out));
    record("addAAOrder", "vnAddAAOrder|" + hex(order) + "|" + hex(second) + "|U1|U2|out", 22,
        (api, out) -> api.addAAOrder(order, second, "U1", "U2", out));
    plain("amendOrder", 0, api -> api.amendOrder("OID", amendment),
        "vnAmendOrder|OID|" + hex(amendment));
    plain("reparentOrder", 0, api -> api.reparentOrder("OID", "PID"), "vnReParent|OID|PID");
    String[][] legFields = {{"B", "MAR26", "L1", "2", "FTSE"}, {"S", "JUN26", "L2", "-1", "FTSE"}};
    plain("createStrategy", 0,
        api -> api.createStrategy('Q', 2, E, C,
            new String[] {"B: MAR26 :L1:2:FTSE", "Sell:JUN26: L2:-1:FTSE "}),
        "vnCreateStrategy|Q|2|EX|CO|" + hex(strategyLegs(legFields)));

    plain("purge", 0, api -> api.purge("01/02/2026", "10:00"), "vnPurge|01/02/2026|10:00");
    plain("setPriceAgeCounter", 0, api -> api.setPriceAgeCounter(4), "vnSetPriceAgeCounter|4");
    plain("subscribe", 0, api -> api.subscribe(E, C, D), "vnSubscribePrice|EX|CO|DT");
    plain("unsubscribe", 0, api -> api.unsubscribe(E, C, D), "vnUnsubscribePrice|EX|CO|DT");
    plain("subscribeToMarket", 0, api -> api.subscribeToMarket(E, C, D),
        "vnSubscribeToMarket|EX|CO|DT");
    plain("unsubscribeToMarket", 0, api -> api.unsubscribeToMarket(E, C, D),
        "vnUnsubscribeToMarket|EX|CO|DT");
    plain("checkOrder", 0, api -> api.checkOrder("OID", true), "vnOrderChecked|OID|Y");
    plain("queryOrder", 0, api -> api.queryOrder("OID"), "vnQueryOrderStatus|OID");
    plain("cancelOrder", 0, api -> api.cancelOrder("OID"), "vnCancelOrder|OID");
    plain("cancelAll", 0, api -> api.cancelAll(A), "vnCancelAll|AC");
    plain("cancelBuys", 0, api -> api.cancelBuys(E, C, D, A), "vnCancelBuys|AC|EX|CO|DT");
    plain("cancelSells", 0, api -> api.cancelSells(E, C, D, A), "vnCancelSells|AC|EX|CO|DT");
    plain("cancelOrders", 0, api -> api.cancelOrders(E, C, D, A), "vnCancelOrders|AC|EX|CO|DT");
    plain("closeConnections", 0, api -> api.closeConnections(), "vnDisconnect");
    plain("LogString", 0, api -> api.LogString("hello"), "vnLogString|hello");
    plain("setOMIEnabled", 0, api -> api.setOMIEnabled(true), "vnOMIEnabled|Y");
    plain("setInternetUser", 0, api -> api.setInternetUser(false), "vnSetInternetUser|N");
    plain("setSSLEnabled", 0, api -> api.setSSLEnabled(true), "vnSetSSL|Y");
    plain("setPDDSSLEnabled", 0, api -> api.setPDDSSLEnabled(false), "vnSetPDDSSL|N");
    plain("setMegaHubEnabled", 0, api -> api.setMegaHubEnabled(true), "vnSetMegaHub|Y");
    plain("setSSLCertName", 0, api -> api.setSSLCertName("cert"),
        "vnSetSSLCertificateName|cert");
    plain("setPDDSSLCertName", 0, api -> api.setPDDSSLCertName("pcert"),
        "vnSetPDDSSLCertificateName|pcert");
    plain("setSSLClientAuthName", 0, api -> api.setSSLClientAuthName("auth"),
        "vnSetSSLClientAuthName|auth");
    plain("setPDDSSLClientAuthName", 0, api -> api.setPDDSSLClientAuthName("pauth"),
        "vnSetPDDSSLClientAuthName|pauth");
    plain("setMDSToken", 0, api -> api.setMDSToken("tok"), "vnSetMDSToken|tok");
    plain("subscribeToBroadcasts", 0, api -> api.subscribeToBroadcasts(E),
        "vnSubscribeBroadcast|EX");
    plain("unSubscribeFromBroadcasts", 0, api -> api.unSubscribeFromBroadcasts(E),
        "vnUnsubscribeBroadcast|EX");
    plain("acknowledgeUsrMsg", 0, api -> api.acknowledgeUsrMsg("M1"), "vnAcknowledgeUsrMsg|M1");
    plain("setEncryptionCode", 0, api -> api.setEncryptionCode('K'), "vnSetEncryptionCode|K");
    // 99 makes the fake answer 8: these results are not checked.
    plain("setHostHandShakePeriods", 0, api -> api.setHostHandShakePeriods(99, 30),
        "vnSetHostHandShake|99|30");
    plain("setPriceHandShakePeriods", 0, api -> api.setPriceHandShakePeriods(99, 30),
        "vnSetPriceHandShake|99|30");
    plain("setOrderCancelFailureDelay", 0, api -> api.setOrderCancelFailureDelay(99),
        "vnSetOrderCancelFailureDelay|99");
    plain("setOrderSentFailureDelay", 0, api -> api.setOrderSentFailureDelay(99),
        "vnSetOrderSentFailureDelay|99");
    plain("setOrderQueuedFailureDelay", 0, api -> api.setOrderQueuedFailureDelay(99),
        "vnSetOrderQueuedFailureDelay|99");
    plain("setDebugFlags", 0, api -> api.setDebugFlags(64), "vnDisable|-1", "vnEnable|64");
    // The export's own answer, unchecked and unchanged.
    plain("setMemoryWarning", 8, api -> api.setMemoryWarning(99), "vnSetMemoryWarning|99");

    int[] masks = {-1, -1};
    rows.add(new Row("getEnabledFunctionality", api -> api.getEnabledFunctionality(masks),
        List.of("vnEnabledFunctionality|out|out"), 0, () -> {
          equal(0x1234, masks[0], "features");
          equal(0x56, masks[1], "roles");
        }));
    boolean[] megaHub = {false};
    rows.add(new Row("isMegaHub", api -> api.isMegaHub(megaHub), List.of("vnMegaHubEnabled"), 0,
        () -> check(megaHub[0], "an answer of 0 reads true")));
    byte[] position = input(452, 11);
    byte[] sent = position.clone();
    rows.add(new Row("getConsolidatedPosition",
        api -> api.getConsolidatedPosition(E, C, D, A, 2, position),
        List.of("vngetConsolidatedPosition|EX|CO|DT|AC|2|" + hex(sent)), 0, () -> {
          for (int i = 0; i < 452; i++)
            equal((sent[i] + 1) & 0xff, position[i] & 0xff, "copied back, byte " + i);
        }));
  }

  static int initialise(ClientAPI api) {
    return api.initialise(fakeDir, workDir, false, false, false, "app", false, null, "res");
  }

  /** The native throws IllegalArgumentException and calls nothing. */
  static void refused(ClientAPI api, String what, Call call) throws Exception {
    List<String> log = logged(() -> {
      try {
        call.run(api);
        throw new AssertionError(what + ": no exception");
      } catch (IllegalArgumentException expected) {
        // as it should
      }
    });
    for (String line : log)
      check(line.startsWith("vnLogString|Wrapper API Error"), what + ": called " + line);
  }

  public static void main(String[] args) throws Exception {
    fakeDir = args[0];
    workDir = args[1];
    buildTable();
    ClientAPI api = new ClientAPI();

    run("the table holds every native beyond the session ones", () -> {
      Set<String> natives = new TreeSet<>();
      for (Method method : ClientAPI.class.getDeclaredMethods())
        if (Modifier.isNative(method.getModifiers()) && !SESSION_NATIVES.contains(method.getName()))
          natives.add(method.getName());
      Set<String> tabled = new TreeSet<>();
      for (Row row : rows) tabled.add(row.name);
      equal(natives, tabled, "natives");
    });

    run("every native answers 52 before initialise and calls nothing", () -> {
      List<String> wrong = new ArrayList<>();
      for (Row row : rows)
        if (row.call.run(api) != 52) wrong.add(row.name);
      equal(Collections.emptyList(), wrong, "not 52");
      check(!Files.exists(logPath()), "the fake was never called");
    });

    equal(0, initialise(api), "initialise");
    for (Row row : rows) {
      run(row.name + ": arguments reach the API, outputs come back", () -> {
        int[] result = {-1};
        List<String> log = logged(() -> result[0] = row.call.run(api));
        equal(row.result, result[0], "result");
        equal(row.log, log, "call log");
        row.check.run();
      });
    }

    run("a key or index not held leaves the output untouched; 11 still copies", () -> {
      byte[] out = filled(48, 0x55);
      equal(9, api.getAccountByName("UNKNOWN", out), "unknown account");
      checkUntouched(out, "unknown account");
      byte[] fill = filled(452, 0x55);
      equal(8, api.getFill(99, fill), "index out of range");
      checkUntouched(fill, "index out of range");
      int[] count = {-1};
      equal(8, api.getOrderIndex("UNKNOWN", count), "unknown order");
      equal(-1, count[0], "count untouched");
      equal(0, api.getAccountByName("ELEVEN", out), "result 11");
      checkRecord(out, 48, 47, "result 11");
      equal(0, api.getFillById("ELEVEN", fill), "fill by id, result 11");
      checkRecord(fill, 452, 452, "getFillById");
    });

    run("99 from the API dumps its last error first", () -> {
      byte[] out = filled(1107, 0x55);
      List<String> log = logged(() -> equal(99, api.getContractByName("FAIL", C, D, out), "99"));
      equal(List.of("vnGetExtendedContractByName|FAIL|CO|DT|out", "vnDumpLastError"), log, "log");
    });

    run("getReport gives its array's length as the room", () -> {
      byte[] out = filled(10, 0x55);
      List<String> log = logged(() -> equal(16, api.getReport("RPT", out), "no room"));
      equal(List.of("vnGetReport|RPT|10|out"), log, "log");
      checkUntouched(out, "report");
    });

    run("numbers: text that is not a number gives 0.0", () -> {
      double[] out = {-1};
      equal(0, api.averagePrice(E, C, D, "x", out), "result");
      equal(0.0, out[0], "x");
      equal(0, api.pLBurnRate(E, C, D, "-0.25", out), "result");
      equal(-0.25, out[0], "-0.25");
    });

    run("createStrategy sends the first 16 of 17 legs and clamps the count", () -> {
      String[] legs = new String[17];
      String[][] fields = new String[16][];
      for (int i = 0; i < 17; i++) {
        legs[i] = "B:D" + i + ":T:" + i + ":C";
        if (i < 16) fields[i] = new String[] {"B", "D" + i, "T", "" + i, "C"};
      }
      String sentLegs = hex(strategyLegs(fields));
      Object[][] counts = {{17, 16}, {500, 16}, {-3, 0}, {16, 16}};
      for (Object[] c : counts) {
        int count = (Integer) c[0];
        List<String> log =
            logged(() -> equal(0, api.createStrategy('Q', count, E, C, legs), "result"));
        equal(List.of("vnCreateStrategy|Q|" + c[1] + "|EX|CO|" + sentLegs), log, "count " + c[0]);
      }
    });

    run("createStrategy with a ratio that is not a number gives 99 and sends nothing", () -> {
      List<String> log = logged(() -> equal(99,
          api.createStrategy('Q', 1, E, C, new String[] {"a:b:c:x:e"}), "result"));
      equal(1, log.size(), "one line " + log);
      check(log.get(0).startsWith("vnLogString|Wrapper API Error"), "logged " + log);
    });

    run("addBatchOrder refuses a count outside 0..10", () -> {
      byte[] orders = new byte[9570];
      byte[] ids = new byte[110];
      for (int count : new int[] {11, -1, Integer.MAX_VALUE}) {
        List<String> log = logged(() -> equal(8, api.addBatchOrder(count, orders, ids), "count"));
        equal(Collections.emptyList(), log, "nothing called for " + count);
      }
      List<String> log = logged(() -> equal(0, api.addBatchOrder(10, orders, ids), "ten"));
      check(log.size() == 1 && log.get(0).startsWith("vnAddBatchOrder|10|"), "ten sent " + log);
      equal(hex(new byte[110]), hex(ids), "ids are not copied back");
    });

    run("short and null arrays are refused before the API is called", () -> {
      refused(api, "short order", a -> a.addOrder(new byte[956]));
      refused(api, "null order", a -> a.addOrder(null));
      refused(api, "short protection", a -> a.addProtectionOrder(new byte[957], new byte[148]));
      refused(api, "short batch ids", a -> a.addBatchOrder(1, new byte[9570], new byte[109]));
      refused(api, "short amendment", a -> a.amendOrder("OID", new byte[781]));
      refused(api, "short id pair",
          a -> a.addCrossingOrder(new byte[957], new byte[957], new byte[336], 'X', new byte[21]));
      refused(api, "short account", a -> a.getAccount(1, new byte[47]));
      refused(api, "null fill", a -> a.getFill(1, null));
      refused(api, "empty count", a -> a.countAccounts(new int[0]));
      refused(api, "one mask", a -> a.getEnabledFunctionality(new int[1]));
      refused(api, "empty flag", a -> a.isMegaHub(new boolean[0]));
      refused(api, "empty figure", a -> a.buyingPowerUsed(E, C, D, A, new double[0]));
      refused(api, "null legs", a -> a.createStrategy('Q', 1, E, C, null));
      refused(api, "null report", a -> a.getReport("RPT", null));
      refused(api, "null position", a -> a.getConsolidatedPosition(E, C, D, A, 1, null));
    });

    run("getConsolidatedPosition takes a shorter record and gives as much back", () -> {
      byte[] record = input(10, 12);
      byte[] sent = Arrays.copyOf(record, 452);
      List<String> log = logged(() -> equal(0,
          api.getConsolidatedPosition(E, C, D, A, 1, record), "result"));
      equal(List.of("vngetConsolidatedPosition|EX|CO|DT|AC|1|" + hex(sent)), log, "log");
      for (int i = 0; i < 10; i++)
        equal((sent[i] + 1) & 0xff, record[i] & 0xff, "byte " + i);
    });

    run("the result of setPriceAgeCounter is checked", () ->
        equal(8, api.setPriceAgeCounter(99), "result"));

    equal(0, api.logoff(), "logoff");
    run("after logoff every native answers 52 again", () -> {
      List<String> wrong = new ArrayList<>();
      for (Row row : rows)
        if (row.call.run(api) != 52) wrong.add(row.name);
      equal(Collections.emptyList(), wrong, "not 52");
    });

    run("natives racing initialise and logoff on another thread answer 0 or 52", () -> {
      AtomicBoolean done = new AtomicBoolean();
      List<Integer> wrong = Collections.synchronizedList(new ArrayList<>());
      Thread caller = new Thread(() -> {
        int[] count = {0};
        byte[] contract = new byte[1107];
        while (!done.get()) {
          for (int result : new int[] {api.countAccounts(count),
                   api.getContractByName(E, C, D, contract), api.setMemoryWarning(5)})
            if (result != 0 && result != 52) wrong.add(result);
        }
      });
      caller.start();
      try {
        for (int i = 0; i < 50; i++) {
          equal(0, initialise(api), "initialise " + i);
          equal(0, api.logoff(), "logoff " + i);
        }
      } finally {
        done.set(true);
        caller.join();
      }
      equal(Collections.emptyList(), wrong, "other results");
    });

    finish();
  }
}
