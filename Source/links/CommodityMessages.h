#pragma once
// The host's commodity and contract-date messages, in their tagged and fixed-width forms,
// applied to the API object's commodity and contract lists. Every receiver runs on the socket
// thread of the link that received the body and posts its event only while no initial download
// is running.
//
// Message codes and receivers:
//   host 3655, 3656, 3657      ReceiveCommodity
//   price-feed 23, 24, 25      ReceiveLegacyCommodity
//   host 3658, 3659, 3660      ReceiveContractDate
//   price-feed 82, 83          ReceiveLegacyContractDate
//
// Received names and texts are trimmed and cut to the widths of the record fields that carry
// them (exchange, commodity and currency 10, contract date 50), the widths the fixed-width form
// and the by-name queries use, so a name always finds the item it made.

#include <cstddef>
#include <map>
#include <string>
#include <string_view>

namespace vorn {

class TClassAPI;
class TFieldsList;

// Host 3655 (add), 3656 (update), 3657 (ignored); trace name "TMCommodity.ReceiveFields".
// A commodity not listed is made and listed whatever the code, with its UUID group, its
// exchange's membership and a UUID log line; a listed one is updated. The commodity event (32)
// follows every add and update.
void ReceiveCommodity(TClassAPI& api, TFieldsList& fields);
// Price-feed 23 and 24 (add or update) and 25 (delete: the commodity and its contracts leave
// their lists); trace name "TMCommodity.Receive".
void ReceiveLegacyCommodity(TClassAPI& api, std::string_view body);

// Host 3658 (add), 3659 (update), 3660 (flags the contract deleted, event 12); trace name
// "TMContractDate.ReceiveFields". Outside the download a message for an unknown commodity is
// dropped. A listed contract takes the message's field list; another is made from it, and
// outside the download enters the stored contracts and posts event 11. The field list is moved
// into the contract. During the download the delta trace line is written first.
void ReceiveContractDate(TClassAPI& api, TFieldsList& fields);
// Price-feed 82 (one leg of a contract; leg 1 posts event 11) and 83 (event 12 for a listed
// contract); trace name "TMContractDate.Receive".
void ReceiveLegacyContractDate(TClassAPI& api, std::string_view body);

// The delta trace of one contract-date message against the previous one's fields (updated to
// this message's): "RMsg:" and name=value for each field that is new or changed, the leg fields
// keyed "g<n>:<name>" per leg, "**name**" for each field gone; when "C" changed, every field
// in name order instead.
std::string ContractDateDeltaLine(std::map<std::string, std::string>& previous,
                                  const TFieldsList& fields);

}  // namespace vorn
