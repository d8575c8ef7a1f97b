// The Qt 6 Widgets front end: the main window with its menu bar, picture area
// and three-part status bar, the About box and the error boxes. All decisions
// are the window logic's; these classes only turn Qt events into its calls and
// carry out what it asks. This header gathers the pieces for main.cpp and the
// tests.
#pragma once

#include "ui/playback_logic.h"
#include "ui/qt/about_dialog.h"
#include "ui/qt/main_window.h"
#include "ui/qt/picture_widget.h"
#include "ui/qt/qt_support.h"
#include "ui/qt/signal_windows.h"
#include "ui/qt/status_bar.h"
#include "ui/qt/timeline_widget.h"
