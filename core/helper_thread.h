// The one helper thread the frame readers share a frame's rows with.
#pragma once

#include <cstddef>

/// Starts the helper thread, once per process (no effect on a single-core
/// machine or when no thread can be started). The viewer calls it at start-up;
/// until then every frame is read on the calling thread alone.
void start_frame_helper();

/// Runs task(context, 0) on the calling thread and task(context, 1) on the helper
/// thread at the same time and returns when both are done; without a helper both
/// run here in turn.
void run_two_parts(void (*task)(void*, int), void* context);

/// Bytes of data a background task may be given: room for a path and a few numbers.
constexpr std::size_t kBackgroundBytes = 8192;

/// Copies `bytes` bytes of `data` for the helper thread and runs task(copy) there
/// without waiting for it. Returns false and runs nothing when there is no helper,
/// it is busy, or the data is larger than kBackgroundBytes: the caller then does
/// the work itself. run_two_parts waits for the task to end, and drops it when
/// the helper has not started it yet: a background task must be short, and only
/// worth doing before the next frame.
bool run_in_background(void (*task)(void*), const void* data, std::size_t bytes);

/// 1 (the default) lets the readers share frames with the helper thread; 0 keeps
/// every frame on the calling thread (the benchmark measures both).
extern int g_share_frames;
