package quorvex.api.binding;

/**
 * The trading API seen from Java, through the native library vornjni (found on
 * java.library.path). One session per process: initialise, openConnections, logon, then a
 * thread parked in processCallbacks receives the events through messageReceived until logoff.
 * The methods return the API's result codes (0 is success; 52 to 56 are the bridge's own).
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

  /** One event: type is the API's callback id, size the payload bytes now in the buffer. */
  protected void messageReceived(int type, int size) {}
}
