// Pictures composed from two sequences' displays for the front ends to show as
// they are: a wipe (A left of a column, B from it on), A and B side by side,
// and the difference of the two frames' stored samples made visible.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/formats/format.h"

/// A picture in the display's layout: width x height pixels of 4 bytes (blue,
/// green, red, unused), row 0 the bottom line, rows width * 4 bytes apart.
struct Picture {
    std::uint8_t* pixels = nullptr;
    std::int32_t width = 0;
    std::int32_t height = 0;
};

/// Bytes of a picture's pixels.
inline std::size_t picture_bytes(const Picture& p) {
    return p.width > 0 && p.height > 0
               ? static_cast<std::size_t>(p.width) * static_cast<std::size_t>(p.height) * 4
               : 0;
}

/// A wipe of `a` and `b` (one size) into `out` (the same size): columns left
/// of `split` from a, the rest from b. Returns -1 when the sizes differ.
int compose_wipe(const Picture& a, const Picture& b, std::int32_t split, Picture& out);

/// Moves the split of a wipe already in `out` from column `from` to `to`,
/// copying only the columns between them.
int move_wipe(const Picture& a, const Picture& b, std::int32_t from, std::int32_t to, Picture& out);

/// `a` and `b` (one size) next to each other into `out`, twice as wide: a on
/// the left. Returns -1 when the sizes do not fit.
int compose_side_by_side(const Picture& a, const Picture& b, Picture& out);

/// Largest gain of the difference picture.
constexpr std::int32_t kMaxDifferenceGain = 256;

/// How the difference of two frames is shown: |A - B| or A - B around mid-grey
/// (128), each colour on its own, the difference at the frames' common depth
/// taken to 8 bits as the display takes samples (their top 8 bits), times `gain`.
struct DifferenceStyle {
    std::int32_t gain = 1;
    bool signed_around_grey = false;
};

/// One display row of stored samples per frame, for compose_difference.
struct DifferenceScratch {
    DecodeScratch* a = nullptr;
    DecodeScratch* b = nullptr;
    std::uint16_t* row_a = nullptr;
    std::uint16_t* row_b = nullptr;
};

/// The 8-bit value one colour's difference shows as: `a` and `b` at depth
/// `bits` (already shifted to it).
std::uint8_t difference_value(std::uint32_t a, std::uint32_t b, std::int32_t bits,
                              const DifferenceStyle& style);

/// Writes the difference picture of two open frames of one size into `out` at
/// `shift`, each display pixel from the source pixel the display shows there
/// (see decode_frame), computed on the stored samples. Rows the files do not
/// hold count as 0. Returns -1 when the frames differ in size, `out` is larger
/// than the frame decimates to, or a row cannot be read.
int compose_difference(const OpenFrame& a, const OpenFrame& b, std::int32_t shift,
                       const DifferenceStyle& style, DifferenceScratch& scratch, Picture& out);
