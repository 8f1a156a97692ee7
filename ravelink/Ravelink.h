#pragma once
// The entry points of the outside library as our stand-in exports them and the client library
// calls them, and the name of its file. The library is loaded at run time from the folder of the
// client library; nothing links against it.

#include <stdint.h>

#define RAVELINK_EXPORT __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

// Writes an obscured form of the first textLen bytes of text to out: printable characters only,
// never '=', '<', '>' or 0x01, at most 255 of them and a NUL, never more than outSize bytes.
// The same key and text always give the same output; empty text gives empty output. Returns the
// number of characters written, or -1 (out empty when it has room) for a missing argument.
RAVELINK_EXPORT int ENC_EncryptPassword(const char* key, const char* text, int textLen, char* out,
                                        int outSize);

typedef int (*TENCEncryptPassword)(const char* key, const char* text, int textLen, char* out,
                                   int outSize);

// TLS connections over TCP. A connection is named by a 32-bit handle (never 0, never a pointer).
// Every entry is safe to call from any thread; a handle's reads and writes may run on two threads
// at once, and SSL_Close may be called while another thread is inside SSL_Read or SSL_Write on the
// same handle: that call then returns a failure at once.

// A new handle, not yet connected; 0 when none can be made.
RAVELINK_EXPORT int32_t SSL_GetHandle(void);
// Switches TCP keep-alive on (on != 0) or off for the handle's next connect.
RAVELINK_EXPORT void SSL_SetKeepAlive(int32_t handle, int32_t on);
// The client certificate for a handle: a PEM file holding the certificate (chain) and its private
// key, named by an absolute path or a name relative to this library's folder. Handle 0 sets it for
// every handle made afterwards; a handle's own setting holds for that handle only. An empty or
// null name means no client certificate.
RAVELINK_EXPORT void SSL_SetClientCertName(int32_t handle, const char* name);
// Connects the handle to host:port and completes the TLS handshake (TLS 1.2 or later), blocking
// for at most timeoutSeconds (10 when not positive). The server's certificate must chain to the
// trust store (SSL_CERT_FILE / SSL_CERT_DIR name another one) and carry certName, or the host
// itself when certName is empty (as an IP address when it is one). Returns 1 when connected, 0
// otherwise, with the reason in SSL_GetLastError:
//   "Socket Error: Host Unreachable (...)"   name lookup, refused, unreachable or timed-out TCP
//   "Socket Error: Server has disconnected"  the server closed the connection in the handshake
//   "SSL Error: ..."                         every TLS or certificate failure
RAVELINK_EXPORT int32_t SSL_Connect(int32_t handle, const char* host, int32_t port,
                                    int32_t timeoutSeconds, const char* certName);
// Ends the connection and frees the handle. A call on another thread blocked in this handle's
// SSL_Read, SSL_Write or SSL_Connect returns at once; the memory goes when the last one leaves.
RAVELINK_EXPORT void SSL_Close(int32_t handle);
// The handle's last error text, NUL-terminated; empty when none. The text is a copy kept per
// calling thread, valid until that thread's next SSL_GetLastError.
RAVELINK_EXPORT const char* SSL_GetLastError(int32_t handle);
// The handle's last error as a number (an errno value or an OpenSSL reason code), its kind
// (0 none, 1 socket, 2 TLS) and whether it was a time-out (1) or not (0).
RAVELINK_EXPORT int32_t SSL_GetLastErrorValue(int32_t handle);
RAVELINK_EXPORT int32_t SSL_GetLastErrorType(int32_t handle);
RAVELINK_EXPORT int32_t SSL_IsLastErrorBlocking(int32_t handle);
// Reads up to size bytes, waiting at most one second: the count read; 0 when the server has
// closed the connection; -1 otherwise, with errno exactly ETIMEDOUT when nothing arrived in time
// (read again) and another errno for a failure (the connection is lost).
RAVELINK_EXPORT int32_t SSL_Read(int32_t handle, void* buffer, int32_t size);
// Writes all size bytes before it returns: size, or -1 when the connection failed or was closed
// (never a signal). A write that cannot progress for 30 seconds fails.
RAVELINK_EXPORT int32_t SSL_Write(int32_t handle, const void* data, int32_t size);

typedef int32_t (*TSSLGetHandle)(void);
typedef void (*TSSLSetKeepAlive)(int32_t handle, int32_t on);
typedef int32_t (*TSSLConnect)(int32_t handle, const char* host, int32_t port,
                               int32_t timeoutSeconds, const char* certName);
typedef void (*TSSLSetClientCertName)(int32_t handle, const char* name);
typedef void (*TSSLClose)(int32_t handle);
typedef const char* (*TSSLGetLastError)(int32_t handle);
typedef int32_t (*TSSLGetLastErrorValue)(int32_t handle);
typedef int32_t (*TSSLGetLastErrorType)(int32_t handle);
typedef int32_t (*TSSLIsLastErrorBlocking)(int32_t handle);
typedef int32_t (*TSSLRead)(int32_t handle, void* buffer, int32_t size);
typedef int32_t (*TSSLWrite)(int32_t handle, const void* data, int32_t size);

#ifdef __cplusplus
}

namespace vorn {

// The one name of the library file, beside the client library.
inline constexpr char kRavelinkLibraryName[] = "libravelink.so";
inline constexpr char kENCEncryptPasswordName[] = "ENC_EncryptPassword";

// The TLS entry points, in the order the client resolves them.
inline constexpr const char* kSSLEntryNames[] = {
    "SSL_GetHandle",         "SSL_SetKeepAlive",      "SSL_Connect",
    "SSL_SetClientCertName", "SSL_Close",             "SSL_GetLastError",
    "SSL_GetLastErrorValue", "SSL_GetLastErrorType",  "SSL_IsLastErrorBlocking",
    "SSL_Read",              "SSL_Write"};

// The error texts the client tells apart.
inline constexpr char kSSLServerDisconnected[] = "Socket Error: Server has disconnected";
inline constexpr char kSSLHostUnreachable[] = "Host Unreachable";

}  // namespace vorn
#endif
