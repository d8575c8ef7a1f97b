// BT.2020 to BT.709 conversion of 8-bit video-range code values.
#pragma once

#include <cstdint>

/// Buckets of the fast inverse; fine enough that no bucket spans more than one
/// threshold, so a lookup needs at most one fix-up step.
constexpr int kConversionBuckets = 4096;
/// Fine positions per bucket of the vector inverse (as a shift) and the
/// largest fine position a value is clamped to.
constexpr int kFineShift = 12;
constexpr int kFineLast = (kConversionBuckets << kFineShift) - 2;

/// The decode and threshold tables of the transfer curve, plus the derived
/// tables the fast per-pixel path uses. Built once, read-only afterwards.
struct ConversionTables {
    /// Linear light of code i (16 = black, 235 = white).
    double decode[256];
    /// Linear light half a code below i: the boundary between codes i - 1 and i.
    double threshold[256];
    /// Matrix products: coefficient times decode[i], one table per coefficient,
    /// so that the sums come out bit-identical to multiplying per pixel.
    /// Order: R' (R, G, B), G' (G, R, B), B' (B, R, G), each with the sign
    /// folded in where the sum adds a negative product.
    double product[9][256];
    /// Fast inverse: for bucket k of the linear axis around threshold[1] ..
    /// threshold[255], a code equal to or one below the answer for every value
    /// in it (values beyond the ends fall into the first or last bucket).
    std::uint8_t bucket_code[kConversionBuckets];
    /// threshold[i] for i = 1..255 and +infinity at 256, so the one fix-up
    /// comparison after a bucket lookup never needs a bounds check.
    double fixup_threshold[257];
    double bucket_origin;
    double bucket_scale;
    /// Vector inverse: a value v maps to the fine position
    /// f = clamp(trunc((v - bucket_origin) * fine_scale), 0, kFineLast), which
    /// never decreases as v grows. Entry f >> kFineShift holds the code of the
    /// thresholds certainly below the bucket (low 8 bits) and, above them, the
    /// fine position of the next threshold: the answer is the code plus one
    /// when f lies beyond it, the code when before it, and needs the exact
    /// comparison only when f equals it (about once in 10^5 values).
    std::uint32_t bucket_entry[kConversionBuckets];
    double fine_scale;
    /// decode[] in single precision, for the 16-pixel rows.
    float decode_float[256];
    /// 1 when the fast inverse may be used (thresholds strictly increasing and
    /// no bucket spanning two of them); otherwise the plain search runs.
    int fast_inverse;
    /// The widest row path convert_row_bgrx may use: 2 for 16 pixels at a time
    /// in single precision (AVX-512), 1 for 4 pixels at a time in double
    /// precision (AVX2), 0 for the portable one. A test may lower it to run the
    /// narrower paths.
    int vector_rows;
    /// Where the BT.709 gamut ends for each matrix result (red, green, blue):
    /// the conversion's own sums for black (16, 16, 16) and for white (235,
    /// 235, 235). A pixel is out of gamut when a result lies below its low or
    /// above its high limit. Black sums to 0 exactly; white to 1 for green,
    /// 1 + 2^-52 for red and 1.0001 for blue (the matrix's rows sum to that),
    /// so white itself is never out of gamut.
    double gamut_low[3];
    double gamut_high[3];
    int built;
};

/// Fills the decode and threshold tables (and the fast-path tables).
void build_conversion_tables(ConversionTables& tables);

/// Converts one pixel's red, green and blue codes (0..255) in place.
void convert_pixel(const ConversionTables& tables, int& red, int& green, int& blue);

/// Converts `count` pixels stored as blue, green, red, X bytes in place, giving
/// exactly what convert_pixel gives for each; byte 3 of every pixel is not touched.
void convert_row_bgrx(const ConversionTables& tables, std::uint8_t* pixels, int count);

/// Converts one pixel as convert_pixel does and says whether it leaves the
/// BT.709 gamut: whether a matrix result lies outside the tables' gamut limits,
/// decided on the very sums the conversion inverts.
bool convert_pixel_marked(const ConversionTables& tables, int& red, int& green, int& blue);

/// Converts like convert_row_bgrx and marks the pixels that leave the gamut
/// (as convert_pixel_marked decides): bit i % 64 of marks[i / 64] is set for an
/// out-of-gamut pixel i and cleared for the others, and the rest of the last
/// word is cleared. `marks` holds (count + 63) / 64 words. With `paint`, the
/// marked pixels take that colour (0xRRGGBB) instead of their converted codes.
void convert_row_bgrx_marked(const ConversionTables& tables, std::uint8_t* pixels, int count,
                             std::uint64_t* marks, const std::uint32_t* paint = nullptr);

/// a * b + c evaluated in one statement, so that a compiler allowed to fuse it
/// into a multiply-add would round once instead of twice. Lets a test prove that
/// this file is compiled without floating-point contraction.
double conversion_contraction_probe(double a, double b, double c);
