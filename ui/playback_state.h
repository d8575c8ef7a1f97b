// What the window keeps for playing in time: the clock of the current run, where
// the rate comes from, the cache of decoded frames and the timeline's picture.
// Toolkit-free; the window logic owns one in its Window.
#pragma once

#include <cstdint>
#include <vector>

#include "core/play_clock.h"

struct FrameCache;

struct PlaybackState {
    PlayClock clock;
    /// --rate from the command line (0: not given), until a Playback menu
    /// choice overrides it.
    double command_rate = 0;
    /// The rate item chosen from the menu (0: none chosen yet).
    int rate_choice = 0;
    /// The rate the open sequence's first frame gives in its header (0: none).
    double file_rate = 0;
    /// The clock the runs are timed by (null: the platform's monotonic clock).
    std::int64_t (*now_us)(void* context) = nullptr;
    void* now_context = nullptr;
    /// Decoded frames ahead of the playhead (null: no cache).
    FrameCache* cache = nullptr;
    /// Frames shown from the cache, and frames read instead while it was on.
    std::int64_t cache_hits = 0;
    std::int64_t cache_misses = 0;
    std::uint64_t cache_frame_bytes = 0;
    /// Sequences opened so far, and the sequence, size and conversion the cache
    /// last took, so that any change of them empties it.
    std::uint64_t opens = 0;
    std::uint64_t cached_opens = 0;
    std::int32_t cached_width = 0, cached_height = 0, cached_shift = -1, cached_convert = -1;
    /// Scratch: the frames planned ahead, the frames ready, the timeline.
    std::vector<std::int32_t> plan;
    std::vector<std::uint8_t> ready;
    std::vector<std::uint8_t> timeline;
};
