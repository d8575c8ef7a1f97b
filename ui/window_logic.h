// What the viewer window does, without any toolkit: start-up, the open and resize
// paths, keys, ticks, drops and menu commands, and the three status texts. A
// front end turns its events into these calls and implements FrontEnd.
#pragma once

#include "core/loading.h"
#include "ui/command_line.h"
#include "ui/compare_state.h"
#include "ui/playback_state.h"
#include "ui/signal_state.h"

/// Menu command ids.
constexpr int kCmdOpen = 101;
constexpr int kCmdExit = 102;
constexpr int kCmdConvert = 103;
constexpr int kCmdSizeOriginal = 201;
constexpr int kCmdSizeHalf = 202;
constexpr int kCmdSizeQuarter = 203;
constexpr int kCmdSizeEighth = 204;
constexpr int kCmdAbout = 901;
/// File > Go to Frame... (Ctrl+G).
constexpr int kCmdGoToFrame = 104;
/// File > Frame Info... (Ctrl+I).
constexpr int kCmdFrameInfo = 107;
/// Color > Gamut Warning and Color > Range Warning.
constexpr int kCmdGamutWarning = 110;
constexpr int kCmdRangeWarning = 111;
/// View > Scopes.
constexpr int kCmdScopes = 501;

/// Frame keys (Windows virtual-key codes; other front ends translate to them).
/// Each pauses like any other key, then moves: Page Down and '.' one frame
/// forward, Page Up and ',' one frame back (staying at the ends), Home to the
/// first frame, End to the last.
constexpr int kKeyPageUp = 0x21;
constexpr int kKeyPageDown = 0x22;
constexpr int kKeyEnd = 0x23;
constexpr int kKeyHome = 0x24;
constexpr int kKeyComma = 0xBC;
constexpr int kKeyPeriod = 0xBE;

/// Device pixels one wheel notch (120 units) scrolls the picture.
constexpr int kWheelStep = 96;

/// The playback timer's id and period.
constexpr int kTimerId = 1;
constexpr int kTimerMs = 16;

/// Shown when the picture at the chosen size does not fit in memory; the viewer
/// then falls back to the next smaller size that does.
constexpr const char* kMsgNoMemory = "Not enough memory to show the picture at this size!";

/// Status bar parts: 0 file name (or the probe while the right button is held),
/// 1 "Frame: n/N", 2 "Step: +k", 3 what playback, comparison and the signal
/// checks have to say (empty when nothing: the bar then looks as it always has).
/// A frame that could not be read shows black, with part 0 giving its name and
/// the reason, e.g. "clip_4.dpx: no such file".
constexpr int kStatusParts = 4;

/// Right edges of the status parts, in pixels from the left of a bar `width`
/// wide whose fourth part needs `info_width` pixels (0 when it is empty): the
/// first three keep the widths they have always had (edges at width - 250,
/// width - 110 and the right end when the fourth is empty), and the fourth
/// takes the right end.
void status_part_edges(int width, int info_width, int edges[kStatusParts]);

/// Bytes the Go to Frame text may take, its NUL included: far more than any
/// frame number needs, and less than either dialog's own limit, so that a text
/// the dialog cut short never fits and is refused rather than read.
constexpr int kFrameTextBytes = 256;

/// Stands for a stored value the probe could not read (the file vanished or
/// changed). Windows status texts are in the ANSI code page, which may have no
/// dash of this kind.
#if defined(_WIN32)
constexpr const char* kProbeNoValue = "-";
#else
constexpr const char* kProbeNoValue = "\xE2\x80\x94";
#endif

/// The picture a front end shows: `width` x `height` pixels of 4 bytes (blue,
/// green, red, unused), row 0 the bottom line, rows width * 4 bytes apart.
/// Usually the display itself; a picture composed from it while comparing two
/// sequences or marking pixels. Null pixels: nothing to show.
struct ShownPicture {
    const std::uint8_t* pixels = nullptr;
    int width = 0;
    int height = 0;
};

/// What the window logic asks of a front end. Every member must be set; `context`
/// is passed back unchanged.
struct FrontEnd {
    void* context = nullptr;
    /// Make the picture area exactly width x height device pixels (status bar below).
    void (*fit_picture)(void* context, int width, int height) = nullptr;
    /// Redraw the picture and the three status parts now.
    void (*repaint)(void* context) = nullptr;
    /// Set status part `part` (0..2) to `text`.
    void (*set_status)(void* context, int part, const char* text) = nullptr;
    /// Playback runs (or runs again after a key changed it): arm a one-shot timer
    /// for window_tick_delay_us and, after each window_tick while it runs, arm
    /// it again the same way. stop_timer cancels it.
    void (*start_timer)(void* context) = nullptr;
    void (*stop_timer)(void* context) = nullptr;
    /// End the program with exit code 0.
    void (*quit)(void* context) = nullptr;
    /// Close the main window (File > Exit).
    void (*close_window)(void* context) = nullptr;
    /// Ask for a file to open, starting from `path`; on OK write the chosen path
    /// (NUL-terminated, at most `capacity` bytes) and return true; on Cancel false.
    bool (*ask_open_file)(void* context, char* path, int capacity) = nullptr;
    /// Show the About box modally.
    void (*show_about)(void* context) = nullptr;
    /// Ask for a frame number in a small modal dialog showing `prompt`, its text
    /// starting as `text` (NUL-terminated, at most `capacity` bytes); on OK write
    /// what was typed to `text` and return true; on Cancel false. Typed text that
    /// does not fit in `capacity` bytes is written as an empty text, never cut
    /// short into some other number.
    bool (*ask_frame)(void* context, const char* prompt, char* text, int capacity) = nullptr;
    /// Check or uncheck menu item `id`.
    void (*check_menu)(void* context, int id, bool checked) = nullptr;
    /// The default system sound.
    void (*beep)(void* context) = nullptr;
    /// Show `text` (lines ending in '\n') in a modal box titled `title`, the
    /// text selectable and copyable (File > Frame Info...).
    void (*show_text)(void* context, const char* title, const char* text) = nullptr;
    /// Open or close the scopes window, which draws window_scopes_picture; the
    /// front end calls window_scopes_closed when the user closes it.
    void (*show_scopes)(void* context, bool shown) = nullptr;
    /// Redraw the scopes window now.
    void (*repaint_scopes)(void* context) = nullptr;
    /// Call window_scopes_poll once, `ms` milliseconds from now (on the window
    /// thread, like every other call); a new request replaces a pending one.
    void (*start_scopes_poll)(void* context, int ms) = nullptr;
    /// Enable or disable (gray) menu item `id`; a disabled item's shortcut does
    /// nothing, and its key reaches window_key like any other.
    void (*enable_menu)(void* context, int id, bool enabled) = nullptr;
    /// Show `text` as a second status row under the parts (the comparison's
    /// metrics); an empty text removes the row. The window logic refits the
    /// window after the row comes or goes.
    void (*set_compare_line)(void* context, const char* text) = nullptr;
    /// May be called from ANY thread: have the window thread call
    /// window_compare_ready soon (a posted message, a queued call).
    void (*wake)(void* context) = nullptr;
};

/// Everything the window keeps: the viewer state and the front end it drives.
struct Window {
    Viewer viewer;
    FrontEnd front;
    bool timer_running = false;
    /// Set once the user has been told that the picture cannot be shown at the
    /// size asked for, until it shows again, so that one loss raises one box
    /// however many ticks or paints find the display still missing.
    bool display_lost = false;
    /// Non-zero while the window logic handles an event. The modal loops of the
    /// boxes it raises (error box, Open dialog) still deliver timer ticks, which
    /// must not step or reload over the state the box interrupted.
    int busy = 0;
    /// The picture area as the front end last reported it, in device pixels.
    int view_width = 0;
    int view_height = 0;
    /// The display pixel at the picture area's top-left corner (y from the top):
    /// non-zero only while the picture is larger than the area. Kept across
    /// frames of one size, back at 0, 0 when the display size changes.
    int pan_x = 0;
    int pan_y = 0;
    /// The display size the pan belongs to.
    int pan_width = 0;
    int pan_height = 0;
    /// While the right button is held over the picture: the probe text status
    /// part 0 shows instead of the file name (empty when the cursor is off the
    /// picture).
    bool probing = false;
    char probe_text[128] = {};
    /// A picture composed from the display (comparison, warnings) that the
    /// front end shows in its place while its pixels are set; owned by whoever
    /// composed it.
    ShownPicture composed;
    /// Where the probe was last asked for, in picture-area device pixels: every
    /// frame shown while the button is held is probed there again.
    int probe_x = 0;
    int probe_y = 0;
    /// Why the current frame could not be read, kReadOk while it shows. An
    /// unreadable frame shows black, never the previous picture under its name.
    ReadFailure unreadable = kReadOk;
    /// Failed loads of the current frame, each shown as unreadable (a tick that
    /// loads the same unreadable frame again counts again), for the playback
    /// figures beside the dropped frames.
    int unreadable_frames = 0;
    /// The signal checks: warnings, their marks and shares, the scopes.
    SignalState signal;
    /// The second sequence while comparing (ui/compare_logic.h).
    CompareView compare;
    /// Playing in time: the rate, the clock, the cache (ui/playback_logic.h).
    PlaybackState playback;
};

/// The picture the front end draws: the composed one when there is one, else
/// the display.
ShownPicture window_picture(const Window& win);

/// Start-up before the window exists: allocates the 960x540 display, builds the
/// conversion tables and opens `command_line` (may be null or empty) when given,
/// with the command line's `options` when given (their --rate and --cache; with
/// no options there is no cache of decoded frames). Returns 0, or -1 when the
/// display cannot be allocated (the caller exits with 1).
int window_startup(Window& win, const char* command_line, const CommandLine* options = nullptr);

/// After the front end created its window: fits it to the display.
void window_created(Window& win);

/// The three status texts for the current state, each written to `out` (at least
/// kPathMax bytes).
void status_text(const Window& win, int part, char* out, int capacity);

/// The paint handler's job after it drew the picture: sets all three status
/// parts. A picture shown again ends a display loss the user was told of.
void window_paint_status(Window& win);

/// A plain key press with its virtual-key code.
void window_key(Window& win, int virtual_key);

/// One tick of the playback timer.
void window_tick(Window& win);

/// A file dropped on the window (the first of several).
void window_drop(Window& win, const char* path);

/// A menu command by id.
void window_command(Window& win, int id);

/// The picture area now shows width x height device pixels (after a fit, which
/// the screen may have limited, or after the user sized the window).
void window_view_resized(Window& win, int width, int height);

/// The mouse dragged the picture by dx, dy device pixels (it follows the mouse).
/// Repaints when the picture moved.
void window_drag(Window& win, int dx, int dy);

/// A wheel turn of `delta` units (120 a notch, positive away from the user):
/// scrolls the picture up, or left when `horizontal` (Shift held). Repaints when
/// the picture moved.
void window_wheel(Window& win, int delta, bool horizontal);

/// The right button is held at (x, y) of the picture area (device pixels from
/// its top-left corner): status part 0 shows the source pixel under the cursor
/// and the values its file stores, then the displayed 8-bit values, e.g.
/// "x 1234 y 567  R 51234 G 40000 B 1234  (200 156 4)". One small read per call;
/// values that cannot be read show as kProbeNoValue, without an error box. Until
/// the button is released every frame shown is probed again at (x, y); an
/// unreadable frame has no values, and part 0 keeps its name and reason.
void window_probe(Window& win, int x, int y);

/// The right button was released: status part 0 shows the file name again.
void window_probe_end(Window& win);

/// The front end could not get the surface to show the picture at the display
/// size (a display server that cannot back a window that large). Treated like a
/// display that cannot be allocated: the user is told once, and the picture falls
/// back to the next smaller size. Returns false when it cannot act now (inside a
/// box); the front end tries again later. Must not be called from a paint handler.
bool window_surface_lost(Window& win);

/// Fits the window to the picture it shows now, after that picture changed
/// size (the pan goes back to its top-left corner when it did).
void window_fit(Window& win);

/// A file dropped with Ctrl held: compared with the open sequence, as File >
/// Compare With... does.
void window_compare_drop(Window& win, const char* path);

/// The left button went down at (x, y) of the picture area (device pixels from
/// its top-left corner). In the wipe the split moves there; a drag follows.
void window_press(Window& win, int x, int y);

/// What the front end's wake asked for: takes the comparison's latest metrics
/// into the status.
void window_compare_ready(Window& win);

/// Stops the comparison's background work: the front end's wake is never
/// called after it returns (a front end calls it before it goes away).
void window_stop_background(Window& win);

/// Releases what start-up allocated (the front end stops its own timer).
void window_shutdown(Window& win);
