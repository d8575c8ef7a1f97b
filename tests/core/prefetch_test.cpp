#include "core/prefetch.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "support/test_files.h"
#include "support/viewer_fixture.h"

namespace {

using Runs = std::vector<std::pair<std::int64_t, std::int64_t>>;

void collect(void* context, std::int64_t offset, std::int64_t length) {
    static_cast<Runs*>(context)->emplace_back(offset, length);
}

Runs ranges(std::int64_t file_bytes, int height, std::int64_t row_bytes, int shift) {
    Runs runs;
    const int n = needed_row_ranges(file_bytes, height, row_bytes, shift, collect, &runs);
    EXPECT_EQ(n, static_cast<int>(runs.size()));
    return runs;
}

}  // namespace

TEST(NeededRowRanges, CoverExactlyTheRowsADecimatedReadUses) {
    const std::int64_t header = 100;
    const std::int64_t row_bytes = 6;
    for (int height : {1, 2, 7, 8, 9, 16, 17}) {
        for (int shift = 0; shift <= 3; ++shift) {
            const std::int64_t file_bytes = header + height * row_bytes;
            const Runs runs = ranges(file_bytes, height, row_bytes, shift);
            std::vector<int> covered(static_cast<std::size_t>(file_bytes), 0);
            std::int64_t last_end = -1;
            for (const auto& [offset, length] : runs) {
                ASSERT_GE(offset, 0);
                ASSERT_LE(offset + length, file_bytes);
                // Front to back, and neighbours are joined.
                EXPECT_GT(offset, last_end);
                last_end = offset + length;
                for (std::int64_t i = offset; i < offset + length; ++i) ++covered[i];
            }
            // Row r counted from the bottom is used when r is a multiple of the
            // factor and its display row exists (height >> shift of them).
            const int f = 1 << shift;
            for (int top = 0; top < height; ++top) {
                const int from_bottom = height - 1 - top;
                const bool used = from_bottom % f == 0 && from_bottom / f < (height >> shift);
                for (std::int64_t b = 0; b < row_bytes; ++b) {
                    EXPECT_EQ(covered[header + top * row_bytes + b], used ? 1 : 0)
                        << "height " << height << " shift " << shift << " row " << top;
                }
            }
            for (std::int64_t b = 0; b < header; ++b) ASSERT_EQ(covered[b], 0);
            if (shift == 0) {
                EXPECT_EQ(runs.size(), 1u);
            }
        }
    }
}

TEST(NeededRowRanges, WholeFileWhenTheRowsDoNotFitAndNothingForAnEmptyFile) {
    EXPECT_EQ(ranges(50, 10, 6, 1), (Runs{{0, 50}}));
    EXPECT_EQ(ranges(50, 0, 6, 1), (Runs{{0, 50}}));
    EXPECT_EQ(ranges(50, 2, 6, 4), (Runs{{0, 50}}));
    EXPECT_EQ(ranges(50, 2, -6, 1), (Runs{{0, 50}}));
    // A product that would overflow is caught before it is formed.
    EXPECT_EQ(ranges(1 << 20, 4320, std::int64_t{1} << 62, 1), (Runs{{0, 1 << 20}}));
    EXPECT_TRUE(ranges(0, 10, 6, 1).empty());
}

struct PrefetchFixture : ViewerFixtureBase {
    PrefetchFixture() : ViewerFixtureBase(2) {}
    void open(const std::string& name) {
        const std::string path = dir.file(name);
        ASSERT_LT(path.size(), sizeof viewer.seq.current_path);
        std::memcpy(viewer.seq.current_path, path.c_str(), path.size() + 1);
        open_sequence(viewer);
        ASSERT_EQ(viewer.seq.frame_count, 3);
    }
    void write_dpx_frames() {
        for (int i = 1; i <= 3; ++i) {
            const auto rgb = test_pattern(16, 8, i);
            ASSERT_EQ(
                write_dpx_file(dir.file("f0" + std::to_string(i) + ".dpx"), 16, 8, rgb.data()), 0);
        }
    }
};

TEST_F(PrefetchFixture, ChangesNothingAndNamesTheFrameTheTickLoads) {
    write_dpx_frames();
    open("f02.dpx");
    viewer.play.step = 1;
    const Sequence before_seq = viewer.seq;
    const FrameStore before_store = viewer.store;
    const std::size_t bytes =
        static_cast<std::size_t>(display_width(viewer.store)) * display_height(viewer.store) * 4;
    const std::vector<std::uint8_t> before_pixels(viewer.store.pixels, viewer.store.pixels + bytes);

    prefetch_next_frame(viewer);

    EXPECT_STREQ(viewer.seq.current_path, before_seq.current_path);
    EXPECT_EQ(viewer.seq.current_frame, before_seq.current_frame);
    EXPECT_EQ(viewer.seq.frame_count, before_seq.frame_count);
    EXPECT_EQ(viewer.seq.frame_list, before_seq.frame_list);
    EXPECT_EQ(viewer.play.step, 1);
    EXPECT_EQ(viewer.store.source_width, before_store.source_width);
    EXPECT_EQ(viewer.store.shift, before_store.shift);
    EXPECT_EQ(viewer.store.pixels, before_store.pixels);
    EXPECT_EQ(std::memcmp(viewer.store.pixels, before_pixels.data(), bytes), 0);

    char predicted[kPathMax];
    ASSERT_EQ(frame_path(viewer.seq, next_frame_index(viewer.seq, viewer.play), predicted), 0);
    EXPECT_EQ(std::string(predicted), dir.file("f03.dpx"));
    timer_tick(viewer.seq, viewer.play);
    ASSERT_EQ(load_current_frame(viewer), 0);
    EXPECT_STREQ(viewer.seq.current_path, predicted);
}

TEST_F(PrefetchFixture, FramePathRefusesIndexesOutsideTheListAndNamesThatDoNotFit) {
    write_dpx_frames();
    open("f01.dpx");
    char out[kPathMax];
    EXPECT_EQ(frame_path(viewer.seq, -1, out), -1);
    EXPECT_EQ(frame_path(viewer.seq, 3, out), -1);
    ASSERT_EQ(frame_path(viewer.seq, 2, out), 0);
    EXPECT_EQ(std::string(out), dir.file("f03.dpx"));
    // A name slot so far right that the name would run past the path.
    viewer.seq.name_slot = kPathMax - 3;
    EXPECT_EQ(frame_path(viewer.seq, 0, out), -1);
}

TEST_F(PrefetchFixture, HintsTheNeededRowsOfEveryFileOfAFrame) {
    write_dpx_frames();
    open("f01.dpx");  // the row length comes from the frame on screen
    const std::string dpx = dir.file("f01.dpx");
    // 8 rows at 1/4: 2 separate rows, plus the header page.
    EXPECT_EQ(prefetch_frame(dpx.c_str(), kFormatDpx, viewer.store, kPrefetchNeededRows), 3);
    EXPECT_EQ(prefetch_frame(dpx.c_str(), kFormatDpx, viewer.store, kPrefetchWholeFile), 1);
    viewer.store.shift = 0;
    EXPECT_EQ(prefetch_frame(dpx.c_str(), kFormatDpx, viewer.store, kPrefetchNeededRows), 1);
    viewer.store.shift = 2;
    EXPECT_EQ(
        prefetch_frame(dir.file("none.dpx").c_str(), kFormatDpx, viewer.store, kPrefetchNeededRows),
        -1);

    const auto rgb = test_pattern(16, 8, 5);
    ASSERT_EQ(write_planar_files(dir.file("p.4K."), 16, 8, rgb.data(), "RGB"), 0);
    const std::string planar = dir.file("p.4K.G");
    EXPECT_EQ(prefetch_frame(planar.c_str(), kFormatPlanar, viewer.store, kPrefetchNeededRows), 6);
    // One plane missing: the other two are still hinted.
    ASSERT_EQ(std::remove(dir.file("p.4K.B").c_str()), 0);
    EXPECT_EQ(prefetch_frame(planar.c_str(), kFormatPlanar, viewer.store, kPrefetchNeededRows), 4);
}
