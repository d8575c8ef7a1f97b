// The pixel probe: the readers' row and column choice run backwards for one
// display pixel, and one small positional read per plane of the stored samples.
#include "core/probe.h"

#include <cstring>

#include "core/sequence.h"
#include "platform/platform.h"

namespace {

std::uint32_t big_endian_u32(const std::uint8_t* p) {
    return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
           (static_cast<std::uint32_t>(p[2]) << 8) | static_cast<std::uint32_t>(p[3]);
}

/// Reads `count` bytes at `offset` of the file at `path`; 0 when all came.
int read_exactly(const char* path, std::int64_t offset, std::uint8_t* out, std::size_t count) {
    const FileHandle file = file_open_read(path);
    if (file == kNoFile) return -1;
    const std::int64_t got = file_read_at(file, out, count, offset);
    file_close(file);
    return got == static_cast<std::int64_t>(count) ? 0 : -1;
}

int read_dpx_values(const char* path, const FrameStore& store, std::int32_t x, std::int32_t y,
                    SourceValues* out) {
    std::uint8_t header[780];
    if (read_exactly(path, 0, header, sizeof header) != 0) return -1;
    if (std::memcmp(header, "SDPX", 4) != 0) return -1;
    const std::uint32_t data_offset = big_endian_u32(header + 4);
    const std::uint32_t width = big_endian_u32(header + 772);
    const std::uint32_t height = big_endian_u32(header + 776);
    if (width != static_cast<std::uint32_t>(store.source_width) ||
        height != static_cast<std::uint32_t>(store.source_height) || data_offset >= 0x80000000u)
        return -1;
    std::uint8_t rgb[6];
    const std::int64_t at = data_offset + (static_cast<std::int64_t>(y) * width + x) * 6;
    if (read_exactly(path, at, rgb, sizeof rgb) != 0) return -1;
    out->red = static_cast<std::uint32_t>(rgb[0] << 8 | rgb[1]);
    out->green = static_cast<std::uint32_t>(rgb[2] << 8 | rgb[3]);
    out->blue = static_cast<std::uint32_t>(rgb[4] << 8 | rgb[5]);
    out->bits = 16;
    return 0;
}

int read_planar_values(const char* path, const FrameStore& store, std::int32_t x, std::int32_t y,
                       SourceValues* out) {
    char plane[kPathMax];
    const std::size_t length = strnlen(path, kPathMax);
    if (length < 4 || length >= static_cast<std::size_t>(kPathMax) || path[length - 3] != 'K')
        return -1;
    // The size tag says the frame's size; the file must still be the one shown.
    const char tag = path[length - 4];
    if ((tag == '4' && (store.source_width != 3840 || store.source_height != 2160)) ||
        (tag == '8' && (store.source_width != 7680 || store.source_height != 4320)))
        return -1;
    std::memcpy(plane, path, length + 1);
    const char last = plane[length - 1];
    const char* letters = (last >= 'A' && last <= 'Z') ? "RGB" : "rgb";
    const std::int64_t at = (static_cast<std::int64_t>(y) * store.source_width + x) * 2;
    std::uint32_t values[3];
    for (int p = 0; p < 3; ++p) {
        plane[length - 1] = letters[p];
        std::uint8_t sample[2];
        if (read_exactly(plane, at, sample, sizeof sample) != 0) return -1;
        values[p] = static_cast<std::uint32_t>((sample[0] << 8 | sample[1]) & 0x0FFF);
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
    if (store.shift < 0 || store.shift > 3 || store.source_width <= 0 || store.source_height <= 0)
        return -1;
    const std::int32_t f = 1 << store.shift;
    // As the readers choose: columns 0, f, 2f ... from the left, rows 0, f, 2f ...
    // from the bottom, as many as the display holds.
    const std::int32_t cols = (store.source_width - 1) / f + 1;
    const std::int32_t rows = (store.source_height - 1) / f + 1;
    const std::int32_t dw = display_width(store);
    const std::int32_t dh = display_height(store);
    const std::int32_t row_from_bottom = dh - 1 - display_y;
    if (display_x < 0 || display_x >= dw || display_x >= cols || row_from_bottom < 0 ||
        row_from_bottom >= dh || row_from_bottom >= rows)
        return -1;
    *source_x = display_x * f;
    *source_y = store.source_height - 1 - row_from_bottom * f;
    return 0;
}

int read_source_values(const char* path, std::int32_t source_format, const FrameStore& store,
                       std::int32_t x, std::int32_t y, SourceValues* out) {
    if (path == nullptr || out == nullptr || x < 0 || y < 0 || x >= store.source_width ||
        y >= store.source_height)
        return -1;
    if (source_format == kFormatDpx) return read_dpx_values(path, store, x, y, out);
    return read_planar_values(path, store, x, y, out);
}
