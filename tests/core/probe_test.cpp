#include "core/probe.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/dpx_test_files.h"
#include "core/readers.h"
#include "core/sequence.h"
#include "support/test_files.h"

namespace {

// The frames here are read without conversion, so the tables stay unbuilt.
const ConversionTables& tables() {
    static const ConversionTables unused{};
    return unused;
}

struct Probe : ::testing::Test {
    TempDir dir;
    FrameStore store;
    ~Probe() override { release_display(store); }
    void size(int w, int h, int shift) {
        store.source_width = w;
        store.source_height = h;
        store.shift = shift;
        ASSERT_EQ(reallocate_display(store), 0);
    }
};

}  // namespace

// A frame whose every pixel holds its own x in red and y in green, read by the
// reader: what each display pixel shows is the source pixel the reader sampled,
// and the probe must name that pixel.
TEST_F(Probe, DisplayPixelsMapToTheSourcePixelsTheReaderShows) {
    for (auto [w, h] : {std::pair{37, 11}, std::pair{13, 9}, std::pair{8, 8}, std::pair{1, 5}}) {
        std::vector<std::uint16_t> rgb;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                rgb.insert(rgb.end(), {std::uint16_t(x << 8), std::uint16_t(y << 8), 0});
        ASSERT_EQ(write_dpx_file(dir.file("xy.dpx"), w, h, rgb.data()), 0);
        for (int shift = 0; shift <= 3; ++shift) {
            size(w, h, shift);
            ASSERT_EQ(read_dpx_frame(dir.file("xy.dpx").c_str(), store, tables()), 0);
            const int dw = display_width(store), dh = display_height(store);
            for (int dy = 0; dy < dh; ++dy)
                for (int dx = 0; dx < dw; ++dx) {
                    const std::uint8_t* px = store.pixels + ((dh - 1 - dy) * dw + dx) * 4;
                    std::int32_t sx = -1, sy = -1;
                    ASSERT_EQ(display_to_source(store, dx, dy, &sx, &sy), 0);
                    EXPECT_EQ(sx, px[2]) << w << "x" << h << " >> " << shift;
                    EXPECT_EQ(sy, px[1]) << w << "x" << h << " >> " << shift;
                }
            std::int32_t sx = 0, sy = 0;
            for (auto [dx, dy] :
                 {std::pair{dw, 0}, std::pair{0, dh}, std::pair{-1, 0}, std::pair{0, -1}})
                EXPECT_EQ(display_to_source(store, dx, dy, &sx, &sy), -1) << dx << "," << dy;
        }
    }
}

// The stored values of pixels at the start, the middle and the end of rows, in
// every word-based layout (samples that straddle words included) and planes.
TEST_F(Probe, SourceValuesAreTheSamplesAsWritten) {
    const int w = 23, h = 3;
    struct Layout {
        int descriptor, bits, packing, components;
    };
    const Layout layouts[] = {{50, 16, 0, 3}, {52, 16, 0, 4}, {50, 10, 1, 3},
                              {51, 10, 2, 4}, {50, 10, 0, 3}, {51, 12, 0, 4},
                              {50, 12, 1, 3}, {50, 12, 2, 3}, {51, 8, 0, 4}};
    for (const Layout& l : layouts) {
        SCOPED_TRACE(std::to_string(l.bits) + "-bit packing " + std::to_string(l.packing) +
                     " descriptor " + std::to_string(l.descriptor));
        const auto pattern = test_pattern(w * l.components, h, l.bits + l.packing);
        std::vector<std::uint8_t> data;
        for (int y = 0; y < h; ++y) {
            std::vector<std::uint32_t> row;
            for (int i = 0; i < w * l.components; ++i)
                row.push_back(pattern[static_cast<std::size_t>(y) * w * l.components + i] >>
                              (16 - l.bits));
            const auto bytes = dpx_row(row, l.bits, l.packing);
            data.insert(data.end(), bytes.begin(), bytes.end());
        }
        const std::string path = dir.file("v.dpx");
        ASSERT_EQ(write_file(path, layout_file(w, h, l.descriptor, l.bits, l.packing, data)), 0);
        size(w, h, 2);
        for (auto [x, y] : {std::pair{0, 0}, std::pair{11, 1}, std::pair{w - 1, h - 1}}) {
            SourceValues v{};
            ASSERT_EQ(read_source_values(path.c_str(), kFormatDpx, store, x, y, &v), 0);
            const std::size_t at = (static_cast<std::size_t>(y) * w + x) * l.components;
            const int r = l.descriptor == 52 ? 3 : 0, b = l.descriptor == 52 ? 1 : 2;
            EXPECT_EQ(v.red, pattern[at + r] >> (16 - l.bits)) << x << "," << y;
            EXPECT_EQ(v.green, pattern[at + 1 + (l.descriptor == 52)] >> (16 - l.bits));
            EXPECT_EQ(v.blue, pattern[at + b] >> (16 - l.bits));
            EXPECT_EQ(v.bits, l.bits);
        }
    }

    const auto rgb = test_pattern(w, h, 3);
    ASSERT_EQ(write_planar_files(dir.file("p.2K."), w, h, rgb.data()), 0);
    SourceValues v{};
    ASSERT_EQ(read_source_values(dir.file("p.2K.g").c_str(), kFormatPlanar, store, 5, 2, &v), 0);
    const std::size_t at = (2 * w + 5) * 3;
    EXPECT_EQ(v.red, rgb[at] & 0xFFFu);
    EXPECT_EQ(v.green, rgb[at + 1] & 0xFFFu);
    EXPECT_EQ(v.blue, rgb[at + 2] & 0xFFFu);
    EXPECT_EQ(v.bits, 12);
}

TEST_F(Probe, FilesThatVanishedChangedOrEndEarlyGiveNoValues) {
    const auto rgb = test_pattern(8, 4, 1);
    std::vector<std::uint8_t> file = make_dpx_file(8, 4, rgb.data());
    file.resize(file.size() - 6);  // the last pixel is cut short
    ASSERT_EQ(write_file(dir.file("f.dpx"), file), 0);
    size(8, 4, 0);
    const std::string path = dir.file("f.dpx");
    SourceValues v{};
    EXPECT_EQ(read_source_values(path.c_str(), kFormatDpx, store, 6, 3, &v), 0);
    EXPECT_EQ(read_source_values(path.c_str(), kFormatDpx, store, 7, 3, &v), -1);
    EXPECT_EQ(read_source_values(path.c_str(), kFormatDpx, store, 8, 0, &v), -1);
    EXPECT_EQ(read_source_values(dir.file("gone.dpx").c_str(), kFormatDpx, store, 0, 0, &v), -1);
    file[800] = 100;  // now YCbCr
    ASSERT_EQ(write_file(path, file), 0);
    EXPECT_EQ(read_source_values(path.c_str(), kFormatDpx, store, 0, 0, &v), -1);
    size(8, 5, 0);  // the store moved on to another size
    ASSERT_EQ(write_dpx_file(path, 8, 4, rgb.data()), 0);
    EXPECT_EQ(read_source_values(path.c_str(), kFormatDpx, store, 0, 0, &v), -1);

    ASSERT_EQ(write_planar_files(dir.file("p.2K."), 8, 5, test_pattern(8, 5).data()), 0);
    ASSERT_EQ(read_source_values(dir.file("p.2K.r").c_str(), kFormatPlanar, store, 7, 4, &v), 0);
    ASSERT_EQ(std::remove(dir.file("p.2K.b").c_str()), 0);
    EXPECT_EQ(read_source_values(dir.file("p.2K.r").c_str(), kFormatPlanar, store, 7, 4, &v), -1);
    EXPECT_EQ(read_source_values(dir.file("p.4K.r").c_str(), kFormatPlanar, store, 0, 0, &v), -1);
}

// Packed 10- and 12-bit files cut inside the first row: wherever the display
// shows a pixel (from a group the cut leaves partly there), the probe gives the
// values it shows; where the display is black the probe has none.
TEST_F(Probe, CutPackedRowsGiveTheValuesTheDisplayShows) {
    const int w = 21, h = 2;
    for (const int bits : {10, 12}) {
        const auto pattern = test_pattern(w, h, bits);
        std::vector<std::uint32_t> samples;
        for (std::size_t i = 0; i < pattern.size(); ++i)
            samples.push_back(pattern[i] >> (16 - bits));
        const std::vector<std::uint8_t> data = dpx_row(samples, bits, 0);
        const std::vector<std::uint8_t> full = layout_file(w, h, 50, bits, 0, data);
        // Rows are 21 * 3 samples; the cuts fall inside the first row.
        for (std::size_t cut : {std::size_t{24}, std::size_t{52}, std::size_t{70}}) {
            SCOPED_TRACE(std::to_string(bits) + "-bit cut after " + std::to_string(cut));
            std::vector<std::uint8_t> file(full.begin(), full.begin() + kDpxDataOffset + cut);
            const std::string path = dir.file("cut.dpx");
            ASSERT_EQ(write_file(path, file), 0);
            size(w, h, 0);
            ASSERT_EQ(read_dpx_frame(path.c_str(), store, tables()), 0);
            int shown = 0;
            for (int x = 0; x < w; ++x) {
                // Source row 0 (the top) is display row h - 1.
                const std::uint8_t* px = store.pixels + ((h - 1) * w + x) * 4;
                // Whole 32-bit words held hold every sample they start and end in.
                const bool held = (static_cast<std::size_t>(x) * 3 + 3) * bits <= cut / 4 * 32;
                SourceValues v{};
                const int probed = read_source_values(path.c_str(), kFormatDpx, store, x, 0, &v);
                ASSERT_EQ(probed, held ? 0 : -1) << "pixel " << x;
                if (!held) continue;
                ++shown;
                EXPECT_EQ(v.red >> (bits - 8), px[2]) << "pixel " << x;
                EXPECT_EQ(v.green >> (bits - 8), px[1]) << "pixel " << x;
                EXPECT_EQ(v.blue >> (bits - 8), px[0]) << "pixel " << x;
                EXPECT_EQ(v.red, samples[3 * x]);
            }
            EXPECT_GT(shown, 0);
        }
    }
}
