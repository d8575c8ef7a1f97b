// A thread of its own that counts and draws the scopes of the frames the
// window shows, so that the window's tick never waits for them: the window
// hands each frame over as a copy and takes the drawn scopes when they are
// ready; a frame the worker has not started is replaced by a newer one (the
// latest frame wins).
#pragma once

#include <cstdint>

#include "scopes/scopes.h"

/// Most pixels of a frame the worker counts: larger pictures are handed over
/// as every f-th pixel of every f-th row, f the smallest power of two that
/// brings them within it (a 960x540 display is counted whole).
constexpr std::int64_t kScopeInputPixels = std::int64_t{1} << 20;

struct ScopeWorker;

/// Starts the worker thread with its buffers; null when they cannot be had.
ScopeWorker* start_scope_worker();

/// Ends the thread (waiting for the frame it works on) and frees everything.
void stop_scope_worker(ScopeWorker* worker);

/// Copies a bottom-up width x height BGRX picture (rows width * 4 bytes apart)
/// for the worker and wakes it; replaces a frame it has not started. Waits only
/// for the copy, never for the counting.
void post_scope_frame(ScopeWorker& worker, const std::uint8_t* pixels, int width, int height,
                      ScopeMatrix matrix);

/// The scopes most recently drawn, once a frame handed over since the last call
/// has been drawn: true, and `*picture` points at them (see kScopesWidth) until
/// the next call. False, with `*picture` unchanged, while none is new.
bool take_scopes(ScopeWorker& worker, const std::uint8_t** picture);

/// Whether a frame handed over is still waiting or being drawn.
bool scopes_pending(ScopeWorker& worker);
