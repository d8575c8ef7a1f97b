// Stand-ins for the window logic's playback declarations until they land in
// ui/; only the Win32 build sees them.
#pragma once

#include <cstdint>

#include "ui/window_logic.h"

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

/// Height of the timeline strip in device pixels.
constexpr int kTimelineHeight = 12;

/// Microseconds until the playback timer should call window_tick again.
std::int64_t window_tick_delay_us(const Window& win);
/// The timeline `width` pixels wide (BGRX, bottom-up).
ShownPicture window_timeline_picture(Window& win, int width);
/// The left button went down or moved while held at x of the timeline.
void window_timeline_press(Window& win, int x, int width);
void window_timeline_drag(Window& win, int x, int width);
