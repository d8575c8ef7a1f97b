// Exact per-frame metrics of a pair of frames, on every stored sample: per
// colour the squared differences, the largest difference and the samples that
// differ, and the first pixel that differs. Frames of different bit depths are
// compared at the larger depth, the other's samples shifted left to it.
#pragma once

#include <atomic>
#include <cstdint>

#include "core/formats/format.h"

/// Colours compared: red, green, blue.
constexpr int kCompareChannels = 3;

/// What one colour's samples of a pair of frames say about their difference.
struct ChannelMetrics {
    /// Sum of the squared differences, exact.
    std::uint64_t squares = 0;
    /// Largest absolute difference.
    std::uint32_t max_diff = 0;
    /// Samples that differ.
    std::uint64_t differing = 0;
};

/// The metrics of a pair of frames, or of the rows of it compared so far.
struct FrameMetrics {
    std::int32_t width = 0;
    std::int32_t height = 0;
    /// Bits of each frame's samples, and the depth both were compared at.
    std::int32_t bits_a = 0;
    std::int32_t bits_b = 0;
    std::int32_t bits = 0;
    ChannelMetrics channel[kCompareChannels];
    /// Rows and pixels compared (the whole frame: height and width x height).
    std::int32_t rows = 0;
    std::int64_t pixels = 0;
    /// The first differing pixel in reading order (x from the left, y from the
    /// top) among the rows compared; -1, -1 when none differs.
    std::int32_t first_x = -1;
    std::int32_t first_y = -1;
};

/// Starts `m` for frames described by `a` and `b`: both depths, the common
/// one, no row compared yet. Returns -1 when the sizes differ (nothing to pair
/// pixel by pixel) or a depth is outside 1 .. 16.
int begin_metrics(const FrameInfo& a, const FrameInfo& b, FrameMetrics& m);

/// Adds one row pair (`pixels` red, green, blue triplets each, source row `y`
/// from the top) to `m`, each sample shifted to the common depth.
void add_row_pair(const std::uint16_t* a, const std::uint16_t* b, std::int32_t pixels,
                  std::int32_t y, FrameMetrics& m);

/// Adds what `part` counted (another share of the same pair's rows) to `into`.
void merge_metrics(FrameMetrics& into, const FrameMetrics& part);

/// True when every row was compared.
inline bool metrics_whole(const FrameMetrics& m) {
    return m.rows >= m.height && m.height > 0;
}

/// True when no compared sample differs.
bool metrics_identical(const FrameMetrics& m);

/// Mean squared difference of colour `c` over the pixels compared, at the common depth.
double metrics_mse(const FrameMetrics& m, int c);

/// Peak signal-to-noise ratio of colour `c` in dB, the peak 2^bits - 1 of the
/// common depth; +infinity when nothing differs.
double metrics_psnr(const FrameMetrics& m, int c);

/// What one thread needs to compare frames: a decode scratch per frame and one
/// row of stored samples of each.
struct CompareScratch {
    DecodeScratch a;
    DecodeScratch b;
    std::uint16_t* row_a = nullptr;
    std::uint16_t* row_b = nullptr;
};

/// Allocates the scratch; -1 when memory runs out (nothing is then held).
int alloc_compare_scratch(CompareScratch& scratch);
void release_compare_scratch(CompareScratch& scratch);

/// Compares rows first, first + step, ... (from the top) of two open frames of
/// one size, adding them to `m` (begun by begin_metrics). Stops early, between
/// rows, once `stop` is set; m.rows then says how far it got. Returns -1 when a
/// row cannot be read.
int compare_rows(const OpenFrame& a, const OpenFrame& b, std::int32_t first, std::int32_t step,
                 CompareScratch& scratch, FrameMetrics& m, const std::atomic<bool>* stop = nullptr);

/// Most threads compare_frames shares a frame among.
constexpr int kMaxCompareThreads = 64;

/// Compares every row of two open frames of one size on `threads` threads
/// (this one and threads - 1 started for the call; fewer when they cannot be
/// started), thread i with scratch[i]. Rows are handed out a few at a time from
/// the top, so both files are read front to back. Returns -1 when a row cannot
/// be read; `m` (begun by begin_metrics) then holds what was compared.
int compare_frames(const OpenFrame& a, const OpenFrame& b, int threads, CompareScratch* scratch,
                   FrameMetrics& m);
