// The fourth status part: what playback, comparison and the signal checks have
// to say about the frame on screen, each a segment of its own.
#pragma once

#include "ui/window_logic.h"

/// Writes the fourth part's text (at least 1 byte of `capacity`): the segments
/// that have something to say, joined with two spaces; empty when none has.
void status_info_text(const Window& win, char* out, int capacity);
