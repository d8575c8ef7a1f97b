// The helper thread the readers share a frame's rows with, parked between frames.
#include "core/helper_thread.h"

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/platform.h"

int g_share_frames = 1;

namespace {

// One helper thread for the whole process, parked between frames. It is never
// destroyed: it waits for work until the process ends.
struct Helper {
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable finished;
    std::condition_variable ready;
    void (*task)(void*, int) = nullptr;
    void* context = nullptr;
    /// Set while a task is posted and not yet taken up; the poster withdraws a task
    /// the helper has not started (so a busy machine never makes a frame wait for
    /// the helper to be scheduled).
    bool posted = false;
    /// Set while the helper runs a task; the poster waits for it to clear.
    bool running = false;
    /// Set while a thread's frame or a background task has the helper; a second
    /// reader running at the same time on another thread does its frame alone.
    bool claimed = false;
    /// A background task and its own copy of its data; `background` says the
    /// posted task is this one. The helper releases its claim when it is done.
    bool background = false;
    void (*background_task)(void*) = nullptr;
    alignas(std::max_align_t) unsigned char background_data[kBackgroundBytes];
    /// The helper itself, and the processor it was last kept off (-1: none yet).
    ThreadRef thread = 0;
    int kept_off = -1;
};

Helper* g_helper = nullptr;
std::once_flag g_helper_once;

void helper_loop(Helper* h) {
    std::unique_lock<std::mutex> lock(h->mutex);
    h->thread = thread_self();
    h->ready.notify_one();
    for (;;) {
        h->wake.wait(lock, [h] { return h->posted; });
        h->posted = false;
        h->running = true;
        if (h->background) {
            lock.unlock();
            h->background_task(h->background_data);
            lock.lock();
            h->background = false;
            h->running = false;
            h->claimed = false;
            h->finished.notify_all();
            continue;
        }
        void (*task)(void*, int) = h->task;
        void* context = h->context;
        lock.unlock();
        task(context, 1);
        lock.lock();
        h->running = false;
        h->finished.notify_all();
    }
}

/// Claims the helper for the caller; false when there is none or another thread's
/// frame has it. A frame waits for a background task the helper is running
/// (short, and the frame needs both threads: played back to back, frames going
/// alone behind the read-ahead hint took twice as long) and takes back one it has
/// not started (a hint for the very frame now being read).
bool claim(Helper* h, bool for_frame) {
    if (!h) return false;
    std::unique_lock<std::mutex> lock(h->mutex);
    if (for_frame) {
        if (h->claimed && h->background && h->posted) {
            h->posted = false;
            h->background = false;
            h->claimed = false;
        }
        h->finished.wait(lock, [h] { return !(h->claimed && h->background); });
    }
    if (h->claimed) return false;
    h->claimed = true;
    return true;
}

}  // namespace

void start_frame_helper() {
    std::call_once(g_helper_once, [] {
        if (std::thread::hardware_concurrency() < 2) return;
        auto* h = new Helper;
        try {
            std::unique_lock<std::mutex> lock(h->mutex);
            std::thread(helper_loop, h).detach();
            // Its own handle first, so the poster can place it.
            h->ready.wait(lock, [h] { return h->thread != 0; });
            g_helper = h;
        } catch (const std::system_error&) {
            // No second thread: frames are read on the calling thread alone.
            delete h;
        }
    });
}

void run_two_parts(void (*task)(void*, int), void* context) {
    Helper* h = g_helper;
    if (!claim(h, true)) {
        task(context, 0);
        task(context, 1);
        return;
    }
    // Woken from sleep, the helper is often queued on the processor of the thread
    // that wakes it (measured on a 2-processor virtual machine: in about 3 frames of 4,
    // even with the other processor idle), where it waits until part 0 is done,
    // so the frame takes as long as on one thread. Kept off the poster's
    // processor it starts on another within about 0.1 ms. The placement changes
    // only when the poster has moved.
    const int here = current_processor();
    if (here >= 0 && here != h->kept_off) {
        thread_avoid_processor(h->thread, here);
        h->kept_off = here;
    }
    {
        std::lock_guard<std::mutex> lock(h->mutex);
        h->task = task;
        h->context = context;
        h->posted = true;
    }
    h->wake.notify_one();
    task(context, 0);
    std::unique_lock<std::mutex> lock(h->mutex);
    if (h->posted) {
        // The helper never got to it and part 0 took all the work; part 1 runs
        // here, where it finds nothing left, so the task's promise holds.
        h->posted = false;
        h->claimed = false;
        lock.unlock();
        task(context, 1);
        return;
    }
    h->finished.wait(lock, [h] { return !h->running; });
    h->claimed = false;
}

bool run_in_background(void (*task)(void*), const void* data, std::size_t bytes) {
    Helper* h = g_helper;
    if (bytes > kBackgroundBytes || !claim(h, false)) return false;
    {
        std::lock_guard<std::mutex> lock(h->mutex);
        std::memcpy(h->background_data, data, bytes);
        h->background_task = task;
        h->background = true;
        h->posted = true;
    }
    h->wake.notify_one();
    return true;
}
