// Opening a sequence from the current path and loading its frames.
#pragma once

#include "color/bt2020.h"
#include "core/frame_store.h"
#include "core/playback.h"
#include "core/read_failure.h"
#include "core/sequence.h"

/// The two error texts the viewer shows, and their caption.
constexpr const char* kMsgCantOpen = "Can't open file!";
constexpr const char* kMsgInvalidImage = "Invalid image file!";
constexpr const char* kErrorCaption = "Error";

/// Shows a modal error box; the front end installs one, the default writes to stderr.
using ErrorBoxHook = void (*)(void* context, const char* message, const char* caption);

/// Everything the viewer keeps for its whole run; the application owns one.
struct Viewer {
    FrameStore store;
    Sequence seq;
    Playback play;
    ConversionTables tables;
    ErrorBoxHook error_box = nullptr;
    void* error_context = nullptr;
};

/// Raises an error box through the installed hook (stderr when none).
void show_error(Viewer& viewer, const char* message);

/// Copies the current frame's name into the current path and reads it with the
/// sequence's reader. Returns the reader's result, -1 when the current frame is
/// outside the list or its name does not fit the path, and then says why in
/// *why when given. Reports nothing.
int load_current_frame(Viewer& viewer, ReadFailure* why = nullptr);

/// Discovers the sequence of the path in the current path and loads its chosen
/// frame; on failure shows "Can't open file!" or "Invalid image file!", writes
/// "karvelin: <path>: <reason>" on standard error and closes the sequence. The
/// step is 0 afterwards either way.
void open_sequence(Viewer& viewer);

/// True when the source size at the current shift equals the display size.
bool display_matches_source(const FrameStore& store);

/// Finishes a load whose reader may have recorded a new size: reallocates the
/// display when the decimated size changed (setting *display_changed) and reads
/// the frame again whenever a size was recorded. Returns that read's result, or 0
/// when nothing had to be done; on -1 says why in *why when given.
int complete_size_change(Viewer& viewer, bool* display_changed, ReadFailure* why = nullptr);

/// Loads the current frame so that it is never read with a source size other than
/// the one the display was allocated for: when the reader records a new size the
/// display is reallocated if the decimated size changed, and the frame is read
/// again. Sets *display_changed when the window must be refitted. Returns the
/// final read's result; on -1 says why in *why when given.
int load_frame_checked(Viewer& viewer, bool* display_changed, ReadFailure* why = nullptr);
