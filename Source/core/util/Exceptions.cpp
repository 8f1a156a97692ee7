#include "core/util/Exceptions.h"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>
#include <typeinfo>

namespace vorn {

std::string ClassNameOf(const std::exception& e) {
  if (const auto* own = dynamic_cast<const Exception*>(&e)) return own->ClassName();
  const char* mangled = typeid(e).name();
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> demangled(
      abi::__cxa_demangle(mangled, nullptr, nullptr, &status), std::free);
  return status == 0 && demangled ? demangled.get() : mangled;
}

}  // namespace vorn
