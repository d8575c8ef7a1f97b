// Copying the bottom-up 32-bit display buffer into a top-down window image, the
// right way up: the one full-frame pass each paint makes. At 7680x4320 that is
// 132 MB per frame. Large pictures are written with streaming stores that bypass
// the caches (a normal store first reads every destination line into the cache,
// a third of the traffic), and by two threads: one core alone does not reach
// the memory bandwidth a copy of this size can have.
#pragma once

#include <cstddef>
#include <cstdint>

/// One flipped copy: the picture's rows land in `target` with the picture's top
/// row at (at_x, at_y), limited to the clip rectangle and to the target.
struct FlipCopy {
    /// Bottom-up display buffer, 4 bytes per pixel, rows `width` pixels apart.
    const std::uint8_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    /// Top-down 32-bit target image.
    std::uint8_t* target = nullptr;
    std::ptrdiff_t target_stride = 0;
    int target_width = 0;
    int target_height = 0;
    /// Where the picture's top-left pixel goes in the target.
    int at_x = 0;
    int at_y = 0;
    /// Only pixels inside this target rectangle are written.
    int clip_x = 0;
    int clip_y = 0;
    int clip_width = 0;
    int clip_height = 0;
};

/// Pictures of at least this many pixels are written with streaming stores;
/// below that (1/4 and 1/8 of a 3840x2160 frame) the difference is lost in noise.
constexpr std::int64_t kStreamFromPixels = std::int64_t{1} << 20;

/// Pictures of at least this many pixels (1920x1080 and up) are copied half by
/// the calling thread and half by the helper thread the frame readers share.
constexpr std::int64_t kShareFromPixels = std::int64_t{1920} * 1080;

/// Copies the picture as `copy` describes, every pixel made opaque (the readers
/// leave the fourth byte alone and a backing store may honour it), with
/// streaming stores when the copy has at least `stream_from_pixels` pixels and
/// on two threads when it has at least `share_from_pixels`. Returns the number
/// of target rows written.
int copy_rows_flipped(const FlipCopy& copy, std::int64_t stream_from_pixels = kStreamFromPixels,
                      std::int64_t share_from_pixels = kShareFromPixels);
