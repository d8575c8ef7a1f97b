// Fuzz target: the input becomes three plane files of a planar frame and a choice
// of name, read through the real reader at every shift with the conversion off
// and on. Checks that names without a usable tag and missing planes are refused
// without touching the store, that 4K/8K tags record their size before any plane
// is opened, that every display pixel is what plain decimation of the three
// planes gives (black where any plane ends early), and that nothing outside the
// buffers, nor byte 3 of any pixel, is written.
//
// Input layout: byte 0 picks the name (bits 0..2), drops the read buffer (bit 5)
// and picks the plane letter of the chosen name (bits 6..7); bytes 1..2 give the
// width (1..8192; above 7680 the store is set to a size no reader may accept),
// byte 3 the height (1..64, bit 7 adds a display of another size); bytes 4..7
// split the rest into the red, green and blue planes.
#include <algorithm>

#include "core/readers.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

constexpr std::int64_t kPixelPassLimit = 24576;

enum NameKind {
    kTag4K,      // records 3840x2160
    kTag8K,      // records 7680x4320
    kTag2K,      // keeps the current size
    kTagOther,   // "xK": keeps the current size as well
    kTagLowerK,  // "2k": no tag, refused
    kTooShort,   // "K.r": too short to hold a tag, refused
    kMissing,    // "2K" with one plane file missing
    kUpperCase,  // "2K" with upper-case plane letters
};

struct Planes {
    const std::uint8_t* data[3];
    std::size_t length[3];
};

inline std::uint8_t sample8(const std::uint8_t* s) {
    return static_cast<std::uint8_t>(((s[0] << 4) & 0xFF) | (s[1] >> 4));
}

void verify_pixels(const fuzz::GuardedStore& gs, const Planes& planes, std::int32_t width,
                   std::int32_t height) {
    const FrameStore& store = gs.store;
    const std::int32_t f = 1 << store.shift;
    const std::int32_t dw = display_width(store), dh = display_height(store);
    const std::int32_t cols_out = std::min((width - 1) / f + 1, dw);
    const std::int32_t rows_out = std::min((height - 1) / f + 1, dh);
    const std::size_t held = std::min({planes.length[0], planes.length[1], planes.length[2]});
    for (std::int32_t d = 0; d < dh; ++d) {
        for (std::int32_t c = 0; c < dw; ++c) {
            const std::size_t at = (static_cast<std::size_t>(d) * dw + c) * 4;
            const std::uint8_t* px = store.pixels + at;
            if (d < rows_out && c < cols_out) {
                const std::size_t row = static_cast<std::size_t>(height - 1 - d * f);
                const std::size_t o =
                    (row * static_cast<std::size_t>(width) + static_cast<std::size_t>(c) * f) * 2;
                std::uint8_t want[4] = {0, 0, 0, 0};
                if (o + 2 <= held) {
                    want[0] = sample8(planes.data[2] + o);
                    want[1] = sample8(planes.data[1] + o);
                    want[2] = sample8(planes.data[0] + o);
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

// Nothing of the store may change: size, flag, header and every pixel.
void check_untouched(const fuzz::GuardedStore& gs, std::int32_t width, std::int32_t height,
                     const BitmapInfo& before) {
    FUZZ_CHECK(gs.intact());
    FUZZ_CHECK(gs.store.source_width == width && gs.store.source_height == height);
    FUZZ_CHECK(std::memcmp(&before, &gs.store.bitmap, sizeof before) == 0);
    for (std::size_t i = 0; i < gs.display_bytes(); ++i)
        FUZZ_CHECK(gs.store.pixels[i] == fuzz::fill_byte(i));
}

std::uint16_t u16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 8) return 0;
    const auto kind = static_cast<NameKind>(data[0] & 7);
    const bool read_buffer = (data[0] & 0x20) == 0;
    const int chosen_plane = (data[0] >> 6) % 3;
    std::int32_t width = 1 + (data[1] | (data[2] & 0x1F) << 8);
    std::int32_t height = 1 + (data[3] & 63);
    const bool other_display = (data[3] & 0x80) != 0;
    // Keep the pixel pass small: a wide frame gets few rows.
    if (static_cast<std::int64_t>(width) * height > kPixelPassLimit)
        height = std::max<std::int32_t>(1, static_cast<std::int32_t>(kPixelPassLimit / width));

    Planes planes;
    const std::uint8_t* rest = data + 8;
    const std::size_t rest_size = size - 8;
    planes.length[0] = u16(data + 4) % (rest_size + 1);
    planes.length[1] = u16(data + 6) % (rest_size - planes.length[0] + 1);
    planes.length[2] = rest_size - planes.length[0] - planes.length[1];
    planes.data[0] = rest;
    planes.data[1] = rest + planes.length[0];
    planes.data[2] = planes.data[1] + planes.length[1];

    const char* stem = "clip.2K.";
    if (kind == kTag4K) stem = "clip.4K.";
    if (kind == kTag8K) stem = "clip.8K.";
    if (kind == kTagOther) stem = "clip.xK.";
    if (kind == kTagLowerK) stem = "clip.2k.";
    const char* letters = kind == kUpperCase ? "RGB" : "rgb";
    // Lower- and upper-case planes of earlier inputs stay behind on a
    // case-sensitive file system: remove both, then write this input's.
    const std::string base = fuzz::scratch_file(stem);
    for (const char* set : {"rgb", "RGB"})
        for (int p = 0; p < 3; ++p) std::remove((base + set[p]).c_str());
    const int missing = kind == kMissing ? (data[0] >> 3) % 3 : -1;
    for (int p = 0; p < 3; ++p)
        if (p != missing) fuzz::write_bytes(base + letters[p], planes.data[p], planes.length[p]);

    const std::string chosen =
        kind == kTooShort ? std::string("K.r") : base + letters[chosen_plane];

    fuzz::GuardedStore gs;
    for (int shift = 0; shift <= 3; ++shift) {
        for (int convert = 0; convert <= 1; ++convert) {
            char path[kPathMax];
            std::snprintf(path, sizeof path, "%s", chosen.c_str());

            if (kind == kTag4K || kind == kTag8K) {
                gs.setup(16, 8, shift, read_buffer);
                gs.store.convert = convert;
                fuzz::fill_display(gs.store.pixels, gs.display_bytes());
                const BitmapInfo before = gs.store.bitmap;
                FUZZ_CHECK(read_planar_frame(path, gs.store, fuzz::tables()) == 0);
                FUZZ_CHECK(gs.store.size_recorded == 1);
                FUZZ_CHECK(chosen == path);  // no plane was opened
                const std::int32_t w = kind == kTag4K ? 3840 : 7680;
                check_untouched(gs, w, w * 9 / 16, before);
                continue;
            }

            // The store holds the frame's size already, or (above 7680 wide) a
            // size no display can be made for, set behind the reader's back.
            const bool oversize = width > kMaxFrameWidth;
            gs.setup(oversize ? 16 : width, oversize ? 8 : height, shift, read_buffer);
            gs.store.source_width = width;
            gs.store.source_height = height;
            gs.store.convert = convert;
            gs.store.size_recorded = 1;
            fuzz::fill_display(gs.store.pixels, gs.display_bytes());
            const BitmapInfo before = gs.store.bitmap;
            const int result = read_planar_frame(path, gs.store, fuzz::tables());
            if (kind == kTagLowerK || kind == kTooShort || kind == kMissing || oversize) {
                FUZZ_CHECK(result == -1);
                FUZZ_CHECK(gs.store.size_recorded == 1);
                check_untouched(gs, width, height, before);
                if (kind == kMissing) FUZZ_CHECK(path[chosen.size() - 1] == letters[missing]);
                if (kind == kTagLowerK || kind == kTooShort) FUZZ_CHECK(chosen == path);
                continue;
            }
            FUZZ_CHECK(result == 0);
            FUZZ_CHECK(gs.store.size_recorded == 0);
            FUZZ_CHECK(path[chosen.size() - 1] == letters[2]);
            FUZZ_CHECK(std::memcmp(&before, &gs.store.bitmap, sizeof before) == 0);
            FUZZ_CHECK(gs.intact());
            verify_pixels(gs, planes, width, height);

            if (other_display) {
                // A display allocated for another size than the frame is read with.
                const std::int32_t alt_w =
                    std::clamp(width + (data[2] >> 5) - 4, 1, kMaxFrameWidth);
                const std::int32_t alt_h = std::max(1, height + ((data[3] >> 6) & 1) * 3 - 2);
                gs.setup(alt_w, alt_h, shift, read_buffer);
                gs.store.source_width = width;
                gs.store.source_height = height;
                gs.store.convert = convert;
                fuzz::fill_display(gs.store.pixels, gs.display_bytes());
                std::snprintf(path, sizeof path, "%s", chosen.c_str());
                FUZZ_CHECK(read_planar_frame(path, gs.store, fuzz::tables()) == 0);
                FUZZ_CHECK(gs.intact());
                verify_pixels(gs, planes, width, height);
            }
        }
    }
    return 0;
}
