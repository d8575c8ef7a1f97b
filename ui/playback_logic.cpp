#include "ui/playback_logic.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/formats/format.h"
#include "core/frame_cache.h"
#include "platform/platform.h"

namespace {

struct RateItem {
    int id;
    double rate;
};

const RateItem kRateItems[] = {
    {kCmdRateTick, kTickRate},
    {kCmdRate23976, 24000.0 / 1001},
    {kCmdRate24, 24},
    {kCmdRate25, 25},
    {kCmdRate2997, 30000.0 / 1001},
    {kCmdRate30, 30},
    {kCmdRate48, 48},
    {kCmdRate50, 50},
    {kCmdRate5994, 60000.0 / 1001},
    {kCmdRate60, 60},
    {kCmdRate120, 120},
};

/// Most frames planned ahead, whatever the budget holds: a plan is rebuilt on
/// every tick.
constexpr int kMostPlanned = 1024;

std::int64_t now(const Window& win) {
    const PlaybackState& p = win.playback;
    return p.now_us ? p.now_us(p.now_context) : monotonic_us();
}

/// The item a --rate of `rate` checks: one whose rate it names to the
/// precision menus print (23.976 names 24000/1001), else 0.
int item_for_rate(double rate) {
    for (const RateItem& item : kRateItems)
        if (std::fabs(item.rate - rate) < 0.0005 + 1e-9) return item.id;
    return 0;
}

void check_rate_items(Window& win) {
    const PlaybackState& p = win.playback;
    int checked = p.rate_choice;
    if (checked == 0)
        checked = p.command_rate > 0 ? item_for_rate(p.command_rate) : kCmdRateFromFile;
    for (const RateItem& item : kRateItems)
        win.front.check_menu(win.front.context, item.id, item.id == checked);
    win.front.check_menu(win.front.context, kCmdRateFromFile, checked == kCmdRateFromFile);
}

void check_mode_items(Window& win) {
    const bool every = win.playback.clock.mode == kPlayEveryFrame;
    win.front.check_menu(win.front.context, kCmdRealTime, !every);
    win.front.check_menu(win.front.context, kCmdEveryFrame, every);
}

/// Takes the rate in force into the clock; a run going on starts again at it.
void follow_rate(Window& win) {
    const double rate = usable_rate(playback_rate(win));
    if (rate != win.playback.clock.rate) clock_set_rate(win.playback.clock, rate, now(win));
}

/// The rate the header of the current frame gives (0: none).
double header_rate_of_current(const Window& win) {
    const Sequence& seq = win.viewer.seq;
    if (seq.frame_count <= 0) return 0;
    char path[kPathMax];
    if (frame_path(seq, seq.current_frame, path) != 0) return 0;
    FrameInfo info;
    if (read_frame_info(seq.source_format, path, win.viewer.store.source_width,
                        win.viewer.store.source_height, info) != 0)
        return 0;
    return info.header.present ? header_frame_rate(info.header) : 0;
}

/// True when the cache was last given this very sequence and display.
bool cache_follows(const PlaybackState& p, const FrameStore& store) {
    return p.cached_opens == p.opens && p.cached_width == store.source_width &&
           p.cached_height == store.source_height && p.cached_shift == store.shift &&
           p.cached_convert == store.convert;
}

bool playing(const Window& win) {
    return win.timer_running && win.viewer.play.step != 0 && win.viewer.seq.frame_count > 0;
}

}  // namespace

double rate_of_item(int id) {
    for (const RateItem& item : kRateItems)
        if (item.id == id) return item.rate;
    return 0;
}

double playback_rate(const Window& win) {
    const PlaybackState& p = win.playback;
    if (p.rate_choice == 0 && p.command_rate > 0) return usable_rate(p.command_rate);
    if (p.rate_choice != 0 && p.rate_choice != kCmdRateFromFile) return rate_of_item(p.rate_choice);
    return p.file_rate > 0 ? usable_rate(p.file_rate) : kTickRate;
}

void format_rate(double rate, char* out, int capacity) {
    if (!out || capacity <= 0) return;
    std::snprintf(out, static_cast<std::size_t>(capacity), "%.3f", rate);
    char* dot = std::strchr(out, '.');
    if (!dot) return;
    char* end = out + std::strlen(out);
    while (end > dot + 1 && end[-1] == '0') --end;
    if (end == dot + 1) end = dot;
    *end = '\0';
}

std::int64_t window_tick_delay_us(const Window& win) {
    const PlayClock& clock = win.playback.clock;
    if (!clock.running)
        return static_cast<std::int64_t>(std::llround(1e6 / usable_rate(clock.rate)));
    return clock_delay_us(clock, now(win));
}

int timeline_frame(const Window& win, int x, int width) {
    const std::int32_t count = win.viewer.seq.frame_count;
    if (count <= 0 || width <= 0) return -1;
    const long long at = std::max(0, std::min(x, width - 1));
    return static_cast<int>(at * count / width);
}

ShownPicture window_timeline_picture(Window& win, int width) {
    ShownPicture picture;
    PlaybackState& p = win.playback;
    const Sequence& seq = win.viewer.seq;
    if (seq.frame_count <= 0 || width <= 0) return picture;
    const std::size_t row = static_cast<std::size_t>(width) * 4;
    p.timeline.assign(row * kTimelineHeight, 0);
    auto fill = [&](int x0, int x1, int y0, int y1, std::uint8_t b, std::uint8_t g,
                    std::uint8_t r) {
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) {
                std::uint8_t* px = &p.timeline[static_cast<std::size_t>(y) * row +
                                               static_cast<std::size_t>(x) * 4];
                px[0] = b;
                px[1] = g;
                px[2] = r;
            }
    };
    fill(0, width, 0, kTimelineHeight, 0x30, 0x30, 0x30);
    // A column shows the frames x * count / width up to the next column's first.
    const long long count = seq.frame_count;
    auto first_x = [&](long long frame) {
        return static_cast<int>((frame * width + count - 1) / count);
    };
    cache_ready_frames(p.cache, p.ready);
    for (long long f = 0; f < count && f < static_cast<long long>(p.ready.size()); ++f) {
        if (!p.ready[static_cast<std::size_t>(f)]) continue;
        const int x0 = std::min(width - 1, static_cast<int>(f * width / count));
        const int x1 = std::max(x0 + 1, std::min(width, first_x(f + 1)));
        fill(x0, x1, 3, kTimelineHeight - 3, 0x50, 0xB0, 0x50);
    }
    const long long current = std::max(0, std::min(seq.current_frame, seq.frame_count - 1));
    const int x0 = std::min(width - 1, static_cast<int>(current * width / count));
    const int x1 = std::max(x0 + 1, std::min(width, first_x(current + 1)));
    fill(x0, x1, 0, kTimelineHeight, 0xFF, 0xFF, 0xFF);
    picture.pixels = p.timeline.data();
    picture.width = width;
    picture.height = kTimelineHeight;
    return picture;
}

void playback_startup(Window& win, const CommandLine* options) {
    PlaybackState& p = win.playback;
    p.command_rate = options ? options->rate : 0;
    p.rate_choice = 0;
    if (!options || options->cache_mb == 0) return;
    std::uint64_t budget = 0;
    if (options->cache_mb > 0)
        budget = static_cast<std::uint64_t>(options->cache_mb) * 1024 * 1024;
    else
        budget = available_memory_bytes() / 2;
    p.cache = cache_create(budget, cache_worker_count(processor_count()), &win.viewer.tables);
}

void playback_window_created(Window& win) {
    check_rate_items(win);
    check_mode_items(win);
}

bool playback_command(Window& win, int id) {
    PlaybackState& p = win.playback;
    if (id == kCmdRealTime || id == kCmdEveryFrame) {
        p.clock.mode = id == kCmdEveryFrame ? kPlayEveryFrame : kPlayRealTime;
        // The counts of a run belong to one mode.
        if (p.clock.running) clock_start(p.clock, now(win));
        check_mode_items(win);
        return true;
    }
    if (id != kCmdRateFromFile && rate_of_item(id) == 0) return false;
    p.rate_choice = id;
    check_rate_items(win);
    follow_rate(win);
    return true;
}

void playback_run(Window& win, bool run) {
    PlayClock& clock = win.playback.clock;
    if (!run) {
        clock_stop(clock);
        return;
    }
    // Every key that (re)starts the timer starts a run: the step it set is
    // timed from now.
    clock.rate = usable_rate(playback_rate(win));
    clock_start(clock, now(win));
}

std::int64_t playback_tick(Window& win) {
    return clock_advance(win.playback.clock, now(win));
}

bool playback_take_cached(Window& win) {
    PlaybackState& p = win.playback;
    Viewer& viewer = win.viewer;
    if (!p.cache) return false;
    if (viewer.seq.frame_count <= 0) {
        cache_display_written(p.cache);
        return false;
    }
    // The cache must hold the frames of this very sequence and display.
    if (!cache_follows(p, viewer.store)) {
        cache_display_written(p.cache);
        return false;
    }
    char path[kPathMax];
    // A frame a worker is reading now is waited for while that costs less
    // than half a frame's time; after that the window reads it itself.
    const std::int64_t wait_us =
        p.clock.running ? static_cast<std::int64_t>(5e5 / usable_rate(p.clock.rate)) : 0;
    if (cache_take(p.cache, viewer.seq.current_frame, viewer.store, path, wait_us) != 0) {
        // The window reads the frame into the display itself; the cache keeps
        // it once the next frame takes the display's place.
        cache_display_reading(p.cache, viewer.seq.current_frame, viewer.store);
        ++p.cache_misses;
        return false;
    }
    ++p.cache_hits;
    std::memcpy(viewer.seq.current_path, path, std::strlen(path) + 1);
    return true;
}

void playback_frame_read(Window& win, bool read) {
    cache_display_read(win.playback.cache, win.viewer.store, read);
}

void playback_after_show(Window& win) {
    PlaybackState& p = win.playback;
    const Viewer& viewer = win.viewer;
    const FrameStore& store = viewer.store;
    const bool new_sequence = p.cached_opens != p.opens;
    if (new_sequence) {
        p.file_rate = header_rate_of_current(win);
        follow_rate(win);
    }
    if (!p.cache) {
        p.cached_opens = p.opens;
        return;
    }
    if (!cache_follows(p, store)) {
        p.cached_opens = p.opens;
        p.cached_width = store.source_width;
        p.cached_height = store.source_height;
        p.cached_shift = store.shift;
        p.cached_convert = store.convert;
        cache_set_sequence(p.cache, viewer.seq, store.source_width, store.source_height,
                           store.shift, store.convert);
        p.cache_frame_bytes = static_cast<std::uint64_t>(store.source_width >> store.shift) *
                              static_cast<std::uint64_t>(store.source_height >> store.shift) * 4;
    }
    p.plan.clear();
    // Marked pixels are read with the frame; decoded frames carry none.
    if (playing(win) && !store.marks && p.cache_frame_bytes > 0) {
        const std::uint64_t fit = cache_budget(p.cache) / p.cache_frame_bytes;
        const std::int64_t most = std::min<std::int64_t>(
            {static_cast<std::int64_t>(fit), viewer.seq.frame_count - 1, kMostPlanned});
        Sequence walk;
        walk.frame_count = viewer.seq.frame_count;
        walk.current_frame = viewer.seq.current_frame;
        for (std::int64_t i = 0; i < most; ++i) {
            walk.current_frame = next_frame_index(walk, viewer.play);
            p.plan.push_back(walk.current_frame);
        }
    }
    cache_plan(p.cache, p.plan.data(), static_cast<int>(p.plan.size()));
}

void playback_segment(const Window& win, char* out, int capacity) {
    if (!out || capacity <= 0) return;
    out[0] = '\0';
    if (win.viewer.seq.frame_count <= 0) return;
    char rate[32];
    format_rate(playback_rate(win), rate, sizeof rate);
    const PlayClock& clock = win.playback.clock;
    if (playing(win) && clock.running) {
        std::snprintf(out, static_cast<std::size_t>(capacity), "%.2f/%s fps, %lld dropped",
                      clock_measured_rate(clock), rate, static_cast<long long>(clock.dropped));
        return;
    }
    std::snprintf(out, static_cast<std::size_t>(capacity), "%s fps", rate);
}

void playback_shutdown(Window& win) {
    cache_destroy(win.playback.cache);
    win.playback.cache = nullptr;
    clock_stop(win.playback.clock);
}
