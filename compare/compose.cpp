// Composed pictures: whole rows copied from either display, or the difference
// of the stored samples worked out display row by display row.
#include "compare/compose.h"

#include <algorithm>
#include <cstring>

namespace {

bool same_size(const Picture& a, const Picture& b) {
    return a.pixels && b.pixels && a.width == b.width && a.height == b.height && a.width > 0 &&
           a.height > 0;
}

/// Copies columns [from, to) of every row of `source` into `out` (one size).
void copy_columns(const Picture& source, std::int32_t from, std::int32_t to, Picture& out) {
    from = std::clamp(from, 0, out.width);
    to = std::clamp(to, 0, out.width);
    if (to <= from) return;
    const std::size_t stride = static_cast<std::size_t>(out.width) * 4;
    const std::size_t at = static_cast<std::size_t>(from) * 4;
    const std::size_t bytes = static_cast<std::size_t>(to - from) * 4;
    for (std::int32_t r = 0; r < out.height; ++r)
        std::memcpy(out.pixels + r * stride + at, source.pixels + r * stride + at, bytes);
}

}  // namespace

int compose_wipe(const Picture& a, const Picture& b, std::int32_t split, Picture& out) {
    if (!same_size(a, b) || !same_size(a, out)) return -1;
    copy_columns(a, 0, split, out);
    copy_columns(b, split, out.width, out);
    return 0;
}

int move_wipe(const Picture& a, const Picture& b, std::int32_t from, std::int32_t to,
              Picture& out) {
    if (!same_size(a, b) || !same_size(a, out)) return -1;
    // Moving right, the columns passed over now show A; moving left, B.
    if (to > from)
        copy_columns(a, from, to, out);
    else
        copy_columns(b, to, from, out);
    return 0;
}

int compose_side_by_side(const Picture& a, const Picture& b, Picture& out) {
    if (!same_size(a, b) || !out.pixels || out.width != 2 * a.width || out.height != a.height)
        return -1;
    const std::size_t half = static_cast<std::size_t>(a.width) * 4;
    for (std::int32_t r = 0; r < out.height; ++r) {
        std::uint8_t* row = out.pixels + r * 2 * half;
        std::memcpy(row, a.pixels + r * half, half);
        std::memcpy(row + half, b.pixels + r * half, half);
    }
    return 0;
}

std::uint8_t difference_value(std::uint32_t a, std::uint32_t b, std::int32_t bits,
                              const DifferenceStyle& style) {
    const std::uint32_t size = a > b ? a - b : b - a;
    // Taken to 8 bits as a sample is shown: its top 8 bits.
    std::uint64_t scaled =
        static_cast<std::uint64_t>(size) * static_cast<std::uint32_t>(style.gain);
    scaled = bits >= 8 ? scaled >> (bits - 8) : scaled << (8 - bits);
    if (!style.signed_around_grey)
        return static_cast<std::uint8_t>(std::min<std::uint64_t>(scaled, 255));
    // Equal steps either side of grey, so that +d and -d look alike but for the sign.
    const std::uint64_t half = std::min<std::uint64_t>(scaled, 128);
    return static_cast<std::uint8_t>(a >= b ? std::min<std::uint64_t>(128 + half, 255)
                                            : 128 - half);
}

int compose_difference(const OpenFrame& a, const OpenFrame& b, std::int32_t shift,
                       const DifferenceStyle& style, DifferenceScratch& scratch, Picture& out) {
    if (!out.pixels || out.width <= 0 || out.height <= 0 || shift < 0 || shift > 3) return -1;
    if (!scratch.a || !scratch.b || !scratch.row_a || !scratch.row_b) return -1;
    const FrameInfo& ia = a.info;
    if (ia.width != b.info.width || ia.height != b.info.height) return -1;
    if (ia.bits < 1 || ia.bits > 16 || b.info.bits < 1 || b.info.bits > 16) return -1;
    const std::int32_t f = 1 << shift;
    // The decode's choice of pixels: columns 0, f, 2f, ... and rows at multiples
    // of f from the bottom row.
    if (out.width > (ia.width - 1) / f + 1 || out.height > (ia.height - 1) / f + 1) return -1;
    const std::int32_t bits = std::max(ia.bits, b.info.bits);
    const std::int32_t shift_a = bits - ia.bits;
    const std::int32_t shift_b = bits - b.info.bits;
    const std::size_t stride = static_cast<std::size_t>((ia.width - 1) / f + 1) * 3;
    for (std::int32_t r = 0; r < out.height; ++r) {
        const std::int32_t y = ia.height - 1 - r * f;
        if (read_sample_rows(a, y, 1, shift, scratch.row_a, stride, *scratch.a) != 0 ||
            read_sample_rows(b, y, 1, shift, scratch.row_b, stride, *scratch.b) != 0)
            return -1;
        std::uint8_t* pixel = out.pixels + static_cast<std::size_t>(r) * out.width * 4;
        for (std::int32_t x = 0; x < out.width; ++x, pixel += 4) {
            const std::uint16_t* p = scratch.row_a + 3 * static_cast<std::size_t>(x);
            const std::uint16_t* q = scratch.row_b + 3 * static_cast<std::size_t>(x);
            // Stored red, green, blue; the picture holds blue, green, red.
            for (int c = 0; c < 3; ++c)
                pixel[2 - c] =
                    difference_value(static_cast<std::uint32_t>(p[c]) << shift_a,
                                     static_cast<std::uint32_t>(q[c]) << shift_b, bits, style);
        }
    }
    return 0;
}
