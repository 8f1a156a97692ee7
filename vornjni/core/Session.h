#pragma once
// The bridge session without the JVM: what the ClientAPI natives initialise, openConnections,
// logon, logoff and getErrorMessage do once their Java arguments are read, and the event
// procedures registered with the API. Every function here catches everything: the bridge's
// and the API's codes come back as results, any other failure is logged and gives 99.
// Callable from any thread that holds no Share() of the API library.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "vornintf.h"
#include "vornjni/core/APILibrary.h"
#include "vornjni/core/EventQueue.h"

namespace vorn::bridge {

// The API version text initialise hands to vnInitialise, and the default application version.
inline constexpr const char* kBridgeAPIVersion = "v2.8.3";
inline constexpr const char* kDefaultApplicVersion = "Calvoru 6.3";
// Room the Java buffer of processCallbacks must have: the largest payload (a user message).
inline constexpr std::size_t kLargestPayload = sizeof(MessageStruct);

struct THostAndPort {
  std::string Host;
  std::string Port;
};
// Split at the first ':'; with none the host is empty and the port is the whole text.
THostAndPort GetHostAndPort(const std::string& text);

// The logon record: each text cut to 255 characters, the flags as 'Y'/'N'.
LogonStruct MakeLogonRecord(const std::string& user, const std::string& password,
                            const std::string& newPassword, bool download, bool reportDownload);

// Bytes queued for each callback id (0 for ids that carry nothing); -1 for an id the bridge
// does not register.
int PayloadSize(std::int32_t id);

// 99 first calls vnDumpLastError; any code but 0 and 11 raises EVORN; else the code.
// Caller holds Share().
std::int32_t CheckResult(const TAPITable& api, std::int32_t code);
// "Wrapper API Error" and the message, cut to 255 characters, to the API's log (stderr when
// no library is loaded or it is being unloaded). Returns 99.
std::int32_t LogBridgeError(const std::string& message);

struct TInitialiseArgs {
  std::string ApiDir;
  std::string ClientPath;
  bool Demo = false;
  bool Test = false;
  bool ConStatus = false;
  std::string ApplicId;
  bool InitReset = false;
  std::optional<std::string> ApplicVersion;  // none: the default
  std::string Reserved;
};

std::int32_t Initialise(const TInitialiseArgs& args);
// Each element "host:port"; both lists fed from last to first, then vnReady.
std::int32_t OpenConnections(const std::vector<std::string>& hosts,
                             const std::vector<std::string>& prices);
std::int32_t Logon(const std::string& user, const std::string& password,
                   const std::string& newPassword, bool download, bool reportDownload);
// vnLogOff's result as it is (0 with no library); always ends processCallbacks, then unloads.
std::int32_t Logoff();
// 56 "Callback not registered", else the library's ErrorText. Works with no library.
std::string GetErrorMessage(std::int32_t code);

// The folder of the bridge's own file, with its trailing '/'.
std::string BridgeFolder();

// The process's one event queue, never destroyed (an API thread may still post at exit).
TEventQueue& EventQueue();

}  // namespace vorn::bridge
