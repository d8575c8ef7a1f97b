#include "core/loading.h"

#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <sys/stat.h>
#endif
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "support/test_files.h"
#include "support/viewer_fixture.h"

namespace {

struct Report {
    std::string message;
    std::string caption;
};

void record_error(void* context, const char* message, const char* caption) {
    static_cast<std::vector<Report>*>(context)->push_back({message, caption});
}

/// What a frame of `width` x `height` samples `rgb` looks like in the display at
/// `shift`: rows from the bottom, every f-th row and column, the top 8 of 16 bits
/// (DPX) or bits 11..4 (planes), blue first.
std::vector<std::uint8_t> expected_picture(int width, int height, int shift,
                                           const std::vector<std::uint16_t>& rgb, bool planar) {
    const int dw = width >> shift, dh = height >> shift;
    std::vector<std::uint8_t> out(static_cast<std::size_t>(dw) * dh * 4, 0);
    for (int dy = 0; dy < dh; ++dy) {
        const int top_row = height - 1 - (dy << shift);
        for (int dx = 0; dx < dw; ++dx) {
            const std::size_t s = (static_cast<std::size_t>(top_row) * width + (dx << shift)) * 3;
            std::uint8_t* px = &out[(static_cast<std::size_t>(dy) * dw + dx) * 4];
            for (int c = 0; c < 3; ++c) {
                const std::uint16_t v = rgb[s + c];
                px[2 - c] = planar ? static_cast<std::uint8_t>((v & 0x0FFF) >> 4)
                                   : static_cast<std::uint8_t>(v >> 8);
            }
        }
    }
    return out;
}

struct LoadingFixture : ViewerFixtureBase {
    std::vector<Report> reports;

    /// Source 16x8 at 1/2.
    LoadingFixture() : ViewerFixtureBase(1) {
        viewer.error_box = record_error;
        viewer.error_context = &reports;
    }

    /// Opens `name` in the folder as the viewer's open path does.
    void open(const std::string& name, bool* display_changed = nullptr) {
        open_path(dir.file(name), display_changed);
    }
};

}  // namespace

using Opening = LoadingFixture;

TEST_F(Opening, OpensAtTheChosenFrameAndPausesPlayback) {
    dpx("f01.dpx", 16, 8, 1);
    const auto rgb = dpx("f02.dpx", 16, 8, 2);
    dpx("f03.dpx", 16, 8, 3);
    viewer.play.step = 7;
    bool changed = true;
    open("f02.dpx", &changed);
    EXPECT_TRUE(reports.empty());
    EXPECT_FALSE(changed);
    EXPECT_EQ(viewer.seq.frame_count, 3);
    EXPECT_EQ(viewer.seq.current_frame, 1);
    EXPECT_EQ(viewer.play.step, 0);
    EXPECT_EQ(picture(), expected_picture(16, 8, 1, rgb, false));
}

TEST_F(Opening, NoMatchCannotOpen) {
    dpx("f01.dpx", 16, 8, 1);
    open("f01.dpx");
    viewer.play.step = -3;
    ::testing::internal::CaptureStderr();
    open("g01.dpx");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "karvelin: " + dir.file("g01.dpx") + ": no file matches the name\n");
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].message, "Can't open file!");
    EXPECT_EQ(reports[0].caption, "Error");
    EXPECT_EQ(viewer.seq.frame_count, 0);
    EXPECT_EQ(viewer.play.step, 0);
}

TEST_F(Opening, UnreadableFrameIsInvalidAndKeepsThePicture) {
    const auto rgb = dpx("good1.dpx", 16, 8, 5);
    open("good1.dpx");
    const auto shown = expected_picture(16, 8, 1, rgb, false);
    ASSERT_EQ(picture(), shown);

    ASSERT_EQ(write_file(dir.file("junk1.dpx"), std::vector<std::uint8_t>(4096, 0x41)), 0);
    ASSERT_EQ(write_file(dir.file("short1.dpx"), {'S', 'D', 'P', 'X'}), 0);
    ASSERT_EQ(write_file(dir.file("noK1.r"), {0, 0}), 0);       // planar without a size tag
    ASSERT_EQ(write_file(dir.file("plane1.2K.r"), {0, 0}), 0);  // .g and .b missing
    ASSERT_EQ(make_folder(dir.file("folder1.dpx")), 0);
    const std::vector<std::uint16_t> huge = test_pattern(7681, 1);
    ASSERT_EQ(write_file(dir.file("wide1.dpx"), make_dpx_file(7681, 1, huge.data())), 0);
    std::vector<std::uint8_t> ycbcr = make_dpx_file(16, 8, rgb.data());
    ycbcr[800] = 100;
    ASSERT_EQ(write_file(dir.file("yuv1.dpx"), ycbcr), 0);

    // Besides the box, one line on standard error names the file and the reason;
    // for a missing plane the path names that plane.
    const std::pair<const char*, ReadFailure> cases[] = {
        {"junk1.dpx", kFailNotBigEndianDpx},  {"short1.dpx", kFailHeaderCut},
        {"noK1.r", kFailPlanarName},          {"plane1.2K.r", kFailMissingPlane},
        {"folder1.dpx", kFailNotRegularFile}, {"wide1.dpx", kFailSizeOutOfRange},
        {"yuv1.dpx", kFailDescriptor}};
    for (const auto& [bad, why] : cases) {
        SCOPED_TRACE(bad);
        reports.clear();
        viewer.play.step = 4;
        bool changed = true;
        ::testing::internal::CaptureStderr();
        open(bad, &changed);
        std::string named = dir.file(bad);
        if (why == kFailMissingPlane) named.back() = 'g';
        EXPECT_EQ(::testing::internal::GetCapturedStderr(),
                  "karvelin: " + named + ": " + read_failure_text(why) + "\n");
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_EQ(reports[0].message, "Invalid image file!");
        EXPECT_EQ(reports[0].caption, "Error");
        EXPECT_EQ(viewer.seq.frame_count, 0);
        EXPECT_EQ(viewer.play.step, 0);
        EXPECT_FALSE(changed);
        EXPECT_EQ(picture(), shown);
    }
}

// Where names cannot hold '"' a closing quote left on the path is dropped from
// the pattern; elsewhere it is part of the name (tests/core/sequence_test.cpp).
TEST_F(Opening, QuotedPathOpensAtTheFirstFrame) {
    if (kNamesCanHoldQuotes) GTEST_SKIP() << "'\"' is part of a file name here";
    const auto first = dpx("q1.dpx", 16, 8, 1);
    dpx("q2.dpx", 16, 8, 2);
    open("q2.dpx\"");
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(viewer.seq.current_frame, 0);
    EXPECT_EQ(loaded_name(), "q1.dpx");
    EXPECT_EQ(picture(), expected_picture(16, 8, 1, first, false));
}

TEST_F(Opening, NewSizeIsReadAfterTheDisplayFollows) {
    const auto rgb = dpx("big1.dpx", 40, 20, 9);
    bool changed = false;
    open("big1.dpx", &changed);
    EXPECT_TRUE(reports.empty());
    EXPECT_TRUE(changed);
    EXPECT_EQ(display_width(viewer.store), 20);
    EXPECT_EQ(display_height(viewer.store), 10);
    EXPECT_EQ(picture(), expected_picture(40, 20, 1, rgb, false));

    // A second sequence of that size is read once, into the same display.
    const auto other = dpx("same1.dpx", 40, 20, 10);
    const std::uint8_t* pixels = viewer.store.pixels;
    open("same1.dpx", &changed);
    EXPECT_FALSE(changed);
    EXPECT_EQ(viewer.store.pixels, pixels);
    EXPECT_EQ(picture(), expected_picture(40, 20, 1, other, false));
}

TEST_F(Opening, NewSizeWithTheSameDisplaySizeIsStillRead) {
    dpx("a1.dpx", 16, 8, 1);
    open("a1.dpx");
    // 17x9 decimates to the same 8x4 display as 16x8 at 1/2.
    const auto rgb = dpx("b1.dpx", 17, 9, 2);
    bool changed = true;
    open("b1.dpx", &changed);
    EXPECT_TRUE(reports.empty());
    EXPECT_FALSE(changed);
    EXPECT_EQ(viewer.store.source_width, 17);
    EXPECT_EQ(display_width(viewer.store), 8);
    EXPECT_EQ(picture(), expected_picture(17, 9, 1, rgb, false));
}

TEST_F(Opening, NewSizeWhoseSecondLoadFailsLeavesABlackDisplayOpen) {
    // The 4K tag records 3840x2160 without touching a file; the second load then
    // finds the red plane but no green one.
    viewer.store.shift = 3;  // keep the reallocated display small: 480x270
    ASSERT_EQ(reallocate_display(viewer.store), 0);
    ASSERT_EQ(write_file(dir.file("c0001.4K.r"), {0x0F, 0xF0}), 0);
    bool changed = false;
    open("c0001.4K.r", &changed);
    EXPECT_TRUE(reports.empty());
    EXPECT_TRUE(changed);
    EXPECT_EQ(viewer.seq.frame_count, 1);
    EXPECT_EQ(display_width(viewer.store), 480);
    EXPECT_EQ(display_height(viewer.store), 270);
    const auto shown = picture();
    EXPECT_EQ(std::count(shown.begin(), shown.end(), 0), static_cast<long>(shown.size()));
}

TEST_F(Opening, PlanarFramesInEitherCase) {
    const auto lower = test_pattern(16, 8, 3);
    ASSERT_EQ(write_planar_files(dir.file("p0001.2K."), 16, 8, lower.data()), 0);
    ASSERT_EQ(write_planar_files(dir.file("p0002.2K."), 16, 8, test_pattern(16, 8, 4).data()), 0);
    open("p0001.2K.g");
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(viewer.seq.source_format, kFormatPlanar);
    // The frames are listed by the chosen plane's files.
    EXPECT_EQ(viewer.seq.frame_count, 2);
    EXPECT_EQ(viewer.seq.current_frame, 0);
    EXPECT_EQ(picture(), expected_picture(16, 8, 1, lower, true));

    const auto upper = test_pattern(16, 8, 5);
    ASSERT_EQ(write_planar_files(dir.file("U0001.2K."), 16, 8, upper.data(), "RGB"), 0);
    open("U0001.2K.R");
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(viewer.seq.frame_count, 1);
    EXPECT_EQ(picture(), expected_picture(16, 8, 1, upper, true));
}

TEST_F(Opening, WithoutAHookTheMessageGoesToStandardError) {
    viewer.error_box = nullptr;
    ::testing::internal::CaptureStderr();
    open("nothing1.dpx");
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Can't open file!"), std::string::npos);
    EXPECT_NE(err.find("Error"), std::string::npos);
}

using Loading = LoadingFixture;

TEST_F(Loading, OutOfRangeOrClosedLoadsNothing) {
    dpx("f1.dpx", 16, 8, 1);
    dpx("f2.dpx", 16, 8, 2);
    open("f1.dpx");
    const std::string path = viewer.seq.current_path;
    for (int index : {-1, 2, 1000}) {
        viewer.seq.current_frame = index;
        EXPECT_EQ(load_current_frame(viewer), -1) << index;
        EXPECT_EQ(path, viewer.seq.current_path);
    }
    viewer.seq.current_frame = 0;
    viewer.seq.frame_count = 0;
    EXPECT_EQ(load_current_frame(viewer), -1);
}

TEST_F(Loading, NameThatDoesNotFitThePathIsRefused) {
    dpx("f1.dpx", 16, 8, 1);
    open("f1.dpx");
    // A list entry longer than the room left after the folder part.
    Sequence& seq = viewer.seq;
    // Sized from the path limit, which is 260 on Windows and 4096 on Linux.
    const int name_length = kPathMax / 2;
    const std::string long_name(static_cast<std::size_t>(name_length), 'n');
    char* list = static_cast<char*>(heap_alloc_zeroed(long_name.size() + 1));
    ASSERT_NE(list, nullptr);
    std::memcpy(list, long_name.c_str(), long_name.size());
    heap_free(seq.frame_list);
    seq.frame_list = list;
    seq.longest_name = static_cast<std::int32_t>(long_name.size());
    seq.frame_count = 1;
    seq.current_frame = 0;
    seq.name_slot = kPathMax - name_length;
    std::memset(seq.current_path, 'd', static_cast<std::size_t>(seq.name_slot));
    seq.current_path[seq.name_slot] = '\0';
    EXPECT_EQ(load_current_frame(viewer), -1);
    EXPECT_EQ(std::strlen(seq.current_path), static_cast<std::size_t>(seq.name_slot));
    // One byte more room and it fits (and then names no file).
    seq.name_slot = kPathMax - name_length - 1;
    seq.current_path[seq.name_slot] = '\0';
    EXPECT_EQ(load_current_frame(viewer), -1);
    EXPECT_EQ(std::strlen(seq.current_path), static_cast<std::size_t>(kPathMax) - 1);
    EXPECT_EQ(loaded_name(), long_name);
}

TEST_F(Loading, PlaybackFailureIsSilentAndKeepsThePicture) {
    const auto first = dpx("m1.dpx", 16, 8, 1);
    dpx("m2.dpx", 16, 8, 2);
    ASSERT_EQ(make_folder(dir.file("m3.dpx")), 0);
    open("m1.dpx");
    ASSERT_EQ(viewer.seq.frame_count, 3);
    ASSERT_EQ(unlink(dir.file("m2.dpx").c_str()), 0);
    viewer.play.step = 1;
    ::testing::internal::CaptureStderr();
    for (int tick = 0; tick < 2; ++tick) {
        timer_tick(viewer.seq, viewer.play);
        bool changed = true;
        EXPECT_EQ(load_frame_checked(viewer, &changed), -1);
        EXPECT_FALSE(changed);
    }
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(viewer.seq.frame_count, 3);
    EXPECT_EQ(viewer.play.step, 1);
    EXPECT_EQ(picture(), expected_picture(16, 8, 1, first, false));
}

TEST_F(Loading, SizeChangesDuringPlaybackAreReadAtTheirOwnSize) {
    // Sizes change from frame to frame, some to another display size and some to
    // the same one (17x9 and 16x8 both give 8x4 at 1/2).
    struct Frame {
        int width, height;
        bool changes_display;
    };
    const Frame frames[] = {{16, 8, false}, {32, 16, true}, {16, 8, true},
                            {17, 9, false}, {16, 8, false}, {17, 9, false}};
    std::vector<std::vector<std::uint16_t>> rgb;
    for (int i = 0; i < 6; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "s%d.dpx", i);
        rgb.push_back(dpx(name, frames[i].width, frames[i].height, i));
    }
    open("s0.dpx");
    viewer.play.step = 1;
    for (int i = 1; i < 8; ++i) {
        const Frame& f = frames[i % 6];
        SCOPED_TRACE(i);
        timer_tick(viewer.seq, viewer.play);
        ASSERT_EQ(viewer.seq.current_frame, i % 6);
        bool changed = false;
        EXPECT_EQ(load_frame_checked(viewer, &changed), 0);
        EXPECT_EQ(changed, f.changes_display);
        EXPECT_EQ(viewer.store.source_width, f.width);
        EXPECT_EQ(display_width(viewer.store), f.width >> 1);
        EXPECT_EQ(picture(), expected_picture(f.width, f.height, 1, rgb[i % 6], false));
    }
    EXPECT_TRUE(reports.empty());
}

TEST_F(Loading, ColorToggleAndShiftChangesReadAtTheDisplaySize) {
    const auto rgb = dpx("t1.dpx", 16, 8, 1);
    open("t1.dpx");
    build_conversion_tables(viewer.tables);
    viewer.store.convert = 1;
    bool changed = true;
    EXPECT_EQ(load_frame_checked(viewer, &changed), 0);
    EXPECT_FALSE(changed);
    auto converted = expected_picture(16, 8, 1, rgb, false);
    for (std::size_t i = 0; i < converted.size(); i += 4) {
        int red = converted[i + 2], green = converted[i + 1], blue = converted[i];
        convert_pixel(viewer.tables, red, green, blue);
        converted[i] = static_cast<std::uint8_t>(blue);
        converted[i + 1] = static_cast<std::uint8_t>(green);
        converted[i + 2] = static_cast<std::uint8_t>(red);
    }
    EXPECT_NE(converted, expected_picture(16, 8, 1, rgb, false));
    EXPECT_EQ(picture(), converted);
    viewer.store.convert = 0;
    // A new shift reallocates before any pixel is written.
    viewer.store.shift = 0;
    EXPECT_EQ(load_frame_checked(viewer, &changed), 0);
    EXPECT_TRUE(changed);
    EXPECT_EQ(display_width(viewer.store), 16);
    EXPECT_EQ(picture(), expected_picture(16, 8, 0, rgb, false));
}
