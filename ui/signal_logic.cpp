#include "ui/signal_logic.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "scopes/scope_worker.h"
#include "ui/frame_info.h"

namespace {

/// Points the readers at the marks the warnings want. They are painted as the
/// rows are made, except while the scopes are open: the scopes take the frame
/// as it is first, and the marks are painted after.
void update_marks(Window& win) {
    SignalState& s = win.signal;
    PixelMarks& m = s.marks;
    m.gamut = s.gamut_warning;
    m.range = s.range_warning;
    m.paint = !s.scopes_open;
    win.viewer.store.marks = (m.gamut || m.range) && m.gamut_bits ? &m : nullptr;
}

void check(Window& win, int id, bool on) {
    win.front.check_menu(win.front.context, id, on);
}

/// Turns a warning on or off; false (with a beep) when its marks cannot be had.
bool toggle_warning(Window& win, bool& on, int id) {
    SignalState& s = win.signal;
    if (!on && !s.marks.gamut_bits && alloc_marks(s.marks, kMaxFrameWidth, kMaxFrameHeight) != 0) {
        win.front.beep(win.front.context);
        return false;
    }
    on = !on;
    check(win, id, on);
    update_marks(win);
    return true;
}

void post_scopes(Window& win) {
    SignalState& s = win.signal;
    const FrameStore& store = win.viewer.store;
    if (!s.scopes_open || !s.scopes || !store.pixels) return;
    // A converted picture is BT.709; one shown as stored is taken as BT.2020.
    post_scope_frame(*s.scopes, store.pixels, display_width(store), display_height(store),
                     store.convert ? kScopeBt709 : kScopeBt2020);
    win.front.start_scopes_poll(win.front.context, kScopesPollMs);
}

void close_scopes(Window& win, bool close_window) {
    SignalState& s = win.signal;
    s.scopes_open = false;
    check(win, kCmdScopes, false);
    if (close_window) win.front.show_scopes(win.front.context, false);
    update_marks(win);
}

void toggle_scopes(Window& win, bool* reload) {
    SignalState& s = win.signal;
    if (s.scopes_open) {
        close_scopes(win, true);
        return;
    }
    if (!s.scopes) s.scopes = start_scope_worker();
    if (!s.scopes) {
        win.front.beep(win.front.context);
        return;
    }
    s.scopes_open = true;
    check(win, kCmdScopes, true);
    win.front.show_scopes(win.front.context, true);
    update_marks(win);
    // A picture whose marks are painted is read again, for the scopes to see it
    // as it is.
    if (win.viewer.store.marks && win.viewer.seq.frame_count > 0)
        *reload = true;
    else
        post_scopes(win);
}

void frame_info(Window& win) {
    const Viewer& viewer = win.viewer;
    if (viewer.seq.frame_count <= 0) {
        win.front.beep(win.front.context);
        return;
    }
    std::string text;
    ReadFailure why = kReadOk;
    const char* path = viewer.seq.current_path;
    if (frame_info_listing(viewer.seq.source_format, path, viewer.store.source_width,
                           viewer.store.source_height, text, &why) != 0)
        text = std::string(path) + ": " + read_failure_text(why) + "\n";
    win.front.show_text(win.front.context, "Frame Info", text.c_str());
}

void append_share(std::string& text, const char* name, std::int64_t marked, std::int64_t pixels) {
    if (marked < 0 || pixels <= 0) return;
    const double percent = 100.0 * static_cast<double>(marked) / static_cast<double>(pixels);
    char share[48];
    // A few marked pixels never read as none.
    if (marked > 0 && percent < 0.01)
        std::snprintf(share, sizeof share, "%s <0.01%%", name);
    else
        std::snprintf(share, sizeof share, "%s %.2f%%", name, percent);
    if (!text.empty()) text += "  ";
    text += share;
}

}  // namespace

bool signal_command(Window& win, int id, bool* reload) {
    SignalState& s = win.signal;
    switch (id) {
        case kCmdFrameInfo:
            frame_info(win);
            return true;
        case kCmdGamutWarning:
            *reload = toggle_warning(win, s.gamut_warning, id);
            return true;
        case kCmdRangeWarning:
            *reload = toggle_warning(win, s.range_warning, id);
            return true;
        case kCmdScopes:
            toggle_scopes(win, reload);
            return true;
        default:
            return false;
    }
}

void signal_frame_loaded(Window& win, bool shown) {
    SignalState& s = win.signal;
    FrameStore& store = win.viewer.store;
    const int w = display_width(store), h = display_height(store);
    s.pixels = store.pixels ? static_cast<std::int64_t>(w) * h : 0;
    s.gamut_pixels = s.range_pixels = -1;
    // The scopes take the frame before any marks are painted over it.
    post_scopes(win);
    const bool gamut = store.marks && s.gamut_warning && store.convert;
    const bool range = store.marks && s.range_warning;
    if (!shown || !store.pixels || !(gamut || range)) return;
    if (!s.marks.paint) paint_marks(s.marks, gamut, range, store.pixels, w, h);
    if (gamut) s.gamut_pixels = count_marks(s.marks, s.marks.gamut_bits, w, h);
    if (range) s.range_pixels = count_marks(s.marks, s.marks.range_bits, w, h);
}

void signal_segment(const Window& win, char* out, int capacity) {
    if (!out || capacity <= 0) return;
    const SignalState& s = win.signal;
    std::string text;
    char timecode[16];
    if (win.viewer.seq.frame_count > 0 && win.unreadable == kReadOk &&
        format_timecode(win.viewer.store.timecode, timecode, sizeof timecode))
        text = std::string("TC ") + timecode;
    append_share(text, "gamut", s.gamut_pixels, s.pixels);
    append_share(text, "range", s.range_pixels, s.pixels);
    std::snprintf(out, static_cast<std::size_t>(capacity), "%s", text.c_str());
}

ScopesPicture window_scopes_picture(const Window& win) {
    ScopesPicture p;
    if (!win.signal.scopes_picture) return p;
    p.pixels = win.signal.scopes_picture;
    p.width = kScopesWidth;
    p.height = kScopesHeight;
    return p;
}

void window_scopes_poll(Window& win) {
    SignalState& s = win.signal;
    if (!s.scopes) return;
    const std::uint8_t* picture = nullptr;
    if (take_scopes(*s.scopes, &picture)) {
        s.scopes_picture = picture;
        if (s.scopes_open) win.front.repaint_scopes(win.front.context);
    }
    if (s.scopes_open && scopes_pending(*s.scopes))
        win.front.start_scopes_poll(win.front.context, kScopesPollMs);
}

void window_scopes_closed(Window& win) {
    if (win.signal.scopes_open) close_scopes(win, false);
}

void signal_shutdown(Window& win) {
    SignalState& s = win.signal;
    stop_scope_worker(s.scopes);
    s.scopes = nullptr;
    s.scopes_picture = nullptr;
    s.scopes_open = false;
    win.viewer.store.marks = nullptr;
    release_marks(s.marks);
}
