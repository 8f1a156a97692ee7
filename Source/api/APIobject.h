#pragma once
// Ending the current API object, shared by vnLogOff, vnInitialise and the library unload.

#include <cstdint>

namespace vorn {

// Under the log-off lock: takes the current API object away, so every export answers 1, and
// shuts it down (threads stopped, links freed, store saved). Returns 1 when there was none,
// else 0. Called from inside an application callback while another thread is logging off, it
// returns 1 at once instead of waiting for the thread that is stopping the callback thread.
std::int32_t LogOffCurrentAPI();

}  // namespace vorn
