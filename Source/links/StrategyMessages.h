#pragma once
// Receivers of the host's strategy-creation replies; they run on the host link's socket thread.
//
// Registrations (code -> receiver):
//   host 3628  TStrategyCreateSuccess
//   host 3629  TStrategyCreateFailure

#include <string>
#include <string_view>

#include "core/wire/VornMessage.h"

namespace vorn {

class TFieldsList;

// The host's strategy-creation replies (3628 success, 3629 failure): the first values of "Usr",
// "Ex", "C", "CD" and the last field ("CDG", the new strategy's contract date; "Txt", the host's
// failure text) are kept and posted as the strategy-create event (23 / 24). Absent fields give
// empty texts; the contract list is not touched.
class TStrategyCreateReply : public TReceiveHostMessage {
 public:
  std::string UserName;
  std::string Exchange;
  std::string Commodity;
  std::string ContractDate;
  std::string Text;

 protected:
  TStrategyCreateReply(std::string_view code, const char* textField)
      : TReceiveHostMessage(code), textField_(textField) {}
  void ReadFields(const TFieldsList& fields);

 private:
  const char* textField_;
};

class TStrategyCreateSuccess : public TStrategyCreateReply {
 public:
  TStrategyCreateSuccess() : TStrategyCreateReply("3628", "CDG") {}
  void ReceiveFields(TFieldsList& fields) override;
};

class TStrategyCreateFailure : public TStrategyCreateReply {
 public:
  TStrategyCreateFailure() : TStrategyCreateReply("3629", "Txt") {}
  void ReceiveFields(TFieldsList& fields) override;
};

}  // namespace vorn
