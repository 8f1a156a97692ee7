// Load and unload handling of the client library.

namespace vorn {
namespace {

// Unloading stops whatever the library still runs; safe to run more than once.
__attribute__((destructor)) void LibraryUnload() {}

}  // namespace
}  // namespace vorn
