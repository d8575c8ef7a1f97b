#include "ui/window_logic.h"

#include <cstdio>
#include <cstring>

#include "core/helper_thread.h"
#include "core/prefetch.h"

namespace {

void fit(Window& win) {
    win.front.fit_picture(win.front.context, display_width(win.viewer.store),
                          display_height(win.viewer.store));
}

void repaint(Window& win) {
    win.front.repaint(win.front.context);
}

void set_step_status(Window& win) {
    char text[64];
    status_text(win, 2, text, sizeof text);
    win.front.set_status(win.front.context, 2, text);
}

/// Moves the Size check mark from `from_shift` to the store's shift.
void move_size_check(Window& win, int from_shift) {
    win.front.check_menu(win.front.context, kCmdSizeOriginal + from_shift, false);
    win.front.check_menu(win.front.context, kCmdSizeOriginal + win.viewer.store.shift, true);
}

/// After a reallocation that left no pixel buffer (a picture too large for the
/// memory left), falls back to the next smaller size that can be allocated, so
/// that the window keeps showing something and playback goes on. The user is
/// told once per loss, not on every tick that finds the display still missing.
void recover_from_allocation_failure(Window& win) {
    FrameStore& store = win.viewer.store;
    if (store.pixels != nullptr) {
        win.display_lost = false;
        return;
    }
    if (!win.display_lost) show_error(win.viewer, kMsgNoMemory);
    win.display_lost = true;
    const int old_shift = store.shift;
    while (store.pixels == nullptr && store.shift < 3) {
        ++store.shift;
        reallocate_display(store);
    }
    if (store.shift != old_shift) move_size_check(win, old_shift);
    if (store.pixels != nullptr) win.display_lost = false;
}

/// Reallocates the display for the current source size and shift, refits the
/// window and reads the current frame into the fresh (black) buffer.
void resize_path(Window& win) {
    FrameStore& store = win.viewer.store;
    reallocate_display(store);
    recover_from_allocation_failure(win);
    fit(win);
    // The timer keeps running: until the next key press each tick reloads the
    // same frame at step 0.
    win.viewer.play.step = 0;
    bool changed = false;
    load_frame_checked(win.viewer, &changed);
    recover_from_allocation_failure(win);
    if (changed) fit(win);
    repaint(win);
    repaint(win);
}

/// Opens the sequence whose path is in the current path and brings the display
/// in line with the size of its first loaded frame.
void open_path(Window& win) {
    open_sequence(win.viewer);
    bool changed = false;
    complete_size_change(win.viewer, &changed);
    if (changed) {
        recover_from_allocation_failure(win);
        fit(win);
        win.viewer.play.step = 0;
        repaint(win);
    }
    repaint(win);
}

/// Copies `path` into the current path for opening. A path that does not fit is
/// refused whole with "Can't open file!" rather than cut short, which would name
/// some other file. Returns false when refused.
bool take_path(Window& win, const char* path, std::size_t length) {
    if (length == 0 || length >= static_cast<std::size_t>(kPathMax)) {
        show_error(win.viewer, kMsgCantOpen);
        return false;
    }
    std::memcpy(win.viewer.seq.current_path, path, length);
    win.viewer.seq.current_path[length] = '\0';
    return true;
}

}  // namespace

int window_startup(Window& win, const char* command_line) {
    Viewer& viewer = win.viewer;
    if (reallocate_display(viewer.store) != 0) return -1;
    start_frame_helper();
    viewer.play.step = 0;
    viewer.seq.frame_count = 0;
    win.timer_running = false;

    if (command_line != nullptr && command_line[0] != '\0') {
        const char* path = command_line;
        std::size_t length = std::strlen(path);
        // A quoted path arrives with its quotes; neither belongs to the file name.
        if (path[0] == '"') {
            ++path;
            --length;
        }
        if (length > 0 && path[length - 1] == '"') --length;
        if (take_path(win, path, length)) {
            open_sequence(viewer);
            bool changed = false;
            complete_size_change(viewer, &changed);
            // No window yet: the fit follows when it is created. A display too large
            // for memory falls back to a smaller size before the window exists.
            if (viewer.store.pixels == nullptr) {
                show_error(viewer, kMsgNoMemory);
                while (viewer.store.pixels == nullptr && viewer.store.shift < 3) {
                    ++viewer.store.shift;
                    reallocate_display(viewer.store);
                }
                if (viewer.store.pixels != nullptr) load_current_frame(viewer);
            }
        }
    }
    build_conversion_tables(viewer.tables);
    return 0;
}

void window_created(Window& win) {
    // The menu starts with 1/4 checked; a start-up that had to fall back to a
    // smaller size moves the mark.
    if (win.viewer.store.shift != 2) move_size_check(win, 2);
    fit(win);
}

void status_text(const Window& win, int part, char* out, int capacity) {
    if (out == nullptr || capacity <= 0) return;
    const Sequence& seq = win.viewer.seq;
    switch (part) {
        case 0: {
            int slot = seq.name_slot;
            if (slot < 0 || slot >= kPathMax) slot = 0;
            std::snprintf(out, static_cast<std::size_t>(capacity), "%.*s", kPathMax - slot,
                          seq.current_path + slot);
            break;
        }
        case 1:
            std::snprintf(out, static_cast<std::size_t>(capacity), "Frame: %d/%d",
                          static_cast<int>(seq.current_frame), static_cast<int>(seq.frame_count));
            break;
        case 2: {
            const int step = win.viewer.play.step;
            std::snprintf(out, static_cast<std::size_t>(capacity), "Step: %s%d",
                          step >= 1 ? "+" : "", step);
            break;
        }
        default:
            out[0] = '\0';
            break;
    }
}

void window_paint_status(Window& win) {
    char* text = win.viewer.seq.work;
    for (int part = 0; part < kStatusParts; ++part) {
        status_text(win, part, text, kPathMax);
        win.front.set_status(win.front.context, part, text);
    }
}

void window_key(Window& win, int virtual_key) {
    switch (key_pressed(win.viewer.play, win.viewer.seq, virtual_key)) {
        case kKeyQuit:
            win.front.quit(win.front.context);
            return;
        case kKeyRunTimer:
            win.front.start_timer(win.front.context);
            win.timer_running = true;
            break;
        case kKeyStopTimer:
            win.front.stop_timer(win.front.context);
            win.timer_running = false;
            break;
    }
    set_step_status(win);
}

void window_tick(Window& win) {
    timer_tick(win.viewer.seq, win.viewer.play);
    bool changed = false;
    load_frame_checked(win.viewer, &changed);
    if (changed) {
        recover_from_allocation_failure(win);
        fit(win);
    }
    repaint(win);
    prefetch_next_frame(win.viewer);
}

void window_drop(Window& win, const char* path) {
    if (path == nullptr) return;
    if (take_path(win, path, std::strlen(path))) open_path(win);
}

void window_command(Window& win, int id) {
    Viewer& viewer = win.viewer;
    switch (id) {
        case kCmdOpen: {
            // The dialog edits a copy, so Cancel leaves the current path, the
            // sequence and the step exactly as they were.
            char chosen[kPathMax];
            std::memcpy(chosen, viewer.seq.current_path, sizeof chosen);
            chosen[kPathMax - 1] = '\0';
            if (!win.front.ask_open_file(win.front.context, chosen, kPathMax)) return;
            chosen[kPathMax - 1] = '\0';
            if (take_path(win, chosen, std::strlen(chosen))) open_path(win);
            return;
        }
        case kCmdExit:
            win.front.close_window(win.front.context);
            return;
        case kCmdConvert: {
            viewer.store.convert = viewer.store.convert ? 0 : 1;
            win.front.check_menu(win.front.context, kCmdConvert, viewer.store.convert == 1);
            bool changed = false;
            load_frame_checked(viewer, &changed);
            if (changed) {
                recover_from_allocation_failure(win);
                fit(win);
            }
            repaint(win);
            return;
        }
        case kCmdSizeOriginal:
        case kCmdSizeHalf:
        case kCmdSizeQuarter:
        case kCmdSizeEighth: {
            const int old_shift = viewer.store.shift;
            viewer.store.shift = id - kCmdSizeOriginal;
            move_size_check(win, old_shift);
            resize_path(win);
            return;
        }
        case kCmdAbout:
            win.front.show_about(win.front.context);
            repaint(win);
            return;
        default:
            win.front.beep(win.front.context);
            return;
    }
}

void window_shutdown(Window& win) {
    win.timer_running = false;
    release_display(win.viewer.store);
    release_sequence(win.viewer.seq);
}
