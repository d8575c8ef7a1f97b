// Fuzz target: the input bytes are a DPX file, read through the real reader at
// every shift with the conversion off and on. Checks that a refused file changes
// nothing, that a new size is recorded within the limits, that every display
// pixel is exactly what plain decimation of the file gives in its layout (black
// from the first pixel the file does not hold whole), and that no byte outside
// the buffers, nor byte 3 of any pixel, is written.
//
// Which layouts are accepted is the header parser's decision (checked against
// FFmpeg's and OpenImageIO's decoding by the reader tests); here the frame read
// around it is checked: rows, strides, vector and scalar row functions, short
// files. The seeds in corpus/dpx cover every layout and padded rows.
//
// Byte 8 of the input (inside the version string, which the reader ignores)
// steers the run: bit 0 takes the large read buffer away (row-by-row reads),
// bits 2..7 size a second display that does not match the frame, the case of a
// frame read with a source size the display was not allocated for.
#include <algorithm>

#include "core/formats/dpx_layout.h"
#include "core/readers.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

/// Frames larger than this are only size-checked: the target explores headers,
/// not 8K buffers.
constexpr std::int64_t kPixelPassLimit = 24576;

struct Header {
    bool acceptable = false;
    DpxHeader dpx{};
};

// What the reader accepts; and that what it accepts is within what it can read.
Header parse(const std::uint8_t* data, std::size_t size) {
    Header h;
    if (size < 780) return h;
    std::uint8_t bytes[kDpxHeaderBytes];
    std::memset(bytes, 0xFF, sizeof bytes);
    std::memcpy(bytes, data, std::min(size, sizeof bytes));
    h.acceptable = parse_dpx_header(bytes, static_cast<std::int64_t>(size), &h.dpx, nullptr) == 0;
    if (h.acceptable) {
        const DpxHeader& d = h.dpx;
        FUZZ_CHECK(std::memcmp(data, "SDPX", 4) == 0);
        FUZZ_CHECK(d.width >= 1 && d.width <= kMaxFrameWidth);
        FUZZ_CHECK(d.height >= 1 && d.height <= kMaxFrameHeight);
        FUZZ_CHECK(d.data_offset <= size);
        FUZZ_CHECK(d.row_bytes <= kRowBufferBytes && d.row_stride >= d.row_bytes);
    }
    return h;
}

// Bytes from a row's start to the end of the word (or sample) holding sample k.
std::uint64_t end_of_sample(DpxCoding coding, std::uint64_t k) {
    const int bits = dpx_coding_bits(coding);
    if (coding == kDpx10FilledA || coding == kDpx10FilledB) return (k / 3 + 1) * 4;
    if (coding == kDpx10Packed || coding == kDpx12Packed) return ((k + 1) * bits + 31) / 32 * 4;
    return (k + 1) * (bits == 8 ? 1 : 2);
}

// Every display pixel against plain decimation of the file: black where the file
// ends before a pixel's last sample.
void verify_pixels(const fuzz::GuardedStore& gs, const std::uint8_t* file, std::size_t size,
                   const Header& h) {
    const DpxHeader& d = h.dpx;
    const int drop = dpx_coding_bits(d.coding) - 8;
    fuzz::verify_display(
        gs.store, d.width, d.height, [&](std::int32_t row, std::int32_t col, std::uint8_t* bgr) {
            const std::uint64_t start =
                d.data_offset + static_cast<std::uint64_t>(row) * d.row_stride;
            const std::uint64_t first = static_cast<std::uint64_t>(col) * d.components;
            const bool held = start + end_of_sample(d.coding, first + d.components - 1) <= size;
            const std::uint8_t* src = file + start;
            bgr[0] = held ? dpx_sample_of(d.coding, src, first + d.blue) >> drop : 0;
            bgr[1] = held ? dpx_sample_of(d.coding, src, first + d.green) >> drop : 0;
            bgr[2] = held ? dpx_sample_of(d.coding, src, first + d.red) >> drop : 0;
        });
}

// One read of a frame of the display's own size (or, for the mismatch case, of
// a size the display was not made for); it must read the pixels.
void pixel_pass(fuzz::GuardedStore& gs, const std::string& path, const std::uint8_t* data,
                std::size_t size, const Header& h, int convert) {
    gs.store.source_width = h.dpx.width;
    gs.store.source_height = h.dpx.height;
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
            const std::int32_t start_w = (h.dpx.width == 1 && h.dpx.height == 1) ? 2 : 1;
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
            FUZZ_CHECK(gs.store.source_width == h.dpx.width &&
                       gs.store.source_height == h.dpx.height);
            FUZZ_CHECK(gs.store.size_recorded == 1);

            if (static_cast<std::int64_t>(h.dpx.width) * h.dpx.height > kPixelPassLimit) continue;
            gs.setup(h.dpx.width, h.dpx.height, shift, read_buffer);
            pixel_pass(gs, path, data, size, h, convert);

            if (steer & 0xFC) {
                const std::int32_t alt_w =
                    std::clamp(h.dpx.width + ((steer >> 4) & 15) - 8, 1, kMaxFrameWidth);
                const std::int32_t alt_h =
                    std::clamp(h.dpx.height + ((steer >> 2) & 3) - 2, 1, kMaxFrameHeight);
                gs.setup(alt_w, alt_h, shift, read_buffer);
                pixel_pass(gs, path, data, size, h, convert);
            }
        }
    }
    return 0;
}
