#pragma once
// The API object the receiver fuzz targets apply their inputs to, made once, its files (UUID
// log, error log) in a temporary folder of its own: empty, or holding the future LIFFE FTSE
// "MAR27" and the account TRADER1, logged on.

#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "core/diag/ClientPath.h"
#include "core/session/ClassAPI.h"

namespace vorn {

inline TClassAPI* MakeFuzzAPI() {
  char folder[] = "/tmp/vorn_fuzz_XXXXXX";
  if (!mkdtemp(folder)) std::abort();
  SetClientPath(std::string(folder) + "/");
  return new TClassAPI;
}

inline TClassAPI* MakeFuzzMarket() {
  auto* api = MakeFuzzAPI();
  api->Exchanges.Add(std::make_shared<TExchange>("LIFFE"));
  auto commodity = std::make_shared<TCommodity>();
  commodity->SetExchangeName("LIFFE");
  commodity->SetName("FTSE");
  commodity->Currency = "GBP";
  api->Commodities.Add(commodity);
  TFieldsList contract;
  contract.SetFields(std::string("X1=F\x01Mar=100\x01"));
  api->Contracts.AddFromFields("LIFFE", "FTSE", "MAR27", contract);
  api->Accounts.Add(std::make_shared<TTraderAccountItem>("TRADER1"));
  api->Logon.LoggedOn = true;
  return api;
}

}  // namespace vorn
