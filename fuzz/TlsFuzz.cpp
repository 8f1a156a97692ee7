// The stand-in TLS library's connection reading what a server sends, whole, damaged or hostile,
// over an in-memory transport (TTlsConnection::ConnectOver, no socket) against an OpenSSL server
// in memory. One connection per server profile is kept across inputs and made again only after
// an input that ends it; the two contexts are made once. A handshake costs some milliseconds
// (most of it OpenSSL's own), so the shapes that end the connection or make a new one take a
// quarter of the shape numbers.
//
// Input: byte 0 the switches: bits 0-1 the server's profile (TLS 1.3; TLS 1.2 with AES-GCM,
// ChaCha20-Poly1305, AES-CBC with MAC-then-encrypt), bits 2-4 the shape, bit 5 the client writes
// back what it read (records). Byte 1 the read size, 1 + 4 * byte. The shapes:
//   0-5 records: the server sends the steps (below); the client reads exactly what was sent.
//   6   the end: bytes 2-3 a position, byte 4 the ending, byte 5 its value, then the steps. The
//       records are damaged at the position (a bit flipped, a byte set, cut there, a byte
//       inserted), or the steps' bytes go to the client as they are, in place of records, or the
//       records are whole and the server then ends the stream with close_notify or without it.
//       The client reads a part of what was sent from its start (all of it when whole), then the
//       read fails or gives the end of the stream. The connection is made again afterwards.
//   7   server flight: the rest is what the server sends to a new connection's handshake, which
//       must fail.
// A step: byte h; 0xFF a key update (TLS 1.3; none under 1.2); else (h & 0x7F) + 1 bytes of data,
// times 128 when h & 0x80, taken from the bytes that follow (repeated when they run out).

#include <errno.h>
#include <openssl/err.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "MemoryTlsPeer.h"
#include "TlsConnection.h"

using vorn::fuzz::TMemoryTlsContexts;
using vorn::fuzz::TMemoryTlsPeer;
using vorn::fuzz::TTlsProfile;
using vorn::ravelink::TTlsConnection;

namespace {

constexpr std::size_t kLargestRead = 1 + 4 * 255;
// What one input may have the server send, so that an input's cost stays bounded.
constexpr std::size_t kLargestSent = 64 * 1024;

enum TEnding { enFlip, enSet, enCut, enInsert, enRaw, enCloseNotify, enEndOfStream, enCount };

struct TSession {
  std::unique_ptr<TMemoryTlsPeer> Peer;
  std::unique_ptr<TTlsConnection> Client;  // declared after the peer its transport points to
};

std::array<std::unique_ptr<TSession>, 4> sessions;
std::array<char, kLargestRead> readBuffer;

// The connection of a profile, made (again) when none is open. A handshake that timed out (a
// process kept off the processors for its whole time on a busy machine) is tried again.
TSession& SessionFor(unsigned profile) {
  std::unique_ptr<TSession>& session = sessions[profile];
  if (session) return *session;
  const TMemoryTlsContexts& contexts = TMemoryTlsContexts::Instance();
  for (;;) {
    session = std::make_unique<TSession>();
    session->Peer = std::make_unique<TMemoryTlsPeer>(contexts.Server, TTlsProfile(profile));
    session->Client = std::make_unique<TTlsConnection>("");
    if (!session->Client->Valid()) std::abort();
    if (session->Client->ConnectOver(session->Peer->NewTransport(), contexts.Client,
                                     TMemoryTlsContexts::kServerName))
      return *session;
    if (!session->Client->LastError().Blocking) std::abort();
  }
}

// A read as the client makes them: a time-out means that nothing came within the wait, and the
// client reads again. Over the in-memory transport a read times out only when the process was
// kept off the processors for the whole wait (a busy machine) while it took records without data.
std::int32_t Read(TTlsConnection& client, std::int32_t size, int& error) {
  for (;;) {
    error = 0;
    const std::int32_t count = client.Read(readBuffer.data(), size, error);
    if (count != -1 || error != ETIMEDOUT) return count;
  }
}

struct TStep {
  bool KeyUpdate = false;
  std::string Data;
};

std::vector<TStep> ParseSteps(std::string_view rest) {
  std::vector<TStep> steps;
  std::size_t total = 0;
  while (!rest.empty() && total < kLargestSent) {
    const auto header = static_cast<std::uint8_t>(rest.front());
    rest.remove_prefix(1);
    if (header == 0xFF) {
      steps.push_back({true, {}});
      continue;
    }
    std::size_t length = (header & 0x7Fu) + 1;
    if (header & 0x80) length *= 128;
    const std::size_t taken = std::min(length, rest.size());
    std::string data(length, static_cast<char>(header));
    for (std::size_t i = 0; taken > 0 && i < length; ++i) data[i] = rest[i % taken];
    rest.remove_prefix(taken);
    total += length;
    steps.push_back({false, std::move(data)});
  }
  return steps;
}

// The server sends the steps; returns the data it sent.
std::string Send(TSession& session, bool tls13, const std::vector<TStep>& steps) {
  SSL* server = session.Peer->Server();
  std::string sent;
  for (const TStep& step : steps) {
    if (step.KeyUpdate) {
      if (tls13 && (SSL_key_update(server, SSL_KEY_UPDATE_REQUESTED) != 1 ||
                    SSL_do_handshake(server) != 1))
        __builtin_trap();
      continue;
    }
    if (SSL_write(server, step.Data.data(), static_cast<int>(step.Data.size())) !=
        static_cast<int>(step.Data.size()))
      __builtin_trap();
    sent += step.Data;
  }
  return sent;
}

// Reads until the client has all of expected, each read within size; false when a read gave
// anything but data.
bool ReadAll(TTlsConnection& client, std::int32_t size, std::string_view expected) {
  std::size_t got = 0;
  while (got < expected.size()) {
    int error = 0;
    const std::int32_t count = Read(client, size, error);
    if (count <= 0) {
      std::fprintf(stderr, "read %d of %zu: %d, errno %d, %s\n", static_cast<int>(got),
                   expected.size(), static_cast<int>(count), error,
                   client.LastError().Text.c_str());
      return false;
    }
    if (count > size || static_cast<std::size_t>(count) > expected.size() - got ||
        std::memcmp(readBuffer.data(), expected.data() + got, static_cast<std::size_t>(count)) != 0)
      __builtin_trap();
    got += static_cast<std::size_t>(count);
  }
  return true;
}

void Records(unsigned profile, std::uint8_t switches, std::int32_t readSize,
             std::string_view rest) {
  TSession& session = SessionFor(profile);
  const bool tls13 = TTlsProfile(profile) == TTlsProfile::Tls13;
  const std::string sent = Send(session, tls13, ParseSteps(rest));
  TTlsConnection& client = *session.Client;
  if (!ReadAll(client, readSize, sent)) __builtin_trap();

  int error = 0;
  if ((switches & 0x20) && !sent.empty() &&
      client.Write(sent.data(), static_cast<std::int32_t>(sent.size()), error) !=
          static_cast<std::int32_t>(sent.size()))
    __builtin_trap();
  // The server takes what the client wrote (the data, its key updates), so nothing piles up.
  SSL* server = session.Peer->Server();
  std::string echoed;
  for (;;) {
    const int count = SSL_read(server, readBuffer.data(), static_cast<int>(readBuffer.size()));
    if (count <= 0) {
      if (SSL_get_error(server, count) != SSL_ERROR_WANT_READ) __builtin_trap();
      break;
    }
    echoed.append(readBuffer.data(), static_cast<std::size_t>(count));
  }
  if (echoed != ((switches & 0x20) ? sent : std::string())) __builtin_trap();
}

void Ending(unsigned profile, std::int32_t readSize, std::string_view rest) {
  if (rest.size() < 4) return;
  const std::size_t position = static_cast<std::uint8_t>(rest[0]) << 8 |
                               static_cast<std::uint8_t>(rest[1]);
  const auto ending = static_cast<TEnding>(static_cast<std::uint8_t>(rest[2]) % enCount);
  const auto value = static_cast<std::uint8_t>(rest[3]);
  rest.remove_prefix(4);

  TSession& session = SessionFor(profile);
  // What still waits for the client (a TLS 1.3 session ticket) goes first, whole.
  const std::string waiting = session.Peer->TakeToClient();
  std::string sent;
  std::string records;
  if (ending == enRaw) {
    records = rest;
  } else {
    sent = Send(session, TTlsProfile(profile) == TTlsProfile::Tls13, ParseSteps(rest));
    if (ending == enCloseNotify) SSL_shutdown(session.Peer->Server());
    records = session.Peer->TakeToClient();
    const std::size_t at = records.empty() ? 0 : position % records.size();
    switch (ending) {
      case enFlip:
        if (!records.empty()) records[at] = static_cast<char>(records[at] ^ (1u << (value & 7)));
        break;
      case enSet:
        if (!records.empty()) records[at] = static_cast<char>(value);
        break;
      case enCut:
        records.resize(at);
        break;
      case enInsert:
        records.insert(at, 1, static_cast<char>(value));
        break;
      case enRaw:
      case enCloseNotify:
      case enEndOfStream:
      case enCount:
        break;
    }
  }
  session.Peer->SendRaw(waiting.data(), waiting.size());
  session.Peer->SendRaw(records.data(), records.size());

  TTlsConnection& client = *session.Client;
  std::size_t got = 0;
  for (;;) {
    int error = 0;
    const std::int32_t count = Read(client, readSize, error);
    if (count == 0) {
      // The end of the stream, which whole records end with.
      break;
    }
    if (count < 0) {
      if (ending >= enCloseNotify || count != -1 || error == 0 || client.LastError().Text.empty())
        __builtin_trap();
      break;
    }
    // Damage may end the data early, never change it.
    if (count > readSize || static_cast<std::size_t>(count) > sent.size() - got ||
        std::memcmp(readBuffer.data(), sent.data() + got, static_cast<std::size_t>(count)) != 0)
      __builtin_trap();
    got += static_cast<std::size_t>(count);
  }
  if (ending >= enCloseNotify && got != sent.size()) __builtin_trap();
  // The next connection is made now, so that the input frees about as much as it allocates and
  // the leak check has no cause to scan the heap after it.
  sessions[profile].reset();
  SessionFor(profile);
}

void ServerFlight(std::string_view rest) {
  const TMemoryTlsContexts& contexts = TMemoryTlsContexts::Instance();
  TMemoryTlsPeer peer(nullptr, TTlsProfile::Tls13);
  peer.SendRaw(rest.data(), rest.size());
  TTlsConnection client("");
  if (!client.Valid()) std::abort();
  if (client.ConnectOver(peer.NewTransport(), contexts.Client, TMemoryTlsContexts::kServerName) ||
      client.LastError().Text.empty())
    __builtin_trap();
  int error = 0;
  if (client.Read(readBuffer.data(), 1, error) != -1 || error != ENOTCONN) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  TMemoryTlsContexts::Instance();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::uint8_t switches = data[0];
  const unsigned profile = switches & 0x03;
  const auto readSize = static_cast<std::int32_t>(1 + 4 * data[1]);
  const std::string_view rest(reinterpret_cast<const char*>(data) + 2, size - 2);
  switch ((switches >> 2) & 0x07) {
    case 6:
      Ending(profile, readSize, rest);
      break;
    case 7:
      ServerFlight(rest);
      break;
    default:
      Records(profile, switches, readSize, rest);
      break;
  }
  ERR_clear_error();
  return 0;
}
