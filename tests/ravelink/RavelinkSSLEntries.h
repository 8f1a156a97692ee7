#pragma once
// The stand-in library loaded as the client loads it, with its eleven TLS entry points.

#include <string>

#include "Ravelink.h"
#include "platform/DynamicLibrary.h"

namespace vorn {

struct TRavelinkSSLEntries {
  TSSLGetHandle GetHandle = nullptr;
  TSSLSetKeepAlive SetKeepAlive = nullptr;
  TSSLConnect Connect = nullptr;
  TSSLSetClientCertName SetClientCertName = nullptr;
  TSSLClose Close = nullptr;
  TSSLGetLastError GetLastError = nullptr;
  TSSLGetLastErrorValue GetLastErrorValue = nullptr;
  TSSLGetLastErrorType GetLastErrorType = nullptr;
  TSSLIsLastErrorBlocking IsLastErrorBlocking = nullptr;
  TSSLRead Read = nullptr;
  TSSLWrite Write = nullptr;

  // Resolves every entry of library; false when one is missing.
  bool Resolve(const TDynamicLibrary& library);
};

// The stand-in beside the test program.
std::string RavelinkLibraryPath();

}  // namespace vorn
