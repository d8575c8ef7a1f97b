// The flipped copy into a window image: right way up, opaque, clipped, and never
// a byte outside the clip, with plain and streaming stores alike, on one thread
// or split between two.
#include "ui/qt/row_copy.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "core/helper_thread.h"

namespace {

constexpr std::uint32_t kUntouched = 0x12345678u;

/// A bottom-up picture whose pixel (x, row-from-top y) is unique, fourth byte zero.
std::vector<std::uint32_t> make_picture(int width, int height) {
    std::vector<std::uint32_t> p(static_cast<std::size_t>(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            p[static_cast<std::size_t>(height - 1 - y) * width + x] =
                static_cast<std::uint32_t>((y << 12) | x) & 0x00FFFFFFu;
    return p;
}

struct Target {
    int width;
    int height;
    int stride_pixels;
    std::vector<std::uint32_t> pixels;
    Target(int w, int h, int pad)
        : width(w),
          height(h),
          stride_pixels(w + pad),
          pixels(static_cast<std::size_t>(w + pad) * h, kUntouched) {}
};

FlipCopy describe(const std::vector<std::uint32_t>& picture, int width, int height, Target& t,
                  int at_x, int at_y) {
    FlipCopy c;
    c.pixels = reinterpret_cast<const std::uint8_t*>(picture.data());
    c.width = width;
    c.height = height;
    c.target = reinterpret_cast<std::uint8_t*>(t.pixels.data());
    c.target_stride = static_cast<std::ptrdiff_t>(t.stride_pixels) * 4;
    c.target_width = t.width;
    c.target_height = t.height;
    c.at_x = at_x;
    c.at_y = at_y;
    c.clip_x = 0;
    c.clip_y = 0;
    c.clip_width = t.width;
    c.clip_height = t.height;
    return c;
}

/// Every target pixel is the picture's pixel made opaque inside the written
/// rectangle, and untouched everywhere else (padding included).
void expect_copied(const Target& t, const FlipCopy& c, int left, int top, int right, int bottom) {
    int wrong = 0;
    for (int y = 0; y < t.height; ++y) {
        for (int x = 0; x < t.stride_pixels; ++x) {
            const std::uint32_t got = t.pixels[static_cast<std::size_t>(y) * t.stride_pixels + x];
            const bool inside = x >= left && x < right && y >= top && y < bottom;
            const std::uint32_t want =
                inside ? (static_cast<std::uint32_t>(((y - c.at_y) << 12) | (x - c.at_x)) |
                          0xFF000000u)
                       : kUntouched;
            if (got != want && ++wrong <= 5)
                ADD_FAILURE() << "pixel " << x << "," << y << " is " << std::hex << got
                              << ", expected " << want;
        }
    }
}

}  // namespace

TEST(RowCopy, FlipsAndMakesOpaqueWithPlainAndStreamingStoresAtEveryAlignment) {
    // The two-thread split runs on the real helper thread.
    start_frame_helper();
    // Odd widths and offsets put the 16-byte boundary at each place in a row, and
    // widths over 16 pixels exercise the streaming loop and its tail; odd heights
    // split unevenly between the threads, and one row cannot be split at all.
    for (std::int64_t stream_from : {std::int64_t{0}, INT64_MAX}) {
        for (std::int64_t share_from : {std::int64_t{0}, INT64_MAX}) {
            for (int at_x : {0, 1, 2, 3}) {
                for (int width : {1, 5, 16, 37, 67}) {
                    for (int height : {1, 7}) {
                        const auto picture = make_picture(width, height);
                        Target t(width + 6, height + 5, 3);
                        const FlipCopy c = describe(picture, width, height, t, at_x, 2);
                        SCOPED_TRACE(::testing::Message()
                                     << "width " << width << " height " << height << " at " << at_x
                                     << " stream from " << stream_from << " share from "
                                     << share_from);
                        EXPECT_EQ(copy_rows_flipped(c, stream_from, share_from), height);
                        expect_copied(t, c, at_x, 2, at_x + width, 2 + height);
                    }
                }
            }
        }
    }
}

TEST(RowCopy, WritesOnlyInsideClipAndTarget) {
    const int width = 40, height = 30;
    const auto picture = make_picture(width, height);
    for (std::int64_t stream_from : {std::int64_t{0}, INT64_MAX}) {
        // Shared between two threads, each half still keeps to the clip.
        const std::int64_t share_from = stream_from;
        // Clip inside the picture: a band from the middle.
        Target t(50, 40, 0);
        FlipCopy c = describe(picture, width, height, t, 4, 3);
        c.clip_x = 9;
        c.clip_y = 10;
        c.clip_width = 21;
        c.clip_height = 6;
        EXPECT_EQ(copy_rows_flipped(c, stream_from, share_from), 6);
        expect_copied(t, c, 9, 10, 30, 16);

        // A picture larger than the target is cut at the target's edges.
        Target small(25, 12, 2);
        FlipCopy d = describe(picture, width, height, small, 3, 1);
        d.clip_width = 1000;
        d.clip_height = 1000;
        EXPECT_EQ(copy_rows_flipped(d, stream_from, share_from), 11);
        expect_copied(small, d, 3, 1, 25, 12);

        // A picture placed above and left of the target shows its lower-right part.
        Target shifted(30, 20, 0);
        FlipCopy e = describe(picture, width, height, shifted, -5, -8);
        EXPECT_EQ(copy_rows_flipped(e, stream_from, share_from), 20);
        expect_copied(shifted, e, 0, 0, 30, 20);
    }
}

TEST(RowCopy, NothingToCopyWritesNothing) {
    const auto picture = make_picture(8, 8);
    Target t(16, 16, 0);
    FlipCopy c = describe(picture, 8, 8, t, 0, 0);
    FlipCopy outside = c;
    outside.at_x = 16;  // entirely right of the target
    FlipCopy empty_clip = c;
    empty_clip.clip_width = 0;
    FlipCopy huge_clip = c;  // 64-bit sums: no wrap to a negative extent
    huge_clip.clip_x = 2;
    huge_clip.clip_width = 0x7FFFFFFF;
    FlipCopy no_pixels = c;
    no_pixels.pixels = nullptr;
    EXPECT_EQ(copy_rows_flipped(outside), 0);
    EXPECT_EQ(copy_rows_flipped(empty_clip), 0);
    EXPECT_EQ(copy_rows_flipped(no_pixels), 0);
    expect_copied(t, c, 0, 0, 0, 0);
    EXPECT_EQ(copy_rows_flipped(huge_clip), 8);
    expect_copied(t, c, 2, 0, 8, 8);
}
