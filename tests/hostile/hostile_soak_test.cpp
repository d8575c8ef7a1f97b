// The soak run (scripts/soak.sh): plays a sequence through the window logic for
// minutes, at step +10 and -10, through every size and with the colour
// conversion toggled, while another process replaces frames on disk. Disabled in
// the normal test run; soak.sh enables it and names the folder and duration:
//   KARVELIN_SOAK_FRAME    path of a frame of the sequence to open
//   KARVELIN_SOAK_SECONDS  how long to play (default 120)
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "hostile/hostile_support.h"
#include "support/heap_use.h"

#if defined(KARVELIN_HAVE_UI)
#include "ui/window_logic.h"
#endif

namespace {

/// Resident set size in bytes, from /proc/self/statm.
std::size_t rss_bytes() {
    std::FILE* f = std::fopen("/proc/self/statm", "r");
    if (!f) return 0;
    unsigned long size = 0, resident = 0;
    if (std::fscanf(f, "%lu %lu", &size, &resident) != 2) resident = 0;
    std::fclose(f);
    return resident * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

#if defined(KARVELIN_HAVE_UI)
struct SoakFront {
    Window* win = nullptr;
    bool checked[1000] = {};
    bool timer = false;
    int fit_width = 0, fit_height = 0;
    long repaints = 0;
    std::vector<std::string> errors;
};

SoakFront& soak(void* c) {
    return *static_cast<SoakFront*>(c);
}

void install(Window& win, SoakFront& f) {
    f.win = &win;
    f.checked[kCmdSizeQuarter] = true;
    win.front.context = &f;
    win.front.fit_picture = [](void* c, int w, int h) {
        soak(c).fit_width = w;
        soak(c).fit_height = h;
    };
    win.front.repaint = [](void* c) {
        ++soak(c).repaints;
        window_paint_status(*soak(c).win);
    };
    win.front.set_status = [](void*, int, const char*) {};
    win.front.start_timer = [](void* c) { soak(c).timer = true; };
    win.front.stop_timer = [](void* c) { soak(c).timer = false; };
    win.front.quit = [](void*) {};
    win.front.close_window = [](void*) {};
    win.front.ask_open_file = [](void*, char*, int) { return false; };
    win.front.show_about = [](void*) {};
    win.front.check_menu = [](void* c, int id, bool on) { soak(c).checked[id] = on; };
    win.front.beep = [](void*) {};
    win.front.enable_menu = [](void*, int, bool) {};
    win.front.set_compare_line = [](void*, const char*) {};
    win.front.wake = [](void*) {};
    win.viewer.error_box = [](void* c, const char* message, const char*) {
        soak(c).errors.push_back(message);
    };
    win.viewer.error_context = &f;
}
#endif

}  // namespace

TEST(Soak, DISABLED_PlayWhileFramesAreReplaced) {
#if !defined(KARVELIN_HAVE_UI)
    GTEST_SKIP() << "the soak run drives the window logic, which this build lacks";
#else
    const char* frame = std::getenv("KARVELIN_SOAK_FRAME");
    if (!frame) GTEST_SKIP() << "KARVELIN_SOAK_FRAME is not set (scripts/soak.sh sets it)";
    const char* seconds_text = std::getenv("KARVELIN_SOAK_SECONDS");
    const double seconds = seconds_text ? std::atof(seconds_text) : 120.0;
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    auto elapsed = [&] { return std::chrono::duration<double>(Clock::now() - start).count(); };

    Window win;
    SoakFront front;
    install(win, front);
    ASSERT_EQ(window_startup(win, nullptr), 0);
    window_created(win);
    window_drop(win, frame);
    ASSERT_TRUE(front.errors.empty()) << front.errors[0];
    ASSERT_GT(win.viewer.seq.frame_count, 0);
    std::printf("soak: %d frames of %dx%d, %.0f s\n", win.viewer.seq.frame_count,
                win.viewer.store.source_width, win.viewer.store.source_height, seconds);

    long ticks = 0;
    int rounds = 0;
    std::size_t heap_start = 0, rss_start = 0;
    double measured_at = 0;
    auto set_step = [&](int step) {
        while (win.viewer.play.step < step) window_key(win, kKeyRight);
        while (win.viewer.play.step > step) window_key(win, kKeyLeft);
    };
    auto play = [&](int count) {
        for (int t = 0; t < count; ++t) {
            window_tick(win);
            ++ticks;
            const FrameStore& s = win.viewer.store;
            ASSERT_NE(s.pixels, nullptr);
            ASSERT_TRUE(display_matches_source(s));
            ASSERT_EQ(front.fit_width, display_width(s));
            ASSERT_EQ(front.fit_height, display_height(s));
            ASSERT_TRUE(front.timer);
        }
    };
    // One round: every size (1/8 and 1/4 more often, as they are the cheap ones),
    // each played forwards and backwards at ten frames a tick, the conversion
    // switched on for half of them.
    const int sizes[] = {kCmdSizeEighth, kCmdSizeQuarter,  kCmdSizeHalf,
                         kCmdSizeEighth, kCmdSizeOriginal, kCmdSizeQuarter};
    while (elapsed() < seconds) {
        for (int size : sizes) {
            window_command(win, size);
            set_step(10);
            play(size == kCmdSizeOriginal ? 10 : 40);
            window_command(win, kCmdConvert);
            set_step(-10);
            play(size == kCmdSizeOriginal ? 10 : 40);
            if (::testing::Test::HasFatalFailure()) return;
        }
        ++rounds;
        // After the first round every buffer size has been allocated once; from
        // then on the heap and the resident size must stay where they are.
        if (rounds == 1) {
            heap_start = heap_in_use();
            rss_start = rss_bytes();
            measured_at = elapsed();
        }
    }
    const std::size_t heap_end = heap_in_use();
    const std::size_t rss_end = rss_bytes();
    std::printf(
        "soak: %.0f s, %d rounds, %ld ticks; heap %zu -> %zu bytes, RSS %zu -> %zu KB "
        "(from %.0f s on)\n",
        elapsed(), rounds, ticks, heap_start, heap_end, rss_start >> 10, rss_end >> 10,
        measured_at);
    EXPECT_TRUE(front.errors.empty())
        << front.errors.size()
        << " error boxes, first: " << (front.errors.empty() ? "" : front.errors[0]);
    if (rounds >= 2) {
        EXPECT_LE(heap_end, heap_start + (1u << 20)) << "the heap grew during playback";
        EXPECT_LE(rss_end, rss_start + (64u << 20)) << "the resident size grew during playback";
    }
    window_shutdown(win);
#endif
}
