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

// The Go to Frame dialog and the keyboard shortcut of its menu item.
#define IDC_GOTO_PROMPT 1001
#define IDC_GOTO_FRAME 1002
// The Frame Info box's text.
#define IDC_INFO_TEXT 1003
