// How much of the C heap the process holds, for tests that check that playing
// and reopening a sequence allocate nothing beyond what they must. Linux only:
// glibc's own count, or AddressSanitizer's, which replaces glibc's allocator.
#pragma once

#include <cstddef>

#if defined(__SANITIZE_ADDRESS__)
#define KARVELIN_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KARVELIN_ASAN 1
#endif
#endif

/// Bytes the program holds from the C heap right now.
std::size_t heap_in_use();
