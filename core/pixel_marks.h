// Pixels a decode marks beside the picture it writes: those the conversion
// takes out of the BT.709 gamut, and those with a stored sample below nominal
// black or above nominal white of narrow-range video. One bit per display
// pixel in a plane per kind; painted in a warning colour and counted here.
#pragma once

#include <cstddef>
#include <cstdint>

/// The warning colours, 0xRRGGBB: magenta for pixels out of gamut, cyan for
/// samples out of narrow range. A pixel marked both ways shows cyan.
constexpr std::uint32_t kGamutMarkColour = 0xFF00FF;
constexpr std::uint32_t kRangeMarkColour = 0x00FFFF;

/// What a decode marks and where. Bit c % 64 of word r * words_per_row + c / 64
/// of a plane is display pixel c of display row r (counted from the bottom, as
/// the picture's rows); a decode writes every word of the rows it writes.
struct PixelMarks {
    /// Mark the pixels out of the BT.709 gamut after the conversion (a decode
    /// that does not convert writes no gamut marks).
    bool gamut = false;
    /// Mark the pixels with a stored sample below 16 << (bits - 8) or above
    /// 235 << (bits - 8), at the frame's own bit depth.
    bool range = false;
    /// Paint the marked pixels in their warning colour as the rows are made;
    /// otherwise the picture is written as it would be without marks.
    bool paint = false;
    std::uint64_t* gamut_bits = nullptr;
    std::uint64_t* range_bits = nullptr;
    /// Words from one row of a plane to the next, and rows a plane holds.
    std::size_t words_per_row = 0;
    std::int32_t rows = 0;
};

/// Narrow-range black and white at `bits` bits per sample (8..16).
constexpr std::uint32_t narrow_black(int bits) {
    return 16u << (bits - 8);
}
constexpr std::uint32_t narrow_white(int bits) {
    return 235u << (bits - 8);
}

/// Allocates both planes, zeroed, for pictures up to width x height. Returns 0,
/// or -1 with nothing allocated.
int alloc_marks(PixelMarks& marks, std::int32_t width, std::int32_t height);
void release_marks(PixelMarks& marks);

/// Whether the planes hold a width x height picture's marks.
bool marks_fit(const PixelMarks& marks, std::int32_t width, std::int32_t height);

/// Paints `count` pixels of one BGRX row: those marked in `range` (may be null)
/// in the range colour, the other ones marked in `gamut` (may be null) in the
/// gamut colour. Byte 3 of every pixel is left as it is.
void paint_marked_row(std::uint8_t* pixels, std::int32_t count, const std::uint64_t* gamut,
                      const std::uint64_t* range);

/// Paints a bottom-up width x height BGRX picture (rows width * 4 bytes apart)
/// from the planes, the gamut plane only when `gamut`, the range plane only
/// when `range`.
void paint_marks(const PixelMarks& marks, bool gamut, bool range, std::uint8_t* pixels,
                 std::int32_t width, std::int32_t height);

/// Marked pixels of a width x height picture in one plane (null: 0).
std::int64_t count_marks(const PixelMarks& marks, const std::uint64_t* plane, std::int32_t width,
                         std::int32_t height);
