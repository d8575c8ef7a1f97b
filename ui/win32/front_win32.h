// The Win32 front end: the window class, the window procedure and the FrontEnd
// calls of the shared window logic, on the ANSI entry points.
#pragma once

#include <windows.h>

#include <atomic>

#include "ui/playback_logic.h"
#include "ui/window_logic.h"

/// Class name and title of the main window.
constexpr const char* kWindowClass = "Karvelin";
/// Control ids of the status bar and of the second status row (the comparison's).
constexpr int kStatusBarId = 1;
/// Class name of the scopes window, and the id of the window timer of the window
/// logic's scopes poll (playback runs on a timer queue timer, kMsgTick).
constexpr const char* kScopesClass = "KarvelinScopes";
constexpr UINT_PTR kScopesTimerId = 2;
constexpr int kCompareLineId = 2;
/// Posted by the comparison's metrics worker (FrontEnd::wake).
constexpr unsigned kWakeMessage = WM_APP + 1;
/// Posted by the playback timer's thread when the next frame is due; its
/// wparam is the arming it belongs to (Win32App::tick_serial).
constexpr unsigned kMsgTick = WM_APP + 2;

struct Win32App;

/// What a test build of the program watches of the window; the program as
/// shipped installs none. Every member may be null.
struct Win32Watch {
    /// The window was created with its menu.
    void (*created)(const Win32App& app) = nullptr;
    /// A paint has ended.
    void (*painted)(const Win32App& app) = nullptr;
    /// A dialog ("open-dialog", "about", "goto", "frame-info") closed with `result`.
    void (*dialog_closed)(const char* dialog, int result) = nullptr;
    /// Takes an error box in place of the message box, which would wait for a
    /// click; returns true when it did.
    bool (*error_box)(const char* message, const char* caption) = nullptr;
    /// The program ends with `code`; `why` names what failed, or is empty.
    void (*exiting)(int code, const char* why) = nullptr;
};

/// Everything the program keeps: the shared window state plus the handles.
struct Win32App {
    Window win;
    HINSTANCE instance = nullptr;
    HWND hwnd = nullptr;
    HWND status = nullptr;
    /// The second status row, shown while it has a text.
    HWND line = nullptr;
    HMENU menu = nullptr;
    /// The scopes window, made when first shown.
    HWND scopes = nullptr;
    const Win32Watch* watch = nullptr;
    /// Where the left button last dragged the picture from (client coordinates).
    POINT drag_from{};
    bool dragging = false;
    /// The left button went down on the timeline and is still held.
    bool scrubbing = false;
    /// The playback timer: a one-shot timer queue timer while armed, and whether
    /// playback runs (timeBeginPeriod(1) is in force while it does).
    HANDLE tick_timer = nullptr;
    bool ticking = false;
    /// Counts the armings; a kMsgTick posted for an earlier one (before a stop
    /// or a restart) is ignored. Read by the timer's thread.
    std::atomic<unsigned> tick_serial{0};
    /// The fourth status part's text, kept here: the part exists only while it
    /// has one.
    char info_text[512] = {};
    char line_text[kPathMax] = {};
};

/// Fills app.win.front with the Win32 implementations and installs the message
/// box as the viewer's error box.
void install_win32_front(Win32App& app);

/// Copies the path named on a command line (`command_line` as GetCommandLineA
/// gives it, program name first) into `out`: the text after the program name,
/// taken whole as one path, without surrounding blanks and without the double
/// quotes around it. Returns 1 when a path was named (`out` may then be empty:
/// `""` or a lone `"`), 0 when nothing was (`out` empty), or -1 when the path
/// does not fit `capacity` bytes (`out` is then empty).
int command_line_path(const char* command_line, char* out, int capacity);

/// The text of a command line (as GetCommandLineA gives it) after the program
/// name and the blanks that follow it.
const char* command_line_rest(const char* command_line);

/// Registers the window class (menu MAINMENU, default application icon, arrow
/// cursor, gray brush, redraw on resize) and the scopes window's. Returns 0 or -1.
int register_window_class(HINSTANCE instance);

/// Creates the main window at its default position, sized to the display.
/// Returns the window or nullptr.
HWND create_main_window(Win32App& app);

/// The main window's procedure; the app comes with WM_CREATE's parameters.
LRESULT CALLBACK main_window_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);

/// The About box's procedure: OK and Cancel close it with result 0; every
/// command counts as handled, every other message as not handled.
INT_PTR CALLBACK about_dialog_proc(HWND dialog, UINT msg, WPARAM wparam, LPARAM lparam);

/// The scopes window's procedure: draws window_scopes_picture; closing it hides
/// it and tells the window logic.
LRESULT CALLBACK scopes_window_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);

/// What the Frame Info box shows: its caption and its lines.
struct TextShown {
    const char* title;
    const char* text;
};

/// The Frame Info box's procedure (its TextShown comes with WM_INITDIALOG):
/// the text in a read-only field of a fixed-pitch font; Close and Esc end it
/// with 0.
INT_PTR CALLBACK text_dialog_proc(HWND dialog, UINT msg, WPARAM wparam, LPARAM lparam);

/// Shows `text` in the Frame Info box, owned by `owner` (may be null).
INT_PTR show_text_box(HINSTANCE instance, HWND owner, const char* title, const char* text);

/// What the Go to Frame dialog asks and where it writes the answer.
struct FrameQuestion {
    const char* prompt;
    char* text;
    int capacity;
};

/// The Go to Frame dialog's procedure (its FrameQuestion comes with
/// WM_INITDIALOG): OK copies the typed text (empty when it does not fit in the
/// capacity) and ends with 1, Cancel ends with 0.
INT_PTR CALLBACK goto_dialog_proc(HWND dialog, UINT msg, WPARAM wparam, LPARAM lparam);

/// Sets the status bar's parts from its current width: the three it has always
/// had, and a fourth as wide as `info` at the far right when `info` is not empty.
void layout_status_parts(HWND status, const char* info);

/// Height of the second status row: the status bar's while it shows, else 0.
int compare_line_height(const Win32App& app);

/// Top of the timeline strip in a client area `client_height` pixels high: it
/// lies under the picture area, above the second status row and the status bar.
int timeline_top(const Win32App& app, int client_height);
