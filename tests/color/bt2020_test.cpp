#include "color/bt2020.h"

#include <gtest/gtest.h>

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

void literal_convert(const Literal& l, int& red, int& green, int& blue) {
    const double R = l.d[red], G = l.d[green], B = l.d[blue];
    const double r = (1.6605 * R - 0.5876 * G) - 0.0729 * B;
    const double g = (1.1328 * G - 0.1244 * R) - 0.0084 * B;
    const double b = 1.1188 * B + (-0.0181 * R - 0.1006 * G);
    red = literal_search(l, r);
    green = literal_search(l, g);
    blue = literal_search(l, b);
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

// Every one of the 2^24 inputs against the literal transcription. Under
// AddressSanitizer the literal runs several times slower; it still covers
// every input there, just taking a few seconds more.
TEST(Conversion, FastPathEqualsLiteralForAllInputs) {
    const Literal l = make_literal();
    const ConversionTables& t = tables();
    long mismatches = 0;
    for (int r = 0; r < 256; ++r) {
        for (int g = 0; g < 256; ++g) {
            for (int b = 0; b < 256; ++b) {
                int lr = r, lg = g, lb = b;
                literal_convert(l, lr, lg, lb);
                int fr = r, fg = g, fb = b;
                convert_pixel(t, fr, fg, fb);
                if (lr != fr || lg != fg || lb != fb) {
                    if (++mismatches <= 5)
                        ADD_FAILURE()
                            << "(" << r << "," << g << "," << b << ") literal (" << lr << "," << lg
                            << "," << lb << ") fast (" << fr << "," << fg << "," << fb << ")";
                }
            }
        }
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(Conversion, RowEqualsPixelAndKeepsFourthByte) {
    // The row call remembers recent results: colours drawn from a palette
    // larger than its memory, in runs, repeat both next to each other and far
    // apart, and different colours compete for the same memory; none of that
    // may change a result.
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
    for (int i = 0; i < 6000; ++i) {
        const std::uint32_t c = palette[i < 30 ? i % 3 : next() % palette.size()];
        const int run = 1 + static_cast<int>(next() % 4);
        for (int k = 0; k < run; ++k) {
            row.push_back(static_cast<std::uint8_t>(c));
            row.push_back(static_cast<std::uint8_t>(c >> 8));
            row.push_back(static_cast<std::uint8_t>(c >> 16));
            row.push_back(static_cast<std::uint8_t>(i * 7 + k));
        }
    }
    // A white first pixel must not be mistaken for an empty memory slot.
    row[0] = row[1] = row[2] = 0xFF;
    const std::vector<std::uint8_t> before = row;
    const int count = static_cast<int>(row.size() / 4);
    convert_row_bgrx(tables(), row.data(), count);
    for (int i = 0; i < count; ++i) {
        int r = before[4 * i + 2], g = before[4 * i + 1], b = before[4 * i];
        convert_pixel(tables(), r, g, b);
        ASSERT_EQ(row[4 * i + 2], r) << i;
        ASSERT_EQ(row[4 * i + 1], g) << i;
        ASSERT_EQ(row[4 * i], b) << i;
        ASSERT_EQ(row[4 * i + 3], before[4 * i + 3]) << i;
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
