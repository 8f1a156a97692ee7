// The three store files as a start reads them: "VornInfo.dat", "VornCont.dat" and "logon.dat"
// in the client path, read by StartupRepository of one API object, the contract file on the
// contract-data thread (waited for).
//
// Input: byte 0 picks the file the rest replaces (0 the store, 1 the contract file, 2 the logon
// history); the other two are whole files of a saved session, so that the reads go on past
// them (the contract file is read only after a whole store).
//
// VORN_FUZZ_WRITE_SEEDS=<folder> writes the saved session's three files there as seeds, and
// exits.

#include <unistd.h>

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzMarket.h"
#include "core/events/Callbacks.h"
#include "core/session/ClassAPI.h"
#include "core/store/ContractDataThread.h"

using namespace vorn;
using namespace std::chrono_literals;

namespace {

constexpr std::array<const char*, 3> kFiles = {"VornInfo.dat", kContractStoreFileName,
                                               "logon.dat"};

std::string folder;
std::array<std::string, 3> goodFiles;
std::vector<TFuzzFile> files;
TClassAPI* api = nullptr;

std::shared_ptr<TContractItem> MakeContract(const std::string& date) {
  auto contract = std::make_shared<TContractItem>();
  contract->SetNames("LIFFE", "FTSE", date);
  contract->SetUUID("{" + date + "}");
  return contract;
}

// A session with items in every stored list and a logon history, saved as a logoff saves it.
void SaveSession(TClassAPI& session) {
  session.Environment = 'C';
  session.StartupRepository();
  session.Accounts.Add(std::make_shared<TTraderAccountItem>("TRADER1"));
  auto rate = std::make_shared<TExchangeRate>();
  rate->Currency = "USD";
  rate->Rate = 1.25;
  session.ExchangeRates.Add(rate);
  session.Exchanges.FindOrAdd("LIFFE")->Decimals = 4;
  auto commodity = std::make_shared<TCommodity>();
  commodity->SetExchangeName("LIFFE");
  commodity->SetName("FTSE");
  commodity->Currency = "GBP";
  session.Commodities.Add(commodity);
  for (const char* date : {"MAR27", "JUN27"}) {
    const auto contract = MakeContract(date);
    session.Contracts.Add(contract);
    session.Contracts.AddStoredContract(contract);
  }
  auto orderType = std::make_shared<TOrderTypeItem>();
  orderType->SetExchangeName("LIFFE");
  orderType->SetName("Limit");
  session.OrderTypes.Add(orderType);
  auto order = std::make_shared<TOrderItem>();
  order->ID = "4711";
  order->DisplayID = "4711";
  order->Status = osWorking;
  session.Orders.Add(order);
  auto fill = std::make_shared<TFill>();
  fill->FillID = "F1";
  fill->Lots = 3;
  session.Fills.Add(fill);
  for (const char* sequence : {"12", "-3"}) {
    auto message = std::make_shared<TUserMessage>();
    message->SetSequence(sequence);
    message->Content = std::string("message ") + sequence;
    session.UserMessages.Add(message);
  }
  auto reportType = std::make_shared<TReportType>();
  reportType->ReportType = "Trades";
  session.ReportTypes.Add(reportType);
  auto report = std::make_shared<TReportItem>();
  report->ReportType = "Trades";
  report->Sequence = 5;
  report->Text = "report text";
  session.Reports.Add(report);
  auto rating = std::make_shared<TMarginRating>();
  rating->Rating = "R1";
  rating->Exchange = "LIFFE";
  rating->MarginReq = 10;
  session.MarginRatings.Add(rating);
  session.Logon.RefSequence.Set("4711");
  auto logon = std::make_shared<TUserLogon>();
  logon->Sequence = 9;
  logon->UserName = "TRADER";
  logon->LastDate = 20270315;
  logon->DBSequence = "77";
  logon->RefSequence = "4700";
  logon->DBIdentifier = "DB1";
  session.UserLogons.SetLogon(logon);
  if (!session.UserLogons.Save()) std::abort();
  session.StartContractData(TContractDataThread::cdaWrite);
  if (!session.ContractsSaved.WaitFor(10s)) std::abort();
  session.Logon.LoggedOn = true;
  session.Shutdown();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  api = MakeFuzzAPI();  // the client path is its folder
  folder = GetClientPath();
  {
    TClassAPI session;
    SaveSession(session);
  }
  for (std::size_t i = 0; i < kFiles.size(); ++i) {
    goodFiles[i] = ReadWhole(folder + kFiles[i]);
    if (goodFiles[i].empty()) std::abort();
  }
  if (const char* seeds = std::getenv("VORN_FUZZ_WRITE_SEEDS")) {
    for (std::size_t i = 0; i < kFiles.size(); ++i)
      WriteWhole(std::string(seeds) + "/" + kFiles[i],
                 std::string(1, static_cast<char>(i)) + goodFiles[i]);
    std::exit(0);
  }
  for (const char* name : kFiles) files.emplace_back(folder + name);
  api->Environment = 'C';
  ClearCallbackQueue();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t picked = data[0] % kFiles.size();
  for (std::size_t i = 0; i < kFiles.size(); ++i)
    files[i].Write(i == picked
                       ? std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1)
                       : std::string_view(goodFiles[i]));
  api->StartupRepository();
  if (api->ContractsReading && !api->ContractsRead.WaitFor(10s)) __builtin_trap();
  // Freed again as a logoff frees it (nothing saved: not logged on), so that the next input
  // starts as this one did.
  api->ShutdownRepository();
  ClearCallbackQueue();
  TrimFuzzLogs();
  return 0;
}
