#pragma once
// A test-side encoder for the compressed body format that the client decodes: literals through
// the code letter's table, runs of spaces and '=' and copies of earlier output as references.

#include <string>
#include <string_view>

namespace vorn {

struct TCompressOptions {
  bool Runs = true;    // runs of spaces and '=' as references
  bool Copies = true;  // repeated text as references to its earlier position
};

// Encodes the decoded form of a body: plain starts with ' ' and three header bytes (at least
// four bytes). The result starts with the letter (not ' ') and plain's bytes 1 to 3.
std::string CompressBody(std::string_view plain, char letter, TCompressOptions options = {});

// A frame: the 2-byte big-endian length, then the body.
std::string MakeFrame(std::string_view body);

}  // namespace vorn
