// VORN_ADDRESS_SANITIZER is defined when the build runs under AddressSanitizer: GCC says so with
// __SANITIZE_ADDRESS__, clang only through its feature test.
#pragma once

#if defined(__SANITIZE_ADDRESS__)
#define VORN_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VORN_ADDRESS_SANITIZER 1
#endif
#endif
