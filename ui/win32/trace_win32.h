// The window trace of the test builds: with KARVELIN_TRACE naming a file, the
// program logs there its menu as loaded, the status texts and the client area's
// size and position after every paint that changed them, the dialogs' results,
// the error boxes (which it then does not show) and its exit code. The window
// smoke test under Wine reads the log.
#pragma once

#include "ui/win32/front_win32.h"

/// Installs the trace as app.watch when KARVELIN_TRACE names a file; otherwise
/// leaves the app alone.
void install_trace(Win32App& app);
