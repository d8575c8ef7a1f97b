#include "color/bt2020.h"

#include <cmath>
#include <cstring>

// The vector row paths are chosen at run time, so the program still runs on any
// x86 CPU. Not on Windows: its compilers cannot align the stack for spilled
// 32- and 64-byte registers there, so the portable path runs instead.
#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__) && !defined(_WIN32)
#define KARVELIN_VECTOR_ROWS 1
#include <immintrin.h>
#else
#define KARVELIN_VECTOR_ROWS 0
#endif

// Every result here must match the reference arithmetic bit for bit: two
// roundings per multiply-then-add. The build passes -ffp-contract=off to every
// target; these pragmas keep this file exact even if a build forgets the flag
// and targets a CPU with fused multiply-add. (The single-precision rows below
// fuse on purpose, with explicit intrinsics: they only decide values whose
// answer their error bound cannot change.)
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

// The three matrix results in the reference order: (a R - b G) - c B etc., with
// the products taken from the tables (a product from a table is the same double
// as one computed per pixel, and x - b*y equals x + (-b)*y exactly).
struct Linear {
    double r, g, b;
};

inline Linear matrix_sums(const ConversionTables& tables, int red, int green, int blue) {
    const auto& p = tables.product;
    return {(p[0][red] + p[1][green]) + p[2][blue], (p[3][green] + p[4][red]) + p[5][blue],
            p[6][blue] + (p[7][red] + p[8][green])};
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

inline void convert_fast(const ConversionTables& tables, int& red, int& green, int& blue) {
    const Linear v = matrix_sums(tables, red, green, blue);
    red = inverse_code(tables, v.r);
    green = inverse_code(tables, v.g);
    blue = inverse_code(tables, v.b);
}

inline void convert_searched(const ConversionTables& tables, int& red, int& green, int& blue) {
    const Linear v = matrix_sums(tables, red, green, blue);
    red = search_code(tables.threshold, v.r);
    green = search_code(tables.threshold, v.g);
    blue = search_code(tables.threshold, v.b);
}

// Whether matrix results `v` lie outside the gamut limits; bitwise, so that
// the answer costs no branch.
inline bool outside_gamut(const ConversionTables& tables, const Linear& v) {
    return (v.r < tables.gamut_low[0]) | (v.r > tables.gamut_high[0]) |
           (v.g < tables.gamut_low[1]) | (v.g > tables.gamut_high[1]) |
           (v.b < tables.gamut_low[2]) | (v.b > tables.gamut_high[2]);
}

// The conversion of one pixel and whether it leaves the gamut, from the same sums.
inline bool convert_marked(const ConversionTables& tables, int& red, int& green, int& blue) {
    const Linear v = matrix_sums(tables, red, green, blue);
    if (tables.fast_inverse) {
        red = inverse_code(tables, v.r);
        green = inverse_code(tables, v.g);
        blue = inverse_code(tables, v.b);
    } else {
        red = search_code(tables.threshold, v.r);
        green = search_code(tables.threshold, v.g);
        blue = search_code(tables.threshold, v.b);
    }
    return outside_gamut(tables, v);
}

inline void set_mark(std::uint64_t* marks, int i) {
    marks[i >> 6] |= std::uint64_t{1} << (i & 63);
}

// Whether (v - origin) * scale fits an int for every matrix result v, far from
// overflow: the inverses compute that index as an int before clamping it.
bool index_fits_int(const ConversionTables& tables, double origin, double scale) {
    double largest = 0.0;
    for (int c = 0; c < 9; ++c)
        for (int i = 0; i < 256; ++i) largest = std::fmax(largest, std::fabs(tables.product[c][i]));
    return (3.0 * largest + std::fabs(origin)) * scale <= 1e9;
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
    if (!index_fits_int(tables, low, tables.bucket_scale)) return;
    for (int k = 0; k < kConversionBuckets; ++k) {
        // The lowest value of bucket k, less a quarter bucket for the rounding
        // of the index, so the stored code is never above the true answer.
        const double edge = low + (k - 0.25) / tables.bucket_scale;
        tables.bucket_code[k] = static_cast<std::uint8_t>(search_code(t, edge));
    }
    tables.fast_inverse = 1;
}

#if KARVELIN_VECTOR_ROWS
// ---- 4 pixels at a time in double precision (AVX2) ---------------------------

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
    if (!index_fits_int(tables, tables.bucket_origin, tables.fine_scale)) return -1;
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

// All ones in the 32-bit lanes whose bit is set in the low four bits of `bits`.
inline __m128i lane_mask(int bits) {
    alignas(16) static const std::int32_t kLanes[16][4] = {
        {0, 0, 0, 0},   {-1, 0, 0, 0},   {0, -1, 0, 0},   {-1, -1, 0, 0},
        {0, 0, -1, 0},  {-1, 0, -1, 0},  {0, -1, -1, 0},  {-1, -1, -1, 0},
        {0, 0, 0, -1},  {-1, 0, 0, -1},  {0, -1, 0, -1},  {-1, -1, 0, -1},
        {0, 0, -1, -1}, {-1, 0, -1, -1}, {0, -1, -1, -1}, {-1, -1, -1, -1}};
    return _mm_load_si128(reinterpret_cast<const __m128i*>(kLanes[bits & 15]));
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
// the rest one by one. With kMark, pixel i's gamut mark goes to bit first + i
// of `marks` (first a multiple of four, the words cleared), from the same
// double-precision sums the codes come from.
// With `paint`, a marked pixel takes that colour instead.
template <bool kMark>
__attribute__((target("avx2"))) int convert_row_avx2(const ConversionTables& tables,
                                                     std::uint8_t* pixels, int count,
                                                     std::uint64_t* marks, int first,
                                                     const std::uint32_t* paint) {
    const __m128i colour = _mm_set1_epi32(0x00FFFFFF);
    const __m256d rr = _mm256_set1_pd(kRR), rg = _mm256_set1_pd(kRG), rb = _mm256_set1_pd(kRB);
    const __m256d gg = _mm256_set1_pd(kGG), gr = _mm256_set1_pd(kGR), gb = _mm256_set1_pd(kGB);
    const __m256d bb = _mm256_set1_pd(kBB), br = _mm256_set1_pd(kBR), bg = _mm256_set1_pd(kBG);
    const double* dc = tables.decode;
    // Flat areas, bars and checkers of period 1, 2 or 4 repeat the previous
    // four pixels exactly; reusing that result skips the work. The first
    // block never matches: its "previous" colours are not 24-bit values.
    __m128i last_in = _mm_set1_epi32(-1), last_out = _mm_setzero_si128();
    int last_marks = 0;
    std::uint64_t word = 0;  // marks of the word being gathered
    const __m256d low_r = _mm256_set1_pd(tables.gamut_low[0]);
    const __m256d low_g = _mm256_set1_pd(tables.gamut_low[1]);
    const __m256d low_b = _mm256_set1_pd(tables.gamut_low[2]);
    const __m256d high_r = _mm256_set1_pd(tables.gamut_high[0]);
    const __m256d high_g = _mm256_set1_pd(tables.gamut_high[1]);
    const __m256d high_b = _mm256_set1_pd(tables.gamut_high[2]);
    const __m128i paint_colour = _mm_set1_epi32(paint ? static_cast<int>(*paint & 0xFFFFFF) : 0);
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
            if constexpr (kMark) {
                const __m256d beyond =
                    _mm256_or_pd(_mm256_or_pd(_mm256_or_pd(_mm256_cmp_pd(r, low_r, _CMP_LT_OQ),
                                                           _mm256_cmp_pd(r, high_r, _CMP_GT_OQ)),
                                              _mm256_or_pd(_mm256_cmp_pd(g, low_g, _CMP_LT_OQ),
                                                           _mm256_cmp_pd(g, high_g, _CMP_GT_OQ))),
                                 _mm256_or_pd(_mm256_cmp_pd(b, low_b, _CMP_LT_OQ),
                                              _mm256_cmp_pd(b, high_b, _CMP_GT_OQ)));
                last_marks = _mm256_movemask_pd(beyond);
            }
            last_in = in;
            last_out = out;
        }
        if constexpr (kMark) {
            // Gathered a word at a time: one store per 64 pixels.
            const int at = first + i;
            word |= static_cast<std::uint64_t>(last_marks) << (at & 63);
            if ((at & 63) == 60) {
                marks[at >> 6] |= word;
                word = 0;
            }
        }
        __m128i shown = out;
        if constexpr (kMark)
            if (paint) shown = _mm_blendv_epi8(out, paint_colour, lane_mask(last_marks));
        // Byte 3 of each pixel passes through untouched.
        _mm_storeu_si128(reinterpret_cast<__m128i*>(pixels),
                         _mm_or_si128(shown, _mm_andnot_si128(colour, px)));
    }
    if constexpr (kMark)
        if (i > 0) marks[(first + i - 1) >> 6] |= word;
    return i;
}

// ---- 16 pixels at a time in single precision (AVX-512) -----------------------
//
// The code a value v gets is the largest i with threshold[i] <= v, and
// threshold[i] is the curve at code i - 1/2, so the code is floor(g(v)),
// clamped to 0..255, for the inverse of the curve in code units:
//   g(v) = 219 (1.0993 v^0.45 - 0.0993) + 16.5, or 985.5 v + 16.5 on the
//   linear segment (g(threshold[i]) = i on both sides of the joint).
// These rows compute g in single precision, within 1.2e-4 of a code of the
// reference's double-precision value (the float matrix, and v^0.45 as 2^(0.45 e)
// times a polynomial in the mantissa). That decides every value whose g lies
// further than kFloatMargin from a whole number; the others (about one value
// in 2000) keep their pixel for the exact arithmetic. The decoded values come
// from a 32-entry window of the decode table placed at each block's first
// pixel: neighbouring pixels of a picture, grain included, lie within a few
// codes of each other; a block whose colours spread wider gathers them one by
// one.

#if defined(__GNUC__) && !defined(__clang__)
// GCC 12 warns inside its own AVX-512 intrinsic headers (their "undefined"
// pass-through operands).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

/// Fixed point of g: 65536 per code.
constexpr float kCodeUnit = 65536.0f;
/// Values whose g lies within this many units of a whole code are decided by
/// the exact arithmetic: twice the largest error of the single-precision g
/// over all 2^24 inputs (7.5 units).
constexpr int kFloatMargin = 16;
/// v^0.45 for v = 2^e m, m in [1, 2): the polynomial interpolating m^0.45 at 7
/// Chebyshev nodes (error below 2.4e-7 of the value) times 2^(0.45 e), taken
/// from a table by the low four bits of the float's exponent (e = -6 .. 0
/// above the linear segment, as v < 2) and scaled by 219 * 1.0993 * kCodeUnit.
constexpr float kPowerPoly[7] = {0x1.44bdb2p-2f,  0x1.177e5ep+0f, -0x1.58405cp-1f, 0x1.7f8734p-2f,
                                 -0x1.194034p-3f, 0x1.d95932p-6f, -0x1.5989e6p-9f};
// clang-format off
constexpr float kOctaveScale[16] = {
    0, 0, 0, 0, 0, 0, 0, 0, 0,
    0x1.2864dap+21f, 0x1.94e2d6p+21f, 0x1.148b9cp+22f, 0x1.79c5a6p+22f,
    0x1.0206a2p+23f, 0x1.60794ap+23f, 0x1.e17e5p+23f};
// clang-format on
/// Where the linear segment ends: v = 0.08145 / 4.5.
constexpr float kLinearEnd = static_cast<float>(0.08145 / 4.5);

// g(v) in units of 1/kCodeUnit, plus kFloatMargin, truncated: the code is the
// result >> 16 unless its low 16 bits are below 2 kFloatMargin (then its lane
// is set in `near`).
__attribute__((target("avx2,avx512f,avx512bw"))) inline __m512i code_units(__m512 v,
                                                                           __mmask16& near) {
    const __m512i bits = _mm512_castps_si512(v);
    const __m512 octave =
        _mm512_permutexvar_ps(_mm512_srli_epi32(bits, 23), _mm512_loadu_ps(kOctaveScale));
    // The mantissa with the exponent of 1.0: m in [1, 2).
    const __m512 m = _mm512_castsi512_ps(_mm512_ternarylogic_epi32(
        bits, _mm512_set1_epi32(0x007FFFFF), _mm512_set1_epi32(0x3F800000), 0xEA));
    __m512 p = _mm512_fmadd_ps(_mm512_set1_ps(kPowerPoly[6]), m, _mm512_set1_ps(kPowerPoly[5]));
    for (int k = 4; k >= 0; --k) p = _mm512_fmadd_ps(p, m, _mm512_set1_ps(kPowerPoly[k]));
    constexpr float kOffset = (16.5f - 219.0f * 0.0993f) * kCodeUnit + kFloatMargin;
    __m512 g = _mm512_fmadd_ps(octave, p, _mm512_set1_ps(kOffset));
    const __mmask16 linear = _mm512_cmp_ps_mask(v, _mm512_set1_ps(kLinearEnd), _CMP_LT_OQ);
    g = _mm512_mask_mov_ps(g, linear,
                           _mm512_fmadd_ps(v, _mm512_set1_ps(985.5f * kCodeUnit),
                                           _mm512_set1_ps(16.5f * kCodeUnit + kFloatMargin)));
    const __m512i units = _mm512_cvttps_epi32(g);
    near |= _mm512_testn_epi32_mask(units, _mm512_set1_epi32(0xFFFF & ~(2 * kFloatMargin - 1)));
    return units;
}

/// Matrix results within this much of a gamut limit are decided by the exact
/// arithmetic: the single-precision sums lie within 1e-6 of the double ones
/// (|coefficients| sum to at most 2.33, decoded values to at most 1.22, four
/// roundings of 2^-24), so 2^-16 leaves a factor of 15.
constexpr double kGamutMargin = 0x1p-16;

// Converts count / 16 blocks of 16 pixels and returns how many pixels that is.
// The loop makes no calls, so that its constants stay in registers: pixels near
// a code boundary keep their input and are flagged in `near_masks`, one 16-bit
// mask per block; the caller converts those with the exact arithmetic. With
// kMark, pixels whose sums lie near a gamut limit join them, and `gamut_masks`
// gets the block's out-of-gamut pixels among the others. Black and white lie
// on the limits themselves and are in gamut: they never need the exact sums.
template <bool kMark>
__attribute__((target("avx2,avx512f,avx512bw"))) int convert_blocks_float(
    const ConversionTables& tables, std::uint8_t* pixels, int count, std::uint16_t* near_masks,
    std::uint16_t* gamut_masks, const std::uint32_t* paint) {
    const __m512 rr = _mm512_set1_ps(static_cast<float>(kRR));
    const __m512 rg = _mm512_set1_ps(static_cast<float>(kRG));
    const __m512 rb = _mm512_set1_ps(static_cast<float>(kRB));
    const __m512 gg = _mm512_set1_ps(static_cast<float>(kGG));
    const __m512 gr = _mm512_set1_ps(static_cast<float>(kGR));
    const __m512 gb = _mm512_set1_ps(static_cast<float>(kGB));
    const __m512 bb = _mm512_set1_ps(static_cast<float>(kBB));
    const __m512 br = _mm512_set1_ps(static_cast<float>(kBR));
    const __m512 bg = _mm512_set1_ps(static_cast<float>(kBG));
    const float* dc = tables.decode_float;
    const __m512i colour = _mm512_set1_epi32(0x00FFFFFF);
    // Bytes 0..2 of a pixel lie in their window when below 32; byte 3 is no colour.
    const __m512i outside = _mm512_set1_epi32(0x00E0E0E0);
    const __m512i fifteen = _mm512_set1_epi8(15);
    const __m512i last_window = _mm512_set1_epi8(static_cast<char>(224));
    // The packed codes of four pixels per 128-bit lane (blue, green, red, zero)
    // back into pixel order.
    const __m512i order =
        _mm512_broadcast_i32x4(_mm_setr_epi8(0, 4, 8, -1, 1, 5, 9, -1, 2, 6, 10, -1, 3, 7, 11, -1));
    // As in the double-precision rows, a block equal to the previous one takes
    // its result; the first block never matches.
    __m512i last_in = _mm512_set1_epi32(-1), last_out = _mm512_setzero_si512();
    __mmask16 last_gamut = 0;
    // The gamut limits less and plus the margin, per matrix result.
    __m512 inside_low[3], inside_high[3], outside_low[3], outside_high[3];
    if constexpr (kMark) {
        for (int c = 0; c < 3; ++c) {
            inside_low[c] = _mm512_set1_ps(static_cast<float>(tables.gamut_low[c] + kGamutMargin));
            inside_high[c] =
                _mm512_set1_ps(static_cast<float>(tables.gamut_high[c] - kGamutMargin));
            outside_low[c] = _mm512_set1_ps(static_cast<float>(tables.gamut_low[c] - kGamutMargin));
            outside_high[c] =
                _mm512_set1_ps(static_cast<float>(tables.gamut_high[c] + kGamutMargin));
        }
    }
    const int blocks = count / 16;
    for (int k = 0; k < blocks; ++k, pixels += 64) {
        near_masks[k] = 0;
        const __m512i px = _mm512_loadu_si512(pixels);
        const __m512i in = _mm512_and_si512(px, colour);
        if (_mm512_cmpneq_epi32_mask(in, last_in) == 0) {
            _mm512_storeu_si512(pixels, _mm512_ternarylogic_epi32(last_out, px, colour, 0xE4));
            if constexpr (kMark) gamut_masks[k] = last_gamut;
            continue;
        }
        // Windows of 32 codes from the first pixel's codes less 15 (0 .. 224).
        const __m512i bases = _mm512_min_epu8(
            _mm512_subs_epu8(_mm512_broadcastd_epi32(_mm512_castsi512_si128(in)), fifteen),
            last_window);
        const __m512i offsets = _mm512_sub_epi8(px, bases);
        __m512 B, G, R;
        if (_mm512_test_epi8_mask(offsets, outside) == 0) {
            const auto base = static_cast<std::uint32_t>(_mm512_cvtsi512_si32(bases));
            const float* wb = dc + (base & 0xFF);
            const float* wg = dc + ((base >> 8) & 0xFF);
            const float* wr = dc + ((base >> 16) & 0xFF);
            // Only the low five bits of each offset pick a window entry.
            B = _mm512_permutex2var_ps(_mm512_loadu_ps(wb), offsets, _mm512_loadu_ps(wb + 16));
            G = _mm512_permutex2var_ps(_mm512_loadu_ps(wg), _mm512_srli_epi32(offsets, 8),
                                       _mm512_loadu_ps(wg + 16));
            R = _mm512_permutex2var_ps(_mm512_loadu_ps(wr), _mm512_srli_epi32(offsets, 16),
                                       _mm512_loadu_ps(wr + 16));
        } else {
            // Colours spread wider than a window (an edge, random noise): the
            // decoded values one by one, by gather instructions.
            const __m512i byte = _mm512_set1_epi32(0xFF);
            B = _mm512_i32gather_ps(_mm512_and_si512(px, byte), dc, 4);
            G = _mm512_i32gather_ps(_mm512_and_si512(_mm512_srli_epi32(px, 8), byte), dc, 4);
            R = _mm512_i32gather_ps(_mm512_and_si512(_mm512_srli_epi32(px, 16), byte), dc, 4);
        }
        const __m512 r = _mm512_fmadd_ps(rb, B, _mm512_fmadd_ps(rg, G, _mm512_mul_ps(rr, R)));
        const __m512 g = _mm512_fmadd_ps(gb, B, _mm512_fmadd_ps(gr, R, _mm512_mul_ps(gg, G)));
        const __m512 b = _mm512_fmadd_ps(bg, G, _mm512_fmadd_ps(br, R, _mm512_mul_ps(bb, B)));
        __mmask16 near = 0;
        __mmask16 gamut = 0;
        if constexpr (kMark) {
            const __m512 sums[3] = {r, g, b};
            __mmask16 surely = 0, maybe = 0;
            for (int c = 0; c < 3; ++c) {
                surely |= _mm512_cmp_ps_mask(sums[c], outside_low[c], _CMP_LT_OQ) |
                          _mm512_cmp_ps_mask(sums[c], outside_high[c], _CMP_GT_OQ);
                maybe |= _mm512_cmp_ps_mask(sums[c], inside_low[c], _CMP_LT_OQ) |
                         _mm512_cmp_ps_mask(sums[c], inside_high[c], _CMP_GT_OQ);
            }
            const __mmask16 plain = _mm512_cmpeq_epi32_mask(in, _mm512_set1_epi32(0x101010)) |
                                    _mm512_cmpeq_epi32_mask(in, _mm512_set1_epi32(0xEBEBEB));
            near = static_cast<__mmask16>(maybe & ~surely & ~plain);
            gamut = surely;
        }
        const __m512i cb = _mm512_srai_epi32(code_units(b, near), 16);
        const __m512i cg = _mm512_srai_epi32(code_units(g, near), 16);
        const __m512i cr = _mm512_srai_epi32(code_units(r, near), 16);
        // Saturating packs clamp the codes to 0..255.
        const __m512i packed = _mm512_packus_epi16(_mm512_packs_epi32(cb, cg),
                                                   _mm512_packs_epi32(cr, _mm512_setzero_si512()));
        __m512i out = _mm512_shuffle_epi8(packed, order);
        if constexpr (kMark)
            if (paint)
                out = _mm512_mask_mov_epi32(out, static_cast<__mmask16>(gamut & ~near),
                                            _mm512_set1_epi32(static_cast<int>(*paint & 0xFFFFFF)));
        // Byte 3 of each pixel passes through untouched; pixels near a code
        // boundary keep their input for the exact arithmetic.
        _mm512_mask_storeu_epi32(pixels, static_cast<__mmask16>(~near),
                                 _mm512_ternarylogic_epi32(out, px, colour, 0xE4));
        near_masks[k] = near;
        if constexpr (kMark) {
            // Near pixels get their mark from the exact arithmetic.
            last_gamut = static_cast<__mmask16>(gamut & ~near);
            gamut_masks[k] = last_gamut;
        }
        last_in = near ? _mm512_set1_epi32(-1) : in;
        last_out = out;
    }
    return blocks * 16;
}

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

// The single-precision blocks, then the exact arithmetic for what they left.
// Returns how many pixels it converted (a multiple of 16); with kMark their
// marks go to `marks` (cleared), pixel i to bit i.
template <bool kMark>
int convert_row_float(const ConversionTables& tables, std::uint8_t* pixels, int count,
                      std::uint64_t* marks, const std::uint32_t* paint) {
    // A display row has at most 7680 pixels; longer rows go in pieces.
    constexpr int kBlocks = 512;
    std::uint16_t near[kBlocks];
    std::uint16_t gamut[kMark ? kBlocks : 1];
    int done = 0;
    while (count - done >= 16) {
        const int piece = count - done < kBlocks * 16 ? count - done : kBlocks * 16;
        std::uint8_t* p = pixels + 4 * static_cast<std::size_t>(done);
        const int converted = convert_blocks_float<kMark>(tables, p, piece, near, gamut, paint);
        for (int k = 0; k < converted / 16; ++k) {
            const int at = done + 16 * k;
            if constexpr (kMark)
                marks[at >> 6] |= static_cast<std::uint64_t>(gamut[k]) << (at & 63);
            for (unsigned left = near[k]; left != 0; left &= left - 1) {
                const int lane = __builtin_ctz(left);
                std::uint8_t* q = p + 64 * k + 4 * lane;
                int r = q[2], g = q[1], b = q[0];
                if constexpr (kMark) {
                    if (convert_marked(tables, r, g, b)) {
                        set_mark(marks, at + lane);
                        if (paint) {
                            r = static_cast<int>(*paint >> 16 & 0xFF);
                            g = static_cast<int>(*paint >> 8 & 0xFF);
                            b = static_cast<int>(*paint & 0xFF);
                        }
                    }
                } else {
                    convert_fast(tables, r, g, b);
                }
                q[0] = static_cast<std::uint8_t>(b);
                q[1] = static_cast<std::uint8_t>(g);
                q[2] = static_cast<std::uint8_t>(r);
            }
        }
        done += converted;
    }
    return done;
}
#endif

}  // namespace

void build_conversion_tables(ConversionTables& tables) {
    std::memset(&tables, 0, sizeof tables);
    for (int i = 0; i < 256; ++i) {
        tables.decode[i] = linear_light((i - 16) / 219.0);
        tables.threshold[i] = linear_light((i - 16.5) / 219.0);
        tables.decode_float[i] = static_cast<float>(tables.decode[i]);
    }
    const double coefficient[9] = {kRR, kRG, kRB, kGG, kGR, kGB, kBB, kBR, kBG};
    for (int c = 0; c < 9; ++c)
        for (int i = 0; i < 256; ++i) tables.product[c][i] = coefficient[c] * tables.decode[i];
    build_buckets(tables);
    // The gamut ends where the conversion puts black and white.
    const Linear black = matrix_sums(tables, 16, 16, 16),
                 white = matrix_sums(tables, 235, 235, 235);
    const double low[3] = {black.r, black.g, black.b}, high[3] = {white.r, white.g, white.b};
    for (int c = 0; c < 3; ++c) {
        tables.gamut_low[c] = low[c];
        tables.gamut_high[c] = high[c];
    }
#if KARVELIN_VECTOR_ROWS
    // The single-precision rows fall back on the double-precision ones, which
    // need the fine entries too.
    if (tables.fast_inverse && build_fine_entries(tables) == 0 && __builtin_cpu_supports("avx2")) {
        tables.vector_rows = 1;
        if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw"))
            tables.vector_rows = 2;
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

namespace {

// The row call's paths, the widest first; with kMark, marks for every pixel.
template <bool kMark>
void convert_row(const ConversionTables& tables, std::uint8_t* pixels, int count,
                 std::uint64_t* marks, const std::uint32_t* paint) {
    int first = 0;  // pixels already converted
#if KARVELIN_VECTOR_ROWS
    if (tables.vector_rows && count > 0) {
        first = tables.vector_rows == 2
                    ? convert_row_float<kMark>(tables, pixels, count, marks, paint)
                    : 0;
        first +=
            convert_row_avx2<kMark>(tables, pixels + 4 * first, count - first, marks, first, paint);
        if (first == count) return;
        pixels += 4 * first;
    }
#endif
    // Frames repeat colours: long runs of one colour in test patterns, two
    // alternating colours in fine checkers, a few nearby colours in natural
    // pictures. Results are remembered in a small direct-mapped cache keyed by
    // the 24-bit input; looking every pixel up (rather than first comparing
    // with the previous pixel) keeps the branch predictable when neighbours
    // differ at random. The key 0xFFFFFFFF matches no pixel, so empty slots
    // never hit. With kMark a result's bit 24 is its gamut mark.
    constexpr int kSlots = 256;
    std::uint32_t keys[kSlots];
    std::uint32_t results[kSlots];
    for (int i = 0; i < kSlots; ++i) {
        keys[i] = 0xFFFFFFFFu;
        results[i] = 0;
    }
    for (int i = first; i < count; ++i, pixels += 4) {
        const std::uint32_t key = static_cast<std::uint32_t>(pixels[0]) |
                                  static_cast<std::uint32_t>(pixels[1]) << 8 |
                                  static_cast<std::uint32_t>(pixels[2]) << 16;
        const std::uint32_t slot = (key * 0x9E3779B1u) >> 24;
        std::uint32_t result = results[slot];
        if (keys[slot] != key) {
            int r = pixels[2], g = pixels[1], b = pixels[0];
            std::uint32_t outside = 0;
            if constexpr (kMark)
                outside = convert_marked(tables, r, g, b) ? 1u : 0u;
            else if (tables.fast_inverse)
                convert_fast(tables, r, g, b);
            else
                convert_searched(tables, r, g, b);
            result = static_cast<std::uint32_t>(b) | static_cast<std::uint32_t>(g) << 8 |
                     static_cast<std::uint32_t>(r) << 16;
            if (outside && paint) result = *paint & 0xFFFFFF;
            result |= outside << 24;
            keys[slot] = key;
            results[slot] = result;
        }
        pixels[0] = static_cast<std::uint8_t>(result);
        pixels[1] = static_cast<std::uint8_t>(result >> 8);
        pixels[2] = static_cast<std::uint8_t>(result >> 16);
        // Without a branch: marks come and go at random in a picture.
        if constexpr (kMark) marks[i >> 6] |= static_cast<std::uint64_t>(result >> 24) << (i & 63);
    }
}

}  // namespace

void convert_row_bgrx(const ConversionTables& tables, std::uint8_t* pixels, int count) {
    convert_row<false>(tables, pixels, count, nullptr, nullptr);
}

void convert_row_bgrx_marked(const ConversionTables& tables, std::uint8_t* pixels, int count,
                             std::uint64_t* marks, const std::uint32_t* paint) {
    if (count <= 0) return;
    std::memset(marks, 0, (static_cast<std::size_t>(count) + 63) / 64 * sizeof *marks);
    convert_row<true>(tables, pixels, count, marks, paint);
}

bool convert_pixel_marked(const ConversionTables& tables, int& red, int& green, int& blue) {
    red &= 0xFF;
    green &= 0xFF;
    blue &= 0xFF;
    return convert_marked(tables, red, green, blue);
}

double conversion_contraction_probe(double a, double b, double c) {
    return a * b + c;
}
