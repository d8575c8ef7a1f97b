// BT.2020 to BT.709 conversion of 8-bit video-range code values.
#pragma once

#include <cstdint>

/// The decode and threshold tables of the transfer curve, plus the derived
/// tables the fast per-pixel path uses. Built once, read-only afterwards.
struct ConversionTables {
    /// Linear light of code i (16 = black, 235 = white).
    double decode[256];
    /// Linear light half a code below i: the boundary between codes i - 1 and i.
    double threshold[256];
    /// Matrix products: coefficient times decode[i], one table per coefficient,
    /// so that the sums come out bit-identical to multiplying per pixel.
    double product[9][256];
    /// Fast inverse: for bucket k of the linear axis, the code the search starts from.
    std::uint8_t bucket_code[4096];
    double bucket_origin;
    double bucket_scale;
    int built;
};

/// Fills the decode and threshold tables (and the fast-path tables).
void build_conversion_tables(ConversionTables& tables);

/// Converts one pixel's red, green and blue codes (0..255) in place.
void convert_pixel(const ConversionTables& tables, int& red, int& green, int& blue);

/// Converts `count` pixels stored as blue, green, red, X bytes in place, giving
/// exactly what convert_pixel gives for each; byte 3 of every pixel is not touched.
void convert_row_bgrx(const ConversionTables& tables, std::uint8_t* pixels, int count);
