#pragma once
// The current API object as the exports use it: ending it (vnLogOff, vnInitialise and the
// library unload) and the ready check of the exports.

#include <cstdint>
#include <memory>

namespace vorn {

class TClassAPI;

// Under the log-off lock: takes the current API object away, so every export answers 1, and
// shuts it down (threads stopped, links freed, store saved). Returns 1 when there was none,
// else 0. Called from inside an application callback while another thread is logging off, it
// returns 1 at once instead of waiting for the thread that is stopping the callback thread.
// endSession false leaves out what a logoff tells the host and saves of the session (the
// logoff request, the logon history): the simulator's unload stops the threads only.
std::int32_t LogOffCurrentAPI(bool endSession = true);

// The current API object when it is logged on; otherwise null, with result set to 1 (no
// object) or 4 (not logged on).
std::shared_ptr<TClassAPI> ReadyAPI(std::int32_t& result);

}  // namespace vorn
