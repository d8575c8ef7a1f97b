// The window's signal checks, without any toolkit: File > Frame Info..., the
// Color menu's gamut and range warnings, View > Scopes, and the signal's
// segment of the status bar (timecode, marked shares).
#pragma once

#include <cstdint>

#include "ui/window_logic.h"

/// How often the window asks for scopes still being drawn, in milliseconds.
constexpr int kScopesPollMs = 4;

/// The drawn scopes the scopes window shows: width x height pixels of blue,
/// green, red, 255, top row first, rows width * 4 bytes apart. Null pixels:
/// none drawn yet.
struct ScopesPicture {
    const std::uint8_t* pixels = nullptr;
    int width = 0;
    int height = 0;
};

/// Handles kCmdFrameInfo, kCmdGamutWarning, kCmdRangeWarning and kCmdScopes,
/// setting *reload when the current frame must be read again (marks to paint
/// or to take away); false for any other id.
bool signal_command(Window& win, int id, bool* reload);

/// After every load of the current frame (`shown`: it was read): counts the
/// marks, paints them when the readers left that for later, and hands the
/// frame to the scopes.
void signal_frame_loaded(Window& win, bool shown);

/// The signal's segment of the fourth status part: the timecode of the frame
/// shown (e.g. "TC 01:02:03:04", ';' before the frames when drop frame) and
/// the share of the picture each warning on marks ("gamut 12.5%", "range
/// 0.02%"); empty when there is nothing to say.
void signal_segment(const Window& win, char* out, int capacity);

/// The scopes to draw in the scopes window.
ScopesPicture window_scopes_picture(const Window& win);

/// The scopes poll timer (see FrontEnd::start_scopes_poll) fired: shows scopes
/// drawn since, or asks again while some are still being drawn.
void window_scopes_poll(Window& win);

/// The user closed the scopes window.
void window_scopes_closed(Window& win);

/// Ends the scopes' thread and frees the marks (window_shutdown calls it).
void signal_shutdown(Window& win);
