// The marks a decode writes beside the picture, against marks computed plainly
// from the samples the test wrote: the range marks at the boundary codes of
// every bit depth, the gamut marks of the conversion, and the painted picture.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "core/dpx_test_files.h"
#include "core/formats/format.h"
#include "core/helper_thread.h"
#include "core/sequence.h"
#include "support/test_files.h"

namespace {

const ConversionTables& tables() {
    static const ConversionTables t = [] {
        ConversionTables built{};
        build_conversion_tables(built);
        return built;
    }();
    return t;
}

struct Frame {
    std::string path;
    std::int32_t format;
    int width, height, bits;
    /// Red, green, blue samples, top row first.
    std::vector<std::uint32_t> rgb;
};

/// Samples that sit on both sides of narrow black and white at `bits` bits (the
/// cases the top 8 bits alone cannot tell apart among them), mixed with others.
std::vector<std::uint32_t> boundary_samples(int w, int h, int bits) {
    const std::uint32_t black = 16u << (bits - 8), white = 235u << (bits - 8);
    const std::uint32_t top = (1u << bits) - 1;
    const std::uint32_t picks[] = {
        0,         black - 1, black,     black + 1, 512u << (bits - 8) >> 2,
        white - 1, white,     white + 1, top,       white - 1};
    std::vector<std::uint32_t> out;
    std::uint32_t x = 7u + static_cast<std::uint32_t>(bits);
    for (int i = 0; i < w * h * 3; ++i) {
        x = x * 1103515245u + 12345u;
        // Mostly in range, so that whole runs of unmarked pixels occur too.
        const std::uint32_t k = (x >> 16) % 24;
        out.push_back(k < 10 ? picks[k] : black + 1 + (x >> 8) % (white - black - 1));
    }
    return out;
}

Frame write_dpx(const TempDir& dir, int bits, int packing, int w, int h) {
    char name[32];
    std::snprintf(name, sizeof name, "f%d_%d.dpx", bits, packing);
    Frame f{dir.file(name), kFormatDpx, w, h, bits, boundary_samples(w, h, bits)};
    std::vector<std::uint8_t> data;
    for (int y = 0; y < h; ++y) {
        const std::vector<std::uint32_t> row(f.rgb.begin() + static_cast<long>(y) * w * 3,
                                             f.rgb.begin() + static_cast<long>(y + 1) * w * 3);
        const auto bytes = dpx_row(row, bits, packing);
        data.insert(data.end(), bytes.begin(), bytes.end());
    }
    EXPECT_EQ(write_file(f.path, layout_file(w, h, 50, bits, packing, data)), 0);
    return f;
}

Frame write_planar(const TempDir& dir, int w, int h) {
    Frame f{dir.file("p.xK.r"), kFormatPlanar, w, h, 12, boundary_samples(w, h, 12)};
    const std::vector<std::uint16_t> samples(f.rgb.begin(), f.rgb.end());
    EXPECT_EQ(write_planar_files(dir.file("p.xK."), w, h, samples.data()), 0);
    return f;
}

bool mark(const PixelMarks& marks, const std::uint64_t* plane, int c, int r) {
    return (plane[static_cast<std::size_t>(r) * marks.words_per_row + c / 64] >> (c % 64)) & 1;
}

}  // namespace

// Every layout at every shift, conversion off and on, marks painted and not:
// each display pixel's range mark is "a stored sample below 16 << (bits - 8) or
// above 235 << (bits - 8)", its gamut mark the conversion's own, and the picture
// is the plain decode with the marked pixels in their colours (range first).
TEST(Marks, DecodesMarkTheSamplesAndTheConversionSaysSo) {
    start_frame_helper();
    TempDir dir;
    // Planar frames take this size from their "xK" tag. Wide enough for whole words of marks and a
    // part word, and, converted at full size, for the rows to be shared with the helper thread.
    const int w = 333, h = 60;
    // 12-bit filled method A goes through the 16-bit rows' kernels.
    const Frame frames[] = {write_dpx(dir, 10, 1, w, h), write_dpx(dir, 10, 0, w, h),
                            write_dpx(dir, 12, 1, w, h), write_dpx(dir, 12, 0, w, h),
                            write_dpx(dir, 16, 0, w, h), write_dpx(dir, 8, 0, w, h),
                            write_planar(dir, w, h)};
    PixelMarks marks;
    ASSERT_EQ(alloc_marks(marks, w, h), 0);
    marks.gamut = marks.range = true;
    long range_marked = 0, gamut_marked = 0;
    for (const Frame& f : frames) {
        SCOPED_TRACE(f.path);
        OpenFrame frame;
        ASSERT_EQ(open_frame(f.format, f.path.c_str(), w, h, frame), 0);
        DecodeScratch scratch;
        ASSERT_EQ(alloc_scratch(scratch), 0);
        const std::uint32_t black = 16u << (f.bits - 8), white = 235u << (f.bits - 8);
        for (int shift = 0; shift <= 3; ++shift) {
            for (const bool convert : {false, true}) {
                for (const bool paint : {false, true}) {
                    SCOPED_TRACE("shift " + std::to_string(shift) + (convert ? " converted" : "") +
                                 (paint ? " painted" : ""));
                    const int dw = (w - 1) / (1 << shift) + 1, dh = (h - 1) / (1 << shift) + 1;
                    std::vector<std::uint8_t> picture(static_cast<std::size_t>(dw) * dh * 4, 0x5A);
                    marks.paint = paint;
                    DecodeSettings settings;
                    settings.shift = shift;
                    settings.tables = convert ? &tables() : nullptr;
                    settings.share_rows = true;
                    settings.marks = &marks;
                    const PixelTarget target{picture.data(), dw, dh,
                                             static_cast<std::size_t>(dw) * 4};
                    ASSERT_EQ(decode_frame(frame, settings, target, scratch), 0);
                    int wrong = 0;
                    for (int r = 0; r < dh && wrong < 5; ++r) {
                        for (int c = 0; c < dw && wrong < 5; ++c) {
                            const std::size_t at =
                                (static_cast<std::size_t>(h - 1 - (r << shift)) * w +
                                 (c << shift)) *
                                3;
                            bool out_of_range = false;
                            int v[3];
                            for (int k = 0; k < 3; ++k) {
                                const std::uint32_t s = f.rgb[at + k];
                                out_of_range = out_of_range || s < black || s > white;
                                v[k] = static_cast<int>(s >> (f.bits - 8));
                            }
                            const bool out_of_gamut =
                                convert && convert_pixel_marked(tables(), v[0], v[1], v[2]);
                            std::uint32_t want =
                                static_cast<std::uint32_t>(v[0] << 16 | v[1] << 8 | v[2]);
                            if (paint && out_of_range)
                                want = kRangeMarkColour;
                            else if (paint && out_of_gamut)
                                want = kGamutMarkColour;
                            const std::uint8_t* px =
                                &picture[(static_cast<std::size_t>(r) * dw + c) * 4];
                            const std::uint32_t got =
                                static_cast<std::uint32_t>(px[2] << 16 | px[1] << 8 | px[0]);
                            const bool range_mark = mark(marks, marks.range_bits, c, r);
                            const bool gamut_mark = convert && mark(marks, marks.gamut_bits, c, r);
                            if (got != want || px[3] != 0x5A || range_mark != out_of_range ||
                                gamut_mark != out_of_gamut) {
                                ++wrong;
                                ADD_FAILURE() << "pixel " << c << "," << r << std::hex << " got "
                                              << got << " want " << want << std::dec << " range "
                                              << range_mark << "/" << out_of_range << " gamut "
                                              << gamut_mark << "/" << out_of_gamut;
                            }
                            range_marked += out_of_range;
                            gamut_marked += out_of_gamut;
                        }
                    }
                    // The words past the last column are cleared, so counts never
                    // take stale marks.
                    const std::int64_t counted = count_marks(marks, marks.range_bits, dw, dh);
                    std::int64_t plain = 0;
                    for (int r = 0; r < dh; ++r)
                        for (int c = 0; c < dw; ++c) plain += mark(marks, marks.range_bits, c, r);
                    EXPECT_EQ(counted, plain);
                }
            }
        }
        release_scratch(scratch);
    }
    // Both answers occurred, on both kinds of marks.
    EXPECT_GT(range_marked, 1000);
    EXPECT_GT(gamut_marked, 1000);
    release_marks(marks);
}
