#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/platform.h"

#if defined(__linux__)
#include <pthread.h>
#include <sched.h>

namespace {

/// The processors `thread` may run on.
cpu_set_t affinity_of(ThreadRef thread) {
    cpu_set_t set;
    CPU_ZERO(&set);
    pthread_getaffinity_np(static_cast<pthread_t>(thread), sizeof set, &set);
    return set;
}

}  // namespace

// The helper thread is kept off the processor of the thread that posts it work:
// exactly that processor is taken away, and never the last one it may use.
TEST(ThreadPlacement, AvoidsOnlyTheGivenProcessorAndNeverTheLastOne) {
    cpu_set_t all;
    ASSERT_EQ(sched_getaffinity(0, sizeof all, &all), 0);
    if (CPU_COUNT(&all) < 2) GTEST_SKIP() << "one processor";
    std::mutex mutex;
    std::condition_variable done;
    bool finish = false;
    ThreadRef other = 0;
    std::thread waiting([&] {
        std::unique_lock<std::mutex> lock(mutex);
        other = thread_self();
        done.notify_all();
        done.wait(lock, [&] { return finish; });
    });
    {
        std::unique_lock<std::mutex> lock(mutex);
        done.wait(lock, [&] { return other != 0; });
    }
    const int here = current_processor();
    ASSERT_TRUE(here >= 0 && CPU_ISSET(here, &all));
    thread_avoid_processor(other, here);
    cpu_set_t expected = all;
    CPU_CLR(here, &expected);
    cpu_set_t got = affinity_of(other);
    EXPECT_TRUE(CPU_EQUAL(&got, &expected));

    // A caller confined to one processor leaves the other thread where it was.
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(here, &one);
    ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
    const cpu_set_t before = affinity_of(other);
    thread_avoid_processor(other, here);
    got = affinity_of(other);
    EXPECT_TRUE(CPU_EQUAL(&got, &before));
    sched_setaffinity(0, sizeof all, &all);

    {
        std::lock_guard<std::mutex> lock(mutex);
        finish = true;
    }
    done.notify_all();
    waiting.join();
}
#endif
