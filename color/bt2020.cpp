#include "color/bt2020.h"

#include <cmath>
#include <cstring>

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
