// The metrics worker: one thread, its own scratch, the latest request only.
#include "compare/metrics_worker.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

namespace {

/// Rows are compared in passes over every 16th row, the passes in an order
/// that spreads the rows done so far over the whole frame, so that a pair
/// interrupted early still gives metrics of the whole picture's rows.
constexpr std::int32_t kPassStep = 16;
constexpr std::int32_t kPassOrder[kPassStep] = {0, 8, 4, 12, 2, 10, 6, 14,
                                                1, 9, 5, 13, 3, 11, 7, 15};

}  // namespace

struct MetricsWorker {
    std::mutex mutex;
    std::condition_variable wake;
    void (*ready)(void*) = nullptr;
    void* context = nullptr;
    PairRequest pending;
    bool has_pending = false;
    std::uint64_t next_serial = 0;
    PairResult result;
    bool has_result = false;
    bool quit = false;
    /// Set when a newer pair or the end waits: the pair in hand stops between rows.
    std::atomic<bool> interrupt{false};
    CompareScratch scratch;
    std::thread thread;
};

namespace {

void compare_pair(MetricsWorker& w, const PairRequest& pair, PairResult& out) {
    out = PairResult{};
    out.pair = pair;
    OpenFrame a, b;
    ReadFailure why = kReadOk;
    if (open_frame(pair.format_a, pair.path_a, 0, 0, a, &why) != 0) {
        out.result = -1;
        out.why = why;
        return;
    }
    if (open_frame(pair.format_b, pair.path_b, a.info.width, a.info.height, b, &why) != 0) {
        out.result = -1;
        out.why = why;
        out.failed_b = true;
        return;
    }
    out.width_a = a.info.width;
    out.height_a = a.info.height;
    out.width_b = b.info.width;
    out.height_b = b.info.height;
    if (begin_metrics(a.info, b.info, out.metrics) != 0) {
        out.result = -1;
        return;
    }
    for (std::int32_t first : kPassOrder) {
        if (compare_rows(a, b, first, kPassStep, w.scratch, out.metrics, &w.interrupt) != 0) {
            out.result = -1;
            out.why = kFailCannotOpen;
            return;
        }
        if (w.interrupt.load(std::memory_order_relaxed)) return;
    }
}

void worker_loop(MetricsWorker* w) {
    std::unique_lock<std::mutex> lock(w->mutex);
    for (;;) {
        w->wake.wait(lock, [w] { return w->has_pending || w->quit; });
        if (w->quit) return;
        const PairRequest pair = w->pending;
        w->has_pending = false;
        w->interrupt.store(false, std::memory_order_relaxed);
        lock.unlock();
        PairResult result;
        compare_pair(*w, pair, result);
        lock.lock();
        if (w->quit) return;
        // A pair interrupted before its first row says nothing worth showing.
        if (result.result != 0 || result.metrics.rows > 0) {
            w->result = result;
            w->has_result = true;
            lock.unlock();
            w->ready(w->context);
            lock.lock();
        }
    }
}

}  // namespace

MetricsWorker* start_metrics_worker(void (*ready)(void* context), void* context) {
    if (!ready) return nullptr;
    auto* w = new (std::nothrow) MetricsWorker;
    if (!w) return nullptr;
    w->ready = ready;
    w->context = context;
    if (alloc_compare_scratch(w->scratch) != 0) {
        delete w;
        return nullptr;
    }
    try {
        w->thread = std::thread(worker_loop, w);
    } catch (const std::system_error&) {
        release_compare_scratch(w->scratch);
        delete w;
        return nullptr;
    }
    return w;
}

std::uint64_t post_pair(MetricsWorker& w, const PairRequest& pair) {
    std::lock_guard<std::mutex> lock(w.mutex);
    w.pending = pair;
    w.pending.serial = ++w.next_serial;
    w.has_pending = true;
    w.interrupt.store(true, std::memory_order_relaxed);
    w.wake.notify_one();
    return w.pending.serial;
}

bool take_pair_result(MetricsWorker& w, PairResult& out) {
    std::lock_guard<std::mutex> lock(w.mutex);
    if (!w.has_result) return false;
    out = w.result;
    w.has_result = false;
    return true;
}

void stop_metrics_worker(MetricsWorker* w) {
    if (!w) return;
    {
        std::lock_guard<std::mutex> lock(w->mutex);
        w->quit = true;
        w->interrupt.store(true, std::memory_order_relaxed);
    }
    w->wake.notify_one();
    w->thread.join();
    release_compare_scratch(w->scratch);
    delete w;
}
