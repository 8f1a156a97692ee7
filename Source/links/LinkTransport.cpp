#include "links/LinkTransport.h"

#include <iterator>

namespace vorn {

const char* SocketStateName(TSocketState state) {
  static constexpr const char* kNames[] = {"InvalidState", "Opened",    "Bound",     "Connecting",
                                           "Connected",    "Accepting", "Listening", "Closed"};
  const auto index = static_cast<std::size_t>(state);
  return index < std::size(kNames) ? kNames[index] : "InvalidState";
}

}  // namespace vorn
