// Opening a sequence and loading its frames, with the size-change protocol that
// keeps every frame read at the size the display was allocated for.
#include "core/loading.h"

#include <cstdio>
#include <cstring>

#include "core/readers.h"

void show_error(Viewer& viewer, const char* message) {
    if (viewer.error_box) {
        viewer.error_box(viewer.error_context, message, kErrorCaption);
        return;
    }
    std::fprintf(stderr, "%s: %s\n", kErrorCaption, message);
}

int load_current_frame(Viewer& viewer, ReadFailure* why) {
    Sequence& seq = viewer.seq;
    FrameStore& store = viewer.store;
    // The flag then says what this read did, whatever an earlier one left.
    store.size_recorded = 0;
    if (seq.current_frame < 0 || seq.current_frame >= seq.frame_count || !seq.frame_list)
        return fail_with(why, kFailFrameOutOfRange);
    // The folder part stays; a name that would not fit beside it is not loaded.
    if (frame_path(seq, seq.current_frame, seq.current_path) != 0)
        return fail_with(why, kFailNameTooLong);

    const FrameFormat* format = frame_format(seq.source_format);
    if (!format) return fail_with(why, kFailCannotOpen);
    return read_frame_into_store(*format, seq.current_path, store, viewer.tables, why);
}

void open_sequence(Viewer& viewer) {
    // Whatever a failed discovery leaves, no size is pending for the caller's check.
    viewer.store.size_recorded = 0;
    const char* message = kMsgCantOpen;
    ReadFailure why = kFailNoMatch;
    if (discover_sequence(viewer.seq) == 0) {
        why = kFailCannotOpen;
        if (load_current_frame(viewer, &why) == 0) {
            viewer.play.step = 0;
            return;
        }
        message = kMsgInvalidImage;
    }
    std::fprintf(stderr, "karvelin: %s: %s\n", viewer.seq.current_path, read_failure_text(why));
    // Closed before the box: its modal loop still delivers timer ticks and paints,
    // which must find no sequence to step through and the previous picture.
    viewer.seq.frame_count = 0;
    viewer.play.step = 0;
    show_error(viewer, message);
}

bool display_matches_source(const FrameStore& store) {
    return (store.source_width >> store.shift) == display_width(store) &&
           (store.source_height >> store.shift) == display_height(store);
}

int complete_size_change(Viewer& viewer, bool* display_changed, ReadFailure* why) {
    FrameStore& store = viewer.store;
    bool changed = false;
    int result = 0;
    // A reader that records a size reads nothing; the frame is read again, and if
    // the file changed size once more in between, once more after that. Two
    // attempts bound the work when a file keeps changing under the viewer.
    for (int attempt = 0; attempt < 2; ++attempt) {
        bool reallocated = false;
        if (!display_matches_source(store)) {
            changed = true;
            reallocated = true;
            if (reallocate_display(store) != 0) {
                result = fail_with(why, kFailNoDisplay);
                break;
            }
        }
        // Even when the new size decimates to the display already there, the frame
        // now named in the current path has not been drawn yet.
        if (!store.size_recorded && !reallocated) break;
        result = load_current_frame(viewer, why);
        if (!store.size_recorded) break;
        // Recorded yet another size: the frame is still unread.
        result = fail_with(why, kFailSizeChanging);
    }
    // A size recorded by the last attempt must not outlive this call with a display
    // of another size, or the next frame of that size would be read into it.
    if (store.size_recorded && !display_matches_source(store)) {
        changed = true;
        if (reallocate_display(store) != 0) result = fail_with(why, kFailNoDisplay);
    }
    store.size_recorded = 0;
    if (display_changed) *display_changed = changed;
    return result;
}

int load_frame_checked(Viewer& viewer, bool* display_changed, ReadFailure* why) {
    bool changed = false;
    int result = 0;
    // A shift chosen since the last load (or a display lost to a failed
    // allocation) is put right before any pixel is written.
    if (!display_matches_source(viewer.store)) {
        changed = true;
        if (reallocate_display(viewer.store) != 0) result = fail_with(why, kFailNoDisplay);
    }
    if (result == 0) {
        result = load_current_frame(viewer, why);
        if (result == 0 && viewer.store.size_recorded) {
            bool reallocated = false;
            result = complete_size_change(viewer, &reallocated, why);
            changed = changed || reallocated;
        }
    }
    if (display_changed) *display_changed = changed;
    return result;
}
