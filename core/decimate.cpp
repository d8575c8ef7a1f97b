// Sharing a frame read between the calling thread and the helper thread.
#include "core/decimate.h"

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

int begin_frame(FrameJob& job, const FrameStore& store, const ConversionTables& tables,
                std::size_t bytes_per_row) {
    if (plan_frame(store, job.plan) != 0 || !store.row_buffer) return -1;
    job.simd = cpu_has_ssse3();
    job.tables = store.convert ? &tables : nullptr;
    job.parts = 1;
    job.buffers[0] = store.row_buffer;
    job.buffers[1] = nullptr;
    job.buffer_bytes = kRowBufferBytes;
    if (store.read_buffer) {
        if (share_frame(job.plan, bytes_per_row, store.convert != 0)) job.parts = 2;
        job.buffer_bytes = kReadBufferBytes / static_cast<std::size_t>(job.parts);
        job.buffers[0] = store.read_buffer;
        job.buffers[1] = store.read_buffer + job.buffer_bytes;
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
