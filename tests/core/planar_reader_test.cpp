#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "color/bt2020.h"
#include "core/readers.h"
#include "support/test_files.h"

namespace {

const ConversionTables& tables() {
    static ConversionTables t = [] {
        ConversionTables built{};
        build_conversion_tables(built);
        return built;
    }();
    return t;
}

class PlanarReader : public ::testing::Test {
  protected:
    void TearDown() override { release_display(store); }

    void size_store(int width, int height, int shift) {
        store.source_width = width;
        store.source_height = height;
        store.shift = shift;
        ASSERT_EQ(reallocate_display(store), 0);
    }
    std::size_t display_bytes() const {
        return static_cast<std::size_t>(display_width(store)) * display_height(store) * 4;
    }
    const std::uint8_t* pixel(int x, int y) const {
        return store.pixels + (static_cast<std::size_t>(y) * display_width(store) + x) * 4;
    }
    int read(std::string& path) { return read_planar_frame(path.data(), store, tables()); }

    // Number of display pixels that differ from plain decimation of `rgb` (12-bit
    // samples shown by their bits 11..4), or whose byte 3 lost `marker`. Pixels
    // whose source sample index is `held` or more in any plane must be black.
    int count_wrong(const std::vector<std::uint16_t>& rgb, int width, int height, bool convert,
                    std::uint8_t marker, std::size_t held = SIZE_MAX) {
        int wrong = 0;
        for (int y = 0; y < display_height(store); ++y)
            for (int x = 0; x < display_width(store); ++x) {
                const std::size_t i =
                    static_cast<std::size_t>(height - 1 - (y << store.shift)) * width +
                    (x << store.shift);
                int r = 0, g = 0, b = 0;
                if (i < held) {
                    r = (rgb[3 * i] & 0xFFF) >> 4;
                    g = (rgb[3 * i + 1] & 0xFFF) >> 4;
                    b = (rgb[3 * i + 2] & 0xFFF) >> 4;
                    if (convert) convert_pixel(tables(), r, g, b);
                }
                const std::uint8_t* got = pixel(x, y);
                if (got[0] != b || got[1] != g || got[2] != r || got[3] != marker) {
                    if (wrong == 0)
                        ADD_FAILURE() << "pixel " << x << "," << y << " of " << width << "x"
                                      << height << " >> " << store.shift << ": got " << int(got[0])
                                      << "," << int(got[1]) << "," << int(got[2]) << " want " << b
                                      << "," << g << "," << r;
                    ++wrong;
                }
            }
        return wrong;
    }

    FrameStore store;
    TempDir dir;
};

}  // namespace

TEST_F(PlanarReader, OddSizesAtEveryShiftMatchPlainDecimation) {
    // Any tag other than 4K/8K keeps the current size, so small frames can be
    // named "2K"; widths exercise the wide row kernels and their tails.
    const int sizes[][2] = {{1, 1}, {7, 5}, {13, 9}, {16, 4}, {41, 6}, {3, 19}};
    for (const auto& sz : sizes) {
        const int w = sz[0], h = sz[1];
        const auto rgb = test_pattern(w, h, w + h);
        ASSERT_EQ(write_planar_files(dir.file("s.2K."), w, h, rgb.data()), 0);
        for (int shift = 0; shift <= 3; ++shift) {
            for (int convert = 0; convert <= 1; ++convert) {
                size_store(w, h, shift);
                std::memset(store.pixels, 0x5A, display_bytes());
                store.convert = convert;
                store.size_recorded = 1;
                std::string path = dir.file("s.2K.g");
                ASSERT_EQ(read(path), 0);
                EXPECT_EQ(path.back(), 'b');
                EXPECT_EQ(store.size_recorded, 0);
                EXPECT_EQ(count_wrong(rgb, w, h, convert, 0x5A), 0)
                    << w << "x" << h << " >> " << shift << " convert " << convert;
            }
        }
    }
}

TEST_F(PlanarReader, SizeTagsRecordTheirSizeBeforeAnyPlaneIsOpened) {
    size_store(7680, 4320, 3);
    std::memset(store.pixels, 0x21, display_bytes());
    // No plane files exist: recording a size must not need them.
    std::string path = dir.file("Cafe_00042.4K.r");
    EXPECT_EQ(read(path), 0);
    EXPECT_EQ(store.source_width, 3840);
    EXPECT_EQ(store.source_height, 2160);
    EXPECT_EQ(store.size_recorded, 1);
    EXPECT_EQ(pixel(0, 0)[0], 0x21);

    path = dir.file("Cafe_00042.8K.r");
    EXPECT_EQ(read(path), 0);
    EXPECT_EQ(store.source_width, 7680);
    EXPECT_EQ(store.source_height, 4320);

    // Same size: now the planes are needed, and missing ones are refused.
    store.size_recorded = 0;
    EXPECT_EQ(read(path), -1);
    EXPECT_EQ(store.size_recorded, 0);
}

TEST_F(PlanarReader, Reads4KFrameAfterTheSizeChange) {
    const int w = 3840, h = 2160;
    const auto rgb = test_pattern(w, h, 9);
    ASSERT_EQ(write_planar_files(dir.file("Cafe_00042.4K."), w, h, rgb.data()), 0);
    size_store(7680, 4320, 2);
    std::string path = dir.file("Cafe_00042.4K.r");
    ASSERT_EQ(read(path), 0);
    EXPECT_EQ(store.size_recorded, 1);
    ASSERT_EQ(reallocate_display(store), 0);
    EXPECT_EQ(display_width(store), 960);
    for (int shift : {2, 0}) {
        store.shift = shift;
        ASSERT_EQ(reallocate_display(store), 0);
        path = dir.file("Cafe_00042.4K.r");
        ASSERT_EQ(read(path), 0);
        EXPECT_EQ(count_wrong(rgb, w, h, false, 0), 0) << "shift " << shift;
    }
}

TEST_F(PlanarReader, SampleKeepsBits11To4) {
    size_store(4, 1, 0);
    // Samples of pixels 0..3: 4080, 2048, 2048 with the unused top bits set, 15.
    const std::vector<std::uint8_t> plane = {0x0F, 0xF0, 0x08, 0x00, 0xF8, 0x00, 0x00, 0x0F};
    for (const char* name : {"p.2K.r", "p.2K.g", "p.2K.b"})
        ASSERT_EQ(write_file(dir.file(name), plane), 0);
    std::string path = dir.file("p.2K.r");
    ASSERT_EQ(read(path), 0);
    const int want[] = {255, 128, 128, 0};
    for (int x = 0; x < 4; ++x)
        for (int c = 0; c < 3; ++c) EXPECT_EQ(pixel(x, 0)[c], want[x]) << x << "," << c;
}

TEST_F(PlanarReader, RefusesNamesWithoutATagAndMissingPlanes) {
    size_store(5, 3, 0);
    std::memset(store.pixels, 0x33, display_bytes());
    const std::vector<std::uint8_t> before(store.pixels, store.pixels + display_bytes());
    const auto rgb = test_pattern(5, 3);
    ASSERT_EQ(write_planar_files(dir.file("a.2K."), 5, 3, rgb.data()), 0);

    // Too short to hold a tag; the length check must come before any look back.
    for (const char* text : {"", "r", "K.r", ".K"}) {
        std::string path = text;
        EXPECT_EQ(read(path), -1) << '"' << text << '"';
        EXPECT_EQ(path, text);
    }
    std::string lower_k = dir.file("a.2k.r");
    EXPECT_EQ(read(lower_k), -1);

    // Each plane missing in turn: the path keeps the letter that failed.
    for (char missing : {'r', 'g', 'b'}) {
        ASSERT_EQ(write_planar_files(dir.file("m.2K."), 5, 3, rgb.data()), 0);
        ASSERT_EQ(std::remove(dir.file(std::string("m.2K.") + missing).c_str()), 0);
        std::string path = dir.file("m.2K.r");
        EXPECT_EQ(read(path), -1) << missing;
        EXPECT_EQ(path.back(), missing);
    }
    EXPECT_EQ(std::memcmp(before.data(), store.pixels, before.size()), 0);
    EXPECT_EQ(store.source_width, 5);
    EXPECT_EQ(store.source_height, 3);
}

TEST_F(PlanarReader, UpperCasePlaneNamesAreFollowed) {
    const auto rgb = test_pattern(9, 4, 4);
    ASSERT_EQ(write_planar_files(dir.file("clip0001.2K."), 9, 4, rgb.data(), "RGB"), 0);
    size_store(9, 4, 1);
    std::string path = dir.file("clip0001.2K.R");
    ASSERT_EQ(read(path), 0);
    EXPECT_EQ(path.back(), 'B');
    EXPECT_EQ(count_wrong(rgb, 9, 4, false, 0), 0);

#if !defined(_WIN32)
    // Chosen by a lower-case letter, the lower-case planes are looked for (on
    // Windows names compare without case, so the upper-case planes would open).
    path = dir.file("clip0001.2K.r");
    EXPECT_EQ(read(path), -1);
    EXPECT_EQ(path.back(), 'r');
#endif
}

TEST_F(PlanarReader, ShortPlanesShowBlackWhereAnyPlaneLacksData) {
    const int w = 24, h = 6;
    const auto old_rgb = test_pattern(w, h, 1);
    const auto rgb = test_pattern(w, h, 2);
    ASSERT_EQ(write_planar_files(dir.file("old.2K."), w, h, old_rgb.data()), 0);
    ASSERT_EQ(write_planar_files(dir.file("cut.2K."), w, h, rgb.data()), 0);
    // Three different lengths, one of them mid-sample: the shortest decides.
    const std::size_t keep[] = {w * h * 2, w * 4 * 2 + 7, w * 2 * 2 + 10};
    const char* names[] = {"cut.2K.r", "cut.2K.g", "cut.2K.b"};
    for (int p = 0; p < 3; ++p) {
        std::vector<std::uint8_t> bytes = read_whole_file(dir.file(names[p]));
        bytes.resize(keep[p]);
        ASSERT_EQ(write_file(dir.file(names[p]), bytes), 0);
    }
    for (int shift = 0; shift <= 3; ++shift) {
        size_store(w, h, shift);
        std::string old_path = dir.file("old.2K.r");
        ASSERT_EQ(read(old_path), 0);  // leaves its rows in the buffers
        std::string path = dir.file("cut.2K.r");
        ASSERT_EQ(read(path), 0);
        EXPECT_EQ(count_wrong(rgb, w, h, false, 0, keep[2] / 2), 0) << "shift " << shift;
    }
}
