// Read-ahead of the next frame during playback.
#include "core/prefetch.h"

#include <cstring>

#include "core/readers.h"
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

std::int32_t prefetch_frame(const char* path, std::int32_t source_format, const FrameStore& store,
                            PrefetchExtent extent) {
    const std::int32_t width = store.source_width;
    const std::int32_t height = store.source_height;
    if (!path || width <= 0 || height <= 0) return -1;
    if (source_format == kFormatDpx)
        return hint_file(path, height, store.dpx_row_stride, store.shift, true, extent);

    // Planar: the three plane files, found as the reader finds them.
    char plane[kPathMax];
    const std::size_t length = strnlen(path, kPathMax);
    if (length == 0 || length >= static_cast<std::size_t>(kPathMax)) return -1;
    std::memcpy(plane, path, length + 1);
    const char* letters = planar_plane_letters(plane, length);
    std::int32_t runs = -1;
    for (int p = 0; p < 3; ++p) {
        plane[length - 1] = letters[p];
        const std::int32_t n =
            hint_file(plane, height, planar_row_bytes(width), store.shift, false, extent);
        if (n >= 0) runs = (runs < 0 ? 0 : runs) + n;
    }
    return runs;
}

void prefetch_next_frame(const Viewer& viewer) {
    const std::int32_t next = next_frame_index(viewer.seq, viewer.play);
    if (next < 0) return;
    char path[kPathMax];
    if (frame_path(viewer.seq, next, path) != 0) return;
    prefetch_frame(path, viewer.seq.source_format, viewer.store, kDefaultPrefetchExtent);
}
