// The two frame readers: DPX files and three 12-bit plane files.
#pragma once

#include <cstddef>
#include <cstdint>

#include "color/bt2020.h"
#include "core/frame_store.h"
#include "core/read_failure.h"

/// Reads the DPX frame at `path` into the store's pixel buffer at the current
/// shift, converting when the store's flag is set. When the file's size differs
/// from the source size it only records the new size and returns 0. Returns -1,
/// saying why in *why when given, when the file cannot be opened, is not a
/// big-endian DPX, or has a size, data offset or layout the viewer cannot show.
int read_dpx_frame(const char* path, FrameStore& store, const ConversionTables& tables,
                   ReadFailure* why = nullptr);

/// Reads the planar frame whose red, green or blue plane `path` names (the size
/// comes from the "4K"/"8K" tag before the one-letter extension). The last
/// character of `path` is replaced by each plane's letter in turn and is left at
/// the last plane opened. Records a new size and returns 0 like the DPX reader.
int read_planar_frame(char* path, FrameStore& store, const ConversionTables& tables,
                      ReadFailure* why = nullptr);

/// The letters of the red, green and blue planes of the frame whose plane
/// `path` (of `length` characters, at least 1) names: "RGB" when its last
/// letter is upper case, else "rgb".
const char* planar_plane_letters(const char* path, std::size_t length);

/// The source size a planar frame's name gives: "4K" 3840x2160, "8K" 7680x4320,
/// any other character before the K the store's current size. Returns -1 when
/// the name has no such tag (the third character from the end is not 'K').
int planar_frame_size(const char* path, std::size_t length, const FrameStore& store,
                      std::int32_t* width, std::int32_t* height);

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
