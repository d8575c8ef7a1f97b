// Character stepping in an ANSI multibyte code page, parameterised by the code
// page so that double-byte behaviour can be checked on any system locale. The
// platform layer calls these with the process's ANSI code page.
#pragma once

/// The ANSI code page of the process (CP_ACP resolved).
unsigned mb_ansi_code_page();

/// True when `byte` starts a two-byte character in code page `cp`.
bool mb_is_lead_byte(unsigned cp, unsigned char byte);

/// Index of the character before position `pos` (a character start) of `text` in
/// code page `cp`; -1 when `pos` is 0. A trail byte is never taken for a
/// character of its own, even when it looks like '\\' or a digit.
int mb_char_prev(unsigned cp, const char* text, int pos);

/// Length in bytes (1 or 2) of the character starting at text[pos]; a lead byte
/// followed by the terminating NUL counts as one byte.
int mb_char_length(unsigned cp, const char* text, int pos);

/// True when `name` matches `pattern` as Windows compares file names: `?`
/// stands for exactly one character (a double-byte character is one), every
/// other character for itself without regard to case. Both are in code page `cp`.
bool mb_name_matches(unsigned cp, const char* pattern, const char* name);
