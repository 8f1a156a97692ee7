// The stand-in library's TLS entry points, loaded as the client loads them, against an OpenSSL
// server in the test with certificates made for each test.

#include <dlfcn.h>
#include <elf.h>
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <set>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/Files.h"
#include "ravelink/RavelinkSSLEntries.h"
#include "ravelink/TlsTestServer.h"
#include "support/Eventually.h"
#include "support/LoopbackListener.h"
#include "support/TempDir.h"
#include "support/TestCertificates.h"

namespace vorn {
namespace {

using namespace std::chrono_literals;
using TClock = std::chrono::steady_clock;

std::string Pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + i / 977) & 0xFF);
  return bytes;
}

// The client's classification of a failed connect: counted towards its ten failures or not.
bool Counted(const std::string& text) {
  return !text.empty() && text != kSSLServerDisconnected &&
         text.find(kSSLHostUnreachable) == std::string::npos;
}

class RavelinkSSLTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(library_.Load(RavelinkLibraryPath())) << library_.Error();
    ASSERT_TRUE(ssl_.Resolve(library_));
    ssl_.SetClientCertName(0, "");
  }
  void TearDown() override {
    for (const std::int32_t handle : handles_) ssl_.Close(handle);
  }

  TTlsTestServer::TOptions Options(const TTestIdentity& identity, int maxVersion = 0,
                                   bool requireClient = false) const {
    return {identity.CertFile, identity.KeyFile, requireClient ? certs_.CAFile : std::string(),
            maxVersion};
  }

  // A new handle (closed after the test), connected or not as the result says.
  std::int32_t Connect(std::uint16_t port, bool& connected, const char* host = "127.0.0.1",
                       const char* certName = "", int timeoutSeconds = 10) {
    const std::int32_t handle = ssl_.GetHandle();
    EXPECT_GT(handle, 0);
    handles_.push_back(handle);
    ssl_.SetKeepAlive(handle, 1);
    connected = (ssl_.Connect(handle, host, port, timeoutSeconds, certName) & 0xFF) != 0;
    return handle;
  }
  std::int32_t ConnectOrFail(std::uint16_t port, const char* host = "127.0.0.1",
                             const char* certName = "") {
    bool connected = false;
    const std::int32_t handle = Connect(port, connected, host, certName);
    EXPECT_TRUE(connected) << ssl_.GetLastError(handle);
    return handle;
  }
  std::string LastError(std::int32_t handle) { return ssl_.GetLastError(handle); }

  // Reads until size bytes arrived (reads that time out are retried), each read at most 1,000
  // bytes.
  std::string ReadAll(std::int32_t handle, std::size_t size) {
    std::string received;
    char buffer[1000];
    const auto deadline = TClock::now() + 10s;
    while (received.size() < size && TClock::now() < deadline) {
      const std::int32_t count = ssl_.Read(handle, buffer, sizeof buffer);
      if (count > 0) {
        EXPECT_LE(count, 1000);
        received.append(buffer, static_cast<std::size_t>(count));
      } else if (count == 0 || errno != ETIMEDOUT) {
        ADD_FAILURE() << "read ended: " << count << " " << LastError(handle);
        break;
      }
    }
    return received;
  }

  TTempDir dir_;
  TTestCertificates certs_ = MakeTestCertificates(dir_.Path());
  TScopedTrustedCA trust_{certs_.CAFile};
  TDynamicLibrary library_;
  TRavelinkSSLEntries ssl_;
  std::vector<std::int32_t> handles_;
};

class RavelinkSSLVersionTest : public RavelinkSSLTest,
                               public ::testing::WithParamInterface<int> {};

INSTANTIATE_TEST_SUITE_P(Versions, RavelinkSSLVersionTest,
                         ::testing::Values(TLS1_2_VERSION, TLS1_3_VERSION),
                         [](const auto& info) {
                           return std::string(info.param == TLS1_2_VERSION ? "TLS12" : "TLS13");
                         });

// A 64 KB write on one thread arrives whole while another thread reads the echo in reads of at
// most 1,000 bytes; the client certificate named before the handle exists is presented; the
// server's end of stream then reads as 0.
TEST_P(RavelinkSSLVersionTest, DataBothWaysWithAClientCertificate) {
  const std::string sent = Pattern(64 * 1024);
  std::mutex arrivedLock;
  std::string arrived;
  TTlsTestServer server(Options(certs_.Server, GetParam(), true), [&](SSL* ssl, int) {
    std::string buffer(sent.size(), '\0');
    if (!ReadExactly(ssl, buffer.data(), buffer.size())) return;
    {
      const std::lock_guard<std::mutex> guard(arrivedLock);
      arrived = buffer;
    }
    SSL_write(ssl, buffer.data(), static_cast<int>(buffer.size()));
  });
  ssl_.SetClientCertName(0, certs_.Client.PemFile.c_str());
  const std::int32_t handle = ConnectOrFail(server.Port());

  std::int32_t written = 0;
  std::thread writer([&] { written = ssl_.Write(handle, sent.data(), static_cast<int>(sent.size())); });
  const std::string echoed = ReadAll(handle, sent.size());
  writer.join();
  EXPECT_EQ(written, static_cast<std::int32_t>(sent.size()));
  EXPECT_TRUE(echoed == sent) << echoed.size() << " bytes echoed";

  char byte;
  std::int32_t end;
  do {
    end = ssl_.Read(handle, &byte, 1);
  } while (end < 0 && errno == ETIMEDOUT);
  EXPECT_EQ(end, 0) << LastError(handle);
  ssl_.Close(handle);
  const std::lock_guard<std::mutex> guard(arrivedLock);
  EXPECT_TRUE(arrived == sent);
}

// The name the server's certificate must carry: the certificate name when one is given, else
// the host, matched as an address when it is one; a client certificate named relative to the
// library is found beside it.
TEST_F(RavelinkSSLTest, TheNameCheckedIsTheCertificateNameOrTheHost) {
  TTlsTestServer server(Options(certs_.Server, 0, true), [](SSL* ssl, int) {
    char byte;
    SSL_read(ssl, &byte, 1);
  });
  const std::string folder = ExtractFilePath(RavelinkLibraryPath());
  const std::string beside = "ravelink-test-" + std::to_string(::getpid()) + ".pem";
  std::filesystem::copy_file(certs_.Client.PemFile, folder + beside);
  ssl_.SetClientCertName(0, beside.c_str());
  struct TCase {
    const char* Host;
    const char* CertName;
  };
  for (const TCase& c : {TCase{"127.0.0.1", ""}, TCase{"localhost", ""},
                         TCase{"127.0.0.1", "localhost"}, TCase{"localhost", "127.0.0.1"}}) {
    SCOPED_TRACE(std::string(c.Host) + " / " + c.CertName);
    const std::int32_t handle = ConnectOrFail(server.Port(), c.Host, c.CertName);
    EXPECT_EQ(LastError(handle), "");
    EXPECT_EQ(ssl_.Write(handle, "x", 1), 1);
    ssl_.Close(handle);
  }
  std::filesystem::remove(folder + beside);
}

enum class TClientCert { None, Untrusted, MissingFile };

struct TRefusal {
  const char* Name;
  const TTestIdentity TTestCertificates::*Server;
  bool RequireClient;
  TClientCert Client;
  const char* Host;
  const char* CertName;
  const char* Fragment;  // a part of the error text; empty: any TLS error
};

void PrintTo(const TRefusal& refusal, std::ostream* out) { *out << refusal.Name; }

class RavelinkSSLRefusalTest
    : public RavelinkSSLTest,
      public ::testing::WithParamInterface<std::tuple<TRefusal, int>> {};

const TRefusal kRefusals[] = {
    {"UntrustedCA", &TTestCertificates::UntrustedServer, false, TClientCert::None, "127.0.0.1",
     "", "certificate verify failed (unable to get local issuer certificate)"},
    {"Expired", &TTestCertificates::Expired, false, TClientCert::None, "127.0.0.1", "",
     "certificate verify failed (certificate has expired)"},
    {"WrongName", &TTestCertificates::Server, false, TClientCert::None, "127.0.0.1",
     "other.example", "certificate verify failed (hostname mismatch)"},
    {"WrongAddress", &TTestCertificates::Server, false, TClientCert::None, "localhost",
     "127.0.0.2", "certificate verify failed (IP address mismatch)"},
    {"MissingClientCertificate", &TTestCertificates::Server, true, TClientCert::None,
     "127.0.0.1", "", ""},
    {"UntrustedClientCertificate", &TTestCertificates::Server, true, TClientCert::Untrusted,
     "127.0.0.1", "", ""},
    {"ClientCertificateFileMissing", &TTestCertificates::Server, true, TClientCert::MissingFile,
     "127.0.0.1", "", "client certificate"},
};

INSTANTIATE_TEST_SUITE_P(
    Cases, RavelinkSSLRefusalTest,
    ::testing::Combine(::testing::ValuesIn(kRefusals),
                       ::testing::Values(TLS1_2_VERSION, TLS1_3_VERSION)),
    [](const auto& info) {
      return std::string(std::get<0>(info.param).Name) +
             (std::get<1>(info.param) == TLS1_2_VERSION ? "_TLS12" : "_TLS13");
    });

// Every refusal fails the connect itself (on TLS 1.3 too, where the server refuses a client
// certificate after the client's handshake has ended) with a text the client counts; the handle
// still closes.
TEST_P(RavelinkSSLRefusalTest, TheConnectFailsWithACountedTlsError) {
  const auto& [refusal, version] = GetParam();
  std::atomic<bool> sessionRan{false};
  TTlsTestServer server(Options(certs_.*refusal.Server, version, refusal.RequireClient),
                        [&](SSL*, int) { sessionRan = true; });
  const std::int32_t handle = ssl_.GetHandle();
  handles_.push_back(handle);
  switch (refusal.Client) {
    case TClientCert::None:
      break;
    case TClientCert::Untrusted:
      ssl_.SetClientCertName(handle, certs_.UntrustedClient.PemFile.c_str());
      break;
    case TClientCert::MissingFile:
      ssl_.SetClientCertName(handle, dir_.File("missing.pem").c_str());
      break;
  }
  EXPECT_EQ(ssl_.Connect(handle, refusal.Host, server.Port(), 10, refusal.CertName), 0);
  const std::string text = LastError(handle);
  EXPECT_EQ(text.rfind("SSL Error: ", 0), 0u) << text;
  EXPECT_NE(text.find(refusal.Fragment), std::string::npos) << text;
  EXPECT_TRUE(Counted(text)) << text;
  EXPECT_EQ(ssl_.GetLastErrorType(handle), 2);
  EXPECT_FALSE(sessionRan);
  ssl_.Close(handle);
  EXPECT_EQ(LastError(handle), "SSL Error: invalid handle");
}

enum class TServerAct { Refuse, CloseAtOnce, CloseAfterHello, ResetAfterHello };

// Failures of the socket rather than of TLS are not counted by the client: a refused port is
// "Host Unreachable", an end of the connection in the handshake "Server has disconnected".
TEST_F(RavelinkSSLTest, SocketFailuresGiveTheTextsTheClientDoesNotCount) {
  struct TCase {
    const char* Name;
    TServerAct Act;
    const char* Expected;  // the whole text, or the start of it ending in '('
  };
  for (const TCase& c :
       {TCase{"refused", TServerAct::Refuse, "Socket Error: Host Unreachable (Connection refused)"},
        TCase{"closed at once", TServerAct::CloseAtOnce, kSSLServerDisconnected},
        TCase{"closed after hello", TServerAct::CloseAfterHello, kSSLServerDisconnected},
        TCase{"reset after hello", TServerAct::ResetAfterHello, kSSLServerDisconnected}}) {
    SCOPED_TRACE(c.Name);
    TLoopbackListener listener;
    const std::uint16_t port = listener.Port();
    if (c.Act == TServerAct::Refuse) listener.Close();
    std::thread server([&] {
      if (c.Act == TServerAct::Refuse) return;
      const auto peer = listener.Accept();
      if (!peer) return;
      if (c.Act != TServerAct::CloseAtOnce) {
        char hello[64];
        peer->ReadSome(hello, sizeof hello, 5s);
      }
      peer->Close(c.Act == TServerAct::ResetAfterHello);
    });
    bool connected = true;
    const std::int32_t handle = Connect(port, connected);
    server.join();
    EXPECT_FALSE(connected);
    EXPECT_EQ(LastError(handle), c.Expected);
    EXPECT_FALSE(Counted(LastError(handle)));
    EXPECT_EQ(ssl_.GetLastErrorType(handle), 1);
  }
}

// A server that takes the connection and never speaks TLS fails the connect at its time-out.
TEST_F(RavelinkSSLTest, ASilentServerFailsTheConnectAtItsTimeOut) {
  TLoopbackListener listener;  // never accepts: the kernel completes the connect
  const auto start = TClock::now();
  bool connected = true;
  const std::int32_t handle = Connect(listener.Port(), connected, "127.0.0.1", "", 1);
  EXPECT_FALSE(connected);
  EXPECT_LT(TClock::now() - start, 3s);
  EXPECT_EQ(LastError(handle), "SSL Error: handshake timed out");
  EXPECT_EQ(ssl_.IsLastErrorBlocking(handle), 1);
}

// An idle read gives up within the second with errno exactly ETIMEDOUT, the connection kept: the
// next read gets the server's byte.
TEST_F(RavelinkSSLTest, AnIdleReadTimesOutWithETIMEDOUTAndTheConnectionStays) {
  TTlsTestServer server(Options(certs_.Server), [](SSL* ssl, int) {
    char byte;
    if (SSL_read(ssl, &byte, 1) == 1) SSL_write(ssl, "x", 1);
    SSL_read(ssl, &byte, 1);  // until the client closes
  });
  const std::int32_t handle = ConnectOrFail(server.Port());
  char buffer[1000];
  const auto start = TClock::now();
  errno = 0;
  EXPECT_EQ(ssl_.Read(handle, buffer, sizeof buffer), -1);
  EXPECT_EQ(errno, ETIMEDOUT);
  EXPECT_LT(TClock::now() - start, 1500ms);
  EXPECT_EQ(ssl_.Write(handle, "g", 1), 1);
  EXPECT_EQ(ReadAll(handle, 1), "x");
  ssl_.Close(handle);
}

// SSL_Close from another thread ends a read blocked on the same handle at once, not at the read's
// time-out.
TEST_F(RavelinkSSLTest, CloseFromAnotherThreadEndsABlockedRead) {
  TTlsTestServer server(Options(certs_.Server), [](SSL* ssl, int) {
    char byte;
    SSL_read(ssl, &byte, 1);
  });
  const std::int32_t handle = ConnectOrFail(server.Port());
  std::atomic<int> timeouts{0};
  std::atomic<bool> ended{false};
  std::int32_t last = 0;
  int lastErrno = 0;
  std::thread reader([&] {
    char buffer[1000];
    for (;;) {
      last = ssl_.Read(handle, buffer, sizeof buffer);
      lastErrno = errno;
      if (last != -1 || lastErrno != ETIMEDOUT) break;
      ++timeouts;
    }
    ended = true;
  });
  ASSERT_TRUE(Eventually([&] { return timeouts >= 1; }, 5s));
  const auto closed = TClock::now();
  ssl_.Close(handle);
  EXPECT_TRUE(Eventually([&] { return ended.load(); }, 5s));
  const auto took = TClock::now() - closed;
  reader.join();
  EXPECT_LT(took, 900ms);
  EXPECT_EQ(last, -1);
  EXPECT_NE(lastErrno, ETIMEDOUT);
}

// A server that resets the connection while a large write is under way fails the write; the
// process, with SIGPIPE at its default (fatal) action, lives on.
TEST_F(RavelinkSSLTest, AResetDuringALargeWriteFailsTheWriteWithoutASignal) {
  struct sigaction fatal {}, previous{};
  fatal.sa_handler = SIG_DFL;
  ::sigaction(SIGPIPE, &fatal, &previous);
  TTlsTestServer server(Options(certs_.Server), [](SSL* ssl, int fd) {
    char byte;
    SSL_read(ssl, &byte, 1);
    const linger reset{1, 0};  // closing with data unread then sends a reset
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  });
  const std::int32_t handle = ConnectOrFail(server.Port());
  const std::string large = Pattern(16 * 1024 * 1024);
  EXPECT_EQ(ssl_.Write(handle, large.data(), static_cast<int>(large.size())), -1);
  EXPECT_EQ(LastError(handle).rfind("Socket Error: ", 0), 0u) << LastError(handle);
  ::sigaction(SIGPIPE, &previous, nullptr);
}

// Loading, connecting, closing and unloading again and again leaves nothing behind: each unload
// really unmaps the library (no OpenSSL callback or thread-exit hook pins it or points into it),
// and the next cycle works.
TEST_F(RavelinkSSLTest, FiftyLoadConnectUnloadCycles) {
  library_.Unload();
  TTlsTestServer server(Options(certs_.Server), [](SSL* ssl, int) {
    char ping[4];
    if (ReadExactly(ssl, ping, sizeof ping)) SSL_write(ssl, "pong", 4);
  });
  const std::string path = RavelinkLibraryPath();
  for (int cycle = 0; cycle < 50; ++cycle) {
    SCOPED_TRACE(cycle);
    {
      TDynamicLibrary library(path);
      ASSERT_TRUE(library.Loaded()) << library.Error();
      TRavelinkSSLEntries ssl;
      ASSERT_TRUE(ssl.Resolve(library));
      const std::int32_t handle = ssl.GetHandle();
      ASSERT_EQ(ssl.Connect(handle, "127.0.0.1", server.Port(), 10, ""), 1)
          << ssl.GetLastError(handle);
      EXPECT_STREQ(ssl.GetLastError(handle), "");  // its per-thread copy must not pin it either
      EXPECT_EQ(ssl.Write(handle, "ping", 4), 4);
      char reply[4];
      std::int32_t count;
      do {
        count = ssl.Read(handle, reply, sizeof reply);
      } while (count < 0 && errno == ETIMEDOUT);
      EXPECT_EQ(std::string(reply, count > 0 ? static_cast<std::size_t>(count) : 0), "pong");
      ssl.Close(handle);
    }
    void* still = ::dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    EXPECT_EQ(still, nullptr) << "the library stayed mapped";
    if (still) {
      ::dlclose(still);
      break;
    }
  }
  EXPECT_EQ(server.Handshakes(), 50);
}

// The library exports the names of its header and nothing else, so none of its own symbols can
// stand in for another library's in the host process.
TEST(RavelinkExportsTest, OnlyTheEntryPointsAreExported) {
  const std::string image = ReadFileText(RavelinkLibraryPath());
  ASSERT_GT(image.size(), sizeof(Elf64_Ehdr));
  const auto* header = reinterpret_cast<const Elf64_Ehdr*>(image.data());
  ASSERT_EQ(std::memcmp(header->e_ident, ELFMAG, SELFMAG), 0);
  const auto* sections = reinterpret_cast<const Elf64_Shdr*>(image.data() + header->e_shoff);
  std::set<std::string> exported;
  for (int i = 0; i < header->e_shnum; ++i) {
    if (sections[i].sh_type != SHT_DYNSYM) continue;
    const char* names = image.data() + sections[sections[i].sh_link].sh_offset;
    const auto* symbols = reinterpret_cast<const Elf64_Sym*>(image.data() + sections[i].sh_offset);
    for (std::size_t j = 0; j < sections[i].sh_size / sizeof(Elf64_Sym); ++j) {
      const int binding = ELF64_ST_BIND(symbols[j].st_info);
      if (symbols[j].st_shndx != SHN_UNDEF && (binding == STB_GLOBAL || binding == STB_WEAK))
        exported.insert(names + symbols[j].st_name);
    }
  }
  std::set<std::string> expected(std::begin(kSSLEntryNames), std::end(kSSLEntryNames));
  expected.insert(kENCEncryptPasswordName);
  EXPECT_EQ(exported, expected);
}

// openssl s_server as a child process, its standard input and output on pipes: what a client
// sends appears on its output, and a line written to its input goes to the client.
class TOpensslServer {
 public:
  // The openssl program on PATH; empty when there is none.
  static std::string Find() {
    const char* path = ::getenv("PATH");
    std::string folders = path ? path : "/usr/bin";
    std::size_t start = 0;
    while (start <= folders.size()) {
      const std::size_t end = std::min(folders.find(':', start), folders.size());
      const std::string candidate = folders.substr(start, end - start) + "/openssl";
      if (::access(candidate.c_str(), X_OK) == 0) return candidate;
      start = end + 1;
    }
    return {};
  }

  TOpensslServer(const std::string& program, std::vector<std::string> arguments) {
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    arguments.insert(arguments.begin(), program);
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    if (::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0)
      pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    input_ = in[1];
    output_ = out[0];
  }
  TOpensslServer(const TOpensslServer&) = delete;
  TOpensslServer& operator=(const TOpensslServer&) = delete;
  ~TOpensslServer() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      int status;
      ::waitpid(pid_, &status, 0);
    }
    if (input_ >= 0) ::close(input_);
    if (output_ >= 0) ::close(output_);
  }

  bool Started() const { return pid_ > 0; }
  // Reads its output until it holds text; false when the time ran out or the output ended.
  bool WaitForOutput(const std::string& text, std::chrono::milliseconds timeout = 10s) {
    return WaitFor([&] { return output.find(text) != std::string::npos; }, timeout);
  }
  // The rest of the first output line that begins with prefix; empty when none came in time.
  std::string WaitForLine(const std::string& prefix, std::chrono::milliseconds timeout = 10s) {
    std::size_t at = std::string::npos;
    const bool found = WaitFor(
        [&] {
          at = output.find(prefix);
          return at != std::string::npos && output.find('\n', at) != std::string::npos;
        },
        timeout);
    if (!found) return {};
    at += prefix.size();
    return output.substr(at, output.find('\n', at) - at);
  }
  bool Write(const std::string& text) {
    return ::write(input_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  }

  std::string output;

 private:
  template <class F>
  bool WaitFor(F done, std::chrono::milliseconds timeout) {
    const auto deadline = TClock::now() + timeout;
    while (!done()) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - TClock::now());
      if (left.count() <= 0) return false;
      pollfd ready{output_, POLLIN, 0};
      if (::poll(&ready, 1, static_cast<int>(left.count())) <= 0) continue;
      char buffer[4096];
      const ssize_t count = ::read(output_, buffer, sizeof buffer);
      if (count <= 0) return false;
      output.append(buffer, static_cast<std::size_t>(count));
    }
    return true;
  }

  pid_t pid_ = -1;
  int input_ = -1;
  int output_ = -1;
};

// An independent peer: openssl s_server, asking for a client certificate, gets the client's
// bytes, and its own reach the client.
TEST_F(RavelinkSSLTest, OpensslServerAsThePeer) {
  const std::string program = TOpensslServer::Find();
  if (program.empty()) GTEST_SKIP() << "no openssl program on PATH";
  TOpensslServer server(program, {"s_server", "-accept", "127.0.0.1:0", "-cert",
                                  certs_.Server.CertFile, "-key", certs_.Server.KeyFile,
                                  "-Verify", "1", "-CAfile", certs_.CAFile, "-naccept", "1"});
  ASSERT_TRUE(server.Started());
  const int port = std::atoi(server.WaitForLine("ACCEPT 127.0.0.1:").c_str());
  ASSERT_GT(port, 0) << server.output;

  ssl_.SetClientCertName(0, certs_.Client.PemFile.c_str());
  const std::int32_t handle = ConnectOrFail(static_cast<std::uint16_t>(port), "localhost");
  const std::string toServer = "bytes from the client\n";
  EXPECT_EQ(ssl_.Write(handle, toServer.data(), static_cast<int>(toServer.size())),
            static_cast<std::int32_t>(toServer.size()));
  EXPECT_TRUE(server.WaitForOutput(toServer)) << server.output;
  const std::string toClient = "bytes from the server\n";
  ASSERT_TRUE(server.Write(toClient));
  EXPECT_EQ(ReadAll(handle, toClient.size()), toClient);
  ssl_.Close(handle);
}

}  // namespace
}  // namespace vorn
