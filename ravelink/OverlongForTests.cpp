// A misbehaving build of the library for the tests: its encryption fills the whole output
// buffer and ends it with no NUL, as a faulty outside library might.

#include <cstring>

#include "Ravelink.h"

extern "C" int ENC_EncryptPassword(const char*, const char*, int, char* out, int outSize) {
  if (!out || outSize < 1) return -1;
  std::memset(out, 'x', static_cast<std::size_t>(outSize));
  return outSize;
}
