// Read-ahead of the next frame during playback.
#include "core/prefetch.h"

#include <cstddef>
#include <cstring>

#include "core/formats/format.h"
#include "core/helper_thread.h"
#include "platform/platform.h"

namespace {

/// The reader's first read: the magic, offsets and sizes at the start of a DPX file.
constexpr std::int64_t kHeaderBytes = 4096;

void hint_range(void* context, std::int64_t offset, std::int64_t length) {
    file_prefetch_open(*static_cast<const FileHandle*>(context), offset, length);
}

// Hints one file whose last `height` rows of `row_bytes` are the picture.
// Returns the runs hinted, or -1 when the file cannot be opened.
std::int32_t hint_file(const char* path, std::int32_t height, std::int64_t row_bytes,
                       std::int32_t shift, bool with_header, PrefetchExtent extent) {
    FileHandle file = file_open_read(path);
    if (file == kNoFile) return -1;
    const std::int64_t size = file_size(file);
    std::int32_t runs = 0;
    if (size > 0) {
        if (extent == kPrefetchWholeFile || shift == 0) {
            file_prefetch_open(file, 0, size);
            runs = 1;
        } else {
            if (with_header) {
                file_prefetch_open(file, 0, size < kHeaderBytes ? size : kHeaderBytes);
                ++runs;
            }
            runs += needed_row_ranges(size, height, row_bytes, shift, hint_range, &file);
        }
    }
    file_close(file);
    return runs;
}

}  // namespace

std::int32_t needed_row_ranges(std::int64_t file_bytes, std::int32_t height, std::int64_t row_bytes,
                               std::int32_t shift, RangeVisitor visit, void* context) {
    if (file_bytes <= 0) return 0;
    // Picture rows are taken to end where the file ends (no trailing data), which
    // needs no header read: the hint must not itself wait for the disk.
    if (height <= 0 || row_bytes <= 0 || shift < 0 || shift > 3 ||
        row_bytes > file_bytes / height) {
        visit(context, 0, file_bytes);
        return 1;
    }
    const std::int64_t start = file_bytes - static_cast<std::int64_t>(height) * row_bytes;
    const std::int32_t f = 1 << shift;
    const std::int32_t rows = height >> shift;
    std::int32_t runs = 0;
    // Display row d is source row height - 1 - d * f from the top; walking d
    // downwards visits the file front to back. At full size every row is used
    // and the rows join into one run.
    std::int64_t run_offset = -1;
    std::int64_t run_length = 0;
    for (std::int32_t d = rows - 1; d >= 0; --d) {
        const std::int64_t offset =
            start + static_cast<std::int64_t>(height - 1 - d * f) * row_bytes;
        if (run_offset >= 0 && run_offset + run_length == offset) {
            run_length += row_bytes;
            continue;
        }
        if (run_offset >= 0) {
            visit(context, run_offset, run_length);
            ++runs;
        }
        run_offset = offset;
        run_length = row_bytes;
    }
    if (run_offset >= 0) {
        visit(context, run_offset, run_length);
        ++runs;
    }
    return runs;
}

namespace {

/// Everything a hint needs, copied, so that it can run on the helper thread
/// while the viewer goes on.
struct PrefetchJob {
    std::int32_t source_format;
    std::int32_t width;
    std::int32_t height;
    std::int32_t shift;
    std::int64_t row_stride;
    PrefetchExtent extent;
    char path[kPathMax];
};

static_assert(sizeof(PrefetchJob) <= kBackgroundBytes, "a hint's data fits the helper");

std::int32_t prefetch(const PrefetchJob& job) {
    if (job.width <= 0 || job.height <= 0) return -1;
    const FrameFormat* format = frame_format(job.source_format);
    ReadAheadFile files[kMaxFrameFiles];
    const ReadAheadShape shape{job.width, job.height, job.row_stride};
    const int count = format ? format->read_ahead_files(job.path, shape, files) : -1;
    // -1 only when no file of the frame could be looked at.
    std::int32_t runs = -1;
    for (int i = 0; i < count; ++i) {
        const std::int32_t n = hint_file(files[i].path, job.height, files[i].row_bytes, job.shift,
                                         files[i].header, job.extent);
        if (n >= 0) runs = (runs < 0 ? 0 : runs) + n;
    }
    return runs;
}

void prefetch_in_background(void* job) {
    prefetch(*static_cast<const PrefetchJob*>(job));
}

/// Fills `job` for the frame at `path`; -1 when the path does not fit.
int make_job(const char* path, std::int32_t source_format, const FrameStore& store,
             PrefetchExtent extent, PrefetchJob& job) {
    if (!path) return -1;
    const std::size_t length = strnlen(path, kPathMax);
    if (length >= static_cast<std::size_t>(kPathMax)) return -1;
    std::memcpy(job.path, path, length + 1);
    job.source_format = source_format;
    job.width = store.source_width;
    job.height = store.source_height;
    job.shift = store.shift;
    job.row_stride = store.row_stride;
    job.extent = extent;
    return 0;
}

}  // namespace

std::int32_t prefetch_frame(const char* path, std::int32_t source_format, const FrameStore& store,
                            PrefetchExtent extent) {
    PrefetchJob job;
    if (make_job(path, source_format, store, extent, job) != 0) return -1;
    return prefetch(job);
}

void prefetch_next_frame(const Viewer& viewer, PrefetchExtent extent) {
    const std::int32_t next = next_frame_index(viewer.seq, viewer.play);
    if (next < 0) return;
    char path[kPathMax];
    PrefetchJob job;
    if (frame_path(viewer.seq, next, path) != 0) return;
    if (make_job(path, viewer.seq.source_format, viewer.store, extent, job) != 0) return;
    // Below full size a hint is a system call per run of rows (540 at 1/4 of a 4K
    // frame): 0.1-0.9 ms from the page cache and some milliseconds from a disk,
    // which the window's thread need not wait for. Posting it to the helper, idle
    // between frames, costs about 0.05 ms. A whole file is one call, made here:
    // from a disk, playing at full size back to back, it was measured 20-35% slower
    // when the helper made it, the next frame's read starting beside it on one
    // thread. The path is copied as far as its NUL.
    if (job.shift == 0 || extent == kPrefetchWholeFile) {
        prefetch(job);
        return;
    }
    const std::size_t bytes = offsetof(PrefetchJob, path) + std::strlen(job.path) + 1;
    if (!run_in_background(prefetch_in_background, &job, bytes)) prefetch(job);
}
