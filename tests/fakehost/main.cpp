// vornfakehost: a fake host and a fake price feed on loopback that play a conversation script,
// by default a session that answers handshakes and accepts any logon, so that the library can
// be tried by hand.
//
//   vornfakehost [--host-port N] [--price-port M] [--script FILE] [--tls CERT KEY] [--quiet]
//   vornfakehost --load ...  (a load for soak runs: fakehost/LoadHost.h)

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <charconv>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "fakehost/LoadHost.h"
#include "support/Conversation.h"

namespace {

struct TOptions {
  std::uint16_t HostPort = 0;
  std::uint16_t PricePort = 0;
  std::string Script = VORN_DEFAULT_SESSION;
  vorn::TFakeServerTls Tls;
  bool Quiet = false;
};

constexpr const char* kUsage =
    "usage: vornfakehost [--host-port N] [--price-port M] [--script FILE] [--tls CERT KEY]\n"
    "                    [--quiet]\n"
    "  Ports default to free ones; both listen on 127.0.0.1. The script defaults to\n"
    "  " VORN_DEFAULT_SESSION "\n"
    "  With --tls both speak TLS with the certificate (chain) and key of the PEM files.\n";

std::optional<std::uint16_t> Port(std::string_view text) {
  std::uint16_t port = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return port;
}

std::optional<TOptions> ParseOptions(int argc, char** argv) {
  TOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view name = argv[i];
    if (name == "--quiet") {
      options.Quiet = true;
      continue;
    }
    if (i + 1 >= argc) return std::nullopt;
    const std::string_view value = argv[++i];
    if (name == "--script") {
      options.Script = value;
    } else if (name == "--tls") {
      if (i + 1 >= argc) return std::nullopt;
      options.Tls = {std::string(value), argv[++i]};
    } else if (name == "--host-port" || name == "--price-port") {
      const auto port = Port(value);
      if (!port) return std::nullopt;
      (name == "--host-port" ? options.HostPort : options.PricePort) = *port;
    } else {
      return std::nullopt;
    }
  }
  return options;
}

// A log line with the values of password items ("Pwd", "NPw") blanked out.
std::string Masked(std::string line) {
  for (const char* tag : {"Pwd=", "NPw="}) {
    for (auto at = line.find(tag); at != std::string::npos; at = line.find(tag, at + 4)) {
      if (at > 0 && line[at - 1] != '|' && line[at - 1] != ' ') continue;
      const auto end = line.find('|', at);
      line.replace(at + 4, (end == std::string::npos ? line.size() : end) - at - 4, "***");
    }
  }
  return line;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string_view(argv[1]) == "--load") return vorn::RunLoadMode(argc, argv);
  const auto options = ParseOptions(argc, argv);
  if (!options) {
    std::cerr << kUsage;
    return 2;
  }
  // Interrupts are taken by one thread with sigwait; every other thread, started below,
  // inherits the blocked mask.
  sigset_t interrupts;
  sigemptyset(&interrupts);
  sigaddset(&interrupts, SIGINT);
  sigaddset(&interrupts, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &interrupts, nullptr);

  try {
    const vorn::TConversation script = vorn::TConversation::Load(options->Script);
    vorn::TFakeServers servers(options->HostPort, options->PricePort, options->Tls);
    vorn::TConversationRunner runner(servers);
    if (!options->Quiet)
      runner.SetLog([](const std::string& line) {
        std::cout << Masked(line) << '\n' << std::flush;
      });
    std::cout << "vornfakehost: host on 127.0.0.1:" << servers.Host.Port()
              << ", price feed on 127.0.0.1:" << servers.Price.Port() << ", playing "
              << options->Script << (options->Tls.CertFile.empty() ? "" : " over TLS") << '\n'
              << std::flush;

    std::thread interrupter([&runner, &interrupts] {
      int signal = 0;
      sigwait(&interrupts, &signal);
      runner.RequestStop();
    });
    const vorn::TConversationResult result = runner.Run(script);
    kill(getpid(), SIGTERM);  // ends the interrupter when the script ended by itself
    interrupter.join();
    if (!result) {
      std::cerr << "vornfakehost: " << result.Message << '\n';
      return 1;
    }
    std::cout << "vornfakehost: done\n";
    return 0;
  } catch (const std::exception& error) {
    std::cerr << "vornfakehost: " << error.what() << '\n';
    return 1;
  }
}
