#pragma once
// Local time of a named zone for the life of the scope; the previous TZ comes back after it.

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace vorn {

class TScopedTimeZone {
 public:
  explicit TScopedTimeZone(const char* zone) {
    if (const char* current = std::getenv("TZ")) saved_ = current;
    setenv("TZ", zone, 1);
    tzset();
  }
  TScopedTimeZone(const TScopedTimeZone&) = delete;
  TScopedTimeZone& operator=(const TScopedTimeZone&) = delete;
  ~TScopedTimeZone() {
    if (saved_)
      setenv("TZ", saved_->c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }

 private:
  std::optional<std::string> saved_;
};

}  // namespace vorn
