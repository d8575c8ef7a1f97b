#include "core/formats/format.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "core/dpx_test_files.h"
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

/// A frame the test wrote, with the samples it holds (red, green, blue at `bits`).
struct Written {
    std::string path;
    std::int32_t format;
    int width, height, bits;
    std::vector<std::uint32_t> rgb;
};

/// What a decode at `shift` must show, computed plainly: display pixel (c, r), r
/// from the bottom, is source pixel (c << shift, height - 1 - (r << shift)), the
/// top 8 bits of each sample, converted pixel by pixel when asked.
std::vector<std::uint8_t> plain_decode(const Written& w, int shift, bool convert) {
    const int dw = w.width >> shift, dh = w.height >> shift;
    std::vector<std::uint8_t> out(static_cast<std::size_t>(dw) * dh * 4, 0);
    for (int r = 0; r < dh; ++r)
        for (int c = 0; c < dw; ++c) {
            const std::size_t at =
                (static_cast<std::size_t>(w.height - 1 - (r << shift)) * w.width + (c << shift)) *
                3;
            int red = static_cast<int>(w.rgb[at] >> (w.bits - 8));
            int green = static_cast<int>(w.rgb[at + 1] >> (w.bits - 8));
            int blue = static_cast<int>(w.rgb[at + 2] >> (w.bits - 8));
            if (convert) convert_pixel(tables(), red, green, blue);
            std::uint8_t* px = &out[(static_cast<std::size_t>(r) * dw + c) * 4];
            px[0] = static_cast<std::uint8_t>(blue);
            px[1] = static_cast<std::uint8_t>(green);
            px[2] = static_cast<std::uint8_t>(red);
        }
    return out;
}

Written write_dpx10(const TempDir& dir, const std::string& name, int w, int h, int seed) {
    const auto pattern = test_pattern(w, h, seed);
    Written f{dir.file(name), kFormatDpx, w, h, 10, {}};
    for (std::uint16_t s : pattern) f.rgb.push_back(s >> 6);
    EXPECT_EQ(write_file(f.path, dpx10_file(w, h, f.rgb)), 0);
    return f;
}

Written write_planar(const TempDir& dir, const std::string& base, int w, int h, int seed) {
    const auto pattern = test_pattern(w, h, seed);
    Written f{dir.file(base + "g"), kFormatPlanar, w, h, 12, {}};
    for (std::uint16_t s : pattern) f.rgb.push_back(s & 0xFFF);
    EXPECT_EQ(write_planar_files(dir.file(base), w, h, pattern.data()), 0);
    return f;
}

}  // namespace

// Two threads decode frames of two sequences (10-bit DPX and planar) at every
// shift, conversion off and on, rows shared with the helper thread or not (the
// frames are large enough to be shared at full size with conversion), each
// with its own scratch and picture, and compare every pixel, the stored samples
// of a row and one probed pixel with the plain decode above.
TEST(FormatSeam, TwoThreadsDecodeTwoSequencesAtOnceAsOneThreadWould) {
    start_frame_helper();
    TempDir dir;
    const std::vector<Written> frames[2] = {
        {write_dpx10(dir, "a_0.dpx", 161, 121, 1), write_dpx10(dir, "a_1.dpx", 161, 121, 2)},
        {write_planar(dir, "b_0.2K.", 149, 113, 3), write_planar(dir, "b_1.2K.", 149, 113, 4)},
    };
    // Every picture either thread may be asked for, computed before they start.
    std::vector<std::uint8_t> expected[2][2][4][2];
    for (int s = 0; s < 2; ++s)
        for (int f = 0; f < 2; ++f)
            for (int shift = 0; shift < 4; ++shift)
                for (int convert = 0; convert < 2; ++convert)
                    expected[s][f][shift][convert] = plain_decode(frames[s][f], shift, convert);

    std::atomic<int> wrong{0};
    auto worker = [&](int s) {
        DecodeScratch scratch;
        if (alloc_scratch(scratch) != 0) {
            ++wrong;
            return;
        }
        std::vector<std::uint16_t> samples;
        for (int i = 0; i < 160; ++i) {
            const Written& w = frames[s][i % 2];
            const int shift = (i / 2) % 4;
            const bool convert = (i / 8) % 2 == 1;
            OpenFrame frame;
            if (open_frame(w.format, w.path.c_str(), w.width, w.height, frame) != 0) {
                ++wrong;
                continue;
            }
            const std::vector<std::uint8_t>& want = expected[s][i % 2][shift][convert];
            std::vector<std::uint8_t> pixels(want.size() + 64, 0);
            PixelTarget target{pixels.data(), w.width >> shift, w.height >> shift,
                               static_cast<std::size_t>(w.width >> shift) * 4};
            DecodeSettings settings{shift, convert ? &tables() : nullptr, (i / 16) % 2 == 1};
            if (decode_frame(frame, settings, target, scratch) != 0 ||
                std::memcmp(pixels.data(), want.data(), want.size()) != 0)
                ++wrong;
            // The stored samples of source row 3, every (1 << shift)-th pixel.
            const int pixels_in_row = ((w.width - 1) >> shift) + 1;
            samples.assign(static_cast<std::size_t>(pixels_in_row) * 3, 0xFFFF);
            if (read_sample_rows(frame, 3, 1, shift, samples.data(), samples.size(), scratch) != 0)
                ++wrong;
            for (int c = 0; c < pixels_in_row; ++c)
                for (int k = 0; k < 3; ++k)
                    if (samples[3 * c + k] != w.rgb[(3 * w.width + (c << shift)) * 3 + k]) ++wrong;
            SourceValues v{};
            const std::size_t at = (static_cast<std::size_t>(5) * w.width + i % w.width) * 3;
            if (read_source_pixel(frame, i % w.width, 5, &v) != 0 || v.red != w.rgb[at] ||
                v.green != w.rgb[at + 1] || v.blue != w.rgb[at + 2] || v.bits != w.bits)
                ++wrong;
        }
        release_scratch(scratch);
    };
    std::thread first(worker, 0);
    std::thread second(worker, 1);
    first.join();
    second.join();
    EXPECT_EQ(wrong.load(), 0);
}

// What the header says, read without pixels, and the checks every consumer's
// call passes before the format's own code.
TEST(FormatSeam, HeaderAloneAndCallsOutsideTheFrameAreRefused) {
    TempDir dir;
    const Written dpx = write_dpx10(dir, "h.dpx", 9, 4, 5);
    FrameInfo info;
    ASSERT_EQ(read_frame_info(kFormatDpx, dpx.path.c_str(), 1, 1, info), 0);
    EXPECT_EQ(info.width, 9);
    EXPECT_EQ(info.height, 4);
    EXPECT_EQ(info.bits, 10);
    EXPECT_EQ(info.row_bytes, 4 * 9);  // three 10-bit samples a word
    EXPECT_TRUE(info.header.present);
    EXPECT_EQ(info.file_bytes[0], static_cast<std::int64_t>(kDpxDataOffset) + 4 * 9 * 4);

    // A planar name without a size tag says nothing of itself.
    ReadFailure why = kReadOk;
    EXPECT_EQ(read_frame_info(kFormatPlanar, dir.file("x.r").c_str(), 8, 8, info, &why), -1);
    EXPECT_EQ(why, kFailPlanarName);
    EXPECT_EQ(frame_format(7), nullptr);

    OpenFrame frame;
    ASSERT_EQ(open_frame(kFormatDpx, dpx.path.c_str(), 0, 0, frame), 0);
    DecodeScratch scratch;
    ASSERT_EQ(alloc_scratch(scratch), 0);
    std::uint16_t samples[9 * 3];
    SourceValues v{};
    EXPECT_EQ(read_sample_rows(frame, 3, 2, 0, samples, 27, scratch), -1);  // past the bottom
    EXPECT_EQ(read_sample_rows(frame, 0, 1, 0, samples, 26, scratch), -1);  // row too short
    EXPECT_EQ(read_source_pixel(frame, 9, 0, &v), -1);
    PixelTarget none{nullptr, 9, 4, 36};
    EXPECT_EQ(decode_frame(frame, DecodeSettings{}, none, scratch), -1);
    release_scratch(scratch);
}
