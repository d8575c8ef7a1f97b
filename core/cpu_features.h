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
