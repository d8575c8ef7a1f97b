// The pixel probe: the readers' row plan maps display to source, and the readers'
// own header parsing and sample decoding give the stored values.
#include "core/probe.h"

#include <cstring>

#include "core/decimate.h"
#include "core/dpx_layout.h"
#include "core/readers.h"
#include "core/sequence.h"

namespace {

// Sample values of DPX pixel (x, y), read from the whole groups of samples
// (dpx_group) that hold them.
int read_dpx_values(const char* path, const FrameStore& store, std::int32_t x, std::int32_t y,
                    SourceValues* out) {
    const FileHandle file = file_open_read(path);
    if (file == kNoFile) return -1;
    DpxHeader h;
    int result = -1;
    if (read_dpx_header(file, &h, nullptr) == 0 && h.width == store.source_width &&
        h.height == store.source_height) {
        const std::size_t first = static_cast<std::size_t>(x) * h.components;
        const DpxGroup group = dpx_group(h.coding);
        const auto group_samples = static_cast<std::size_t>(group.samples);
        const auto group_bytes = static_cast<std::size_t>(group.bytes);
        const std::size_t base = first / group_samples * group_samples;
        const std::size_t begin = base / group_samples * group_bytes;
        const std::size_t end_samples = first + static_cast<std::size_t>(h.components);
        std::size_t end = (end_samples + group_samples - 1) / group_samples * group_bytes;
        if (end > h.row_bytes) end = h.row_bytes;
        std::uint8_t bytes[64];
        const std::int64_t at = h.data_offset + static_cast<std::int64_t>(y) * h.row_stride + begin;
        if (end - begin <= sizeof bytes &&
            file_read_at(file, bytes, end - begin, at) == static_cast<std::int64_t>(end - begin)) {
            const std::size_t k = first - base;
            out->red = dpx_sample_of(h.coding, bytes, k + h.red);
            out->green = dpx_sample_of(h.coding, bytes, k + h.green);
            out->blue = dpx_sample_of(h.coding, bytes, k + h.blue);
            out->bits = dpx_coding_bits(h.coding);
            result = 0;
        }
    }
    file_close(file);
    return result;
}

// Sample values of planar pixel (x, y): one sample from each plane file.
int read_planar_values(const char* path, const FrameStore& store, std::int32_t x, std::int32_t y,
                       SourceValues* out) {
    const std::size_t length = strnlen(path, kPathMax);
    std::int32_t width = 0, height = 0;
    if (length == 0 || length >= static_cast<std::size_t>(kPathMax) ||
        planar_frame_size(path, length, store, &width, &height) != 0 ||
        width != store.source_width || height != store.source_height)
        return -1;
    char plane[kPathMax];
    std::memcpy(plane, path, length + 1);
    const char* letters = planar_plane_letters(plane, length);
    const std::int64_t at = y * planar_row_bytes(width) + x * kPlanarSampleBytes;
    std::uint32_t values[3];
    for (int p = 0; p < 3; ++p) {
        plane[length - 1] = letters[p];
        const FileHandle file = file_open_read(plane);
        if (file == kNoFile) return -1;
        std::uint8_t sample[kPlanarSampleBytes];
        const std::int64_t got = file_read_at(file, sample, sizeof sample, at);
        file_close(file);
        if (got != static_cast<std::int64_t>(sizeof sample)) return -1;
        values[p] = planar_sample(sample);
    }
    out->red = values[0];
    out->green = values[1];
    out->blue = values[2];
    out->bits = 12;
    return 0;
}

}  // namespace

int display_to_source(const FrameStore& store, std::int32_t display_x, std::int32_t display_y,
                      std::int32_t* source_x, std::int32_t* source_y) {
    FramePlan plan;
    if (plan_frame(store, plan) != 0) return -1;
    // The pixel buffer is bottom-up: display row 0 is the bottom line.
    const std::int32_t row = display_height(store) - 1 - display_y;
    if (display_x < 0 || display_x >= plan.cols_out || row < 0 || row >= plan.rows_out) return -1;
    *source_x = source_column(plan, display_x);
    *source_y = source_row_from_top(plan, row);
    return 0;
}

int read_source_values(const char* path, std::int32_t source_format, const FrameStore& store,
                       std::int32_t x, std::int32_t y, SourceValues* out) {
    if (!path || !out || x < 0 || y < 0 || x >= store.source_width || y >= store.source_height)
        return -1;
    if (source_format == kFormatDpx) return read_dpx_values(path, store, x, y, out);
    return read_planar_values(path, store, x, y, out);
}
