// The cache of decoded frames played through like the window does, with frames
// rewritten on disk and slot allocations that fail, every frame it gives
// checked against the samples written.
#include "core/frame_cache.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/readers.h"
#include "support/test_files.h"
#include "tools/frame_files.h"

namespace {

constexpr int kWidth = 40;
constexpr int kHeight = 24;
constexpr int kFrames = 8;

/// Display pixel (c, r), r from the bottom, is source pixel (c << shift, r <<
/// shift from the bottom), the top 8 bits of each sample, blue first.
bool matches(const FrameStore& store, const std::vector<std::uint16_t>& rgb, int* bad) {
    const int w = display_width(store);
    const int h = display_height(store);
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c) {
            const std::size_t top = static_cast<std::size_t>(kHeight - 1 - (r << store.shift));
            const std::uint16_t* s =
                &rgb[(top * kWidth + (static_cast<std::size_t>(c) << store.shift)) * 3];
            const std::uint8_t* p = store.pixels + (static_cast<std::size_t>(r) * w + c) * 4;
            if (p[0] != s[2] >> 8 || p[1] != s[1] >> 8 || p[2] != s[0] >> 8) {
                *bad = r * w + c;
                return false;
            }
        }
    return true;
}

struct FailingAlloc {
    std::atomic<int> calls{0};
    int fail_at = 3;
};

void* failing_alloc(void* context, std::size_t bytes) {
    auto* f = static_cast<FailingAlloc*>(context);
    if (++f->calls == f->fail_at) return nullptr;
    return heap_alloc_zeroed(bytes);
}

}  // namespace

TEST(FrameCache, PlayedFramesMatchTheirFilesThroughRewritesAndFailedAllocations) {
    TempDir dir;
    std::vector<std::vector<std::uint16_t>> samples;
    auto name = [&](int f) { return dir.file("take_" + std::to_string(f) + ".dpx"); };
    for (int f = 0; f < kFrames; ++f) {
        samples.push_back(test_pattern(kWidth, kHeight, f));
        ASSERT_EQ(write_dpx_file(name(f), kWidth, kHeight, samples.back().data()), 0);
    }
    Sequence seq;
    std::snprintf(seq.current_path, sizeof seq.current_path, "%s", name(0).c_str());
    ASSERT_EQ(discover_sequence(seq), 0);
    ASSERT_EQ(seq.frame_count, kFrames);
    FrameStore store;
    store.source_width = kWidth;
    store.source_height = kHeight;
    store.shift = 1;
    ASSERT_EQ(reallocate_display(store), 0);
    const std::size_t frame_bytes = static_cast<std::size_t>(kWidth / 2) * (kHeight / 2) * 4;

    ConversionTables tables;
    FrameCache* cache = cache_create(5 * frame_bytes, 1, &tables);
    ASSERT_NE(cache, nullptr);
    FailingAlloc alloc;
    cache_set_alloc(cache, failing_alloc, &alloc);
    cache_set_sequence(cache, seq, kWidth, kHeight, 1, 0);

    int taken = 0;
    int stale_refused = 0;
    for (int i = 0; i < 3 * kFrames; ++i) {
        const int frame = i % kFrames;
        if (i == 10) {
            // Frames 3 and 4, decoded by now, change on disk: new samples, and
            // a modification time the stamp must see move.
            for (int f : {3, 4}) {
                samples[f] = test_pattern(kWidth, kHeight, 100 + f);
                const auto before = std::filesystem::last_write_time(name(f));
                ASSERT_EQ(write_dpx_file(name(f), kWidth, kHeight, samples[f].data()), 0);
                std::filesystem::last_write_time(name(f), before + std::chrono::seconds(2));
            }
        }
        std::vector<std::int32_t> plan;
        for (int k = 0; k < 5; ++k) plan.push_back((frame + k) % kFrames);
        cache_plan(cache, plan.data(), static_cast<int>(plan.size()));
        cache_wait_idle(cache);
        char path[kPathMax] = {};
        const int took = cache_take(cache, frame, store, path);
        // The worker refills the slot before anything on disk changes again.
        cache_wait_idle(cache);
        if (took != 0) {
            // Frame 3 was decoded before it changed; frame 4 again after.
            if (i == 11) ++stale_refused;
            // The window reads it itself, and the cache keeps what it read.
            cache_display_reading(cache, frame, store);
            ASSERT_EQ(read_dpx_frame(name(frame).c_str(), store, tables), 0);
            cache_display_read(cache, store, true);
            continue;
        }
        ++taken;
        EXPECT_EQ(std::string(path), name(frame));
        int bad = -1;
        EXPECT_TRUE(matches(store, samples[frame], &bad))
            << "frame " << frame << " at " << i << ", pixel " << bad;
    }
    // The failed allocation left the cache with what it held, and it went on.
    EXPECT_EQ(cache_budget(cache), 2 * frame_bytes);
    EXPECT_LE(cache_held(cache), cache_budget(cache));
    EXPECT_GE(taken, 2 * kFrames);
    EXPECT_EQ(stale_refused, 1);

    // Another size: nothing decoded before is given for it.
    std::vector<std::uint8_t> ready;
    cache_ready_frames(cache, ready);
    store.shift = 2;
    ASSERT_EQ(reallocate_display(store), 0);
    cache_set_sequence(cache, seq, kWidth, kHeight, 2, 0);
    cache_ready_frames(cache, ready);
    EXPECT_EQ(ready, std::vector<std::uint8_t>(kFrames, 0));
    char path[kPathMax];
    EXPECT_EQ(cache_take(cache, 0, store, path), -1);
    const std::int32_t first = 0;
    cache_plan(cache, &first, 1);
    cache_wait_idle(cache);
    ASSERT_EQ(cache_take(cache, 0, store, path), 0);
    int bad = -1;
    EXPECT_TRUE(matches(store, samples[0], &bad)) << bad;

    cache_destroy(cache);
    release_display(store);
    release_sequence(seq);
}
