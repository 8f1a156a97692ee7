// vornsoak: an application of libvornapi.so, through the exported interface only, for a soak
// run against `vornfakehost --load`. It logs on, subscribes to the load host's contract,
// enters, amends and cancels orders from a thread of its own, checks the stamps of the load
// host's streamed order updates and price bodies (no loss, no repeat), and prints each minute
// its resident memory, threads, open descriptors and event rates, then a verdict.
//
//   vornsoak --host-port N --price-port M [--minutes N] [--orders-per-second N]
//            [--client-path DIR/] [--stream-updates N]
//
// Exit status: 0 when the verdict holds, 1 when it does not, 2 on bad arguments or setup.

#include <dirent.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "vornintf.h"

namespace {

using TClock = std::chrono::steady_clock;

struct TOptions {
  std::string HostPort;
  std::string PricePort;
  int Minutes = 60;
  int OrdersPerSecond = 100;
  int StreamUpdates = 10;  // updates per streamed order, as the load host sends them
  std::string ClientPath;
};

// ---------------------------------------------------------------------------------------------
// What the callbacks saw. The callbacks run on the library's one callback thread; the main
// thread reads the counters.

std::atomic<std::uint64_t> orderEvents{0}, streamUpdates{0}, streamLost{0}, streamRepeated{0},
    clientOrderEvents{0}, cancelsConfirmed{0}, tickers{0}, priceLost{0}, priceRepeated{0},
    priceSkippedInDownload{0}, priceEvents{0}, fillEvents{0}, logons{0}, bookResets{0},
    downloads{0}, hostDrops{0}, forcedLogouts{0}, otherEvents{0};
std::atomic<std::uint64_t> clientByStatus[32];
std::atomic<bool> downloaded{false};
std::atomic<bool> priceLinkUp{false};

int streamUpdatesPerOrder = 10;
// Callback thread only.
std::uint64_t streamOrder = 0;  // the streamed order last seen
std::int32_t streamSeq = 0;     // its last update's sequence
std::uint64_t lastPrice = 0;    // the last price body's stamp
bool downloadSinceTicker = false;

// The client's own orders, by their current id (an order entered under a local id gets the
// host's later): the order thread amends an order once it is working and cancels it once the
// amendment is confirmed. Shared by the callback thread and the order thread.
enum class TStage { Entered, Working, Amending, Amended };
std::mutex ordersLock;
std::unordered_map<std::string, TStage> clientOrders;
std::deque<std::string> readyToAmend, readyToCancel;

template <std::size_t N>
std::string_view FieldText(const char (&field)[N]) {
  return {field, strnlen(field, N)};
}

template <std::size_t N>
void Put(char (&field)[N], std::string_view text) {
  const std::size_t length = std::min(text.size(), N - 1);
  std::memcpy(field, text.data(), length);
  field[length] = '\0';
}

void VN_STDCALL OnOrder(const OrderUpdateStruct* update) {
  ++orderEvents;
  const std::string_view id = FieldText(update->OrderID);
  if (id.empty() || id.front() != 'S') {
    ++clientOrderEvents;
    if (update->Status == VN_OS_CANCELLED) ++cancelsConfirmed;
    ++clientByStatus[update->Status & 31];
    std::lock_guard guard(ordersLock);
    const std::string_view old = FieldText(update->OldOrderID);
    auto found = clientOrders.find(std::string(old.empty() ? id : old));
    if (found == clientOrders.end()) return;
    if (!old.empty() && old != id) {
      const TStage stage = found->second;
      clientOrders.erase(found);
      found = clientOrders.emplace(std::string(id), stage).first;
    }
    if (update->Status == VN_OS_WORKING && found->second == TStage::Entered) {
      found->second = TStage::Working;
      readyToAmend.push_back(found->first);
    } else if (update->Status == VN_OS_WORKING && found->second == TStage::Amending) {
      found->second = TStage::Amended;
      readyToCancel.push_back(found->first);
    } else if (update->Status == VN_OS_CANCELLED || update->Status == VN_OS_REJECTED) {
      clientOrders.erase(found);
    }
    return;
  }
  std::uint64_t order = 0;
  std::from_chars(id.data() + 1, id.data() + id.size(), order);
  const std::int32_t seq = update->OFSeqNumber;
  ++streamUpdates;
  if (order == streamOrder) {
    if (seq <= streamSeq)
      ++streamRepeated;
    else
      streamLost += static_cast<std::uint64_t>(seq - streamSeq - 1);
    streamSeq = std::max(streamSeq, seq);
  } else if (order > streamOrder) {
    // The previous order's missing tail, whole orders skipped, this one's missing head.
    if (streamOrder > 0 && streamSeq < streamUpdatesPerOrder)
      streamLost += static_cast<std::uint64_t>(streamUpdatesPerOrder - streamSeq);
    streamLost += (order - streamOrder - 1) * static_cast<std::uint64_t>(streamUpdatesPerOrder);
    if (seq > 1) streamLost += static_cast<std::uint64_t>(seq - 1);
    streamOrder = order;
    streamSeq = seq;
  } else {
    ++streamRepeated;
  }
}

void VN_STDCALL OnTicker(const TickerStruct* ticker) {
  ++tickers;
  const auto stamp = static_cast<std::uint64_t>(ticker->BidVolume);
  if (stamp <= lastPrice) {
    ++priceRepeated;
  } else if (stamp > lastPrice + 1) {
    // The client posts no price events while it downloads, by design.
    (downloadSinceTicker ? priceSkippedInDownload : priceLost) += stamp - lastPrice - 1;
  }
  lastPrice = std::max(lastPrice, stamp);
  downloadSinceTicker = false;
}

void VN_STDCALL OnHostLink(const LinkStateStruct* state) {
  if (state->NewState == VN_LINK_CLOSED) ++hostDrops;
}
void VN_STDCALL OnPriceLink(const LinkStateStruct* state) {
  priceLinkUp = state->NewState == VN_LINK_CONNECTED;
}
void VN_STDCALL OnLogonStatus() {
  ++logons;
  downloadSinceTicker = true;
}
void VN_STDCALL OnDownload() {
  ++downloads;
  downloaded = true;
}
void VN_STDCALL OnBookReset() {
  ++bookResets;
  std::lock_guard guard(ordersLock);
  clientOrders.clear();
  readyToAmend.clear();
  readyToCancel.clear();
}
void VN_STDCALL OnForcedLogout() {
  ++forcedLogouts;
}
void VN_STDCALL OnFill(const FillUpdateStruct*) {
  ++fillEvents;
}
void VN_STDCALL OnContractKey(const ContractKeyStruct*) {
  ++priceEvents;
}
void VN_STDCALL OnText(const char*) {
  ++otherEvents;
}
void VN_STDCALL OnNotify() {
  ++otherEvents;
}

bool RegisterCallbacks() {
  bool ok = vnRegisterOrderCallback(VN_CB_ORDER, OnOrder) == 0 &&
            vnRegisterTickerCallback(VN_CB_TICKER_UPDATE, OnTicker) == 0 &&
            vnRegisterLinkStateCallback(VN_CB_HOST_LINK_STATE_CHANGE, OnHostLink) == 0 &&
            vnRegisterLinkStateCallback(VN_CB_PRICE_STATE_CHANGE, OnPriceLink) == 0 &&
            vnRegisterCallback(VN_CB_LOGON_STATUS, OnLogonStatus) == 0 &&
            vnRegisterCallback(VN_CB_DATA_DL_COMPLETE, OnDownload) == 0 &&
            vnRegisterCallback(VN_CB_FORCED_LOGOUT, OnForcedLogout) == 0 &&
            vnRegisterOrderBookReset(VN_CB_ORDER_BOOK_RESET, OnBookReset) == 0 &&
            vnRegisterFillCallback(VN_CB_FILL, OnFill) == 0 &&
            vnRegisterPriceCallback(VN_CB_PRICE_UPDATE, OnContractKey) == 0 &&
            vnRegisterMsgCallback(VN_CB_MESSAGE, OnText) == 0 &&
            vnRegisterCallback(VN_CB_MEMORY_WARNING, OnNotify) == 0;
  return ok;
}

// ---------------------------------------------------------------------------------------------
// The order thread: each step enters an order, amends the one entered a third of a second
// before and cancels the one amended a third of a second before that.

struct TOrderCounts {
  std::atomic<std::uint64_t> Entered{0}, EntryRefused{0}, Amended{0}, AmendRefused{0},
      Cancelled{0}, CancelRefused{0};
};
TOrderCounts orderCounts;

void RunOrders(int perSecond, const std::atomic<bool>& stop) {
  NewOrderStruct order;
  std::memset(&order, 0, sizeof order);
  Put(order.TraderAccount, "TRADER1");
  Put(order.OrderType, "LIMIT");
  Put(order.ExchangeName, "LIFFE");
  Put(order.CommodityName, "FTSE");
  Put(order.ContractDate, "MAR27");
  order.BuySell = VN_SIDE_BUY;
  Put(order.Price, "6400");
  order.Lots = 3;
  order.OpenOrClose = 'O';
  AmendOrderStruct amend;
  std::memset(&amend, 0, sizeof amend);
  Put(amend.Price, "6399");
  amend.Lots = 2;
  amend.OpenOrClose = 'O';
  Put(amend.TraderAccount, "TRADER1");

  const auto step = std::chrono::nanoseconds(1'000'000'000LL / std::max(1, perSecond));
  auto next = TClock::now();
  // The next order that a queue offers, marked as taken.
  auto take = [](std::deque<std::string>& queue, TStage stage) {
    std::lock_guard guard(ordersLock);
    while (!queue.empty()) {
      std::string id = std::move(queue.front());
      queue.pop_front();
      const auto found = clientOrders.find(id);
      if (found == clientOrders.end()) continue;
      if (stage == TStage::Amending) found->second = stage;
      return id;
    }
    return std::string();
  };
  while (!stop) {
    next += step;
    std::this_thread::sleep_until(next);
    char id[11] = {};
    {
      // The callback may report the order before vnAddOrder returns: the lock keeps it waiting
      // until the order is listed here.
      std::lock_guard guard(ordersLock);
      if (vnAddOrder(&order, id) == 0) {
        ++orderCounts.Entered;
        clientOrders.emplace(id, TStage::Entered);
      } else {
        ++orderCounts.EntryRefused;
      }
    }
    if (const std::string amendID = take(readyToAmend, TStage::Amending); !amendID.empty())
      (vnAmendOrder(amendID.c_str(), &amend) == 0 ? orderCounts.Amended
                                                  : orderCounts.AmendRefused)++;
    if (const std::string cancelID = take(readyToCancel, TStage::Amended); !cancelID.empty())
      (vnCancelOrder(cancelID.c_str()) == 0 ? orderCounts.Cancelled : orderCounts.CancelRefused)++;
  }
}

// ---------------------------------------------------------------------------------------------
// Samples of the process, from /proc/self.

struct TSample {
  double Minute = 0;
  long RssKiB = 0;
  int Threads = 0;
  int Fds = 0;
  std::int32_t Orders = 0;
  std::int64_t HistoryEntries = 0;
  std::int32_t Fills = 0;
  std::uint64_t StreamUpdates = 0, ClientOrderEvents = 0, Tickers = 0;
  std::uint64_t Entered = 0, Amended = 0, Cancelled = 0;
};

long StatusValue(const char* name) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const std::size_t length = std::strlen(name);
  while (std::getline(status, line)) {
    if (line.compare(0, length, name) == 0 && line.size() > length && line[length] == ':')
      return std::strtol(line.c_str() + length + 1, nullptr, 10);
  }
  return -1;
}

int OpenFds() {
  DIR* folder = opendir("/proc/self/fd");
  if (!folder) return -1;
  int count = 0;
  while (const dirent* entry = readdir(folder))
    if (entry->d_name[0] != '.') ++count;
  closedir(folder);
  return count - 1;  // less the one reading the folder
}

TSample Sample(double minute) {
  TSample s;
  s.Minute = minute;
  s.RssKiB = StatusValue("VmRSS");
  s.Threads = static_cast<int>(StatusValue("Threads"));
  s.Fds = OpenFds();
  vnCountOrders(&s.Orders);
  for (std::int32_t i = 0; i < s.Orders; ++i) {
    std::int32_t versions = 0;
    if (vnCountOrderHistory(i, &versions) == 0) s.HistoryEntries += versions;
  }
  vnCountFills(&s.Fills);
  s.StreamUpdates = streamUpdates;
  s.ClientOrderEvents = clientOrderEvents;
  s.Tickers = tickers;
  s.Entered = orderCounts.Entered;
  s.Amended = orderCounts.Amended;
  s.Cancelled = orderCounts.Cancelled;
  return s;
}

void PrintHeader() {
  std::printf(
      "minute   rss_MiB threads fds  orders  entries  fills  stream_upd/s client_upd/s "
      "tickers/s  entered/s amended/s cancelled/s  lost repeated logons\n");
}

void PrintSample(const TSample& s, const TSample& previous) {
  const double seconds = std::max(1e-9, (s.Minute - previous.Minute) * 60);
  auto rate = [seconds](std::uint64_t now, std::uint64_t before) {
    return static_cast<double>(now - before) / seconds;
  };
  std::printf("%6.1f %9.1f %7d %3d %7d %8" PRId64 " %6d %12.0f %12.0f %9.0f %10.1f %9.1f %11.1f "
              "%5" PRIu64 " %8" PRIu64 " %6" PRIu64 "\n",
              s.Minute, s.RssKiB / 1024.0, s.Threads, s.Fds, s.Orders, s.HistoryEntries, s.Fills,
              rate(s.StreamUpdates, previous.StreamUpdates),
              rate(s.ClientOrderEvents, previous.ClientOrderEvents), rate(s.Tickers, previous.Tickers),
              rate(s.Entered, previous.Entered), rate(s.Amended, previous.Amended),
              rate(s.Cancelled, previous.Cancelled), streamLost.load() + priceLost.load(),
              streamRepeated.load() + priceRepeated.load(), logons.load());
  std::fflush(stdout);
}

bool WaitFor(const std::atomic<bool>& flag, std::chrono::seconds limit) {
  const auto deadline = TClock::now() + limit;
  while (!flag && TClock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  return flag;
}

bool ParseOptions(int argc, char** argv, TOptions& options) {
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string_view name = argv[i];
    const std::string value = argv[i + 1];
    if (name == "--host-port")
      options.HostPort = value;
    else if (name == "--price-port")
      options.PricePort = value;
    else if (name == "--minutes")
      options.Minutes = std::atoi(value.c_str());
    else if (name == "--orders-per-second")
      options.OrdersPerSecond = std::atoi(value.c_str());
    else if (name == "--stream-updates")
      options.StreamUpdates = std::atoi(value.c_str());
    else if (name == "--client-path")
      options.ClientPath = value;
    else
      return false;
  }
  return argc % 2 == 1 && !options.HostPort.empty() && !options.PricePort.empty() &&
         options.Minutes > 0 && options.OrdersPerSecond > 0 && options.StreamUpdates > 0;
}

}  // namespace

int main(int argc, char** argv) {
  TOptions options;
  if (!ParseOptions(argc, argv, options)) {
    std::fprintf(stderr,
                 "usage: vornsoak --host-port N --price-port M [--minutes N] "
                 "[--orders-per-second N] [--stream-updates N] [--client-path DIR/]\n");
    return 2;
  }
  streamUpdatesPerOrder = options.StreamUpdates;
  if (!options.ClientPath.empty()) vnSetClientPath(options.ClientPath.c_str());
  if (vnInitialise('T', VN_INTERFACE_VERSION, "soak", "1.0", "", 0) != 0 || !RegisterCallbacks() ||
      vnSetHostAddress("127.0.0.1", options.HostPort.c_str()) != 0 ||
      vnSetPriceAddress("127.0.0.1", options.PricePort.c_str()) != 0 ||
      vnSetHostReconnect(1) != 0 || vnSetPriceReconnect(1) != 0 || vnReady() != 0) {
    std::fprintf(stderr, "vornsoak: setting up the library failed\n");
    return 2;
  }
  const TSample base = Sample(0);
  LogonStruct logon;
  std::memset(&logon, 0, sizeof logon);
  Put(logon.UserName, "soak");
  Put(logon.Password, "soak1");
  logon.FullDownload = 'N';
  logon.ReportDownload = 'N';
  if (vnLogOn(&logon) != 0 || !WaitFor(downloaded, std::chrono::seconds(30)) ||
      !WaitFor(priceLinkUp, std::chrono::seconds(30))) {
    std::fprintf(stderr, "vornsoak: the logon, its download or the price link did not come\n");
    return 2;
  }
  if (vnSubscribePrice("LIFFE", "FTSE", "MAR27") != 0) {
    std::fprintf(stderr, "vornsoak: the subscription was refused\n");
    return 2;
  }
  std::printf("vornsoak: logged on; %d minutes, %d orders a second entered, amended and cancelled\n",
              options.Minutes, options.OrdersPerSecond);
  std::printf("before the load: rss %.1f MiB, %d threads, %d fds\n", base.RssKiB / 1024.0,
              base.Threads, base.Fds);
  PrintHeader();

  std::atomic<bool> stop{false};
  std::thread orders([&] { RunOrders(options.OrdersPerSecond, stop); });
  const auto start = TClock::now();
  std::vector<TSample> samples{base};
  samples.back().Minute = 0;
  for (int minute = 1; minute <= options.Minutes; ++minute) {
    std::this_thread::sleep_until(start + std::chrono::minutes(minute));
    samples.push_back(
        Sample(std::chrono::duration<double>(TClock::now() - start).count() / 60.0));
    PrintSample(samples.back(), samples[samples.size() - 2]);
  }
  stop = true;
  orders.join();
  // The load host stops its streams when the run's time is up; what is queued drains.
  std::this_thread::sleep_for(std::chrono::seconds(5));

  const TSample& first = samples[1];
  const TSample& last = samples.back();
  // The lists hold by design every state of every order and every fill since the last clearing
  // of the order book; what they hold at the end beyond what they held after the first minute
  // is allowed at the cost per entry the first minute showed (all its growth over the entries
  // it added: an upper bound).
  const double perEntry =
      first.HistoryEntries + first.Fills > 0
          ? std::max(0.0, static_cast<double>(first.RssKiB - base.RssKiB) * 1024.0 /
                              static_cast<double>(first.HistoryEntries + first.Fills))
          : 0.0;
  const double extraEntries = std::max<double>(
      0, static_cast<double>((last.HistoryEntries + last.Fills) -
                             (first.HistoryEntries + first.Fills)));
  const double allowanceKiB = extraEntries * perEntry / 1024.0;
  const double limitKiB = first.RssKiB * 1.10 + allowanceKiB;
  const bool memoryHeld = static_cast<double>(last.RssKiB) <= limitKiB;
  int maxThreads = 0, maxFds = 0;
  for (std::size_t i = 1; i < samples.size(); ++i) {
    maxThreads = std::max(maxThreads, samples[i].Threads);
    maxFds = std::max(maxFds, samples[i].Fds);
  }
  // Growing: the later half of the run reaching above anything the first minute showed.
  bool threadsGrew = false, fdsGrew = false;
  for (std::size_t i = samples.size() / 2 + 1; i < samples.size(); ++i) {
    threadsGrew |= samples[i].Threads > first.Threads + 1;
    fdsGrew |= samples[i].Fds > first.Fds + 2;
  }
  const std::uint64_t lost = streamLost + priceLost, repeated = streamRepeated + priceRepeated;
  const double seconds = std::chrono::duration<double>(TClock::now() - start).count();

  std::printf("\nrates over the run: stream order updates %.0f/s, client order updates %.0f/s, "
              "price events %.0f/s, orders entered %.1f/s, amended %.1f/s, cancelled %.1f/s\n",
              streamUpdates / seconds, clientOrderEvents / seconds, tickers / seconds,
              orderCounts.Entered / seconds, orderCounts.Amended / seconds,
              orderCounts.Cancelled / seconds);
  std::printf("totals: stream updates %" PRIu64 ", price events %" PRIu64 ", client order events %" PRIu64
              ", cancels confirmed %" PRIu64 ", fills %" PRIu64 "\n",
              streamUpdates.load(), tickers.load(), clientOrderEvents.load(),
              cancelsConfirmed.load(), fillEvents.load());
  std::printf("client order events by status:");
  for (int status = 0; status < 32; ++status)
    if (clientByStatus[status] > 0) std::printf(" %d:%" PRIu64, status, clientByStatus[status].load());
  std::printf("\n");
  std::printf("refused: entries %" PRIu64 ", amends %" PRIu64 ", cancels %" PRIu64
              "\n",
              orderCounts.EntryRefused.load(), orderCounts.AmendRefused.load(),
              orderCounts.CancelRefused.load());
  std::printf("links: logons %" PRIu64 ", downloads %" PRIu64 ", order book resets %" PRIu64
              ", host link drops %" PRIu64 ", forced logouts %" PRIu64 "\n",
              logons.load(), downloads.load(), bookResets.load(), hostDrops.load(),
              forcedLogouts.load());
  std::printf("price bodies not posted during downloads (by design): %" PRIu64 "\n",
              priceSkippedInDownload.load());
  std::printf("memory: after minute 1 %.1f MiB, at the end %.1f MiB; list entries %" PRId64
              " -> %" PRId64 " at %.0f bytes each: allowance %.1f MiB; limit %.1f MiB: %s\n",
              first.RssKiB / 1024.0, last.RssKiB / 1024.0, first.HistoryEntries + first.Fills,
              last.HistoryEntries + last.Fills, perEntry, allowanceKiB / 1024.0, limitKiB / 1024.0,
              memoryHeld ? "held" : "GREW");
  std::printf("threads: after minute 1 %d, at most %d, at the end %d: %s\n", first.Threads,
              maxThreads, last.Threads, threadsGrew ? "GREW" : "held");
  std::printf("fds: after minute 1 %d, at most %d, at the end %d: %s\n", first.Fds, maxFds,
              last.Fds, fdsGrew ? "GREW" : "held");
  std::printf("events: lost %" PRIu64 " (stream %" PRIu64 ", price %" PRIu64 "), repeated %" PRIu64
              " (stream %" PRIu64 ", price %" PRIu64 ")\n",
              lost, streamLost.load(), priceLost.load(), repeated, streamRepeated.load(),
              priceRepeated.load());
  const bool pass = memoryHeld && !threadsGrew && !fdsGrew && lost == 0 && repeated == 0 &&
                    forcedLogouts == 0;
  std::printf("STREAM_TOTAL %" PRIu64 " PRICE_TOTAL %" PRIu64 "\n", streamUpdates.load(),
              tickers.load() + priceSkippedInDownload.load());
  std::printf("verdict: %s\n", pass ? "PASS" : "FAIL");
  vnLogOff();
  return pass ? 0 : 1;
}
