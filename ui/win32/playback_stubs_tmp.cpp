// Stand-ins for the window logic's playback calls (see playback_stubs_tmp.h).
#include "ui/win32/playback_stubs_tmp.h"

#include <algorithm>
#include <vector>

namespace {

std::vector<std::uint8_t> g_strip;

}  // namespace

std::int64_t window_tick_delay_us(const Window&) {
    return kTimerMs * 1000;
}

ShownPicture window_timeline_picture(Window& win, int width) {
    ShownPicture shown;
    const Sequence& seq = win.viewer.seq;
    if (width <= 0 || seq.frame_count <= 0) return shown;
    g_strip.assign(static_cast<std::size_t>(width) * kTimelineHeight * 4, 40);
    const int head =
        static_cast<int>(static_cast<long long>(seq.current_frame) * width / seq.frame_count);
    for (int y = 0; y < kTimelineHeight; ++y) {
        std::uint8_t* p = &g_strip[(static_cast<std::size_t>(y) * width + head) * 4];
        p[0] = p[1] = p[2] = 255;
    }
    shown.pixels = g_strip.data();
    shown.width = width;
    shown.height = kTimelineHeight;
    return shown;
}

void window_timeline_press(Window& win, int x, int width) {
    Sequence& seq = win.viewer.seq;
    if (width <= 0 || seq.frame_count <= 0) return;
    win.front.stop_timer(win.front.context);
    win.timer_running = false;
    win.viewer.play.step = 0;
    const int frame =
        std::clamp(static_cast<int>(static_cast<long long>(x) * seq.frame_count / width), 0,
                   static_cast<int>(seq.frame_count) - 1);
    if (frame == seq.current_frame) {
        win.front.repaint(win.front.context);
        return;
    }
    seq.current_frame = frame;
    load_current_frame(win.viewer);
    win.front.repaint(win.front.context);
}

void window_timeline_drag(Window& win, int x, int width) {
    window_timeline_press(win, x, width);
}
