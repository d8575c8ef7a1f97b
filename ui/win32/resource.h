// Resource names and control ids shared by the resource script and the code.
// The menu command ids must equal the kCmd* constants of ui/window_logic.h (the
// resource compiler cannot read C++ constants); a test compares them.
#pragma once

#define IDI_ICON 1
#define IDC_STATIC (-1)

#define IDM_OPEN 101
#define IDM_GOTO 104
#define IDM_EXIT 102
#define IDM_CONVERT 103
#define IDM_SIZE_ORIGINAL 201
#define IDM_SIZE_HALF 202
#define IDM_SIZE_QUARTER 203
#define IDM_SIZE_EIGHTH 204
#define IDM_ABOUT 901
#define IDM_FRAMEINFO 107
#define IDM_GAMUT 110
#define IDM_RANGE 111
#define IDM_SCOPES 501

// File > Compare With... / Close Compare and the Compare menu.
#define IDM_COMPARE_WITH 105
#define IDM_CLOSE_COMPARE 106
#define IDM_SHOW_A 401
#define IDM_SHOW_B 402
#define IDM_TOGGLE_AB 403
#define IDM_WIPE 404
#define IDM_SIDE_BY_SIDE 405
#define IDM_DIFFERENCE 406
#define IDM_SIGNED_DIFFERENCE 407
#define IDM_GAIN_UP 410
#define IDM_GAIN_DOWN 411
#define IDM_OFFSET_LATER 412
#define IDM_OFFSET_EARLIER 413
#define IDM_OFFSET_ZERO 414

// The Playback menu: the rate (one of the first group) and whether late frames
// are skipped to keep time or every frame is shown.
#define IDM_RATE_TICK 301
#define IDM_RATE_23976 302
#define IDM_RATE_24 303
#define IDM_RATE_25 304
#define IDM_RATE_2997 305
#define IDM_RATE_30 306
#define IDM_RATE_48 307
#define IDM_RATE_50 308
#define IDM_RATE_5994 309
#define IDM_RATE_60 310
#define IDM_RATE_120 311
#define IDM_RATE_FROM_FILE 312
#define IDM_REAL_TIME 320
#define IDM_EVERY_FRAME 321

// The Go to Frame dialog and the keyboard shortcut of its menu item.
#define IDC_GOTO_PROMPT 1001
#define IDC_GOTO_FRAME 1002
// The Frame Info box's text.
#define IDC_INFO_TEXT 1003
