// The command line's own requests (--help, --version) and the text they show,
// shared by every front end so that each program answers alike.
#pragma once

/// The usage text shown by --help: the command line, the keys, the mouse and
/// the file formats.
extern const char kUsageText[];

/// The version line shown by --version, e.g. "karvelin 0.1.0\n".
extern const char kVersionText[];

/// `text` is everything after the program name, joined into one path as the
/// front end joins it. Returns the text to show when the whole of it is
/// "--help" or "--version", or nullptr when it is a path to open (or empty):
/// "./--help" names a file.
const char* command_line_answer(const char* text);

/// `text` (the usage or version text) laid out for a message box, which wraps
/// long lines itself: the lines of a paragraph joined into one, and each key,
/// mouse or format entry on one line as "name: what it does". Writes a
/// NUL-terminated text of at most `capacity` bytes to `out`; returns 0, or -1
/// when it does not fit (`out` then holds as much as fits).
int message_box_text(const char* text, char* out, int capacity);
