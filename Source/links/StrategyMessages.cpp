#include "links/StrategyMessages.h"

#include "core/events/Callbacks.h"
#include "core/wire/FieldsList.h"

namespace vorn {

void TStrategyCreateReply::ReadFields(const TFieldsList& fields) {
  UserName = fields.GetFieldValue("Usr", 0);
  Exchange = fields.GetFieldValue("Ex", 0);
  Commodity = fields.GetFieldValue("C", 0);
  ContractDate = fields.GetFieldValue("CD", 0);
  Text = fields.GetFieldValue(textField_, 0);
}

void TStrategyCreateSuccess::ReceiveFields(TFieldsList& fields) {
  ReadFields(fields);
  AddStrategyCreateSuccessCallback(UserName, Exchange, Commodity, ContractDate, Text);
}

void TStrategyCreateFailure::ReceiveFields(TFieldsList& fields) {
  ReadFields(fields);
  AddStrategyCreateFailureCallback(UserName, Exchange, Commodity, ContractDate, Text);
}

}  // namespace vorn
