// Sharing a frame's rows between the calling thread and the helper thread.
#include "core/formats/row_sharing.h"

namespace {

/// Whether a frame is worth sharing with the helper: waking it costs some
/// microseconds, so small reads without conversion stay on one thread.
bool share_frame(const FramePlan& plan, std::size_t bytes_per_row, bool convert) {
    if (!g_share_frames) return false;
    const std::size_t bytes = static_cast<std::size_t>(plan.rows_out) * bytes_per_row;
    const std::size_t pixels = static_cast<std::size_t>(plan.rows_out) * plan.cols_out;
    return bytes >= (std::size_t{1} << 20) || (convert && pixels >= 16384);
}

}  // namespace

int begin_frame(FrameJob& job, std::int32_t width, std::int32_t height,
                const DecodeSettings& settings, const PixelTarget& target,
                const DecodeScratch& scratch, std::size_t bytes_per_row) {
    if (plan_frame(width, height, settings.shift, target, job.plan) != 0 || !scratch.row) return -1;
    job.simd = cpu_has_ssse3();
    job.avx2 = cpu_has_avx2();
    job.tables = settings.tables;
    job.marks = nullptr;
    job.mark_gamut = job.mark_range = job.paint = false;
    if (settings.marks && (settings.marks->gamut || settings.marks->range)) {
        const PixelMarks& marks = *settings.marks;
        if (!marks_fit(marks, job.plan.cols_out, job.plan.rows_out)) return -1;
        job.marks = &marks;
        job.mark_gamut = marks.gamut && settings.tables != nullptr;
        job.mark_range = marks.range;
        job.paint = marks.paint;
    }
    job.parts = 1;
    job.buffers[0] = scratch.row;
    job.buffers[1] = nullptr;
    job.buffer_bytes = kRowBufferBytes;
    if (scratch.read) {
        if (settings.share_rows && share_frame(job.plan, bytes_per_row, settings.tables != nullptr))
            job.parts = 2;
        job.buffer_bytes = kReadBufferBytes / static_cast<std::size_t>(job.parts);
        job.buffers[0] = scratch.read;
        job.buffers[1] = scratch.read + job.buffer_bytes;
    }
    job.next.store(0, std::memory_order_relaxed);
    return 0;
}

void run_frame(const FrameJob& job, void (*part)(void*, int), void* context) {
    if (job.parts == 2)
        run_two_parts(part, context);
    else
        part(context, 0);
}
