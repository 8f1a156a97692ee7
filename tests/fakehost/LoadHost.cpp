#include "fakehost/LoadHost.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>

#include <algorithm>
#include <charconv>
#include <optional>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string_view>
#include <unordered_map>

#include "support/FakeServer.h"

namespace vorn {
namespace {

using TClock = std::chrono::steady_clock;

// Streamed bytes go out in batches of at most this many messages per tick, so that the link
// still reads the client between them.
constexpr std::size_t kBatchLimit = 2000;
constexpr auto kTick = std::chrono::milliseconds(2);
// Rates are kept over at most this much backlog: a client that stalls longer is not flooded
// afterwards, and the counts show the rate it took.
constexpr double kMaxBacklogSeconds = 0.1;

// How long a dropped link waits for the client to read what was sent and close.
constexpr auto kClientCloseLimit = std::chrono::minutes(5);
// Enough for the client's orders of several seconds: its next request waits for this answer.
constexpr int kOrderIDsPerRequest = 500;
// The client sleeps a second at the end of each download before it takes other messages.
constexpr double kLiveAfterLogonSeconds = 2.0;

constexpr std::size_t kPriceBodySize = 314;
constexpr std::size_t kHandshakeReplySize = 146;

double SecondsSince(TClock::time_point start) {
  return std::chrono::duration<double>(TClock::now() - start).count();
}

// The first value of a tagged field ("Name=value" items ended by 0x01), empty when absent.
std::string_view Field(std::string_view body, std::string_view name) {
  std::size_t at = 0;
  while (at < body.size()) {
    const std::size_t end = std::min(body.find('\x01', at), body.size());
    const std::string_view item = body.substr(at, end - at);
    if (item.size() > name.size() && item.substr(0, name.size()) == name &&
        item[name.size()] == '=')
      return item.substr(name.size() + 1);
    at = end + 1;
  }
  return {};
}

void Put(std::string& body, std::size_t offset, std::string_view text) {
  if (body.size() < offset + text.size()) body.resize(offset + text.size(), ' ');
  body.replace(offset, text.size(), text);
}

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

// The frames read so far from one connection, cut into bodies.
class TFrameReader {
 public:
  // Appends what the descriptor has; false when the client closed or the read failed.
  bool ReadFrom(int fd) {
    char buffer[65536];
    const ssize_t got = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (got < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    if (got == 0) return false;
    pending_.append(buffer, static_cast<std::size_t>(got));
    return true;
  }
  // The next whole body, or false.
  bool Next(std::string& body) {
    while (pending_.size() - used_ >= 2) {
      const std::size_t length = (static_cast<unsigned char>(pending_[used_]) & 0x7F) * 256u +
                                 static_cast<unsigned char>(pending_[used_ + 1]);
      if (pending_.size() - used_ - 2 < length) break;
      body.assign(pending_, used_ + 2, length);
      used_ += 2 + length;
      if (length > 0) return true;
    }
    pending_.erase(0, used_);
    used_ = 0;
    return false;
  }

 private:
  std::string pending_;
  std::size_t used_ = 0;
};

// Writes everything; false when the connection failed or the host stops.
bool WriteAll(int fd, std::string_view bytes, const std::atomic<bool>& stopping) {
  while (!bytes.empty()) {
    const ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(sent));
      continue;
    }
    if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return false;
    if (stopping) return false;
    pollfd ready{fd, POLLOUT, 0};
    ::poll(&ready, 1, 100);
  }
  return true;
}

// How many streamed messages are due: rate times the time streamed, less those sent, with the
// backlog kept within kMaxBacklogSeconds.
class TPacer {
 public:
  explicit TPacer(double rate) : rate_(rate) {}
  void Restart() {
    start_ = TClock::now();
    sent_ = 0;
  }
  std::size_t Due() {
    const double owed = rate_ * SecondsSince(start_) - static_cast<double>(sent_);
    const double limit = rate_ * kMaxBacklogSeconds;
    if (owed > limit) sent_ += static_cast<std::uint64_t>(owed - limit);  // forgive the stall
    const double due = std::min(owed, limit);
    return due < 1 ? 0 : std::min(kBatchLimit, static_cast<std::size_t>(due));
  }
  void Sent(std::size_t count) { sent_ += count; }

 private:
  double rate_;
  TClock::time_point start_ = TClock::now();
  std::uint64_t sent_ = 0;
};

struct TClientOrder {
  std::string Fields;  // the order's fixed items: TA, OTy, Ex, C, CD, BS
  std::string Price;
  std::string Lots;
  int Seq = 0;
};

}  // namespace

TLoadHost::TLoadHost(const TLoadOptions& options)
    : options_(options), hostListener_(options.HostPort), priceListener_(options.PricePort) {}

TLoadHost::~TLoadHost() {
  Stop();
}

void TLoadHost::Start() {
  host_ = std::thread([this] { ServeHost(); });
  price_ = std::thread([this] { ServePrice(); });
}

void TLoadHost::Quiesce() {
  quiet_ = true;
}

void TLoadHost::Stop() {
  quiet_ = true;
  stopping_ = true;
  if (host_.joinable()) host_.join();
  if (price_.joinable()) price_.join();
}

TLoadCounts TLoadHost::Counts() const {
  return {streamUpdates_.load(), streamOrders_.load(), clientUpdates_.load(),
          clientRequests_.load(), priceBodies_.load(),  logons_.load(),
          drops_.load()};
}

// ---------------------------------------------------------------------------------------------
// Host link

void TLoadHost::ServeHost() {
  const std::string download =
      Frame(HostBody("Msg=3664|Ex=LIFFE|QE=Y|GUID=G-EX-1")) +
      Frame(HostBody("Msg=3667|Ex=LIFFE|TID=2|OTy=LIMIT|PrR=1")) +
      Frame(HostBody("Msg=3661|Cur=GBP|ER=1")) +
      Frame(HostBody("Msg=3655|Ex=LIFFE|C=FTSE|Cur=GBP|TPP=100|TSz=0.5|VOP=10|GUID=G-C-1")) +
      Frame(HostBody("Msg=3658|Ex=LIFFE|C=FTSE|CD=MAR27|XD=20270315|X1=F|GUID=G-CD-1")) +
      Frame(HostBody("Msg=3679|TA=TRADER1|Acs=1")) + Frame(HostBody("Msg=3620"));
  // The streamed orders' states: sent, working, part filled lot by lot, filled.
  constexpr int kLots = kStreamUpdates - 2;
  auto streamed = [](std::uint64_t order, int seq) {
    const std::string id = "S" + std::to_string(order);
    const int status = seq == 1 ? 2 : seq == 2 ? 3 : seq == kStreamUpdates ? 10 : 7;
    const int filled = std::max(0, seq - 2);
    std::string text = "Msg=3601|OID=" + id + "|Sts=" + std::to_string(status) +
                       "|Seq=" + std::to_string(seq) +
                       "|Flg=1|TA=TRADER1|OTy=LIMIT|Ex=LIFFE|C=FTSE|CD=MAR27|BS=1|Pr=6500|TLt=" +
                       std::to_string(kLots) + "|Fil=" + std::to_string(filled) +
                       "|Usr=other|EID=X-" + id;
    if (filled > 0) text += "|AvP=6500";
    return Frame(HostBody(text));
  };

  while (!stopping_) {
    auto peer = hostListener_.Accept(std::chrono::milliseconds(200));
    if (!peer) continue;
    const int fd = peer->Fd();
    TFrameReader reader;
    TPacer pacer(options_.OrderUpdatesPerSecond);
    std::unordered_map<std::string, TClientOrder> orders;
    bool loggedOn = false, open = true;
    TClock::time_point loggedOnAt;
    int streamSeq = 0;  // updates of the current streamed order sent; 0: none begun
    std::string out, body;

    auto reply = [&](const std::string& text) { out += Frame(HostBody(text)); };
    auto clientUpdate = [&](const std::string& id, TClientOrder& order, int status,
                            const std::string& extra) {
      ++order.Seq;
      reply("Msg=3601|OID=" + id + "|Sts=" + std::to_string(status) +
            "|Seq=" + std::to_string(order.Seq) + "|Flg=1|" + order.Fields + "|Pr=" + order.Price +
            "|TLt=" + order.Lots + "|Fil=0|EID=X-" + id + extra);
      ++clientUpdates_;
    };
    auto handle = [&](std::string_view message) {
      const std::string_view code = Field(message, "Msg");
      if (code == "3361") {
        reply("Msg=3624");
      } else if (code == "3362") {
        reply("Msg=3625|Txt=Welcome to the load host|TA=TRADER1|Flg=000000|Frq=300|FODw=Y");
        out += download;
        orders.clear();
        loggedOn = true;
        loggedOnAt = TClock::now();
        pacer.Restart();
        ++logons_;
      } else if (code == "3341") {
        std::string ids = "Msg=3622";
        for (int i = 0; i < kOrderIDsPerRequest; ++i)
          ids += "|OID=" + std::to_string(nextOrderID_++);
        reply(ids + "|Sts=0");
        hostLive_ = loggedOn;  // the client's download is over
      } else if (code == "3301") {
        ++clientRequests_;
        const std::string id(Field(message, "OID"));
        TClientOrder& order = orders[id];
        order.Fields = "TA=" + std::string(Field(message, "TA")) +
                       "|OTy=" + std::string(Field(message, "OTy")) +
                       "|Ex=" + std::string(Field(message, "Ex")) +
                       "|C=" + std::string(Field(message, "C")) +
                       "|CD=" + std::string(Field(message, "CD")) +
                       "|BS=" + std::string(Field(message, "BS"));
        order.Price = Field(message, "Pr");
        order.Lots = Field(message, "TLt");
        clientUpdate(id, order, 2, "");
        clientUpdate(id, order, 3, "");
      } else if (code == "3302") {
        ++clientRequests_;
        const auto found = orders.find(std::string(Field(message, "OID")));
        if (found == orders.end()) return;
        clientUpdate(found->first, found->second, 12, "");
        if (const auto price = Field(message, "Pr"); !price.empty()) found->second.Price = price;
        if (const auto lots = Field(message, "TLt"); !lots.empty()) found->second.Lots = lots;
        clientUpdate(found->first, found->second, 3, "");
      } else if (code == "3303") {
        ++clientRequests_;
        const auto found = orders.find(std::string(Field(message, "OID")));
        if (found == orders.end()) return;
        clientUpdate(found->first, found->second, 11, "");
        found->second.Lots = "0";
        clientUpdate(found->first, found->second, 5, "|ALt=0|OSt=11");
        orders.erase(found);
      } else if (code == "3363") {
        open = false;
      }
    };

    while (open && !stopping_) {
      pollfd ready{fd, POLLIN, 0};
      ::poll(&ready, 1, static_cast<int>(kTick.count()));
      if (ready.revents != 0) {
        open = reader.ReadFrom(fd);
        while (reader.Next(body))
          handle(body);
      }
      // The client asks for order ids at the end of its download, or soon after it.
      if (loggedOn && !hostLive_ && SecondsSince(loggedOnAt) >= kLiveAfterLogonSeconds)
        hostLive_ = true;
      const bool dropDue = loggedOn && options_.ReconnectSeconds > 0 &&
                           SecondsSince(loggedOnAt) >= options_.ReconnectSeconds;
      // The stream runs once the client asked for order ids after its download.
      if (loggedOn && hostLive_ && !quiet_) {
        const std::size_t due = pacer.Due();
        // A drop that is due waits for the current order's last update.
        std::size_t sent = 0;
        while (sent < due || (dropDue && streamSeq != 0)) {
          out += streamed(nextStreamOrder_, ++streamSeq);
          ++sent;
          if (streamSeq == kStreamUpdates) {
            streamSeq = 0;
            ++streamOrders_;
            ++nextStreamOrder_;
          }
        }
        pacer.Sent(sent);
        streamUpdates_ += sent;
      }
      if (!out.empty()) {
        if (!WriteAll(fd, out, stopping_)) open = false;
        out.clear();
      }
      if (open && dropDue && streamSeq == 0) {
        // Between two streamed orders: an orderly end of what was sent, then the close once
        // the client has read all of it and closed its end. A close before that would answer
        // the client's next bytes with a reset, and the client's kernel would drop what it
        // had received and not yet read; a client far behind takes its time.
        hostLive_ = false;
        ++drops_;
        ::shutdown(fd, SHUT_WR);
        const auto deadline = TClock::now() + kClientCloseLimit;
        while (TClock::now() < deadline && !stopping_ && reader.ReadFrom(fd)) {
          pollfd end{fd, POLLIN, 0};
          ::poll(&end, 1, 50);
          while (reader.Next(body)) {
          }
        }
        open = false;
      }
    }
    hostLive_ = false;
    peer->Close();
  }
}

// ---------------------------------------------------------------------------------------------
// Price feed

void TLoadHost::ServePrice() {
  std::string priceBody(kPriceBodySize, ' ');
  Put(priceBody, 0, "0084");
  Put(priceBody, 4, "LIFFE");
  Put(priceBody, 14, "FTSE");
  Put(priceBody, 24, "MAR27");
  Put(priceBody, 94, "6500");
  Put(priceBody, 105, "6501");
  Put(priceBody, 116, "6500.5");
  Put(priceBody, 127, "6510");
  Put(priceBody, 138, "6490");
  Put(priceBody, 215, "4");
  Put(priceBody, 226, "100");
  Put(priceBody, 237, "2");

  while (!stopping_) {
    auto peer = priceListener_.Accept(std::chrono::milliseconds(200));
    if (!peer) continue;
    const int fd = peer->Fd();
    TFrameReader reader;
    TPacer pacer(options_.PriceBodiesPerSecond);
    bool subscribed = false, open = true, live = false;
    std::string out, body;
    while (open && !stopping_) {
      pollfd ready{fd, POLLIN, 0};
      ::poll(&ready, 1, static_cast<int>(kTick.count()));
      if (ready.revents != 0) {
        open = reader.ReadFrom(fd);
        while (reader.Next(body)) {
          const std::string_view code = std::string_view(body).substr(0, 4);
          if (code == "0066") {
            std::string answer(kHandshakeReplySize, ' ');
            Put(answer, 0, "0067");
            if (body.size() >= 146) Put(answer, 136, std::string_view(body).substr(136, 10));
            out += Frame(answer);
          } else if (code == "0202" && body.size() >= 74 &&
                     Trimmed(std::string_view(body).substr(4, 10)) == "LIFFE" &&
                     Trimmed(std::string_view(body).substr(14, 10)) == "FTSE" &&
                     Trimmed(std::string_view(body).substr(24, 50)) == "MAR27") {
            subscribed = true;
          }
        }
      }
      // The stream waits while the host link is down or the client downloads.
      const bool streaming = subscribed && hostLive_ && !quiet_;
      if (streaming && !live) pacer.Restart();
      live = streaming;
      if (streaming) {
        const std::size_t due = pacer.Due();
        for (std::size_t i = 0; i < due; ++i) {
          char number[12];
          const int length = std::snprintf(number, sizeof number, "%-11llu",
                                           static_cast<unsigned long long>(nextPriceBody_++));
          Put(priceBody, 204, std::string_view(number, static_cast<std::size_t>(length)));
          out += Frame(priceBody);
        }
        pacer.Sent(due);
        priceBodies_ += due;
      }
      if (!out.empty()) {
        if (!WriteAll(fd, out, stopping_)) open = false;
        out.clear();
      }
    }
    peer->Close();
  }
}

}  // namespace vorn

namespace vorn {
namespace {

bool Number(std::string_view text, double& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size() && value >= 0;
}

void PrintCounts(const char* label, const TLoadCounts& now, const TLoadCounts& before,
                 double seconds) {
  std::cout << "load host: " << label << ": stream updates " << now.StreamUpdates
            << " (" << static_cast<long long>((now.StreamUpdates - before.StreamUpdates) / seconds)
            << "/s), price bodies " << now.PriceBodies << " ("
            << static_cast<long long>((now.PriceBodies - before.PriceBodies) / seconds)
            << "/s), client requests " << now.ClientRequests << ", client updates "
            << now.ClientUpdates << ", logons " << now.Logons << ", drops " << now.Drops << '\n'
            << std::flush;
}

int Usage() {
  std::cerr << "usage: vornfakehost --load [--host-port N] [--price-port M] [--order-rate N]\n"
               "                    [--price-rate N] [--reconnect SECONDS] [--minutes N]\n";
  return 2;
}

}  // namespace

int RunLoadMode(int argc, char** argv) {
  TLoadOptions options;
  double minutes = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string_view name = argv[i];
    if (name == "--load") continue;
    double value = 0;
    if (i + 1 >= argc || !Number(argv[i + 1], value)) return Usage();
    ++i;
    if (name == "--host-port") options.HostPort = static_cast<std::uint16_t>(value);
    else if (name == "--price-port") options.PricePort = static_cast<std::uint16_t>(value);
    else if (name == "--order-rate") options.OrderUpdatesPerSecond = value;
    else if (name == "--price-rate") options.PriceBodiesPerSecond = value;
    else if (name == "--reconnect") options.ReconnectSeconds = static_cast<int>(value);
    else if (name == "--minutes") minutes = value;
    else return Usage();
  }
  // Interrupts are taken with sigwait on this thread; the link threads inherit the mask.
  sigset_t interrupts;
  sigemptyset(&interrupts);
  sigaddset(&interrupts, SIGINT);
  sigaddset(&interrupts, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &interrupts, nullptr);

  TLoadHost host(options);
  std::cout << "vornfakehost: host on 127.0.0.1:" << host.HostPort() << ", price feed on 127.0.0.1:"
            << host.PricePort() << ", load of " << options.OrderUpdatesPerSecond
            << " order updates and " << options.PriceBodiesPerSecond
            << " price bodies a second\n"
            << std::flush;
  host.Start();
  const auto start = std::chrono::steady_clock::now();
  std::optional<std::chrono::steady_clock::time_point> firstLogon;
  TLoadCounts before{};
  auto lastReport = start;
  const timespec tick{1, 0};
  while (true) {
    if (sigtimedwait(&interrupts, nullptr, &tick) > 0) break;
    const auto now = std::chrono::steady_clock::now();
    const TLoadCounts counts = host.Counts();
    if (!firstLogon && counts.Logons > 0) firstLogon = now;
    if (firstLogon && minutes > 0 && now - *firstLogon >= std::chrono::duration<double>(minutes * 60))
      host.Quiesce();
    if (now - lastReport >= std::chrono::minutes(1)) {
      PrintCounts("minute", counts, before,
                  std::chrono::duration<double>(now - lastReport).count());
      before = counts;
      lastReport = now;
    }
  }
  host.Stop();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() -
                                                       (firstLogon ? *firstLogon : start))
                             .count();
  PrintCounts("total", host.Counts(), TLoadCounts{}, std::max(1.0, seconds));
  const TLoadCounts counts = host.Counts();
  std::cout << "SENT_STREAM " << counts.StreamUpdates << " SENT_PRICE " << counts.PriceBodies
            << '\n' << std::flush;
  return 0;
}

}  // namespace vorn
