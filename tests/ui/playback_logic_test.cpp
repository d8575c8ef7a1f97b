// Playing in time through the window logic: where the rate comes from, ticks
// timed by a clock the test sets, the timeline, and frames shown from the cache.
#include "ui/playback_logic.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/frame_cache.h"
#include "support/test_files.h"
#include "tools/frame_files.h"

namespace {

struct Front {
    Window* win = nullptr;
    bool checked[1000] = {};
    std::string status[kStatusParts];
    bool timer = false;
    int repaints = 0;
    std::int64_t now = 1'000'000;
};

Front& of(void* c) {
    return *static_cast<Front*>(c);
}

void install(Window& win, Front& f) {
    f.win = &win;
    FrontEnd& e = win.front;
    e.context = &f;
    e.fit_picture = [](void* c, int w, int h) { window_view_resized(*of(c).win, w, h); };
    e.repaint = [](void* c) {
        ++of(c).repaints;
        window_paint_status(*of(c).win);
    };
    e.set_status = [](void* c, int part, const char* text) { of(c).status[part] = text; };
    e.start_timer = [](void* c) { of(c).timer = true; };
    e.stop_timer = [](void* c) { of(c).timer = false; };
    e.quit = [](void*) {};
    e.close_window = [](void*) {};
    e.ask_open_file = [](void*, char*, int) { return false; };
    e.show_about = [](void*) {};
    e.ask_frame = [](void*, const char*, char*, int) { return false; };
    e.check_menu = [](void* c, int id, bool on) { of(c).checked[id] = on; };
    e.beep = [](void*) {};
    e.show_text = [](void*, const char*, const char*) {};
    e.show_scopes = [](void*, bool) {};
    e.repaint_scopes = [](void*) {};
    e.start_scopes_poll = [](void*, int) {};
    e.enable_menu = [](void*, int, bool) {};
    e.set_compare_line = [](void*, const char*) {};
    e.wake = [](void*) {};
    win.viewer.error_box = [](void*, const char*, const char*) {};
    win.playback.now_us = [](void* c) { return of(c).now; };
    win.playback.now_context = &f;
}

/// Frame `f` is one flat colour: red f * 16 + 8, green 255 - f * 16 (8-bit codes).
void write_frame(const std::string& path, int f, std::uint32_t tv_rate_bits) {
    const int w = 32, h = 16;
    std::vector<std::uint16_t> rgb(static_cast<std::size_t>(w) * h * 3);
    for (std::size_t i = 0; i < rgb.size(); i += 3) {
        rgb[i] = static_cast<std::uint16_t>((f * 16 + 8) << 8);
        rgb[i + 1] = static_cast<std::uint16_t>((255 - f * 16) << 8);
        rgb[i + 2] = 0x4000;
    }
    std::vector<std::uint8_t> bytes = make_dpx_file(w, h, rgb.data());
    for (int i = 0; i < 4; ++i)
        bytes[1940 + i] = static_cast<std::uint8_t>(tv_rate_bits >> (24 - 8 * i));
    ASSERT_EQ(write_file(path, bytes), 0);
}

std::uint32_t float_bits(float value) {
    std::uint32_t bits;
    std::memcpy(&bits, &value, 4);
    return bits;
}

class PlayInTime : public ::testing::Test {
  protected:
    void SetUp() override { install(win, front); }
    void TearDown() override { window_shutdown(win); }
    /// `count` frames giving `rate_bits` in their headers; opened with `options`.
    void start(int count, std::uint32_t rate_bits, const CommandLine& options) {
        for (int f = 0; f < count; ++f)
            write_frame(dir.file("run_" + std::to_string(f) + ".dpx"), f, rate_bits);
        const std::string first = dir.file("run_0.dpx");
        ASSERT_EQ(window_startup(win, first.c_str(), &options), 0);
        window_created(win);
        window_paint_status(win);
    }
    int checked_rate() const {
        int found = 0;
        for (int id = kCmdRateTick; id <= kCmdRateFromFile; ++id)
            if (front.checked[id]) found = found ? -1 : id;
        return found;
    }
    /// Red of the picture shown, as the frame number it belongs to.
    int shown_frame() const { return (win.viewer.store.pixels[2] - 8) / 16; }

    TempDir dir;
    Window win;
    Front front;
};

}  // namespace

TEST_F(PlayInTime, RateComesFromCommandLineThenMenuThenHeaderThenTick) {
    CommandLine options;
    options.rate = 23.976;
    options.cache_mb = 0;
    start(3, float_bits(25.0f), options);
    EXPECT_EQ(checked_rate(), kCmdRate23976);
    EXPECT_TRUE(front.checked[kCmdRealTime]);
    EXPECT_FALSE(front.checked[kCmdEveryFrame]);
    EXPECT_EQ(front.status[3], "23.976 fps");
    window_command(win, kCmdRate5994);
    EXPECT_EQ(checked_rate(), kCmdRate5994);
    EXPECT_EQ(front.status[3], "59.94 fps");
    window_command(win, kCmdRateFromFile);
    EXPECT_EQ(checked_rate(), kCmdRateFromFile);
    EXPECT_EQ(front.status[3], "25 fps");
    window_command(win, kCmdRateTick);
    EXPECT_EQ(front.status[3], "62.5 fps");

    // Without --rate: From File; a rate the menu does not list checks none.
    for (double rate : {0.0, 33.5}) {
        Window other;
        Front f;
        install(other, f);
        CommandLine o;
        o.rate = rate;
        o.cache_mb = 0;
        ASSERT_EQ(window_startup(other, dir.file("run_0.dpx").c_str(), &o), 0);
        window_created(other);
        window_paint_status(other);
        EXPECT_EQ(f.checked[kCmdRateFromFile], rate == 0);
        EXPECT_EQ(f.status[3], rate == 0 ? "25 fps" : "33.5 fps");
        window_shutdown(other);
    }
}

TEST_F(PlayInTime, TicksFollowTheClockDroppingOrHoldingLateFrames) {
    CommandLine options;
    options.cache_mb = 0;
    // All ones: the header gives no rate, so the 16 ms tick (62.5) is in force.
    start(10, 0xFFFFFFFFu, options);
    window_command(win, kCmdRate25);
    const std::int64_t t0 = front.now;
    window_key(win, kKeyRight);
    ASSERT_TRUE(front.timer);
    EXPECT_EQ(window_tick_delay_us(win), 40'000);
    front.now = t0 + 40'000;
    window_tick(win);
    EXPECT_EQ(shown_frame(), 1);
    // Shown at the time of tick 5: frames 2 to 4 are dropped, 5 is shown.
    front.now = t0 + 200'500;
    window_tick(win);
    EXPECT_EQ(shown_frame(), 5);
    EXPECT_EQ(window_tick_delay_us(win), 39'500);
    // Two ticks shown 160.5 ms apart.
    char want[64];
    std::snprintf(want, sizeof want, "%.2f/25 fps, 3 dropped", 1 / 0.1605);
    EXPECT_EQ(front.status[3], want);

    // Every Frame: the late frame is the next one, and the run holds.
    window_command(win, kCmdEveryFrame);
    EXPECT_TRUE(front.checked[kCmdEveryFrame]);
    const std::int64_t t1 = front.now;
    front.now = t1 + 300'000;
    window_tick(win);
    EXPECT_EQ(shown_frame(), 6);
    EXPECT_EQ(window_tick_delay_us(win), 40'000);
    EXPECT_EQ(front.status[3].substr(front.status[3].size() - 9), "1 dropped");

    // Backwards past the first frame, two at a time: the last frame next.
    window_key(win, kKeyLeft);
    window_key(win, kKeyLeft);
    window_key(win, kKeyLeft);
    ASSERT_EQ(win.viewer.play.step, -2);
    for (int want : {4, 2, 0, 9, 7}) {
        front.now += 40'000;
        window_tick(win);
        EXPECT_EQ(shown_frame(), want);
    }
    window_key(win, ' ');
    EXPECT_EQ(front.status[3], "25 fps");
}

TEST_F(PlayInTime, TimelineShowsPlayheadAndCachedFramesAndAClickPausesThere) {
    CommandLine options;
    options.cache_mb = 16;
    start(8, 0xFFFFFFFFu, options);
    ASSERT_NE(win.playback.cache, nullptr);
    window_key(win, kKeyRight);
    cache_wait_idle(win.playback.cache);
    const int width = 80;  // 10 columns a frame
    ShownPicture strip = window_timeline_picture(win, width);
    ASSERT_NE(strip.pixels, nullptr);
    ASSERT_EQ(strip.height, kTimelineHeight);
    auto at = [&](int x, int y) {
        return strip.pixels + (static_cast<std::size_t>(y) * width + x) * 4;
    };
    std::vector<std::uint8_t> ready;
    cache_ready_frames(win.playback.cache, ready);
    ASSERT_EQ(ready.size(), 8u);
    for (int f = 0; f < 8; ++f) {
        const std::uint8_t* mid = at(f * 10 + 5, kTimelineHeight / 2);
        const std::uint8_t* edge = at(f * 10 + 5, 0);
        if (f == 0) {
            EXPECT_EQ(mid[0], 0xFF);  // the playhead, full height
            EXPECT_EQ(edge[0], 0xFF);
        } else {
            EXPECT_EQ(mid[1] > mid[0], ready[f] != 0) << f;  // cached: green
            EXPECT_EQ(edge[1], edge[0]) << f;
        }
    }
    EXPECT_TRUE(ready[1]);

    // Frames taken from the cache are the frames: each tick shows its own.
    for (int f = 1; f < 6; ++f) {
        front.now += 16'000;
        window_tick(win);
        EXPECT_EQ(shown_frame(), f);
        EXPECT_EQ(front.status[0], "run_" + std::to_string(f) + ".dpx");
    }

    const int repaints = front.repaints;
    window_timeline_press(win, 5 * 10 + 3, width);  // frame 5, shown already
    EXPECT_FALSE(front.timer);
    EXPECT_EQ(win.viewer.play.step, 0);
    EXPECT_EQ(front.status[2], "Step: 0");
    EXPECT_EQ(front.repaints, repaints);
    window_timeline_drag(win, 2 * 10, width);
    EXPECT_EQ(shown_frame(), 2);
    EXPECT_EQ(front.status[1], "Frame: 2/8");
    window_timeline_drag(win, -40, width);
    EXPECT_EQ(shown_frame(), 0);
    window_timeline_drag(win, width + 40, width);
    EXPECT_EQ(shown_frame(), 7);
}
