// The composed pictures against what each pixel must show, worked out plainly
// from the two pictures or from the samples the test wrote.
#include "compare/compose.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "compare/metrics.h"
#include "core/sequence.h"
#include "support/test_files.h"

namespace {

/// A picture whose every byte says where it is and which picture it belongs to.
std::vector<std::uint8_t> marked(int w, int h, int which) {
    std::vector<std::uint8_t> p(static_cast<std::size_t>(w) * h * 4);
    for (std::size_t i = 0; i < p.size(); ++i)
        p[i] = static_cast<std::uint8_t>(i * 7 + which * 101);
    return p;
}

Picture picture(std::vector<std::uint8_t>& pixels, int w, int h) {
    Picture p;
    p.pixels = pixels.data();
    p.width = w;
    p.height = h;
    return p;
}

}  // namespace

TEST(Compose, WipeMovesAndSideBySideShowEachPixelFromItsPicture) {
    const int w = 13, h = 5;
    auto pa = marked(w, h, 1), pb = marked(w, h, 2);
    std::vector<std::uint8_t> po(pa.size(), 0);
    const Picture a = picture(pa, w, h), b = picture(pb, w, h);
    Picture out = picture(po, w, h);
    ASSERT_EQ(compose_wipe(a, b, 4, out), 0);
    // Moved right then left, only the columns passed over are copied: the
    // result must be the wipe at the last split whatever came before.
    int last = 4;
    for (int split : {9, 2, 13, 0, 6}) {
        ASSERT_EQ(move_wipe(a, b, last, split, out), 0);
        last = split;
        for (int r = 0; r < h; ++r)
            for (int x = 0; x < w; ++x) {
                const std::size_t at = (static_cast<std::size_t>(r) * w + x) * 4;
                const auto& want = x < split ? pa : pb;
                ASSERT_TRUE(std::equal(po.begin() + at, po.begin() + at + 4, want.begin() + at))
                    << "split " << split << " pixel " << x << "," << r;
            }
    }
    std::vector<std::uint8_t> wide(pa.size() * 2, 0);
    Picture both = picture(wide, 2 * w, h);
    ASSERT_EQ(compose_side_by_side(a, b, both), 0);
    for (int r = 0; r < h; ++r)
        for (int x = 0; x < 2 * w; ++x) {
            const auto& want = x < w ? pa : pb;
            const std::size_t from = (static_cast<std::size_t>(r) * w + x % w) * 4;
            const std::size_t at = (static_cast<std::size_t>(r) * 2 * w + x) * 4;
            ASSERT_TRUE(std::equal(wide.begin() + at, wide.begin() + at + 4, want.begin() + from));
        }
    Picture narrow = picture(po, w, h);
    EXPECT_EQ(compose_side_by_side(a, b, narrow), -1);
    Picture other = picture(pb, w - 1, h);
    EXPECT_EQ(compose_wipe(a, other, 3, out), -1);
}

// The difference picture at 1/2 size: display pixel (c, r), r from the bottom,
// shows source pixel (2c, height - 1 - 2r); each colour is |A - B| (or A - B
// around 128) at 16 bits, times the gain, taken to 8 bits, clipped.
TEST(Compose, DifferenceShowsTheStoredSamplesDifferenceAtTheDisplaysPixels) {
    TempDir dir;
    const int w = 19, h = 10;
    const auto sa = test_pattern(w, h, 1);
    auto sb = sa;
    for (std::size_t i = 0; i < sb.size(); ++i)
        sb[i] = static_cast<std::uint16_t>(sb[i] + (i % 5 == 0 ? 300 : i % 7 == 0 ? -2000 : 0));
    ASSERT_EQ(write_dpx_file(dir.file("a.dpx"), w, h, sa.data()), 0);
    ASSERT_EQ(write_dpx_file(dir.file("b.dpx"), w, h, sb.data()), 0);
    OpenFrame a, b;
    ASSERT_EQ(open_frame(kFormatDpx, dir.file("a.dpx").c_str(), 0, 0, a), 0);
    ASSERT_EQ(open_frame(kFormatDpx, dir.file("b.dpx").c_str(), 0, 0, b), 0);
    CompareScratch scratch;
    ASSERT_EQ(alloc_compare_scratch(scratch), 0);
    DifferenceScratch rows{&scratch.a, &scratch.b, scratch.row_a, scratch.row_b};
    const int dw = w >> 1, dh = h >> 1;
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(dw) * dh * 4, 0xEE);
    Picture out = picture(pixels, dw, dh);
    for (const bool around_grey : {false, true})
        for (const int gain : {1, 4, 256}) {
            DifferenceStyle style;
            style.gain = gain;
            style.signed_around_grey = around_grey;
            ASSERT_EQ(compose_difference(a, b, 1, style, rows, out), 0);
            for (int r = 0; r < dh; ++r)
                for (int c = 0; c < dw; ++c)
                    for (int k = 0; k < 3; ++k) {
                        const std::size_t at =
                            (static_cast<std::size_t>(h - 1 - 2 * r) * w + 2 * c) * 3 + k;
                        const long d = static_cast<long>(sa[at]) - sb[at];
                        const long size = std::min(255L, std::labs(d) * gain / 256);
                        const long want = !around_grey ? size
                                          : d >= 0     ? std::min(255L, 128 + std::min(size, 128L))
                                                       : 128 - std::min(size, 128L);
                        ASSERT_EQ(pixels[(static_cast<std::size_t>(r) * dw + c) * 4 + 2 - k], want)
                            << "gain " << gain << " grey " << around_grey << " at " << c << "," << r
                            << " colour " << k;
                    }
        }
    // A picture wider than the frame's sampled columns is refused.
    std::vector<std::uint8_t> wide(static_cast<std::size_t>(w) * h * 4);
    Picture too_big = picture(wide, (w - 1) / 2 + 2, dh);
    EXPECT_EQ(compose_difference(a, b, 1, DifferenceStyle{}, rows, too_big), -1);
    release_compare_scratch(scratch);
}
