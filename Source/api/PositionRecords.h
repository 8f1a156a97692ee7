#pragma once
// The position records of the exported interface and the look-ups of the position queries: a
// trader account's closed and open profit and loss on a contract, its totals over every contract
// it traded, and the average price of its open fills on a contract.
//
// Positions are read as copies taken under each contract's position lock (TraderPosition.h);
// the socket threads may net a fill between two such copies, so each figure is whole but two
// figures of one export may straddle a fill.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "core/refdata/ContractItem.h"
#include "core/trading/TraderAccount.h"
#include "vornintf.h"

namespace vorn {

class TClassAPI;

// The width of the average price text the caller gives.
inline constexpr std::size_t kPriceTextSize = 21;

// What a position query looks up: the account (which must be listed before it is looked up,
// so that no account is made during the download) and the contract.
struct TPositionTarget {
  std::shared_ptr<TTraderAccountItem> Account;
  std::shared_ptr<TContractItem> Contract;
};

// 10 without contracts, 9 for an account that is not listed; 0 with the account found.
std::int32_t FindPositionAccount(TClassAPI& api, const char* account, TPositionTarget& target);
// FindPositionAccount, then 22 for a contract that is not held.
std::int32_t FindPositionTarget(TClassAPI& api, const char* exchange, const char* commodity,
                                const char* contractDate, const char* account,
                                TPositionTarget& target);

// The account's closed profit on the contract (in margin mode an option's open profit taken in
// as its side says) and its bought and sold lots.
void WriteContractPosition(const TClassAPI& api, const TPositionTarget& target,
                           PositionStruct& record);
// The account's open profit on the contract and its open bought and sold lots.
void WriteOpenPosition(const TClassAPI& api, const TPositionTarget& target, PositionStruct& record);
// The account's totals over every contract it traded.
void WriteTotalPosition(const TClassAPI& api, const TTraderAccountItem& account,
                        PositionStruct& record);
// The average price of the account's open fills on the contract (0 without a position), as
// text in the caller's kPriceTextSize bytes.
void WriteAveragePrice(const TPositionTarget& target, char* price);

// The account's net start-of-day (mode 0) or end-of-session (mode 1) position on the contract,
// into the fill-shaped record's exchange and commodity names, side ('S' when fewer lots are
// long than short, else 'B'), net lots and price; before such figures arrive, or without a
// position, they read 'B', 0 and "0". Any other mode writes nothing and returns false. The
// account is matched by its trimmed name; it need not be listed.
bool WriteConsolidatedPosition(const TContractItem& contract, std::string_view account,
                               std::int32_t mode, FillStruct& record);

}  // namespace vorn
