#include "core/helper_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

/// What a background task is given: where to say what it saw, and a gate it
/// waits at until the test opens it.
struct Note {
    std::atomic<int>* seen;
    std::atomic<bool>* gate;
    int value;
};

void note_value(void* data) {
    const Note& note = *static_cast<const Note*>(data);
    while (!note.gate->load()) std::this_thread::yield();
    note.seen->store(note.value);
}

/// Each part adds its number + 1 to the context's sum.
void add_part(void* context, int part) {
    static_cast<std::atomic<int>*>(context)->fetch_add(part + 1);
}

bool wait_for(const std::atomic<int>& seen, int value) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (seen.load() != value && std::chrono::steady_clock::now() < end)
        std::this_thread::yield();
    return seen.load() == value;
}

}  // namespace

// A background task runs on its own copy of its data; while it runs, a frame's
// two parts still both run (on the caller's thread) and a second background task
// is refused, and once it is done the helper takes work again.
TEST(HelperThread, BackgroundTaskKeepsItsCopyAndLeavesFramesWhole) {
    start_frame_helper();
    if (std::thread::hardware_concurrency() < 2) GTEST_SKIP() << "no helper on one processor";
    std::atomic<int> seen{0};
    std::atomic<bool> gate{false};
    Note note{&seen, &gate, 7};
    ASSERT_TRUE(run_in_background(note_value, &note, sizeof note));
    note.value = 9;  // the task has its own copy
    EXPECT_FALSE(run_in_background(note_value, &note, sizeof note));

    std::atomic<int> sum{0};
    run_two_parts(add_part, &sum);
    EXPECT_EQ(sum.load(), 3);

    gate.store(true);
    ASSERT_TRUE(wait_for(seen, 7));
    // The helper releases itself just after the task returns.
    bool posted = false;
    for (int i = 0; i < 10000 && !posted; ++i) {
        posted = run_in_background(note_value, &note, sizeof note);
        if (!posted) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(posted);
    EXPECT_TRUE(wait_for(seen, 9));
    EXPECT_FALSE(run_in_background(note_value, &note, kBackgroundBytes + 1));
}
