#include "ravelink/RavelinkSSLEntries.h"

#include "platform/Files.h"
#include "platform/Module.h"

namespace vorn {

bool TRavelinkSSLEntries::Resolve(const TDynamicLibrary& library) {
  GetHandle = library.Function<TSSLGetHandle>("SSL_GetHandle");
  SetKeepAlive = library.Function<TSSLSetKeepAlive>("SSL_SetKeepAlive");
  Connect = library.Function<TSSLConnect>("SSL_Connect");
  SetClientCertName = library.Function<TSSLSetClientCertName>("SSL_SetClientCertName");
  Close = library.Function<TSSLClose>("SSL_Close");
  GetLastError = library.Function<TSSLGetLastError>("SSL_GetLastError");
  GetLastErrorValue = library.Function<TSSLGetLastErrorValue>("SSL_GetLastErrorValue");
  GetLastErrorType = library.Function<TSSLGetLastErrorType>("SSL_GetLastErrorType");
  IsLastErrorBlocking = library.Function<TSSLIsLastErrorBlocking>("SSL_IsLastErrorBlocking");
  Read = library.Function<TSSLRead>("SSL_Read");
  Write = library.Function<TSSLWrite>("SSL_Write");
  return GetHandle && SetKeepAlive && Connect && SetClientCertName && Close && GetLastError &&
         GetLastErrorValue && GetLastErrorType && IsLastErrorBlocking && Read && Write;
}

std::string RavelinkLibraryPath() {
  return ExtractFilePath(LibraryFileName()) + kRavelinkLibraryName;
}

}  // namespace vorn
