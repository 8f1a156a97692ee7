#include "core/session/LinkRequests.h"

#include <utility>

#include "core/trading/OrderItem.h"

namespace vorn {
namespace {

class TCopiedOrderRequest : public ILinkRequests::TPreparedOrderRequest {
 public:
  TCopiedOrderRequest(std::int32_t code, std::shared_ptr<TOrderItem> order)
      : Code(code), Order(std::move(order)) {}
  const std::int32_t Code;
  const std::shared_ptr<TOrderItem> Order;
};

}  // namespace

std::unique_ptr<ILinkRequests::TPreparedOrderRequest> ILinkRequests::PrepareOrderRequest(
    std::int32_t code, const TOrderItem& order) {
  return std::make_unique<TCopiedOrderRequest>(code, order.Copy());
}

void ILinkRequests::SendPreparedOrderRequest(TPreparedOrderRequest& request) {
  auto& copied = static_cast<TCopiedOrderRequest&>(request);
  SendOrderRequest(copied.Code, *copied.Order);
}

}  // namespace vorn
