// What the window keeps for checking the signal: the gamut and range warnings
// with their marks, the shares of the frame shown they mark, and the scopes.
#pragma once

#include <cstdint>

#include "core/pixel_marks.h"

struct ScopeWorker;

struct SignalState {
    /// Color > Gamut Warning (acts while the conversion is on) and Color > Range
    /// Warning.
    bool gamut_warning = false;
    bool range_warning = false;
    /// View > Scopes: the scopes window is open.
    bool scopes_open = false;
    /// The marks the readers write, planes for the largest display, allocated
    /// when a warning is first turned on.
    PixelMarks marks;
    /// Pixels of the frame shown, and those marked out of gamut and out of
    /// range (-1: not marked, so no share to give).
    std::int64_t pixels = 0;
    std::int64_t gamut_pixels = -1;
    std::int64_t range_pixels = -1;
    /// The thread drawing the scopes (started when they are first opened), and
    /// the scopes the scopes window shows (null until some are drawn).
    ScopeWorker* scopes = nullptr;
    const std::uint8_t* scopes_picture = nullptr;
};
