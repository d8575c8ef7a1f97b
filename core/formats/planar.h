// The planar RGB format: three headerless files per frame, NAME.4K.r, .g and
// .b (or .8K.), each holding 12-bit samples in big-endian 16-bit words, top row
// first; the size comes from the "4K"/"8K" tag of the name.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/formats/format.h"

/// The planar entry of the format table.
extern const FrameFormat kPlanarFormat;

/// The letters of the red, green and blue planes of the frame whose plane
/// `path` (of `length` characters, at least 1) names: "RGB" when its last
/// letter is upper case, else "rgb".
const char* planar_plane_letters(const char* path, std::size_t length);

/// The source size a planar frame's name gives: "4K" 3840x2160, "8K" 7680x4320,
/// any other character before the K the current size. Returns -1 when the name
/// has no such tag (the third character from the end is not 'K').
int planar_frame_size(const char* path, std::size_t length, std::int32_t current_width,
                      std::int32_t current_height, std::int32_t* width, std::int32_t* height);

/// Bytes of one sample of a plane file, and of one row.
constexpr std::int64_t kPlanarSampleBytes = 2;
inline std::int64_t planar_row_bytes(std::int32_t width) {
    return width * kPlanarSampleBytes;
}

/// The stored value of the plane sample at `s`: 12 bits in the low bits of a
/// big-endian 16-bit word; the top four bits are not part of it.
inline std::uint32_t planar_sample(const std::uint8_t* s) {
    return ((static_cast<std::uint32_t>(s[0]) << 8) | s[1]) & 0xFFF;
}
