// The metrics of the frame pair on screen, worked out on a thread of their own
// so that the window never waits for them. The window posts the pair it shows;
// a newer pair interrupts the one being compared, whose rows so far are then
// reported as a share of the frame: while frames go by faster than a pair can
// be compared whole, each is compared as far as the machine allows.
#pragma once

#include <cstdint>

#include "compare/metrics.h"
#include "core/read_failure.h"
#include "platform/platform.h"

/// One pair of frames to compare: the frames' paths and formats, and the
/// frame numbers they have in their sequences (for the caller's texts).
struct PairRequest {
    char path_a[kPathMax] = {};
    char path_b[kPathMax] = {};
    std::int32_t format_a = 0;
    std::int32_t format_b = 0;
    std::int32_t frame_a = 0;
    std::int32_t frame_b = 0;
    /// Set by post_pair: tells the results of one request from another's.
    std::uint64_t serial = 0;
};

/// What came of a request: the metrics of the rows compared, or why there are none.
struct PairResult {
    PairRequest pair;
    /// 0 with metrics; -1 when a frame could not be opened or read (`why`, and
    /// `failed_b` saying which frame) or the sizes differ (`why` kReadOk).
    int result = 0;
    ReadFailure why = kReadOk;
    bool failed_b = false;
    FrameMetrics metrics;
    /// Size of each frame, for a message about frames of two sizes.
    std::int32_t width_a = 0, height_a = 0, width_b = 0, height_b = 0;
};

struct MetricsWorker;

/// Starts the worker thread; `ready(context)` is called on that thread each
/// time a result can be taken. Returns null when no thread can be started.
MetricsWorker* start_metrics_worker(void (*ready)(void* context), void* context);

/// Asks for the metrics of `pair`, in place of any pair not yet finished.
/// Returns the serial given to it.
std::uint64_t post_pair(MetricsWorker& worker, const PairRequest& pair);

/// Takes the latest result not taken yet; false when there is none.
bool take_pair_result(MetricsWorker& worker, PairResult& out);

/// Stops and joins the thread and releases the worker: `ready` is never
/// called after it returns. Null is ignored.
void stop_metrics_worker(MetricsWorker* worker);
