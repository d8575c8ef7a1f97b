// The window logic of comparing two sequences: opening and closing B, loading
// B's frame beside each of A's, composing what is shown, the metrics in the
// status, and the Compare menu. Called by ui/window_logic.cpp; toolkit-free.
#pragma once

#include "ui/window_logic.h"

/// Opens the sequence of `path` as B, keeping A as it is. Refuses, with a box
/// saying why, a path that opens nothing and a sequence of another size than
/// A's; the comparison open before (if any) then stays. `window_exists` false:
/// at start-up, before there is a window to fit (window_created does it).
void compare_open(Window& win, const char* path, bool window_exists = true);

/// Closes B: the window shows A alone again.
void compare_close(Window& win);

/// Handles a Compare menu command or File > Compare With... / Close Compare;
/// false for any other id.
bool compare_command(Window& win, int id);

/// A's current frame was loaded (or found unreadable): loads B's frame that
/// pairs with it, composes the picture shown and asks for the pair's metrics.
void compare_after_load(Window& win);

/// The display was reallocated at another size: B's picture follows it
/// (black until the next load) and what is shown is composed again.
void compare_display_resized(Window& win);

/// After the front end created its window: the Compare menu's state and the
/// second status row for a comparison opened at start-up.
void compare_window_created(Window& win);

/// The compare segment of the fourth status part, e.g. "Wipe  offset +0
/// identical"; empty when not comparing.
void compare_status_segment(const Window& win, char* out, int capacity);

/// The second status row: the pair's names and metrics; empty when not comparing.
void compare_status_line(const Window& win, char* out, int capacity);

/// Display column `x` of the picture shown, as a column of the display (the
/// side-by-side picture shows B's half right of A's).
int compare_display_column(const Window& win, int x);

/// The probe text while comparing: source pixel (x, y), A's and B's stored
/// values and their difference at the common depth.
void compare_probe_text(const Window& win, std::int32_t x, std::int32_t y, char* out, int capacity);

/// A drag of dx, dy in the wipe: the split follows the horizontal part, which
/// is then taken out of *dx. Returns true when the split moved.
bool compare_wipe_drag(Window& win, int* dx);

/// Frees what the comparison holds (window_shutdown).
void compare_shutdown(Window& win);
