#pragma once
// The entry points of the outside library as our stand-in exports them and the client library
// calls them, and the name of its file. The library is loaded at run time from the folder of the
// client library; nothing links against it.

#ifdef __cplusplus
extern "C" {
#endif

// Writes an obscured form of the first textLen bytes of text to out: printable characters only,
// never '=', '<', '>' or 0x01, at most 255 of them and a NUL, never more than outSize bytes.
// The same key and text always give the same output; empty text gives empty output. Returns the
// number of characters written, or -1 (out empty when it has room) for a missing argument.
__attribute__((visibility("default"))) int ENC_EncryptPassword(const char* key, const char* text,
                                                               int textLen, char* out, int outSize);

typedef int (*TENCEncryptPassword)(const char* key, const char* text, int textLen, char* out,
                                   int outSize);

#ifdef __cplusplus
}

namespace vorn {

// The one name of the library file, beside the client library.
inline constexpr char kRavelinkLibraryName[] = "libravelink.so";
inline constexpr char kENCEncryptPasswordName[] = "ENC_EncryptPassword";

}  // namespace vorn
#endif
