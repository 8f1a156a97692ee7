package quorvex.api.binding;

/**
 * The trading API seen from Java, through the native library vornjni (found on
 * java.library.path). One session per process: initialise, openConnections, logon, then a
 * thread parked in processCallbacks receives the events through messageReceived until logoff.
 * The methods return the API's result codes (0 is success; 52 to 56 are the bridge's own).
 *
 * <p>Every method but logoff and getErrorMessage answers 52 before initialise (and after
 * logoff). Records cross as byte arrays in the API's layouts: an input array must hold at
 * least the whole record, an output array at least the bytes written; a null or shorter array
 * throws IllegalArgumentException and the method answers 99 without calling the API. Outputs
 * are written only when the API answers 0 or 11 (both give 0 here). Booleans cross as 'Y'/'N',
 * chars as their low 8 bits, number outputs at index 0 of a one-element array.
 *
 * <p>Three signatures are this class's own reading of the API: marginForTrade takes the lots
 * as an int between the account and the order id, as the API's margin figure needs them;
 * getOptionPremium takes the side as a String of which only the first character counts,
 * then the price and the lots; isMegaHub writes true when the API answers 0 (an API object
 * exists), as the depth-of-market flags read.
 */
public class ClientAPI {
  static {
    System.loadLibrary("vornjni");
  }

  /** Room the processCallbacks buffer must have: the largest event payload. */
  public static final int CALLBACK_BUFFER_SIZE = 514;

  /**
   * Loads the API library from apiDir (libsimapi.so when demo, else libvornapi.so) and
   * initialises it; an empty apiDir or clientPath means the folder of the native library.
   * A null applicVersion gives the default.
   */
  public native int initialise(String apiDir, String clientPath, boolean demo, boolean test,
      boolean conStatus, String applicId, boolean initReset, String applicVersion,
      String reserved);

  /** Each element "host:port"; the first of each array is the address tried first. */
  public native int openConnections(String[] hosts, String[] prices);

  public native int logon(String user, String password, String newPassword, boolean download,
      boolean reportDownload);

  /** Ends the session and any processCallbacks, and unloads the API library. */
  public native int logoff();

  /**
   * Delivers the queued events until logoff: for each, its payload is copied to the start of
   * buffer (at least CALLBACK_BUFFER_SIZE bytes) and messageReceived is called on this thread.
   */
  public native void processCallbacks(byte[] buffer);

  public native String getErrorMessage(int code);

  // Counters: out[0] receives the count.
  public native int countAccounts(int[] out);
  public native int countExchanges(int[] out);
  public native int countCommodities(int[] out);
  public native int countOrderTypes(int[] out);
  public native int countOrders(int[] out);
  public native int countFills(int[] out);
  public native int countContracts(int[] out);
  public native int countReportTypes(int[] out);
  public native int countMessages(int[] out);
  public native int nextOrderSequence(int[] out);
  public native int countOrderHistory(int orderIndex, int[] out);
  public native int getOrderIndex(String orderId, int[] out);
  public native int getReportSize(String reportType, int[] out);
  public native int countContractAtBest(String exchange, String commodity, String contractDate,
      int[] out);
  public native int countContractSubscriberDepth(String exchange, String commodity,
      String contractDate, int[] out);

  // Records by index (bytes written: account 48, exchange 33, commodity 74, order type 37,
  // order 1410, fill 452, contract 1107, report type 21, message 514).
  public native int getAccount(int index, byte[] out);
  public native int getExchange(int index, byte[] out);
  public native int getCommodity(int index, byte[] out);
  public native int getOrderType(int index, byte[] out);
  public native int getOrder(int index, byte[] out);
  public native int getFill(int index, byte[] out);
  public native int getContract(int index, byte[] out);
  public native int getReportType(int index, byte[] out);
  public native int getMessage(int index, byte[] out);
  public native int getOrderHistory(int orderIndex, int historyIndex, byte[] out);

  // Records by key (bytes written: contract 1107, account 48, exchange 33, commodity 74,
  // prices 2408, generic price 30, order 1410, fill 452, exchange rate 21, at best 9, at-best
  // prices 50, position 29, subscriber depth 30, build version 26).
  public native int getContractByName(String exchange, String commodity, String contractDate,
      byte[] out);
  public native int getAccountByName(String account, byte[] out);
  public native int getExchangeByName(String exchange, byte[] out);
  public native int getCommodityByName(String exchange, String commodity, byte[] out);
  public native int getContractPrices(String exchange, String commodity, String contractDate,
      byte[] out);
  public native int getGenericPrice(String exchange, String commodity, String contractDate,
      int priceType, int priceLevel, byte[] out);
  /** version: 0 the newest, 1 the first. */
  public native int getOrderById(String orderId, int version, byte[] out);
  public native int getFillById(String fillId, byte[] out);
  public native int getExchangeRate(String currency, byte[] out);
  public native int getContractAtBest(String exchange, String commodity, String contractDate,
      int index, byte[] out);
  public native int getContractAtBestPrices(String exchange, String commodity,
      String contractDate, byte[] out);
  public native int openPosition(String exchange, String commodity, String contractDate,
      String account, byte[] out);
  public native int contractPosition(String exchange, String commodity, String contractDate,
      String account, byte[] out);
  public native int getContractSubscriberDepth(String exchange, String commodity,
      String contractDate, int index, byte[] out);
  public native int APIBuildVersion(byte[] out);
  /** The array's length is the room; the whole array receives the report. */
  public native int getReport(String reportType, byte[] out);

  // Numbers as text: out[0] receives the figure (0.0 when the API's text is not a number).
  public native int pLBurnRate(String exchange, String commodity, String contractDate,
      String account, double[] out);
  public native int openPositionExposure(String exchange, String commodity, String contractDate,
      String account, double[] out);
  public native int buyingPowerRemaining(String exchange, String commodity, String contractDate,
      String account, double[] out);
  public native int buyingPowerUsed(String exchange, String commodity, String contractDate,
      String account, double[] out);
  public native int averagePrice(String exchange, String commodity, String contractDate,
      String account, double[] out);
  public native int marginForTrade(String exchange, String commodity, String contractDate,
      String account, int lots, String orderId, String price, double[] out);
  public native int getOptionPremium(String exchange, String commodity, String contractDate,
      String side, String price, int lots, double[] out);

  // Order entry (records read: order 957, protection 149, leg prices 336, basis 64, aggregate
  // 147, request 222, amendment 782; id pairs written: 22).
  /** The new order's id is not returned. */
  public native int addOrder(byte[] order);
  public native int addProtectionOrder(byte[] order, byte[] protection);
  /**
   * orders holds ten order records (9570 bytes), orderIds ten 11-byte slots (110); a count
   * outside 0..10 answers 8. The ids the API writes are not copied back.
   */
  public native int addBatchOrder(int count, byte[] orders, byte[] orderIds);
  public native int addAggOrder(byte[] aggregate);
  public native int addCustReqOrder(byte[] request);
  public native int addCrossingOrder(byte[] primary, byte[] secondary, byte[] legPrices,
      char flag, byte[] out);
  public native int addBlockOrder(byte[] primary, byte[] secondary, byte[] legPrices,
      byte[] out);
  public native int addBasisOrder(byte[] primary, byte[] secondary, byte[] basis, byte[] out);
  public native int addAAOrder(byte[] primary, byte[] secondary, String userName,
      String userName2, byte[] out);
  public native int amendOrder(String orderId, byte[] amendment);
  public native int reparentOrder(String orderId, String newParentId);
  /**
   * Each leg "type:contract date:leg text:ratio:commodity"; the first 16 legs are sent and
   * legCount is clamped to 0..16. A ratio that is not an integer answers 99.
   */
  public native int createStrategy(char strategyType, int legCount, String exchange,
      String commodity, String[] legs);

  // Plain calls.
  public native int purge(String date, String time);
  public native int setPriceAgeCounter(int count);
  public native int subscribe(String exchange, String commodity, String contractDate);
  public native int unsubscribe(String exchange, String commodity, String contractDate);
  public native int subscribeToMarket(String exchange, String commodity, String contractDate);
  public native int unsubscribeToMarket(String exchange, String commodity, String contractDate);
  public native int checkOrder(String orderId, boolean checked);
  public native int queryOrder(String orderId);
  public native int cancelOrder(String orderId);
  public native int cancelAll(String account);
  public native int cancelBuys(String exchange, String commodity, String contractDate,
      String account);
  public native int cancelSells(String exchange, String commodity, String contractDate,
      String account);
  public native int cancelOrders(String exchange, String commodity, String contractDate,
      String account);
  public native int closeConnections();
  public native int LogString(String text);
  public native int setOMIEnabled(boolean enabled);
  public native int setInternetUser(boolean internetUser);
  public native int setSSLEnabled(boolean enabled);
  public native int setPDDSSLEnabled(boolean enabled);
  public native int setMegaHubEnabled(boolean enabled);
  public native int setSSLCertName(String name);
  public native int setPDDSSLCertName(String name);
  public native int setSSLClientAuthName(String name);
  public native int setPDDSSLClientAuthName(String name);
  public native int setMDSToken(String token);
  public native int subscribeToBroadcasts(String exchange);
  public native int unSubscribeFromBroadcasts(String exchange);
  public native int acknowledgeUsrMsg(String messageId);
  public native int setEncryptionCode(char code);
  /** The API's answer is not checked: 0 once a library is loaded. */
  public native int setHostHandShakePeriods(int interval, int timeOut);
  /** The API's answer is not checked: 0 once a library is loaded. */
  public native int setPriceHandShakePeriods(int interval, int timeOut);
  /** The API's answer is not checked: 0 once a library is loaded. */
  public native int setOrderCancelFailureDelay(int seconds);
  /** The API's answer is not checked: 0 once a library is loaded. */
  public native int setOrderSentFailureDelay(int seconds);
  /** The API's answer is not checked: 0 once a library is loaded. */
  public native int setOrderQueuedFailureDelay(int seconds);
  /** Clears every debug flag, then sets these. */
  public native int setDebugFlags(int flags);
  /** The API's answer as it is; 52 with no library. */
  public native int setMemoryWarning(int percent);

  // Special outputs.
  /** out[0] the feature mask, out[1] the role mask. */
  public native int getEnabledFunctionality(int[] out);
  public native int isMegaHub(boolean[] out);
  /**
   * record (a 452-byte fill record at most) goes in as the position's start and receives the
   * consolidated position back.
   */
  public native int getConsolidatedPosition(String exchange, String commodity,
      String contractDate, String account, int mode, byte[] record);

  /** One event: type is the API's callback id, size the payload bytes now in the buffer. */
  protected void messageReceived(int type, int size) {}
}
