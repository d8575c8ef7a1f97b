// Playing in time, without any toolkit: the Playback menu (the rate and what a
// late frame does), the clock that times the ticks, the cache of decoded frames
// ahead of the playhead, the timeline under the picture and the playback
// segment of the status bar.
#pragma once

#include <cstdint>

#include "ui/window_logic.h"

/// The Playback menu: one rate checked, then one of the two modes checked.
constexpr int kCmdRateTick = 301;
constexpr int kCmdRate23976 = 302;
constexpr int kCmdRate24 = 303;
constexpr int kCmdRate25 = 304;
constexpr int kCmdRate2997 = 305;
constexpr int kCmdRate30 = 306;
constexpr int kCmdRate48 = 307;
constexpr int kCmdRate50 = 308;
constexpr int kCmdRate5994 = 309;
constexpr int kCmdRate60 = 310;
constexpr int kCmdRate120 = 311;
constexpr int kCmdRateFromFile = 312;
constexpr int kCmdRealTime = 320;
constexpr int kCmdEveryFrame = 321;

/// Height of the timeline strip in device pixels: below the picture, above the
/// comparison's row and the status bar, as wide as the picture area.
constexpr int kTimelineHeight = 12;

/// The rate of a fixed rate item (kCmdRateTick .. kCmdRate120), 0 for any other id.
double rate_of_item(int id);

/// The rate in force: --rate until a menu choice, else the chosen item's rate,
/// else (From File, or nothing chosen) the rate the open sequence's header
/// gives, else the 16 ms tick.
double playback_rate(const Window& win);

/// Writes `rate` with up to 3 decimals, trailing zeros trimmed ("24", "23.976").
void format_rate(double rate, char* out, int capacity);

/// Microseconds from now until the playback timer should call window_tick
/// again: until the next frame of the run is due (0 when one is due already).
/// Front ends arm their one-shot timer with it on start_timer and after
/// every tick while playback runs.
std::int64_t window_tick_delay_us(const Window& win);

/// The timeline `width` pixels wide (BGRX, row 0 the bottom line, rows
/// width * 4 bytes apart): background, the cached frames marked along it,
/// the playhead. Owned by the Window; valid until the next call. Null
/// pixels when no sequence is open (the strip is then drawn empty/dark).
ShownPicture window_timeline_picture(Window& win, int width);

/// The left button went down (press) or moved while held (drag) at x of a
/// timeline `width` pixels wide: pauses (as the frame keys do: stop_timer,
/// step 0) and goes to the frame under x, showing it; no repaint when it is
/// the frame already shown.
void window_timeline_press(Window& win, int x, int width);
void window_timeline_drag(Window& win, int x, int width);

// What the window logic calls (not the front ends).

/// The frame of the open sequence under x of a timeline `width` wide; -1
/// when none is open.
int timeline_frame(const Window& win, int x, int width);

/// Start-up: takes --rate and makes the cache --cache asks for (half the
/// memory available now when not given; none with no options or 0).
void playback_startup(Window& win, const CommandLine* options);

/// After the window exists: the Playback menu's check marks.
void playback_window_created(Window& win);

/// Handles the Playback menu's ids; false for any other.
bool playback_command(Window& win, int id);

/// The timer starts (`run`) or stops: a run of the clock starts or ends.
void playback_run(Window& win, bool run);

/// A tick: how many ticks the current frame moves by (see clock_advance).
std::int64_t playback_tick(Window& win);

/// Puts the current frame from the cache into the display when it is there
/// and still what its files hold (status part 0's path written as a read
/// would). Returns true when it did.
bool playback_take_cached(Window& win);

/// After the window read the current frame itself (playback_take_cached was
/// false): `read` when it was read whole.
void playback_frame_read(Window& win, bool read);

/// After a frame was shown or the sequence, the size or the conversion
/// changed: a cache that holds frames of another sequence, size or
/// conversion is emptied, the rate follows a new sequence's header, and while
/// playing the frames ahead of the playhead are planned.
void playback_after_show(Window& win);

/// The playback segment of the fourth status part: "23.98/23.976 fps, 0
/// dropped" while playing; the rate in force while paused with a sequence
/// open; empty otherwise.
void playback_segment(const Window& win, char* out, int capacity);

/// Stops the decode workers and frees the cache.
void playback_shutdown(Window& win);
