#pragma once
// The host's position messages and UUID actions, and the starts of the contract-data thread.
//
// A start-of-day or end-of-day position of a trader account on a contract is kept as a
// pseudo-fill of type fltpNETTED in the fill list, so that the position figures include it:
// start of day under "OP," + account, exchange, commodity, contract date; end of day under
// "CL," + account, commodity, contract date. A repeated message for the same account and
// contract updates its pseudo-fill in place, re-nets the account's position and replaces the
// pseudo-fill's margin entry; nothing is counted twice.
//
// Registrations (code -> receiver):
//   host 3676, 3677        ReceiveSODPosition
//   host 3702, 3703, 3704  ReceiveEODPosition
//   host 3701              ReceiveUUIDMessage
//
// All run on the host link's socket thread. Outside the initial download a position posts the
// fill event (9) with the order-id text "NETTED".

#include "core/wire/FieldsList.h"

namespace vorn {

class TClassAPI;

// "Ex", "C", "CD" the contract, "TA" the account, "Psl"/"Pss" the long and short lots, "Pr" the
// price, "OPr" the option premium (0 when not a number). The pseudo-fill buys "Psl" lots when
// that is 1 or more, else sells "Pss" lots. The contract is held as a positional contract with a
// price subscription, and the account's start-of-day figures are replaced with the message's.
// An unlisted contract is traced and the message dropped; a "Pr" that is not a number raises
// EConvertError before anything is written. An unknown account (outside the download, where
// none is made) is traced and its steps skipped: no margin entry, no traded contract.
void ReceiveSODPosition(TClassAPI& api, TFieldsList& fields);
// The same tags and pseudo-fill, without the subscription, the start-of-day figures or the
// traded contract.
void ReceiveEODPosition(TClassAPI& api, TFieldsList& fields);
// "Act" the action letter, "GUIDL" one UUID or several separated by ","; queued as one message
// for the UUID message thread, which splits the list. A failure is traced, never raised.
void ReceiveUUIDMessage(TClassAPI& api, TFieldsList& fields);

// Start the contract-data thread reading "VornCont.dat" into the contract list, or writing the
// list to it. The API object owns the one thread slot: the thread started before is stopped and
// joined first.
void StartContractsLoad(TClassAPI& api);
void StartContractsSave(TClassAPI& api);

}  // namespace vorn
