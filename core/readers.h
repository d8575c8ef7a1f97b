// The two frame readers: 16-bit RGB DPX files and three 12-bit plane files.
#pragma once

#include "color/bt2020.h"
#include "core/frame_store.h"

/// Reads the DPX frame at `path` into the store's pixel buffer at the current
/// shift, converting when the store's flag is set. When the file's size differs
/// from the source size it only records the new size and returns 0. Returns -1
/// when the file cannot be opened, is not a big-endian DPX, or has a size or data
/// offset outside what the viewer handles.
int read_dpx_frame(const char* path, FrameStore& store, const ConversionTables& tables);

/// Reads the planar frame whose red, green or blue plane `path` names (the size
/// comes from the "4K"/"8K" tag before the one-letter extension). The last
/// character of `path` is replaced by each plane's letter in turn and is left at
/// the last plane opened. Records a new size and returns 0 like the DPX reader.
int read_planar_frame(char* path, FrameStore& store, const ConversionTables& tables);
