#include "color/bt2020.h"

#include <cmath>
#include <cstring>

// The AVX2 row path is chosen at run time, so the program still runs on any
// x86 CPU. Not on Windows: its compilers cannot align the stack for spilled
// 32-byte registers there, so the portable path runs instead.
#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__) && !defined(_WIN32)
#define KARVELIN_AVX2_ROWS 1
#include <immintrin.h>
#else
#define KARVELIN_AVX2_ROWS 0
#endif

// Every result here must match the reference arithmetic bit for bit: two
// roundings per multiply-then-add. The build passes -ffp-contract=off to every
// target; these pragmas keep this file exact even if a build forgets the flag
// and targets a CPU with fused multiply-add.
#if defined(__clang__)
#pragma clang fp contract(off)
#elif defined(__GNUC__)
#pragma GCC optimize("fp-contract=off")
#endif

namespace {

// Primaries matrix, BT.2020 linear RGB to BT.709 linear RGB.
constexpr double kRR = 1.6605, kRG = -0.5876, kRB = -0.0729;
constexpr double kGR = -0.1244, kGG = 1.1328, kGB = -0.0084;
constexpr double kBR = -0.0181, kBG = -0.1006, kBB = 1.1188;

// The BT.2020 transfer curve from a normalised code value to linear light.
double linear_light(double a) {
    if (a < 0.08145) return a / 4.5;
    return std::pow((a + 0.0993) / 1.0993, 2.2222222222222223);
}

// Largest i in 1..255 with T[i] <= v, or 0: the seven-halving search.
inline int search_code(const double* t, double v) {
    int d = 128;
    for (int e = 64; e >= 1; e >>= 1) d = v < t[d] ? d - e : d + e;
    return v < t[d] ? d - 1 : d;
}

// Same answer as search_code when tables.fast_inverse is set, without
// branches: the bucket gives the answer or one below it, and one comparison
// against the next threshold decides which.
inline int inverse_code(const ConversionTables& tables, double v) {
    // |v| stays below about 3 (sums of three table products), so the index
    // fits an int before clamping; clamping the int keeps the code branch-free.
    int k = static_cast<int>((v - tables.bucket_origin) * tables.bucket_scale);
    // Values outside the bucketed span take the end buckets, whose codes (0
    // and 255) are already the answer for them.
    k = k < 0 ? 0 : k;
    k = k > kConversionBuckets - 1 ? kConversionBuckets - 1 : k;
    const int d = tables.bucket_code[k];
    return d + (v >= tables.fixup_threshold[d + 1]);
}

// Sums in the reference order: (a R - b G) - c B etc., with the products
// taken from the tables (a product from a table is the same double as one
// computed per pixel, and x - b*y equals x + (-b)*y exactly).
inline void convert_fast(const ConversionTables& tables, int& red, int& green, int& blue) {
    const auto& p = tables.product;
    const double r = (p[0][red] + p[1][green]) + p[2][blue];
    const double g = (p[3][green] + p[4][red]) + p[5][blue];
    const double b = p[6][blue] + (p[7][red] + p[8][green]);
    red = inverse_code(tables, r);
    green = inverse_code(tables, g);
    blue = inverse_code(tables, b);
}

inline void convert_searched(const ConversionTables& tables, int& red, int& green, int& blue) {
    const auto& p = tables.product;
    const double r = (p[0][red] + p[1][green]) + p[2][blue];
    const double g = (p[3][green] + p[4][red]) + p[5][blue];
    const double b = p[6][blue] + (p[7][red] + p[8][green]);
    red = search_code(tables.threshold, r);
    green = search_code(tables.threshold, g);
    blue = search_code(tables.threshold, b);
}

void build_buckets(ConversionTables& tables) {
    const double* t = tables.threshold;
    tables.fast_inverse = 0;
    for (int i = 2; i < 256; ++i)
        if (!(t[i] > t[i - 1])) return;
    for (int i = 1; i < 256; ++i) tables.fixup_threshold[i] = t[i];
    tables.fixup_threshold[0] = -HUGE_VAL;
    tables.fixup_threshold[256] = HUGE_VAL;
    // A little room beyond the end thresholds, so the first bucket lies wholly
    // below threshold[1] (answer 0) and the last wholly above threshold[255].
    const double low = t[1] - 0.01, high = t[255] + 0.01;
    tables.bucket_origin = low;
    tables.bucket_scale = kConversionBuckets / (high - low);
    double narrowest = high - low;
    for (int i = 2; i < 256; ++i) narrowest = std::fmin(narrowest, t[i] - t[i - 1]);
    // One fix-up step is enough only if a bucket (widened by the margin below
    // and by rounding of the index) never holds two thresholds.
    if (narrowest * tables.bucket_scale < 1.5) return;
    // The index is computed as an int before clamping: every matrix result
    // must keep it far from overflow.
    double largest = 0.0;
    for (int c = 0; c < 9; ++c)
        for (int i = 0; i < 256; ++i) largest = std::fmax(largest, std::fabs(tables.product[c][i]));
    if ((3.0 * largest + std::fabs(low)) * tables.bucket_scale > 1e9) return;
    for (int k = 0; k < kConversionBuckets; ++k) {
        // The lowest value of bucket k, less a quarter bucket for the rounding
        // of the index, so the stored code is never above the true answer.
        const double edge = low + (k - 0.25) / tables.bucket_scale;
        tables.bucket_code[k] = static_cast<std::uint8_t>(search_code(t, edge));
    }
    tables.fast_inverse = 1;
}

#if KARVELIN_AVX2_ROWS
// Four pixels at a time, with the very arithmetic of convert_fast: each
// product is the same double multiply the tables hold (coefficient times
// decoded value), the sums keep the reference order, and the inverse takes
// the same bucket, code and fix-up comparison. Table reads are plain loads:
// on the CPUs measured, gather instructions cost more than the loads and
// inserts they replace. "fma" stays out of the target so that no multiply and
// add can be fused here.
__attribute__((target("avx2"))) inline __m128i inverse_codes_avx2(const ConversionTables& tables,
                                                                  __m256d v) {
    const __m256d scaled = _mm256_mul_pd(_mm256_sub_pd(v, _mm256_set1_pd(tables.bucket_origin)),
                                         _mm256_set1_pd(tables.bucket_scale));
    __m128i k = _mm256_cvttpd_epi32(scaled);
    k = _mm_max_epi32(k, _mm_setzero_si128());
    k = _mm_min_epi32(k, _mm_set1_epi32(kConversionBuckets - 1));
    alignas(16) int ks[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(ks), k);
    const int d0 = tables.bucket_code[ks[0]], d1 = tables.bucket_code[ks[1]];
    const int d2 = tables.bucket_code[ks[2]], d3 = tables.bucket_code[ks[3]];
    const double* next = tables.fixup_threshold + 1;
    const __m256d above =
        _mm256_cmp_pd(v, _mm256_setr_pd(next[d0], next[d1], next[d2], next[d3]), _CMP_GE_OQ);
    // Each 64-bit all-ones or zero lane becomes a 32-bit -1 or 0.
    const __m128i step = _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(
        _mm256_castpd_si256(above), _mm256_setr_epi32(0, 2, 4, 6, 0, 0, 0, 0)));
    return _mm_sub_epi32(_mm_setr_epi32(d0, d1, d2, d3), step);
}

// Returns how many pixels it converted (a multiple of four); the caller does
// the rest one by one.
__attribute__((target("avx2"))) int convert_row_avx2(const ConversionTables& tables,
                                                     std::uint8_t* pixels, int count) {
    const __m128i colour = _mm_set1_epi32(0x00FFFFFF);
    const __m256d rr = _mm256_set1_pd(kRR), rg = _mm256_set1_pd(kRG), rb = _mm256_set1_pd(kRB);
    const __m256d gg = _mm256_set1_pd(kGG), gr = _mm256_set1_pd(kGR), gb = _mm256_set1_pd(kGB);
    const __m256d bb = _mm256_set1_pd(kBB), br = _mm256_set1_pd(kBR), bg = _mm256_set1_pd(kBG);
    const double* dc = tables.decode;
    // Flat areas, bars and checkers of period 1, 2 or 4 repeat the previous
    // four pixels exactly; reusing that result skips the work. The first
    // block never matches: its "previous" colours are not 24-bit values.
    __m128i last_in = _mm_set1_epi32(-1), last_out = _mm_setzero_si128();
    int i = 0;
    for (; i + 4 <= count; i += 4, pixels += 16) {
        const __m128i px = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels));
        const __m128i in = _mm_and_si128(px, colour);
        __m128i out;
        if (_mm_movemask_epi8(_mm_cmpeq_epi32(in, last_in)) == 0xFFFF) {
            out = last_out;
        } else {
            const std::uint8_t* p = pixels;
            const __m256d R = _mm256_setr_pd(dc[p[2]], dc[p[6]], dc[p[10]], dc[p[14]]);
            const __m256d G = _mm256_setr_pd(dc[p[1]], dc[p[5]], dc[p[9]], dc[p[13]]);
            const __m256d B = _mm256_setr_pd(dc[p[0]], dc[p[4]], dc[p[8]], dc[p[12]]);
            const __m256d r = _mm256_add_pd(
                _mm256_add_pd(_mm256_mul_pd(rr, R), _mm256_mul_pd(rg, G)), _mm256_mul_pd(rb, B));
            const __m256d g = _mm256_add_pd(
                _mm256_add_pd(_mm256_mul_pd(gg, G), _mm256_mul_pd(gr, R)), _mm256_mul_pd(gb, B));
            const __m256d b = _mm256_add_pd(
                _mm256_mul_pd(bb, B), _mm256_add_pd(_mm256_mul_pd(br, R), _mm256_mul_pd(bg, G)));
            const __m128i cr = inverse_codes_avx2(tables, r);
            const __m128i cg = inverse_codes_avx2(tables, g);
            const __m128i cb = inverse_codes_avx2(tables, b);
            out = _mm_or_si128(_mm_or_si128(cb, _mm_slli_epi32(cg, 8)), _mm_slli_epi32(cr, 16));
            last_in = in;
            last_out = out;
        }
        // Byte 3 of each pixel passes through untouched.
        _mm_storeu_si128(reinterpret_cast<__m128i*>(pixels),
                         _mm_or_si128(out, _mm_andnot_si128(colour, px)));
    }
    return i;
}
#endif

}  // namespace

void build_conversion_tables(ConversionTables& tables) {
    std::memset(&tables, 0, sizeof tables);
    for (int i = 0; i < 256; ++i) {
        tables.decode[i] = linear_light((i - 16) / 219.0);
        tables.threshold[i] = linear_light((i - 16.5) / 219.0);
    }
    const double coefficient[9] = {kRR, kRG, kRB, kGG, kGR, kGB, kBB, kBR, kBG};
    for (int c = 0; c < 9; ++c)
        for (int i = 0; i < 256; ++i) tables.product[c][i] = coefficient[c] * tables.decode[i];
    build_buckets(tables);
#if KARVELIN_AVX2_ROWS
    tables.vector_rows = tables.fast_inverse && __builtin_cpu_supports("avx2");
#endif
    tables.built = 1;
}

void convert_pixel(const ConversionTables& tables, int& red, int& green, int& blue) {
    // Out-of-range codes would index outside the tables; the readers only pass
    // 8-bit values, so masking changes nothing for them.
    red &= 0xFF;
    green &= 0xFF;
    blue &= 0xFF;
    if (tables.fast_inverse)
        convert_fast(tables, red, green, blue);
    else
        convert_searched(tables, red, green, blue);
}

void convert_row_bgrx(const ConversionTables& tables, std::uint8_t* pixels, int count) {
#if KARVELIN_AVX2_ROWS
    if (tables.vector_rows && count > 0) {
        const int done = convert_row_avx2(tables, pixels, count);
        pixels += 4 * done;
        count -= done;
        if (count == 0) return;
    }
#endif
    // Frames repeat colours: long runs of one colour in test patterns, two
    // alternating colours in fine checkers, a few nearby colours in natural
    // pictures. Results are remembered in a small direct-mapped cache keyed by
    // the 24-bit input; looking every pixel up (rather than first comparing
    // with the previous pixel) keeps the branch predictable when neighbours
    // differ at random. The key 0xFFFFFFFF matches no pixel, so empty slots
    // never hit.
    constexpr int kSlots = 256;
    std::uint32_t keys[kSlots];
    std::uint32_t results[kSlots];
    for (int i = 0; i < kSlots; ++i) {
        keys[i] = 0xFFFFFFFFu;
        results[i] = 0;
    }
    for (int i = 0; i < count; ++i, pixels += 4) {
        const std::uint32_t key = static_cast<std::uint32_t>(pixels[0]) |
                                  static_cast<std::uint32_t>(pixels[1]) << 8 |
                                  static_cast<std::uint32_t>(pixels[2]) << 16;
        const std::uint32_t slot = (key * 0x9E3779B1u) >> 24;
        std::uint32_t result = results[slot];
        if (keys[slot] != key) {
            int r = pixels[2], g = pixels[1], b = pixels[0];
            if (tables.fast_inverse)
                convert_fast(tables, r, g, b);
            else
                convert_searched(tables, r, g, b);
            result = static_cast<std::uint32_t>(b) | static_cast<std::uint32_t>(g) << 8 |
                     static_cast<std::uint32_t>(r) << 16;
            keys[slot] = key;
            results[slot] = result;
        }
        pixels[0] = static_cast<std::uint8_t>(result);
        pixels[1] = static_cast<std::uint8_t>(result >> 8);
        pixels[2] = static_cast<std::uint8_t>(result >> 16);
    }
}

double conversion_contraction_probe(double a, double b, double c) {
    return a * b + c;
}
