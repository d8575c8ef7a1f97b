// Read-ahead during playback: while the current frame is on screen, ask the
// system to start reading the file(s) of the frame the next timer tick loads, so
// that a sequence played from disk finds its next frame already on its way.
// A hint only: nothing shown, loaded or stepped changes.
#pragma once

#include <cstdint>

#include "core/loading.h"

/// How much of a frame's file the read-ahead asks for.
enum PrefetchExtent {
    /// Every byte of the file(s).
    kPrefetchWholeFile,
    /// The header page and only the rows the current shift reads.
    kPrefetchNeededRows,
};

/// The read-ahead extent prefetch_next_frame uses.
constexpr PrefetchExtent kDefaultPrefetchExtent = kPrefetchNeededRows;

/// Called with each run of bytes, (offset, length), a read of the frame needs.
using RangeVisitor = void (*)(void* context, std::int64_t offset, std::int64_t length);

/// Visits the byte runs of a file of `file_bytes` bytes whose last
/// `height` x `row_bytes` bytes are the picture rows (top row first) that a
/// read at `shift` uses: the bottom row, every (1 << shift)-th row above it,
/// height >> shift rows in all, neighbouring rows joined into one run. When the
/// file is too short to hold the rows, or the arguments make no sense, the whole
/// file is one run. Returns the number of runs visited.
std::int32_t needed_row_ranges(std::int64_t file_bytes, std::int32_t height, std::int64_t row_bytes,
                               std::int32_t shift, RangeVisitor visit, void* context);

/// Hints the frame at `path` (any plane's name for planar frames) for a read at
/// the store's source size and shift, with the row stride of the last frame
/// read (a DPX file whole before any). Returns the number of byte runs hinted, -1
/// when the file(s) could not be looked at.
std::int32_t prefetch_frame(const char* path, std::int32_t source_format, const FrameStore& store,
                            PrefetchExtent extent);

/// Hints the frame the next timer tick will load (nothing when the step is 0).
/// Hints of many row runs go to the helper thread when it is free, without
/// waiting for them. Changes nothing in the viewer.
void prefetch_next_frame(const Viewer& viewer, PrefetchExtent extent = kDefaultPrefetchExtent);
