#include "scopes/scope_worker.h"

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/platform.h"

namespace {

constexpr std::size_t kPictureBytes = static_cast<std::size_t>(kScopesWidth) * kScopesHeight * 4;
constexpr std::size_t kInputBytes = static_cast<std::size_t>(kScopeInputPixels) * 4;

/// A frame handed over: its pixels (a compact bottom-up BGRX picture) and how
/// to count them.
struct Slot {
    std::uint8_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    ScopeMatrix matrix = kScopeBt709;
};

}  // namespace

// Three frames and three drawn pictures change hands under the mutex, by
// swapping pointers: the window fills `filling` and draws from `shown`, the
// worker counts `counting` and draws into `drawing`; `waiting` and `ready` are
// what each hands the other. No buffer is touched by both threads at once.
struct ScopeWorker {
    std::mutex mutex;
    std::condition_variable wake;
    Slot filling, waiting, counting;
    bool has_waiting = false;
    bool busy = false;
    bool stop = false;
    std::uint8_t* drawing = nullptr;
    std::uint8_t* ready = nullptr;
    std::uint8_t* shown = nullptr;
    bool ready_new = false;
    ScopeCounts* counts = nullptr;
    std::thread thread;
};

namespace {

void worker_loop(ScopeWorker* w) {
    // The scopes wait for the window and the readers, never the other way round.
    thread_give_way();
    std::unique_lock<std::mutex> lock(w->mutex);
    for (;;) {
        w->wake.wait(lock, [w] { return w->has_waiting || w->stop; });
        if (w->stop) return;
        std::swap(w->waiting, w->counting);
        w->has_waiting = false;
        w->busy = true;
        lock.unlock();
        const Slot& s = w->counting;
        count_scopes(s.pixels, s.width, s.height, static_cast<std::size_t>(s.width) * 4, s.matrix,
                     *w->counts);
        draw_scopes(*w->counts, w->drawing);
        lock.lock();
        std::swap(w->drawing, w->ready);
        w->ready_new = true;
        w->busy = false;
    }
}

void release(ScopeWorker* w) {
    for (Slot* s : {&w->filling, &w->waiting, &w->counting}) heap_free(s->pixels);
    for (std::uint8_t* p : {w->drawing, w->ready, w->shown}) heap_free(p);
    heap_free(w->counts);
    delete w;
}

}  // namespace

ScopeWorker* start_scope_worker() {
    auto* w = new ScopeWorker;
    bool ok = true;
    for (Slot* s : {&w->filling, &w->waiting, &w->counting}) {
        s->pixels = static_cast<std::uint8_t*>(heap_alloc_zeroed(kInputBytes));
        ok = ok && s->pixels;
    }
    for (std::uint8_t** p : {&w->drawing, &w->ready, &w->shown}) {
        *p = static_cast<std::uint8_t*>(heap_alloc_zeroed(kPictureBytes));
        ok = ok && *p;
    }
    w->counts = static_cast<ScopeCounts*>(heap_alloc_zeroed(sizeof(ScopeCounts)));
    ok = ok && w->counts;
    if (ok) {
        try {
            w->thread = std::thread(worker_loop, w);
        } catch (const std::system_error&) {
            ok = false;
        }
    }
    if (!ok) {
        release(w);
        return nullptr;
    }
    return w;
}

void stop_scope_worker(ScopeWorker* w) {
    if (!w) return;
    {
        std::lock_guard<std::mutex> lock(w->mutex);
        w->stop = true;
    }
    w->wake.notify_one();
    w->thread.join();
    release(w);
}

void post_scope_frame(ScopeWorker& w, const std::uint8_t* pixels, int width, int height,
                      ScopeMatrix matrix) {
    if (!pixels || width <= 0 || height <= 0) return;
    // Every f-th pixel of every f-th row, from the bottom-left corner.
    int f = 1;
    while (static_cast<std::int64_t>((width - 1) / f + 1) * ((height - 1) / f + 1) >
           kScopeInputPixels)
        f *= 2;
    Slot& s = w.filling;
    s.width = (width - 1) / f + 1;
    s.height = (height - 1) / f + 1;
    s.matrix = matrix;
    const std::size_t stride = static_cast<std::size_t>(width) * 4;
    for (int row = 0; row < s.height; ++row) {
        const std::uint8_t* from = pixels + static_cast<std::size_t>(row) * f * stride;
        std::uint8_t* to = s.pixels + static_cast<std::size_t>(row) * s.width * 4;
        if (f == 1) {
            std::memcpy(to, from, stride);
            continue;
        }
        for (int x = 0; x < s.width; ++x) {
            std::uint32_t pixel;
            std::memcpy(&pixel, from + 4 * static_cast<std::size_t>(x) * f, 4);
            std::memcpy(to + 4 * static_cast<std::size_t>(x), &pixel, 4);
        }
    }
    {
        std::lock_guard<std::mutex> lock(w.mutex);
        std::swap(w.filling, w.waiting);
        w.has_waiting = true;
    }
    w.wake.notify_one();
}

bool take_scopes(ScopeWorker& w, const std::uint8_t** picture) {
    std::lock_guard<std::mutex> lock(w.mutex);
    if (!w.ready_new) return false;
    std::swap(w.ready, w.shown);
    w.ready_new = false;
    *picture = w.shown;
    return true;
}

bool scopes_pending(ScopeWorker& w) {
    std::lock_guard<std::mutex> lock(w.mutex);
    return w.has_waiting || w.busy;
}
