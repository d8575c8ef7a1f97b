#include "core/helper_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

/// What a background task is given: where to say it started and what it saw,
/// and a gate it waits at until the test opens it.
struct Note {
    std::atomic<int>* started;
    std::atomic<int>* seen;
    std::atomic<bool>* gate;
    int value;
};

void note_value(void* data) {
    const Note& note = *static_cast<const Note*>(data);
    note.started->store(1);
    while (!note.gate->load()) std::this_thread::yield();
    note.seen->store(note.value);
}

/// Each part adds its number + 1 to the context's sum.
void add_part(void* context, int part) {
    static_cast<std::atomic<int>*>(context)->fetch_add(part + 1);
}

bool wait_for(const std::atomic<int>& value, int wanted) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (value.load() != wanted && std::chrono::steady_clock::now() < end)
        std::this_thread::yield();
    return value.load() == wanted;
}

}  // namespace

// A background task runs on its own copy of its data and keeps the helper to
// itself: a second one is refused, and a frame posted meanwhile waits for it and
// then has both of its parts run.
TEST(HelperThread, BackgroundTaskRunsOnItsCopyAndAFrameWaitsForIt) {
    start_frame_helper();
    if (std::thread::hardware_concurrency() < 2) GTEST_SKIP() << "no helper on one processor";
    std::atomic<int> started{0}, seen{0}, sum{0};
    std::atomic<bool> gate{false};
    Note note{&started, &seen, &gate, 7};
    ASSERT_TRUE(run_in_background(note_value, &note, sizeof note));
    note.value = 9;  // the task has its own copy
    ASSERT_TRUE(wait_for(started, 1));
    EXPECT_FALSE(run_in_background(note_value, &note, sizeof note));

    std::thread frame([&] { run_two_parts(add_part, &sum); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(sum.load(), 0);  // still waiting for the background task
    gate.store(true);
    frame.join();
    EXPECT_EQ(sum.load(), 3);
    EXPECT_EQ(seen.load(), 7);

    // Free again: the next task runs with the data it was given.
    ASSERT_TRUE(run_in_background(note_value, &note, sizeof note));
    EXPECT_TRUE(wait_for(seen, 9));
    EXPECT_FALSE(run_in_background(note_value, &note, kBackgroundBytes + 1));
}
