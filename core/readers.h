// The window's two frame readers: a DPX file, or three 12-bit plane files, read
// into the display frame store through the format seam (core/formats/).
#pragma once

#include <cstdint>

#include "color/bt2020.h"
#include "core/formats/format.h"
#include "core/formats/planar.h"
#include "core/frame_store.h"
#include "core/read_failure.h"

/// Reads the frame at `path`, of format `format`, into the store's pixel
/// buffer at the current shift, converting when the store's flag is set. When
/// the frame's size differs from the source size it only records the new size
/// (setting size_recorded) and returns 0. `path` may be rewritten as the format
/// opens each of the frame's files (planar: left at the last plane opened).
/// Returns -1, saying why in *why when given, when the frame cannot be read.
int read_frame_into_store(const FrameFormat& format, char* path, FrameStore& store,
                          const ConversionTables& tables, ReadFailure* why = nullptr);

/// Reads the DPX frame at `path` into the store (see read_frame_into_store):
/// -1 when the file cannot be opened, is not a big-endian DPX, or has a size,
/// data offset or layout the viewer cannot show.
int read_dpx_frame(const char* path, FrameStore& store, const ConversionTables& tables,
                   ReadFailure* why = nullptr);

/// Reads the planar frame whose red, green or blue plane `path` names (the size
/// comes from the "4K"/"8K" tag before the one-letter extension). The last
/// character of `path` is replaced by each plane's letter in turn and is left at
/// the last plane opened. Records a new size and returns 0 like the DPX reader.
int read_planar_frame(char* path, FrameStore& store, const ConversionTables& tables,
                      ReadFailure* why = nullptr);

/// The store's pixel buffer as a decode target.
PixelTarget display_target(const FrameStore& store);
