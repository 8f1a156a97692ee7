#pragma once
// The thin layer over POSIX sockets: a descriptor that is closed exactly once, the calls the
// TCP client socket needs, name look-ups, and the mapping of system errors to the WinSock error
// codes and texts the rest of the library reports.

#include <sys/types.h>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vorn {

// WinSock error codes the socket code tests for.
inline constexpr int kWSAEINVAL = 10022;
inline constexpr int kWSAEWOULDBLOCK = 10035;
inline constexpr int kWSAEINPROGRESS = 10036;
inline constexpr int kWSAECONNREFUSED = 10061;
inline constexpr int kWSAHOST_NOT_FOUND = 11001;
inline constexpr int kWSANO_DATA = 11004;

inline constexpr int kInvalidSocket = -1;

// The WinSock code for a system error number; 0 for 0, the number itself when it has none.
int WSAErrorFromErrno(int error);
// The WinSock code for a getaddrinfo result; EAI_SYSTEM takes systemError.
int WSAErrorFromGai(int gaiError, int systemError);
// The text of a WinSock code; "Not a WinSock error" for any other code.
const char* WinSockErrorText(int code);

// Owns one descriptor and closes it exactly once. Not synchronised: the owner guards it.
class TSocketHandle {
 public:
  TSocketHandle() = default;
  explicit TSocketHandle(int fd) : fd_(fd) {}
  TSocketHandle(const TSocketHandle&) = delete;
  TSocketHandle& operator=(const TSocketHandle&) = delete;
  TSocketHandle(TSocketHandle&& other) noexcept : fd_(other.Release()) {}
  TSocketHandle& operator=(TSocketHandle&& other) noexcept;
  ~TSocketHandle() { Close(); }

  int Fd() const { return fd_; }
  bool Valid() const { return fd_ != kInvalidSocket; }
  // Closes the descriptor; later calls do nothing. Returns 0 or the system error.
  int Close();
  int Release();

 private:
  int fd_ = kInvalidSocket;
};

// A poll-able signal another thread uses to wake a waiting poll.
class TWakeSignal {
 public:
  TWakeSignal();
  TWakeSignal(const TWakeSignal&) = delete;
  TWakeSignal& operator=(const TWakeSignal&) = delete;
  ~TWakeSignal() = default;

  void Signal();
  // Consumes pending signals.
  void Drain();
  int Fd() const { return handle_.Fd(); }

 private:
  TSocketHandle handle_;
};

// Every call below returns 0 or the system error number (errno) unless it says otherwise.

// A stream socket of the given protocol, closed on exec.
int OpenStreamSocket(int protocol, TSocketHandle& out);

enum class TSocketOption : std::uint8_t {
  Linger,
  ReceiveTimeout,
  SendTimeout,
  KeepAlive,
  ReuseAddr,
  NoDelay
};
// Linger and the time-outs take on = false for "off" / "no time-out" (the only use); the
// others switch the option on or off.
int SetSocketOption(int fd, TSocketOption option, bool on);
int GetSocketOption(int fd, TSocketOption option, bool& on);
// The name the option is reported under, e.g. "setsockopt(SO_LINGER)".
const char* SocketOptionName(TSocketOption option);

int SetNonBlocking(int fd);
// Starts a connect to an IPv4 address and port, both in network order. A non-blocking socket
// returns EINPROGRESS while the connection is being made.
int StartConnect(int fd, std::uint32_t addrNet, std::uint16_t portNet);

struct TPollResult {
  bool Readable = false;
  bool Writable = false;
  bool Hangup = false;      // both directions are down
  bool PeerClosed = false;  // the peer closed its sending side
  bool Error = false;
  bool Woken = false;  // the wake signal was set
  bool TimedOut = false;
  int Failure = 0;  // errno of a failed poll
};
// Waits up to timeoutMs for input (and output when wantWrite) on fd, or for the wake signal
// (wakeFd < 0: none). An interrupted wait is reported as a time-out.
TPollResult PollSocket(int fd, bool wantWrite, int timeoutMs, int wakeFd);

// Waits up to timeoutMs until fd can take more output (or has failed); false on a time-out.
bool WaitWritable(int fd, int timeoutMs);

// Sends without raising SIGPIPE; the count sent, or -1 with error set.
ssize_t SendNoSignal(int fd, const void* data, std::size_t len, int& error);
// Reads what is there; the count read (0 at the end of the stream), or -1 with error set.
ssize_t ReceiveBytes(int fd, void* buffer, std::size_t len, int& error);
// The socket's pending error (consumed); a failing query returns its own error.
int PendingSocketError(int fd);

enum class TShutdown : std::uint8_t { Send, Receive, Both };
int ShutdownSocket(int fd, TShutdown how);
// The local IPv4 address of a bound socket, in network order.
int LocalAddress(int fd, std::uint32_t& addrNet);
// True when the socket's connection is established (it has a peer). Consumes no pending error.
bool PeerConnected(int fd);

// A dotted address as is, otherwise the first IPv4 address of the host name. Returns 0 or a
// WinSock error code.
int ResolveIPv4(const std::string& host, std::uint32_t& addrNet);
std::string IPv4Text(std::uint32_t addrNet);
// The port of a named service for a protocol name, in host order. Returns 0 or a WinSock code.
int LookupServicePort(const std::string& service, const std::string& protocol, std::uint16_t& port);
// The number of a protocol name; "tcp" is 6 without a look-up. Returns 0 or a WinSock code.
int LookupProtocol(const std::string& name, int& number);
// The name of a protocol number ("tcp" for 6); empty when unknown.
std::string ProtocolName(int number);

}  // namespace vorn
