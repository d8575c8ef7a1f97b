// The pixel probe: which source pixel a display pixel shows, and the sample
// values the file stores for it.
#pragma once

#include <cstdint>

#include "core/formats/format.h"
#include "core/frame_store.h"

/// The source pixel the readers sampled for display pixel (display_x from the
/// left, display_y from the TOP of the picture). Writes source x (from the left)
/// and y (from the top of the source frame) and returns 0; -1 when the display
/// pixel is outside the written picture.
int display_to_source(const FrameStore& store, std::int32_t display_x, std::int32_t display_y,
                      std::int32_t* source_x, std::int32_t* source_y);

/// Reads the stored values of source pixel (x, y) (y from the top) of the frame at
/// `path` (any plane's name for a planar frame) with small positional reads.
/// Returns -1 when the file(s) cannot be opened, no longer have the store's
/// source size, hold a layout the reader refuses, or end before that pixel.
/// Never touches the store.
int read_source_values(const char* path, std::int32_t source_format, const FrameStore& store,
                       std::int32_t x, std::int32_t y, SourceValues* out);
