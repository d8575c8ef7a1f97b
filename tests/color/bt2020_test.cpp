#include "color/bt2020.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace {

// The conversion exactly as the reference describes it, kept independent of
// the library's tables: doubles, the given order of operations, the
// seven-halving search. The fast path must agree with this for every input.
struct Literal {
    double d[256];
    double t[256];
};

double literal_curve(double a) {
    if (a < 0.08145) return a / 4.5;
    return std::pow((a + 0.0993) / 1.0993, 2.2222222222222223);
}

Literal make_literal() {
    Literal l;
    for (int i = 0; i < 256; ++i) {
        l.d[i] = literal_curve((i - 16) / 219.0);
        l.t[i] = literal_curve((i - 16.5) / 219.0);
    }
    return l;
}

int literal_search(const Literal& l, double v) {
    int d = 128;
    for (int e = 64; e >= 1; e /= 2) {
        if (v < l.t[d])
            d = d - e;
        else
            d = d + e;
    }
    if (v < l.t[d]) return d - 1;
    return d;
}

struct Sums {
    double r, g, b;
};

Sums literal_sums(const Literal& l, int red, int green, int blue) {
    const double R = l.d[red], G = l.d[green], B = l.d[blue];
    return {(1.6605 * R - 0.5876 * G) - 0.0729 * B, (1.1328 * G - 0.1244 * R) - 0.0084 * B,
            1.1188 * B + (-0.0181 * R - 0.1006 * G)};
}

// Out of the BT.709 gamut: a linear result below what black gives (0) or above
// what white gives (1, but for the rounding of the matrix's rows).
bool literal_outside(const Literal& l, const Sums& v) {
    const Sums black = literal_sums(l, 16, 16, 16), white = literal_sums(l, 235, 235, 235);
    return v.r < black.r || v.g < black.g || v.b < black.b || v.r > white.r || v.g > white.g ||
           v.b > white.b;
}

// Converts in place and returns whether the pixel is out of gamut.
bool literal_convert(const Literal& l, int& red, int& green, int& blue) {
    const Sums v = literal_sums(l, red, green, blue);
    red = literal_search(l, v.r);
    green = literal_search(l, v.g);
    blue = literal_search(l, v.b);
    return literal_outside(l, v);
}

const ConversionTables& tables() {
    static ConversionTables t;
    static bool done = false;
    if (!done) {
        build_conversion_tables(t);
        done = true;
    }
    return t;
}

struct Rgb {
    int r, g, b;
};

Rgb convert(Rgb in) {
    convert_pixel(tables(), in.r, in.g, in.b);
    return in;
}

// The tables with each row path the CPU has, the widest first, down to the
// portable one.
std::vector<ConversionTables> row_paths() {
    std::vector<ConversionTables> paths;
    for (int level = tables().vector_rows; level >= 0; --level) {
        paths.push_back(tables());
        paths.back().vector_rows = level;
    }
    return paths;
}

const char* path_name(const ConversionTables& t) {
    return t.vector_rows == 2   ? "16-pixel single-precision rows"
           : t.vector_rows == 1 ? "4-pixel double-precision rows"
                                : "portable rows";
}

}  // namespace

TEST(Conversion, TablesMatchTheCurveAndFastInverseIsEnabled) {
    const Literal l = make_literal();
    const ConversionTables& t = tables();
    for (int i = 0; i < 256; ++i) {
        EXPECT_EQ(t.decode[i], l.d[i]) << i;
        EXPECT_EQ(t.threshold[i], l.t[i]) << i;
    }
    // The bucketed inverse relies on strictly increasing thresholds; if the
    // tables ever lose that, the slow search would silently take over.
    EXPECT_EQ(t.fast_inverse, 1);
    EXPECT_EQ(t.built, 1);
#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__) && !defined(_WIN32)
    // The widest row path the CPU has; otherwise the row tests would cover
    // one path twice and another never.
    const bool avx512 = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
    EXPECT_EQ(t.vector_rows, avx512 ? 2 : __builtin_cpu_supports("avx2") ? 1 : 0);
#endif
}

// The gamut ends at the conversion's black and white: 0 and, for the rounding
// of the matrix's rows, 1 within 1.0001.
TEST(Conversion, GamutLimitsAreBlackAndWhite) {
    const Literal l = make_literal();
    const Sums black = literal_sums(l, 16, 16, 16), white = literal_sums(l, 235, 235, 235);
    const ConversionTables& t = tables();
    const double low[3] = {black.r, black.g, black.b}, high[3] = {white.r, white.g, white.b};
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(t.gamut_low[c], 0.0) << c;
        EXPECT_EQ(t.gamut_low[c], low[c]) << c;
        EXPECT_EQ(t.gamut_high[c], high[c]) << c;
        EXPECT_NEAR(t.gamut_high[c], 1.0, 1.0001e-4) << c;
    }
}

TEST(Conversion, SearchOverDecodeTableReturnsEveryCode) {
    const Literal l = make_literal();
    for (int i = 0; i < 256; ++i) EXPECT_EQ(literal_search(l, l.d[i]), i) << i;
}

TEST(Conversion, ExampleValues) {
    for (int v : {0, 16, 128, 235, 255}) {
        const Rgb out = convert({v, v, v});
        EXPECT_EQ(out.r, v);
        EXPECT_EQ(out.g, v);
        EXPECT_EQ(out.b, v);
    }
    struct Case {
        Rgb in, out;
    };
    const Case cases[] = {
        {{235, 16, 16}, {255, 0, 0}},
        {{16, 235, 16}, {0, 249, 0}},
        {{16, 16, 235}, {0, 8, 247}},
        {{100, 150, 200}, {8, 154, 206}},
    };
    for (const Case& c : cases) {
        const Rgb out = convert(c.in);
        EXPECT_EQ(out.r, c.out.r) << c.in.r << "," << c.in.g << "," << c.in.b;
        EXPECT_EQ(out.g, c.out.g) << c.in.r << "," << c.in.g << "," << c.in.b;
        EXPECT_EQ(out.b, c.out.b) << c.in.r << "," << c.in.g << "," << c.in.b;
    }
}

// Every one of the 2^24 inputs against the literal transcription, through the
// per-pixel calls and through the row calls on each of their paths the CPU
// has, the codes and (from the marking calls) whether each pixel leaves the
// gamut.
// The rows take every colour twice: in counting order, in rows of 3840, where
// neighbours differ by little as in a picture, so that the single-precision
// rows decide nearly every colour themselves; and in a scrambled order, where
// neighbours differ as in random noise, in rows of varying length, so that
// every count of leftover pixels occurs. Under AddressSanitizer the literal
// runs several times slower; it still covers every input there, just taking a
// few seconds more.
TEST(Conversion, EveryInputEqualsLiteralOnEveryPath) {
    const Literal l = make_literal();
    constexpr std::uint32_t kColours = 1u << 24;
    // The codes, and in bit 24 whether the literal puts the pixel out of gamut.
    std::vector<std::uint32_t> expected(kColours);
    long outside = 0;
    for (std::uint32_t c = 0; c < kColours; ++c) {
        int r = static_cast<int>(c >> 16), g = static_cast<int>((c >> 8) & 0xFF),
            b = static_cast<int>(c & 0xFF);
        const bool out = literal_convert(l, r, g, b);
        outside += out;
        expected[c] = static_cast<std::uint32_t>(r << 16 | g << 8 | b) | (out ? 1u << 24 : 0);
    }
    // Both answers occur often, so a mark stuck at either fails.
    EXPECT_GT(outside, kColours / 8);
    EXPECT_LT(outside, kColours - kColours / 8);

    long mismatches = 0;
    for (std::uint32_t c = 0; c < kColours; ++c) {
        int r = static_cast<int>(c >> 16), g = static_cast<int>((c >> 8) & 0xFF),
            b = static_cast<int>(c & 0xFF);
        int mr = r, mg = g, mb = b;
        convert_pixel(tables(), r, g, b);
        const bool out = convert_pixel_marked(tables(), mr, mg, mb);
        const std::uint32_t got = static_cast<std::uint32_t>(r << 16 | g << 8 | b);
        const std::uint32_t marked =
            static_cast<std::uint32_t>(mr << 16 | mg << 8 | mb) | (out ? 1u << 24 : 0);
        if ((got != (expected[c] & 0xFFFFFF) || marked != expected[c]) && ++mismatches <= 5)
            ADD_FAILURE() << std::hex << "pixel calls: input " << c << " literal " << expected[c]
                          << " got " << got << ", marked " << marked;
    }
    EXPECT_EQ(mismatches, 0);

    std::vector<std::uint8_t> row(4 * 3840);
    std::vector<std::uint64_t> marks(3840 / 64);
    for (const ConversionTables& path : row_paths()) {
        for (const bool marking : {false, true}) {
            const ConversionTables* t = &path;
            SCOPED_TRACE(path_name(path));
            SCOPED_TRACE(marking ? "marking" : "not marking");
            for (const bool scrambled : {false, true}) {
                SCOPED_TRACE(scrambled ? "scrambled order" : "counting order");
                mismatches = 0;
                std::uint32_t next = 0;  // position in the order
                for (int length = 1; next < kColours; length = length % 299 + 1) {
                    const int n = static_cast<int>(
                        std::min<std::uint32_t>(scrambled ? length : 3840, kColours - next));
                    // An odd multiplier permutes the 24-bit colours.
                    auto colour = [&](int i) {
                        const std::uint32_t k = next + static_cast<std::uint32_t>(i);
                        return scrambled ? (k * 0x9E3779B1u) & 0xFFFFFF : k;
                    };
                    for (int i = 0; i < n; ++i) {
                        const std::uint32_t c = colour(i);
                        row[4 * i] = static_cast<std::uint8_t>(c);
                        row[4 * i + 1] = static_cast<std::uint8_t>(c >> 8);
                        row[4 * i + 2] = static_cast<std::uint8_t>(c >> 16);
                        row[4 * i + 3] = static_cast<std::uint8_t>(i);
                    }
                    // Stale marks beyond the row must be cleared too.
                    std::fill(marks.begin(), marks.end(), ~std::uint64_t{0});
                    if (marking)
                        convert_row_bgrx_marked(*t, row.data(), n, marks.data());
                    else
                        convert_row_bgrx(*t, row.data(), n);
                    for (int i = 0; i < n; ++i) {
                        const std::uint32_t c = colour(i);
                        std::uint32_t got = static_cast<std::uint32_t>(
                            row[4 * i] | row[4 * i + 1] << 8 | row[4 * i + 2] << 16);
                        std::uint32_t want = expected[c] & 0xFFFFFF;
                        if (marking) {
                            got |= static_cast<std::uint32_t>(marks[i / 64] >> (i % 64) & 1) << 24;
                            want = expected[c];
                        }
                        if ((got != want || row[4 * i + 3] != static_cast<std::uint8_t>(i)) &&
                            ++mismatches <= 5)
                            ADD_FAILURE() << std::hex << "row call: input " << c << " literal "
                                          << want << " got " << got;
                    }
                    if (marking && n % 64 != 0 && (marks[n / 64] >> (n % 64)) != 0 &&
                        ++mismatches <= 5)
                        ADD_FAILURE() << "marks set beyond a row of " << n;
                    next += static_cast<std::uint32_t>(n);
                }
                EXPECT_EQ(mismatches, 0);
            }
        }
    }
}

// The row call remembers recent results (a small cache on the portable path,
// the previous four pixels on the vector path), marking and painting or not:
// colours drawn from a palette
// larger than its memory, in runs, repeat both next to each other and far
// apart, and different colours compete for the same memory; none of that may
// change a result. Runs of four and eight identical pixels with differing
// fourth bytes, and blocks that differ from the previous one in a single
// channel of a single pixel, probe the reuse of whole blocks.
TEST(Conversion, RowEqualsPixelAndKeepsFourthByte) {
    std::uint32_t x = 12345;
    auto next = [&x] {
        x = x * 1103515245u + 12345u;
        return x >> 8;
    };
    std::vector<std::uint32_t> palette(600);
    for (auto& c : palette) c = next() & 0xFFFFFF;
    palette[1] = palette[0] ^ 0x000100;  // neighbours differing in one channel
    palette[2] = palette[0] ^ 0x010000;
    std::vector<std::uint8_t> row;
    auto push = [&row](std::uint32_t c, int fourth) {
        row.push_back(static_cast<std::uint8_t>(c));
        row.push_back(static_cast<std::uint8_t>(c >> 8));
        row.push_back(static_cast<std::uint8_t>(c >> 16));
        row.push_back(static_cast<std::uint8_t>(fourth));
    };
    for (int i = 0; i < 6000; ++i) {
        const std::uint32_t c = palette[i < 30 ? i % 3 : next() % palette.size()];
        const int run = i % 50 == 7 ? 8 : 1 + static_cast<int>(next() % 4);
        for (int k = 0; k < run; ++k) push(c, i * 7 + k);
    }
    // Four-pixel blocks repeated with one pixel changed in one channel.
    for (int i = 0; i < 64; ++i) {
        const std::uint32_t base[4] = {palette[3], palette[4], palette[5], palette[6]};
        for (int k = 0; k < 4; ++k) push(k == (i & 3) ? base[k] ^ (1u << (i % 24)) : base[k], i);
        for (int k = 0; k < 4; ++k) push(base[k], 255 - i);
    }
    // A white first pixel must not be mistaken for an empty memory slot.
    row[0] = row[1] = row[2] = 0xFF;
    const std::vector<std::uint8_t> before = row;
    const int count = static_cast<int>(row.size() / 4);
    for (const ConversionTables& path : row_paths()) {
        const ConversionTables* t = &path;
        SCOPED_TRACE(path_name(path));
        row = before;
        convert_row_bgrx(*t, row.data(), count);
        for (int i = 0; i < count; ++i) {
            int r = before[4 * i + 2], g = before[4 * i + 1], b = before[4 * i];
            convert_pixel(tables(), r, g, b);
            ASSERT_EQ(row[4 * i + 2], r) << i;
            ASSERT_EQ(row[4 * i + 1], g) << i;
            ASSERT_EQ(row[4 * i], b) << i;
            ASSERT_EQ(row[4 * i + 3], before[4 * i + 3]) << i;
        }
        // Marked and painted: the pixels out of gamut take the colour, the
        // others their codes, and the marks say which.
        row = before;
        const std::uint32_t paint = 0x123456;
        std::vector<std::uint64_t> marks((static_cast<std::size_t>(count) + 63) / 64);
        convert_row_bgrx_marked(*t, row.data(), count, marks.data(), &paint);
        for (int i = 0; i < count; ++i) {
            int r = before[4 * i + 2], g = before[4 * i + 1], b = before[4 * i];
            const bool out = convert_pixel_marked(tables(), r, g, b);
            if (out) r = 0x12, g = 0x34, b = 0x56;
            ASSERT_EQ(row[4 * i + 2], r) << i;
            ASSERT_EQ(row[4 * i + 1], g) << i;
            ASSERT_EQ(row[4 * i], b) << i;
            ASSERT_EQ(row[4 * i + 3], before[4 * i + 3]) << i;
            ASSERT_EQ((marks[i / 64] >> (i % 64)) & 1, out ? 1u : 0u) << i;
        }
    }
}

TEST(Conversion, RowOfZeroPixelsTouchesNothing) {
    std::uint8_t px[4] = {1, 2, 3, 4};
    convert_row_bgrx(tables(), px, 0);
    EXPECT_EQ(px[0], 1);
    EXPECT_EQ(px[1], 2);
    EXPECT_EQ(px[2], 3);
    EXPECT_EQ(px[3], 4);
}

// The library must round a * b + c twice, as the reference does. With these
// inputs the product 1 + 2^-29 + 2^-60 rounds to 1 + 2^-29 and the sum is
// exactly 0; a fused multiply-add would give 2^-60 instead.
TEST(Conversion, CompiledWithoutContraction) {
    volatile double a = 1.0 + std::ldexp(1.0, -30);
    volatile double c = -(1.0 + std::ldexp(1.0, -29));
    EXPECT_EQ(conversion_contraction_probe(a, a, c), 0.0);
    EXPECT_EQ(std::fma(a, a, c), std::ldexp(1.0, -60));
}

// Tables whose fast inverse is switched off fall back to the plain search;
// that path must give the same answers.
TEST(Conversion, SearchFallbackEqualsLiteral) {
    const Literal l = make_literal();
    ConversionTables slow = tables();
    slow.fast_inverse = 0;
    for (int r = 0; r < 256; r += 3) {
        for (int g = 1; g < 256; g += 3) {
            for (int b = 2; b < 256; b += 3) {
                int lr = r, lg = g, lb = b;
                literal_convert(l, lr, lg, lb);
                int fr = r, fg = g, fb = b;
                convert_pixel(slow, fr, fg, fb);
                ASSERT_TRUE(lr == fr && lg == fg && lb == fb) << r << "," << g << "," << b;
            }
        }
    }
}
