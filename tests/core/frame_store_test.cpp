#include "core/frame_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <tuple>

namespace {

bool all_zero(const std::uint8_t* p, std::size_t n) {
    return std::all_of(p, p + n, [](std::uint8_t b) { return b == 0; });
}

// The header fields that never change with the size.
void expect_fixed_fields(const FrameStore& store) {
    const BitmapInfoHeader& h = store.bitmap.header;
    EXPECT_EQ(h.biSize, 40u);
    EXPECT_EQ(h.biPlanes, 1);
    EXPECT_EQ(h.biBitCount, 32);
    EXPECT_EQ(h.biCompression, 0u);
    EXPECT_EQ(h.biSizeImage, 0u);
    EXPECT_EQ(h.biXPelsPerMeter, 0);
    EXPECT_EQ(h.biYPelsPerMeter, 0);
    EXPECT_EQ(h.biClrUsed, 0u);
    EXPECT_EQ(h.biClrImportant, 0u);
    EXPECT_EQ(store.bitmap.colors[0], 0u);
}

}  // namespace

TEST(FrameStore, StartsAsABlack960x540BottomUpPicture) {
    FrameStore store;
    ASSERT_EQ(reallocate_display(store), 0);
    expect_fixed_fields(store);
    EXPECT_EQ(display_width(store), 960);
    EXPECT_EQ(display_height(store), 540);  // positive: bottom-up
    ASSERT_NE(store.pixels, nullptr);
    EXPECT_TRUE(all_zero(store.pixels, 960u * 540u * 4u));
    ASSERT_NE(store.row_buffer, nullptr);
    EXPECT_TRUE(all_zero(store.row_buffer, kRowBufferBytes));
    EXPECT_EQ(store.convert, 0);
    release_display(store);
    EXPECT_EQ(store.pixels, nullptr);
    EXPECT_EQ(store.row_buffer, nullptr);
}

TEST(FrameStore, DisplaySizeIsSourceShiftedDownAndRowBufferIsKept) {
    FrameStore store;
    ASSERT_EQ(reallocate_display(store), 0);
    std::uint8_t* const row_buffer = store.row_buffer;
    store.pixels[5] = 0x77;  // a frame's pixel; a new display must not keep it

    store.source_width = 7680;
    store.source_height = 4320;
    store.shift = 3;
    ASSERT_EQ(reallocate_display(store), 0);
    EXPECT_EQ(display_width(store), 960);
    EXPECT_EQ(display_height(store), 540);
    EXPECT_TRUE(all_zero(store.pixels, 960u * 540u * 4u));
    EXPECT_EQ(store.row_buffer, row_buffer);

    store.shift = 0;
    ASSERT_EQ(reallocate_display(store), 0);
    EXPECT_EQ(display_width(store), 7680);
    EXPECT_EQ(display_height(store), 4320);
    const std::size_t bytes = 132710400;
    EXPECT_EQ(static_cast<std::size_t>(display_width(store)) * display_height(store) * 4, bytes);
    EXPECT_EQ(store.pixels[0], 0);
    EXPECT_EQ(store.pixels[bytes - 1], 0);

    // Sizes that are not multiples of the factor round down.
    store.source_width = 3841;
    store.source_height = 2163;
    store.shift = 2;
    ASSERT_EQ(reallocate_display(store), 0);
    EXPECT_EQ(display_width(store), 960);
    EXPECT_EQ(display_height(store), 540);
    store.shift = 1;
    ASSERT_EQ(reallocate_display(store), 0);
    EXPECT_EQ(display_width(store), 1920);
    EXPECT_EQ(display_height(store), 1081);
    expect_fixed_fields(store);
    EXPECT_EQ(store.row_buffer, row_buffer);
    release_display(store);
}

TEST(FrameStore, FailureLeavesAnEmptyDisplayThatLaterRecovers) {
    FrameStore store;
    ASSERT_EQ(reallocate_display(store), 0);

    // Sizes no reader accepts and shifts outside 0..3 cannot be displayed; the
    // result is the same consistent state an allocation failure leaves.
    for (auto [w, h, s] :
         {std::tuple{3840, 2160, 4}, std::tuple{3840, 2160, -1}, std::tuple{-8, 2160, 0},
          std::tuple{7681, 4320, 0}, std::tuple{7680, 4321, 0}}) {
        store.source_width = w;
        store.source_height = h;
        store.shift = s;
        EXPECT_EQ(reallocate_display(store), -1) << w << "x" << h << " >> " << s;
        EXPECT_EQ(store.pixels, nullptr);
        EXPECT_EQ(display_width(store), 0);
        EXPECT_EQ(display_height(store), 0);
        expect_fixed_fields(store);
    }

    store.source_width = 1920;
    store.source_height = 1080;
    store.shift = 1;
    ASSERT_EQ(reallocate_display(store), 0);
    EXPECT_EQ(display_width(store), 960);
    EXPECT_EQ(display_height(store), 540);
    EXPECT_NE(store.pixels, nullptr);
    release_display(store);
}

TEST(FrameStore, FrameSmallerThanTheFactorHasAnEmptyDisplayButABuffer) {
    FrameStore store;
    store.source_width = 7;
    store.source_height = 5;
    store.shift = 3;
    ASSERT_EQ(reallocate_display(store), 0);
    EXPECT_EQ(display_width(store), 0);
    EXPECT_EQ(display_height(store), 0);
    // Not null: a null pixel buffer means only that an allocation failed.
    EXPECT_NE(store.pixels, nullptr);
    release_display(store);
}
