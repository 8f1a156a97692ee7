#include "platform/Socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace vorn {
namespace {

struct TErrnoCode {
  int Errno;
  int Code;
};

// EWOULDBLOCK is EAGAIN on Linux.
constexpr TErrnoCode kErrnoCodes[] = {
    {EINTR, 10004},           {EBADF, 10009},        {EACCES, 10013},
    {EFAULT, 10014},          {EINVAL, 10022},       {EMFILE, 10024},
    {EAGAIN, 10035},          {EINPROGRESS, 10036},  {EALREADY, 10037},
    {ENOTSOCK, 10038},        {EDESTADDRREQ, 10039}, {EMSGSIZE, 10040},
    {EPROTOTYPE, 10041},      {ENOPROTOOPT, 10042},  {EPROTONOSUPPORT, 10043},
    {ESOCKTNOSUPPORT, 10044}, {EOPNOTSUPP, 10045},   {EPFNOSUPPORT, 10046},
    {EAFNOSUPPORT, 10047},    {EADDRINUSE, 10048},   {EADDRNOTAVAIL, 10049},
    {ENETDOWN, 10050},        {ENETUNREACH, 10051},  {ENETRESET, 10052},
    {ECONNABORTED, 10053},    {ECONNRESET, 10054},   {ENOBUFS, 10055},
    {EISCONN, 10056},         {ENOTCONN, 10057},     {ESHUTDOWN, 10058},
    {EPIPE, 10058},           {ETOOMANYREFS, 10059}, {ETIMEDOUT, 10060},
    {ECONNREFUSED, 10061},    {ELOOP, 10062},        {ENAMETOOLONG, 10063},
    {EHOSTDOWN, 10064},       {EHOSTUNREACH, 10065}, {ENOTEMPTY, 10066},
    {EUSERS, 10068},          {EDQUOT, 10069},       {ESTALE, 10070},
    {EREMOTE, 10071},
};

struct TCodeText {
  int Code;
  const char* Text;
};

constexpr TCodeText kCodeTexts[] = {
    {0, "No Error"},
    {10004, "Interrupted system call"},
    {10009, "Bad file number"},
    {10013, "Permission denied"},
    {10014, "Bad data - buffer not in user address space"},
    {10022, "Invalid argument"},
    {10024, "Too many open files"},
    {10035, "Operation would block"},
    {10036, "Operation now in progress"},
    {10037, "Operation already in progress"},
    {10038, "Socket operation on non-socket"},
    {10039, "Destination address required"},
    {10040, "Message too long"},
    {10041, "Protocol wrong type for socket"},
    {10042, "Protocol not available"},
    {10043, "Protocol not supported"},
    {10044, "Socket type not supported"},
    {10045, "Operation not supported on socket"},
    {10046, "Protocol family not supported"},
    {10047, "Address family not supported by protocol family"},
    {10048, "Address already in use"},
    {10049, "Address not available"},
    {10050, "Network is down"},
    {10051, "Network is unreachable"},
    {10052, "Network dropped connection on reset"},
    {10053, "Connection aborted"},
    {10054, "Connection reset by peer"},
    {10055, "No buffer space available"},
    {10056, "Socket is already connected"},
    {10057, "Socket is not connected"},
    {10058, "Can't send after socket shutdown"},
    {10059, "Too many references: can't splice"},
    {10060, "Connection timed out"},
    {10061, "Connection refused"},
    {10062, "Too many levels of symbolic links"},
    {10063, "File name too long"},
    {10064, "Host is down"},
    {10065, "No route to host"},
    {10066, "Directory not empty"},
    {10067, "Too many processes"},
    {10068, "Too many users"},
    {10069, "Disc quota exceeded"},
    {10070, "Stale NFS file handle"},
    {10071, "Too many levels of remote in path"},
    {10091, "Network sub-system is unusable"},
    {10092, "WinSock DLL cannot support this application"},
    {10093, "WinSock not initialized"},
    {11001, "Host not found"},
    {11002, "Non-authoritative host not found"},
    {11003, "Non-recoverable error"},
    {11004, "No Data"},
};

}  // namespace

int WSAErrorFromErrno(int error) {
  for (const auto& entry : kErrnoCodes)
    if (entry.Errno == error) return entry.Code;
  return error;
}

int WSAErrorFromGai(int gaiError, int systemError) {
  switch (gaiError) {
    case 0:
      return 0;
    case EAI_NONAME:
      return 11001;
    case EAI_AGAIN:
      return 11002;
    case EAI_FAIL:
      return 11003;
    case EAI_NODATA:
    case EAI_ADDRFAMILY:
      return 11004;
    case EAI_MEMORY:
      return 10055;
    case EAI_SYSTEM:
      return WSAErrorFromErrno(systemError);
    default:
      return 11003;
  }
}

const char* WinSockErrorText(int code) {
  for (const auto& entry : kCodeTexts)
    if (entry.Code == code) return entry.Text;
  return "Not a WinSock error";
}

// ---------------------------------------------------------------------------------------------

TSocketHandle& TSocketHandle::operator=(TSocketHandle&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.Release();
  }
  return *this;
}

int TSocketHandle::Close() {
  if (fd_ == kInvalidSocket) return 0;
  const int fd = fd_;
  fd_ = kInvalidSocket;
  // The descriptor is gone even when close reports an error; it is never closed again.
  return ::close(fd) == 0 ? 0 : errno;
}

int TSocketHandle::Release() {
  const int fd = fd_;
  fd_ = kInvalidSocket;
  return fd;
}

TWakeSignal::TWakeSignal() : handle_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

void TWakeSignal::Signal() {
  if (!handle_.Valid()) return;
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = ::write(handle_.Fd(), &one, sizeof one);
}

void TWakeSignal::Drain() {
  if (!handle_.Valid()) return;
  std::uint64_t count = 0;
  [[maybe_unused]] const ssize_t read = ::read(handle_.Fd(), &count, sizeof count);
}

// ---------------------------------------------------------------------------------------------

int OpenStreamSocket(int protocol, TSocketHandle& out) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, protocol);
  if (fd < 0) return errno;
  out = TSocketHandle(fd);
  return 0;
}

namespace {

struct TOptionSlot {
  int Level;
  int Name;
};

TOptionSlot SlotOf(TSocketOption option) {
  switch (option) {
    case TSocketOption::Linger:
      return {SOL_SOCKET, SO_LINGER};
    case TSocketOption::ReceiveTimeout:
      return {SOL_SOCKET, SO_RCVTIMEO};
    case TSocketOption::SendTimeout:
      return {SOL_SOCKET, SO_SNDTIMEO};
    case TSocketOption::KeepAlive:
      return {SOL_SOCKET, SO_KEEPALIVE};
    case TSocketOption::ReuseAddr:
      return {SOL_SOCKET, SO_REUSEADDR};
    case TSocketOption::NoDelay:
      return {IPPROTO_TCP, TCP_NODELAY};
  }
  return {SOL_SOCKET, SO_KEEPALIVE};
}

}  // namespace

int SetSocketOption(int fd, TSocketOption option, bool on) {
  const TOptionSlot slot = SlotOf(option);
  int result = 0;
  switch (option) {
    case TSocketOption::Linger: {
      linger value{};
      value.l_onoff = on ? 1 : 0;
      result = ::setsockopt(fd, slot.Level, slot.Name, &value, sizeof value);
      break;
    }
    case TSocketOption::ReceiveTimeout:
    case TSocketOption::SendTimeout: {
      timeval value{};  // zero: no time-out
      result = ::setsockopt(fd, slot.Level, slot.Name, &value, sizeof value);
      break;
    }
    default: {
      const int value = on ? 1 : 0;
      result = ::setsockopt(fd, slot.Level, slot.Name, &value, sizeof value);
      break;
    }
  }
  return result == 0 ? 0 : errno;
}

int GetSocketOption(int fd, TSocketOption option, bool& on) {
  const TOptionSlot slot = SlotOf(option);
  if (option == TSocketOption::Linger) {
    linger value{};
    socklen_t size = sizeof value;
    if (::getsockopt(fd, slot.Level, slot.Name, &value, &size) != 0) return errno;
    on = value.l_onoff != 0;
    return 0;
  }
  if (option == TSocketOption::ReceiveTimeout || option == TSocketOption::SendTimeout) {
    timeval value{};
    socklen_t size = sizeof value;
    if (::getsockopt(fd, slot.Level, slot.Name, &value, &size) != 0) return errno;
    on = value.tv_sec != 0 || value.tv_usec != 0;
    return 0;
  }
  int value = 0;
  socklen_t size = sizeof value;
  if (::getsockopt(fd, slot.Level, slot.Name, &value, &size) != 0) return errno;
  on = value != 0;
  return 0;
}

const char* SocketOptionName(TSocketOption option) {
  switch (option) {
    case TSocketOption::Linger:
      return "setsockopt(SO_LINGER)";
    case TSocketOption::ReceiveTimeout:
      return "setsockopt(SO_RCVTIMEO)";
    case TSocketOption::SendTimeout:
      return "setsockopt(SO_SNDTIMEO)";
    case TSocketOption::KeepAlive:
      return "setsockopt(SO_KEEPALIVE)";
    case TSocketOption::ReuseAddr:
      return "setsockopt(SO_REUSEADDR)";
    case TSocketOption::NoDelay:
      return "setsockopt(TCP_NODELAY)";
  }
  return "setsockopt";
}

int SetNonBlocking(int fd) {
  const int flags = ::fcntl(fd, F_GETFL, 0);
  if (flags < 0) return errno;
  if (::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) return errno;
  return 0;
}

int StartConnect(int fd, std::uint32_t addrNet, std::uint16_t portNet) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = portNet;
  address.sin_addr.s_addr = addrNet;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return 0;
  // An interrupted connect goes on in the background, like a non-blocking one.
  return errno == EINTR ? EINPROGRESS : errno;
}

TPollResult PollSocket(int fd, bool wantWrite, int timeoutMs, int wakeFd) {
  pollfd fds[2]{};
  fds[0].fd = fd;
  fds[0].events = static_cast<short>(POLLIN | POLLRDHUP | (wantWrite ? POLLOUT : 0));
  nfds_t count = 1;
  if (wakeFd >= 0) {
    fds[1].fd = wakeFd;
    fds[1].events = POLLIN;
    count = 2;
  }
  TPollResult result;
  const int ready = ::poll(fds, count, timeoutMs);
  if (ready < 0) {
    if (errno == EINTR)
      result.TimedOut = true;
    else
      result.Failure = errno;
    return result;
  }
  if (ready == 0) {
    result.TimedOut = true;
    return result;
  }
  const short got = fds[0].revents;
  result.Readable = (got & POLLIN) != 0;
  result.Writable = (got & POLLOUT) != 0;
  result.Hangup = (got & POLLHUP) != 0;
  result.PeerClosed = (got & POLLRDHUP) != 0;
  result.Error = (got & POLLERR) != 0;
  if ((got & POLLNVAL) != 0) result.Failure = EBADF;
  result.Woken = count == 2 && (fds[1].revents & POLLIN) != 0;
  return result;
}

bool WaitWritable(int fd, int timeoutMs) {
  pollfd entry{};
  entry.fd = fd;
  entry.events = POLLOUT;
  const int ready = ::poll(&entry, 1, timeoutMs);
  return ready > 0;
}

ssize_t SendNoSignal(int fd, const void* data, std::size_t len, int& error) {
  for (;;) {
    const ssize_t sent = ::send(fd, data, len, MSG_NOSIGNAL);
    if (sent >= 0) return sent;
    if (errno == EINTR) continue;
    error = errno;
    return -1;
  }
}

ssize_t ReceiveBytes(int fd, void* buffer, std::size_t len, int& error) {
  for (;;) {
    const ssize_t got = ::recv(fd, buffer, len, 0);
    if (got >= 0) return got;
    if (errno == EINTR) continue;
    error = errno;
    return -1;
  }
}

int PendingSocketError(int fd) {
  int error = 0;
  socklen_t size = sizeof error;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) return errno;
  return error;
}

int ShutdownSocket(int fd, TShutdown how) {
  const int mode = how == TShutdown::Send      ? SHUT_WR
                   : how == TShutdown::Receive ? SHUT_RD
                                               : SHUT_RDWR;
  return ::shutdown(fd, mode) == 0 ? 0 : errno;
}

int LocalAddress(int fd, std::uint32_t& addrNet) {
  sockaddr_in address{};
  socklen_t size = sizeof address;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) return errno;
  if (address.sin_family != AF_INET) return EAFNOSUPPORT;
  addrNet = address.sin_addr.s_addr;
  return 0;
}

bool PeerConnected(int fd) {
  sockaddr_in address{};
  socklen_t size = sizeof address;
  return ::getpeername(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0;
}

// ---------------------------------------------------------------------------------------------

int ResolveIPv4(const std::string& host, std::uint32_t& addrNet) {
  in_addr dotted{};
  if (::inet_pton(AF_INET, host.c_str(), &dotted) == 1) {
    addrNet = dotted.s_addr;
    return 0;
  }
  if (host.empty()) return kWSAHOST_NOT_FOUND;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int result = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (result != 0) return WSAErrorFromGai(result, errno);
  int code = kWSANO_DATA;
  for (const addrinfo* item = found; item != nullptr; item = item->ai_next) {
    if (item->ai_family == AF_INET && item->ai_addr != nullptr) {
      addrNet = reinterpret_cast<const sockaddr_in*>(item->ai_addr)->sin_addr.s_addr;
      code = 0;
      break;
    }
  }
  ::freeaddrinfo(found);
  return code;
}

std::string IPv4Text(std::uint32_t addrNet) {
  in_addr address{};
  address.s_addr = addrNet;
  char text[INET_ADDRSTRLEN] = {};
  if (::inet_ntop(AF_INET, &address, text, sizeof text) == nullptr) return {};
  return text;
}

int LookupServicePort(const std::string& service, const std::string& protocol,
                      std::uint16_t& port) {
  servent entry{};
  servent* found = nullptr;
  std::vector<char> buffer(1024);
  for (;;) {
    const int result =
        ::getservbyname_r(service.c_str(), protocol.empty() ? nullptr : protocol.c_str(), &entry,
                          buffer.data(), buffer.size(), &found);
    if (result == ERANGE && buffer.size() < 65536) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (result != 0 || found == nullptr) return kWSANO_DATA;
    port = ntohs(static_cast<std::uint16_t>(found->s_port));
    return 0;
  }
}

namespace {

bool IsTcpName(const std::string& name) {
  return name.size() == 3 && (name[0] | 0x20) == 't' && (name[1] | 0x20) == 'c' &&
         (name[2] | 0x20) == 'p';
}

}  // namespace

int LookupProtocol(const std::string& name, int& number) {
  // Looked up on every connect: it must not depend on the machine's protocol table.
  if (IsTcpName(name)) {
    number = IPPROTO_TCP;
    return 0;
  }
  protoent entry{};
  protoent* found = nullptr;
  std::vector<char> buffer(1024);
  for (;;) {
    const int result =
        ::getprotobyname_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found);
    if (result == ERANGE && buffer.size() < 65536) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (result != 0 || found == nullptr) return kWSANO_DATA;
    number = found->p_proto;
    return 0;
  }
}

std::string ProtocolName(int number) {
  if (number == IPPROTO_TCP) return "tcp";
  protoent entry{};
  protoent* found = nullptr;
  std::vector<char> buffer(1024);
  for (;;) {
    const int result = ::getprotobynumber_r(number, &entry, buffer.data(), buffer.size(), &found);
    if (result == ERANGE && buffer.size() < 65536) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (result != 0 || found == nullptr || found->p_name == nullptr) return {};
    return found->p_name;
  }
}

}  // namespace vorn
