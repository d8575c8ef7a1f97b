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
// The fine position of a threshold, by the same operations the vector path
// applies to a value (subtract, multiply, truncate, clamp).
int fine_position(const ConversionTables& tables, double v) {
    int f = static_cast<int>((v - tables.bucket_origin) * tables.fine_scale);
    f = f < 0 ? 0 : f;
    return f > kFineLast ? kFineLast : f;
}

// Returns 0 when every bucket of fine positions holds at most one threshold
// and the thresholds stay clear of both clamped ends, so that one entry per
// bucket decides each value; -1 otherwise (the vector rows then stay off).
int build_fine_entries(ConversionTables& tables) {
    tables.fine_scale = tables.bucket_scale * (1 << kFineShift);
    int fine[257];
    for (int j = 1; j < 256; ++j) fine[j] = fine_position(tables, tables.threshold[j]);
    // Past the last threshold: beyond every clamped position, so never reached.
    fine[256] = kFineLast + 1;
    if (fine[1] <= 0 || fine[255] >= kFineLast) return -1;
    // Truncation to int32 must not overflow for any matrix result (products of
    // at most 1.6605 times the brightest decoded value, three to a sum).
    double largest = 0.0;
    for (int c = 0; c < 9; ++c)
        for (int i = 0; i < 256; ++i) largest = std::fmax(largest, std::fabs(tables.product[c][i]));
    if ((3.0 * largest + std::fabs(tables.bucket_origin)) * tables.fine_scale > 1e9) return -1;
    for (int j = 2; j < 256; ++j)
        if ((fine[j] >> kFineShift) <= (fine[j - 1] >> kFineShift)) return -1;
    int below = 0;  // thresholds whose fine position lies before bucket k
    for (int k = 0; k < kConversionBuckets; ++k) {
        while (below < 255 && fine[below + 1] < (k << kFineShift)) ++below;
        tables.bucket_entry[k] =
            static_cast<std::uint32_t>(fine[below + 1]) << 8 | static_cast<std::uint32_t>(below);
    }
    return 0;
}

// The entries of four bucket indices. The indices leave the vector register two
// at a time through 64-bit moves: reading them back one by one from a stored
// copy stalls on CPUs that cannot forward a vector store to narrower loads,
// and that stall was half the cost of a converted pixel.
__attribute__((target("avx2"))) inline __m128i bucket_entries4(const std::uint32_t* entry,
                                                               __m128i k) {
#if defined(__x86_64__)
    const auto low = static_cast<std::uint64_t>(_mm_cvtsi128_si64(k));
    const auto high = static_cast<std::uint64_t>(_mm_extract_epi64(k, 1));
    return _mm_setr_epi32(
        static_cast<int>(entry[low & 0xFFFFFFFFu]), static_cast<int>(entry[low >> 32]),
        static_cast<int>(entry[high & 0xFFFFFFFFu]), static_cast<int>(entry[high >> 32]));
#else
    alignas(16) std::uint32_t ks[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(ks), k);
    return _mm_setr_epi32(static_cast<int>(entry[ks[0]]), static_cast<int>(entry[ks[1]]),
                          static_cast<int>(entry[ks[2]]), static_cast<int>(entry[ks[3]]));
#endif
}

// Four pixels at a time, with the very arithmetic of convert_fast: each
// product is the same double multiply the tables hold (coefficient times
// decoded value), the sums keep the reference order, and the inverse takes
// the same bucket, code and fix-up comparison. Table reads are plain loads:
// on the CPUs measured, gather instructions cost more than the loads and
// inserts they replace. "fma" stays out of the target so that no multiply and
// add can be fused here.
__attribute__((target("avx2"))) inline __m128i inverse_codes_avx2(const ConversionTables& tables,
                                                                  __m256d v, __m128i& equal) {
    const __m256d scaled = _mm256_mul_pd(_mm256_sub_pd(v, _mm256_set1_pd(tables.bucket_origin)),
                                         _mm256_set1_pd(tables.fine_scale));
    __m128i f = _mm256_cvttpd_epi32(scaled);
    f = _mm_max_epi32(f, _mm_setzero_si128());
    f = _mm_min_epi32(f, _mm_set1_epi32(kFineLast));
    const __m128i e = bucket_entries4(tables.bucket_entry, _mm_srli_epi32(f, kFineShift));
    const __m128i next = _mm_srli_epi32(e, 8);
    equal = _mm_or_si128(equal, _mm_cmpeq_epi32(f, next));
    // Beyond the next threshold: -1, which the subtraction turns into +1.
    return _mm_sub_epi32(_mm_and_si128(e, _mm_set1_epi32(0xFF)), _mm_cmpgt_epi32(f, next));
}

// The four pixels at p, converted one by one with the exact comparison, for
// the rare block where a value falls on a threshold's fine position.
__m128i convert_four(const ConversionTables& tables, const std::uint8_t* p) {
    alignas(16) std::uint32_t out[4];
    for (int i = 0; i < 4; ++i, p += 4) {
        int r = p[2], g = p[1], b = p[0];
        convert_fast(tables, r, g, b);
        out[i] = static_cast<std::uint32_t>(b | g << 8 | r << 16);
    }
    return _mm_load_si128(reinterpret_cast<const __m128i*>(out));
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
            __m128i equal = _mm_setzero_si128();
            const __m128i cr = inverse_codes_avx2(tables, r, equal);
            const __m128i cg = inverse_codes_avx2(tables, g, equal);
            const __m128i cb = inverse_codes_avx2(tables, b, equal);
            out = _mm_or_si128(_mm_or_si128(cb, _mm_slli_epi32(cg, 8)), _mm_slli_epi32(cr, 16));
            if (!_mm_testz_si128(equal, equal)) out = convert_four(tables, p);
            last_in = in;
            last_out = out;
        }
        // Byte 3 of each pixel passes through untouched.
        _mm_storeu_si128(reinterpret_cast<__m128i*>(pixels),
                         _mm_or_si128(out, _mm_andnot_si128(colour, px)));
    }
    return i;
}

// Eight pixels at a time in 512-bit registers, the same arithmetic and the
// same inverse as the four-pixel path above.
__attribute__((target("avx2,avx512f"))) inline __m256i inverse_codes_avx512(
    const ConversionTables& tables, __m512d v, __mmask8& equal) {
    const __m512d scaled = _mm512_mul_pd(_mm512_sub_pd(v, _mm512_set1_pd(tables.bucket_origin)),
                                         _mm512_set1_pd(tables.fine_scale));
    __m256i f = _mm512_maskz_cvttpd_epi32(0xFF, scaled);
    f = _mm256_max_epi32(f, _mm256_setzero_si256());
    f = _mm256_min_epi32(f, _mm256_set1_epi32(kFineLast));
    const __m256i k = _mm256_srli_epi32(f, kFineShift);
    const __m256i e =
        _mm256_setr_m128i(bucket_entries4(tables.bucket_entry, _mm256_castsi256_si128(k)),
                          bucket_entries4(tables.bucket_entry, _mm256_extracti128_si256(k, 1)));
    const __m256i next = _mm256_srli_epi32(e, 8);
    const __m256i same = _mm256_cmpeq_epi32(f, next);
    equal |= static_cast<__mmask8>(_mm256_movemask_ps(_mm256_castsi256_ps(same)));
    return _mm256_sub_epi32(_mm256_and_si256(e, _mm256_set1_epi32(0xFF)),
                            _mm256_cmpgt_epi32(f, next));
}

__attribute__((target("avx2,avx512f"))) int convert_row_avx512(const ConversionTables& tables,
                                                               std::uint8_t* pixels, int count) {
    const __m256i colour = _mm256_set1_epi32(0x00FFFFFF);
    const __m512d rr = _mm512_set1_pd(kRR), rg = _mm512_set1_pd(kRG), rb = _mm512_set1_pd(kRB);
    const __m512d gg = _mm512_set1_pd(kGG), gr = _mm512_set1_pd(kGR), gb = _mm512_set1_pd(kGB);
    const __m512d bb = _mm512_set1_pd(kBB), br = _mm512_set1_pd(kBR), bg = _mm512_set1_pd(kBG);
    const double* dc = tables.decode;
    __m256i last_in = _mm256_set1_epi32(-1), last_out = _mm256_setzero_si256();
    int i = 0;
    for (; i + 8 <= count; i += 8, pixels += 32) {
        const __m256i px = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pixels));
        const __m256i in = _mm256_and_si256(px, colour);
        __m256i out;
        if (_mm256_movemask_epi8(_mm256_cmpeq_epi32(in, last_in)) == -1) {
            out = last_out;
        } else {
            const std::uint8_t* p = pixels;
            const __m512d R = _mm512_setr_pd(dc[p[2]], dc[p[6]], dc[p[10]], dc[p[14]], dc[p[18]],
                                             dc[p[22]], dc[p[26]], dc[p[30]]);
            const __m512d G = _mm512_setr_pd(dc[p[1]], dc[p[5]], dc[p[9]], dc[p[13]], dc[p[17]],
                                             dc[p[21]], dc[p[25]], dc[p[29]]);
            const __m512d B = _mm512_setr_pd(dc[p[0]], dc[p[4]], dc[p[8]], dc[p[12]], dc[p[16]],
                                             dc[p[20]], dc[p[24]], dc[p[28]]);
            const __m512d r = _mm512_add_pd(
                _mm512_add_pd(_mm512_mul_pd(rr, R), _mm512_mul_pd(rg, G)), _mm512_mul_pd(rb, B));
            const __m512d g = _mm512_add_pd(
                _mm512_add_pd(_mm512_mul_pd(gg, G), _mm512_mul_pd(gr, R)), _mm512_mul_pd(gb, B));
            const __m512d b = _mm512_add_pd(
                _mm512_mul_pd(bb, B), _mm512_add_pd(_mm512_mul_pd(br, R), _mm512_mul_pd(bg, G)));
            __mmask8 equal = 0;
            const __m256i cr = inverse_codes_avx512(tables, r, equal);
            const __m256i cg = inverse_codes_avx512(tables, g, equal);
            const __m256i cb = inverse_codes_avx512(tables, b, equal);
            out = _mm256_or_si256(_mm256_or_si256(cb, _mm256_slli_epi32(cg, 8)),
                                  _mm256_slli_epi32(cr, 16));
            if (equal) {
                out = _mm256_setr_m128i(convert_four(tables, p), convert_four(tables, p + 16));
            }
            last_in = in;
            last_out = out;
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(pixels),
                            _mm256_or_si256(out, _mm256_andnot_si256(colour, px)));
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
    if (tables.fast_inverse && build_fine_entries(tables) == 0) {
        if (__builtin_cpu_supports("avx512f"))
            tables.vector_rows = 2;
        else if (__builtin_cpu_supports("avx2"))
            tables.vector_rows = 1;
    }
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
        const int done = tables.vector_rows == 2 ? convert_row_avx512(tables, pixels, count)
                                                 : convert_row_avx2(tables, pixels, count);
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
