// Fuzz target: the input bytes are a DPX file, read through the real reader at
// every shift with the conversion off and on. Checks that a refused file changes
// nothing, that a new size is recorded within the limits, that every display
// pixel is exactly what plain decimation of the file gives (black where the file
// ends early), and that no byte outside the buffers, nor byte 3 of any pixel, is
// written.
//
// Byte 8 of the input (inside the version string, which the reader ignores)
// steers the run: bit 0 takes the large read buffer away (row-by-row reads),
// bits 2..7 size a second display that does not match the frame, the case of a
// frame read with a source size the display was not allocated for.
#include <algorithm>

#include "core/readers.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

/// Frames larger than this are only size-checked: the target explores headers,
/// not 8K buffers.
constexpr std::int64_t kPixelPassLimit = 24576;

std::uint32_t be32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           std::uint32_t{p[3]};
}

struct Header {
    bool acceptable = false;
    std::uint32_t data_offset = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
};

// What the viewer must accept: a big-endian DPX long enough to hold the size
// fields, 1..7680 x 1..4320, with its pixels starting inside the file.
Header parse(const std::uint8_t* data, std::size_t size) {
    Header h;
    if (size < 780 || std::memcmp(data, "SDPX", 4) != 0) return h;
    h.data_offset = be32(data + 4);
    h.width = static_cast<std::int32_t>(be32(data + 772));
    h.height = static_cast<std::int32_t>(be32(data + 776));
    h.acceptable = h.width >= 1 && h.width <= kMaxFrameWidth && h.height >= 1 &&
                   h.height <= kMaxFrameHeight && h.data_offset <= size;
    return h;
}

// Every display pixel against plain decimation of the file: display row d shows
// the source row d*f from the bottom, column c the source column c*f; pixels the
// source does not reach keep what they held.
void verify_pixels(const fuzz::GuardedStore& gs, const std::uint8_t* file, std::size_t size,
                   const Header& h) {
    const FrameStore& store = gs.store;
    const std::int32_t f = 1 << store.shift;
    const std::int32_t dw = display_width(store), dh = display_height(store);
    const std::int32_t cols_out = std::min((h.width - 1) / f + 1, dw);
    const std::int32_t rows_out = std::min((h.height - 1) / f + 1, dh);
    for (std::int32_t d = 0; d < dh; ++d) {
        for (std::int32_t c = 0; c < dw; ++c) {
            const std::size_t at = (static_cast<std::size_t>(d) * dw + c) * 4;
            const std::uint8_t* px = store.pixels + at;
            if (d < rows_out && c < cols_out) {
                const std::uint64_t row = static_cast<std::uint64_t>(h.height - 1 - d * f);
                const std::uint64_t o = h.data_offset + (row * static_cast<std::uint64_t>(h.width) +
                                                         static_cast<std::uint64_t>(c) * f) *
                                                            6;
                std::uint8_t want[4] = {0, 0, 0, 0};
                if (o + 6 <= size) {
                    want[0] = file[o + 4];
                    want[1] = file[o + 2];
                    want[2] = file[o];
                }
                if (store.convert) convert_row_bgrx(fuzz::tables(), want, 1);
                FUZZ_CHECK(px[0] == want[0] && px[1] == want[1] && px[2] == want[2]);
            } else {
                for (int k = 0; k < 3; ++k) FUZZ_CHECK(px[k] == fuzz::fill_byte(at + k));
            }
            FUZZ_CHECK(px[3] == fuzz::fill_byte(at + 3));
        }
    }
}

// One read of a frame of the display's own size (or, for the mismatch case, of
// a size the display was not made for); it must read the pixels.
void pixel_pass(fuzz::GuardedStore& gs, const std::string& path, const std::uint8_t* data,
                std::size_t size, const Header& h, int convert) {
    gs.store.source_width = h.width;
    gs.store.source_height = h.height;
    gs.store.convert = convert;
    gs.store.size_recorded = 1;
    fuzz::fill_display(gs.store.pixels, gs.display_bytes());
    const BitmapInfo before = gs.store.bitmap;
    FUZZ_CHECK(read_dpx_frame(path.c_str(), gs.store, fuzz::tables()) == 0);
    FUZZ_CHECK(gs.store.size_recorded == 0);
    FUZZ_CHECK(std::memcmp(&before, &gs.store.bitmap, sizeof before) == 0);
    FUZZ_CHECK(gs.intact());
    verify_pixels(gs, data, size, h);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = fuzz::scratch_file("frame.dpx");
    fuzz::write_bytes(path, data, size);
    const Header h = parse(data, size);
    const std::uint8_t steer = size > 8 ? data[8] : 0;
    const bool read_buffer = (steer & 1) == 0;

    fuzz::GuardedStore gs;
    for (int shift = 0; shift <= 3; ++shift) {
        for (int convert = 0; convert <= 1; ++convert) {
            // The size check: start from a size the file does not have.
            const std::int32_t start_w = (h.width == 1 && h.height == 1) ? 2 : 1;
            gs.setup(start_w, 1, shift, read_buffer);
            gs.store.convert = convert;
            fuzz::fill_display(gs.store.pixels, gs.display_bytes());
            const BitmapInfo before = gs.store.bitmap;
            const int result = read_dpx_frame(path.c_str(), gs.store, fuzz::tables());
            FUZZ_CHECK(gs.intact());
            FUZZ_CHECK(std::memcmp(&before, &gs.store.bitmap, sizeof before) == 0);
            for (std::size_t i = 0; i < gs.display_bytes(); ++i)
                FUZZ_CHECK(gs.store.pixels[i] == fuzz::fill_byte(i));
            if (!h.acceptable) {
                FUZZ_CHECK(result == -1);
                FUZZ_CHECK(gs.store.source_width == start_w && gs.store.source_height == 1);
                FUZZ_CHECK(gs.store.size_recorded == 0);
                continue;
            }
            FUZZ_CHECK(result == 0);
            FUZZ_CHECK(gs.store.source_width == h.width && gs.store.source_height == h.height);
            FUZZ_CHECK(gs.store.size_recorded == 1);

            if (static_cast<std::int64_t>(h.width) * h.height > kPixelPassLimit) continue;
            gs.setup(h.width, h.height, shift, read_buffer);
            pixel_pass(gs, path, data, size, h, convert);

            if (steer & 0xFC) {
                const std::int32_t alt_w =
                    std::clamp(h.width + ((steer >> 4) & 15) - 8, 1, kMaxFrameWidth);
                const std::int32_t alt_h =
                    std::clamp(h.height + ((steer >> 2) & 3) - 2, 1, kMaxFrameHeight);
                gs.setup(alt_w, alt_h, shift, read_buffer);
                pixel_pass(gs, path, data, size, h, convert);
            }
        }
    }
    return 0;
}
