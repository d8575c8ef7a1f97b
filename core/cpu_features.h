// Which processor features the row kernels may use. Private to core/.
#pragma once

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define KARVELIN_X86_KERNELS 1
#include <immintrin.h>
#define KARVELIN_SSSE3 __attribute__((target("ssse3")))
#else
#define KARVELIN_X86_KERNELS 0
#endif

/// True when the SSSE3 row kernels may run on this processor.
inline bool cpu_has_ssse3() {
#if KARVELIN_X86_KERNELS
    static const bool has = __builtin_cpu_supports("ssse3");
    return has;
#else
    return false;
#endif
}

// 256-bit kernels: not on Windows, whose compilers cannot align the stack for
// spilled 32-byte registers (the portable and SSSE3 kernels run there instead).
#if KARVELIN_X86_KERNELS && !defined(_WIN32)
#define KARVELIN_AVX2_KERNELS 1
#define KARVELIN_AVX2 __attribute__((target("avx2")))
#else
#define KARVELIN_AVX2_KERNELS 0
#endif

/// True when the AVX2 row kernels may run on this processor.
inline bool cpu_has_avx2() {
#if KARVELIN_AVX2_KERNELS
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
#else
    return false;
#endif
}
