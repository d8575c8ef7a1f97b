// Row and column selection shared by the DPX and planar readers: which source
// rows a decimated frame uses, where each lands in the bottom-up pixel buffer,
// and how reads of several rows at once are grouped. Private to core/.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "color/bt2020.h"
#include "core/frame_store.h"

/// What one frame read writes: the source size, the shift, and the display rows
/// and columns that both exist in the pixel buffer and have a source sample.
struct FramePlan {
    std::int32_t width;
    std::int32_t height;
    std::int32_t shift;
    /// Display rows 0 .. rows_out - 1 and columns 0 .. cols_out - 1 are written.
    std::int32_t rows_out;
    std::int32_t cols_out;
    std::uint8_t* pixels;
    /// Bytes from one display row to the next.
    std::size_t display_stride;
};

/// Fills `plan` from the store. Returns -1 when there is no pixel buffer to write
/// or the shift is outside 0..3.
inline int plan_frame(const FrameStore& store, FramePlan& plan) {
    if (!store.pixels || store.shift < 0 || store.shift > 3) return -1;
    if (store.source_width <= 0 || store.source_height <= 0) return -1;
    const std::int32_t dw = display_width(store) > 0 ? display_width(store) : 0;
    const std::int32_t dh = display_height(store) > 0 ? display_height(store) : 0;
    const std::int32_t f = 1 << store.shift;
    // Sampled columns are 0, f, 2f, ... < width; sampled rows (from the bottom)
    // likewise. When a size is not a multiple of f there is one sample more than
    // the display holds: it is left out. A display larger than the source
    // decimates to keeps its extra pixels as they were.
    const std::int32_t cols = (store.source_width - 1) / f + 1;
    const std::int32_t rows = (store.source_height - 1) / f + 1;
    plan.width = store.source_width;
    plan.height = store.source_height;
    plan.shift = store.shift;
    plan.cols_out = cols < dw ? cols : dw;
    plan.rows_out = rows < dh ? rows : dh;
    plan.pixels = store.pixels;
    plan.display_stride = static_cast<std::size_t>(dw) * 4;
    return 0;
}

/// Splits a frame's used rows into spans and hands them out. `read_span(buffer,
/// top, count)` must read `count` consecutive source rows starting at row `top`
/// (counted from the top of the picture) into `buffer`; then `emit_row(buffer,
/// row_in_span, display_row)` turns buffered row `row_in_span` into display row
/// `display_row`. Spans are claimed from `next` in file order, so one walker or
/// two on different threads (each with its own buffer) read the file front to back.
///
/// With `read_through` a span covers every source row between its first and last
/// used row, so up to `span_capacity` rows come in one read even though only
/// every f-th is used; without it each used row is read on its own and skipped
/// rows are never read. At full size both are the same: every row is used.
template <class ReadSpan, class EmitRow>
void walk_rows(const FramePlan& plan, std::int32_t span_capacity, bool read_through,
               std::atomic<std::int32_t>& next, std::uint8_t* buffer, ReadSpan&& read_span,
               EmitRow&& emit_row) {
    const std::int32_t f = 1 << plan.shift;
    if (span_capacity < 1) span_capacity = 1;
    const std::int32_t per_span = read_through ? (span_capacity - 1) / f + 1 : 1;
    // Display row d shows the source row d * f from the bottom, which is row
    // height - 1 - d * f from the top; the top display row comes first in the file.
    for (;;) {
        const std::int32_t k = next.fetch_add(1, std::memory_order_relaxed);
        const std::int32_t d = plan.rows_out - 1 - k * per_span;
        if (k >= (plan.rows_out + per_span - 1) / per_span || d < 0) return;
        const std::int32_t n = d + 1 < per_span ? d + 1 : per_span;
        const std::int32_t top = plan.height - 1 - d * f;
        read_span(buffer, top, (n - 1) * f + 1);
        for (std::int32_t i = 0; i < n; ++i) emit_row(buffer, i * f, d - i);
    }
}

/// Starts the helper thread the readers share frames with, once per process (no
/// effect on a single-core machine or when no thread can be started).
void start_frame_helper();

/// Runs task(context, 0) on the calling thread and task(context, 1) on the helper
/// thread at the same time and returns when both are done; without a helper both
/// run here in turn.
void run_two_parts(void (*task)(void*, int), void* context);

/// 1 (the default) lets the readers share frames with the helper thread; 0 keeps
/// every frame on the calling thread (the benchmark measures both).
extern int g_share_frames;

/// Whether a frame is worth sharing with the helper: waking it costs some
/// microseconds, so small reads without conversion stay on one thread.
inline bool share_frame(const FramePlan& plan, std::size_t bytes_per_row, bool convert) {
    if (!g_share_frames) return false;
    const std::size_t bytes = static_cast<std::size_t>(plan.rows_out) * bytes_per_row;
    const std::size_t pixels = static_cast<std::size_t>(plan.rows_out) * plan.cols_out;
    return bytes >= (std::size_t{1} << 20) || (convert && pixels >= 16384);
}

/// Display row `row` of the plan's pixel buffer.
inline std::uint8_t* display_row(const FramePlan& plan, std::int32_t row) {
    return plan.pixels + static_cast<std::size_t>(row) * plan.display_stride;
}

/// Blanks what a short read left unfilled: bytes [held, wanted) of `buffer`, so a
/// frame whose file ends early (truncated, or still being written) shows black
/// there instead of whatever an earlier row or frame left in the buffer.
inline void blank_missing(std::uint8_t* buffer, std::int64_t held, std::size_t wanted) {
    if (held < 0) held = 0;
    if (static_cast<std::size_t>(held) < wanted)
        std::memset(buffer + held, 0, wanted - static_cast<std::size_t>(held));
}

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define KARVELIN_X86_KERNELS 1
#include <immintrin.h>
#define KARVELIN_SSSE3 __attribute__((target("ssse3")))
#else
#define KARVELIN_X86_KERNELS 0
#endif

/// True when the SSSE3 row kernels may run on this processor.
inline bool cpu_has_ssse3() {
#if KARVELIN_X86_KERNELS
    static const bool has = __builtin_cpu_supports("ssse3");
    return has;
#else
    return false;
#endif
}
