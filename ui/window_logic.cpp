#include "ui/window_logic.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/helper_thread.h"
#include "core/prefetch.h"
#include "core/probe.h"
#include "ui/compare_logic.h"
#include "ui/playback_logic.h"
#include "ui/signal_logic.h"
#include "ui/status_info.h"

namespace {

/// Moves the pan to (x, y), kept inside the picture: the area never shows beyond
/// its right or bottom edge, and starts at the top-left when the picture fits.
/// Wide enough for a drag of any size from any pan.
void set_pan(Window& win, long long x, long long y) {
    const ShownPicture shown = window_picture(win);
    const long long most_x = static_cast<long long>(shown.width) - win.view_width;
    const long long most_y = static_cast<long long>(shown.height) - win.view_height;
    win.pan_x = static_cast<int>(std::max(0LL, std::min(x, most_x)));
    win.pan_y = static_cast<int>(std::max(0LL, std::min(y, most_y)));
}

void clamp_pan(Window& win) {
    set_pan(win, win.pan_x, win.pan_y);
}

void fit(Window& win) {
    const ShownPicture shown = window_picture(win);
    const int width = shown.width;
    const int height = shown.height;
    // A picture of another size starts at its top-left corner.
    if (width != win.pan_width || height != win.pan_height) {
        win.pan_x = 0;
        win.pan_y = 0;
        win.pan_width = width;
        win.pan_height = height;
    }
    win.front.fit_picture(win.front.context, width, height);
}

void repaint(Window& win) {
    win.front.repaint(win.front.context);
}

/// Rewrites one status part from the state, without a repaint.
void set_status_part(Window& win, int part) {
    char text[kPathMax];
    status_text(win, part, text, sizeof text);
    win.front.set_status(win.front.context, part, text);
}

/// Moves the Size check mark from `from_shift` to the store's shift.
void move_size_check(Window& win, int from_shift) {
    win.front.check_menu(win.front.context, kCmdSizeOriginal + from_shift, false);
    win.front.check_menu(win.front.context, kCmdSizeOriginal + win.viewer.store.shift, true);
}

/// Tells the user that the picture cannot be shown at the size asked for, once
/// per loss: the flag stays set until a paint shows the picture again.
void tell_display_lost(Window& win) {
    if (win.display_lost) return;
    win.display_lost = true;
    show_error(win.viewer, kMsgNoMemory);
}

/// Steps the shift towards 1/8 until a pixel buffer can be allocated. Returns
/// true when one was (false when even 1/8 does not fit).
bool shrink_until_allocated(FrameStore& store) {
    while (store.pixels == nullptr && store.shift < 3) {
        ++store.shift;
        reallocate_display(store);
    }
    return store.pixels != nullptr;
}

/// After a reallocation that left no pixel buffer (a picture too large for the
/// memory left), falls back to the next smaller size that can be allocated, so
/// that the window keeps showing something and playback goes on. The box comes
/// after the shift and the Size check are settled, since its modal loop paints.
void recover_from_allocation_failure(Window& win) {
    FrameStore& store = win.viewer.store;
    if (store.pixels != nullptr) return;
    const int old_shift = store.shift;
    shrink_until_allocated(store);
    if (store.shift != old_shift) move_size_check(win, old_shift);
    tell_display_lost(win);
}

/// Takes the result of a load of the current frame. A frame that could not be
/// read must not leave the previous picture under its name: the picture goes
/// black and status part 0 gives the reason. Returns true when it was read.
/// With no sequence open (one that failed to open) there is no frame to call
/// unreadable, and the previous picture stays.
bool settle_load(Window& win, int result, ReadFailure why) {
    if (result == 0 || win.viewer.seq.frame_count <= 0) {
        win.unreadable = kReadOk;
        return true;
    }
    FrameStore& store = win.viewer.store;
    if (store.pixels != nullptr)
        std::memset(store.pixels, 0,
                    static_cast<std::size_t>(display_width(store)) *
                        static_cast<std::size_t>(display_height(store)) * 4);
    win.unreadable = why != kReadOk ? why : kFailCannotOpen;
    ++win.unreadable_frames;
    return false;
}

void probe_at(Window& win, int x, int y);

/// A newly shown frame while the right button is held: the probe reads its
/// values where the cursor rests, or it would go on showing the last frame's.
void refresh_probe(Window& win) {
    if (win.probing) probe_at(win, win.probe_x, win.probe_y);
}

/// Reads the current frame so that it is never drawn at a size other than the
/// display's (see load_frame_checked), refits the window when the display size
/// changed on the way, and repaints: what a tick, the Color menu and the frame
/// keys do. Returns false when the frame could not be read.
bool load_and_show(Window& win) {
    bool changed = false;
    ReadFailure why = kReadOk;
    // A frame decoded ahead is taken as it is; anything else is read now.
    const bool cached = playback_take_cached(win);
    const int result = cached ? 0 : load_frame_checked(win.viewer, &changed, &why);
    if (!cached) playback_frame_read(win, result == 0 && !changed);
    // Settled first: the box a lost display raises paints this frame's state.
    const bool shown = settle_load(win, result, why);
    signal_frame_loaded(win, shown);
    compare_after_load(win);
    if (changed) {
        recover_from_allocation_failure(win);
        fit(win);
    }
    refresh_probe(win);
    // The frames ahead are on their way while this one is painted.
    playback_after_show(win);
    repaint(win);
    return shown;
}

/// Reallocates the display for the current source size and shift, refits the
/// window and reads the current frame into the fresh (black) buffer.
void resize_path(Window& win) {
    FrameStore& store = win.viewer.store;
    reallocate_display(store);
    recover_from_allocation_failure(win);
    compare_display_resized(win);
    fit(win);
    // The timer keeps running: until the next key press each tick reloads the
    // same frame at step 0.
    win.viewer.play.step = 0;
    load_and_show(win);
    // Painted twice on purpose: the viewer has always drawn a size change twice
    // in a row, and anything that counts its paints (the playback benchmark, a
    // screen recorder) sees the same sequence as before. The second paint finds
    // nothing changed and costs one copy of the picture.
    repaint(win);
}

/// Opens the sequence whose path is in the current path and brings the display
/// in line with the size of its first loaded frame.
void open_path(Window& win) {
    open_sequence(win.viewer);
    ++win.playback.opens;
    bool changed = false;
    ReadFailure why = kReadOk;
    // The reason is read after the load that writes it (the arguments of one
    // call may be evaluated in any order).
    const int result = complete_size_change(win.viewer, &changed, &why);
    signal_frame_loaded(win, settle_load(win, result, why));
    compare_after_load(win);
    refresh_probe(win);
    if (changed) {
        recover_from_allocation_failure(win);
        fit(win);
        win.viewer.play.step = 0;
        playback_after_show(win);
        repaint(win);
    }
    playback_after_show(win);
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

int window_startup(Window& win, const char* command_line, const CommandLine* options) {
    Viewer& viewer = win.viewer;
    if (reallocate_display(viewer.store) != 0) return -1;
    start_frame_helper();
    playback_startup(win, options);
    viewer.play.step = 0;
    viewer.seq.frame_count = 0;
    win.timer_running = false;

    // A path named on the command line is opened even when it is empty (`""`),
    // so that naming nothing that exists is reported like any other such path.
    if (command_line != nullptr) {
        const char* path = command_line;
        std::size_t length = std::strlen(path);
        // On Windows a quoted path may arrive with its quotes, which cannot belong
        // to a file name there. Elsewhere the shell has removed the quoting and a
        // quote is part of the name.
        if (!kNamesCanHoldQuotes && length > 0 && path[0] == '"') {
            ++path;
            --length;
        }
        if (!kNamesCanHoldQuotes && length > 0 && path[length - 1] == '"') --length;
        if (take_path(win, path, length)) {
            open_sequence(viewer);
            ++win.playback.opens;
            bool changed = false;
            ReadFailure why = kReadOk;
            int result = complete_size_change(viewer, &changed, &why);
            // No window yet: the fit follows when it is created. A display too large
            // for memory falls back to a smaller size before the window exists.
            if (viewer.store.pixels == nullptr) {
                if (shrink_until_allocated(viewer.store)) result = load_current_frame(viewer, &why);
                tell_display_lost(win);
            }
            settle_load(win, result, why);
        }
    }
    build_conversion_tables(viewer.tables);
    playback_after_show(win);
    // B after A, whose size it must have; its frames are converted alike.
    if (options && !options->compare.empty()) compare_open(win, options->compare.c_str(), false);
    return 0;
}

void window_created(Window& win) {
    // The menu starts with 1/4 checked; a start-up that had to fall back to a
    // smaller size moves the mark.
    if (win.viewer.store.shift != 2) move_size_check(win, 2);
    compare_window_created(win);
    playback_window_created(win);
    fit(win);
}

void window_fit(Window& win) {
    fit(win);
}

ShownPicture window_picture(const Window& win) {
    if (win.composed.pixels) return win.composed;
    const FrameStore& store = win.viewer.store;
    ShownPicture shown;
    if (!store.pixels) return shown;
    shown.pixels = store.pixels;
    shown.width = display_width(store);
    shown.height = display_height(store);
    return shown;
}

void status_part_edges(int width, int info_width, int edges[kStatusParts]) {
    const int info = info_width > 0 ? info_width : 0;
    edges[0] = width - 250 - info;
    edges[1] = width - 110 - info;
    edges[2] = width - info;
    edges[3] = width;
}

void status_text(const Window& win, int part, char* out, int capacity) {
    if (out == nullptr || capacity <= 0) return;
    const Sequence& seq = win.viewer.seq;
    switch (part) {
        case 0: {
            if (win.probing && win.probe_text[0] != '\0') {
                std::snprintf(out, static_cast<std::size_t>(capacity), "%s", win.probe_text);
                break;
            }
            // Named from the list: the current path may still hold the last name
            // read when this frame's would not fit in it.
            if (win.unreadable != kReadOk && seq.frame_list != nullptr && seq.current_frame >= 0 &&
                seq.current_frame < seq.frame_count) {
                std::snprintf(out, static_cast<std::size_t>(capacity), "%s: %s",
                              frame_name(seq, seq.current_frame),
                              read_failure_text(win.unreadable));
                break;
            }
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
        case 3:
            status_info_text(win, out, capacity);
            break;
        default:
            out[0] = '\0';
            break;
    }
}

void window_paint_status(Window& win) {
    if (win.viewer.store.pixels != nullptr) win.display_lost = false;
    char* text = win.viewer.seq.work;
    for (int part = 0; part < kStatusParts; ++part) {
        status_text(win, part, text, kPathMax);
        win.front.set_status(win.front.context, part, text);
    }
    compare_status_line(win, text, kPathMax);
    win.front.set_compare_line(win.front.context, text);
}

namespace {

void set_timer(Window& win, bool run) {
    // The run starts before the front end asks how long to wait for its
    // first tick.
    playback_run(win, run);
    win.timer_running = run;
    if (run)
        win.front.start_timer(win.front.context);
    else
        win.front.stop_timer(win.front.context);
    // The frames ahead in the new direction (none when paused).
    playback_after_show(win);
}

/// The frame a frame key moves to, or -1 for any other key or no sequence.
int frame_for_key(const Sequence& seq, int virtual_key) {
    if (seq.frame_count <= 0) return -1;
    const int last = seq.frame_count - 1;
    switch (virtual_key) {
        case kKeyPageDown:
        case kKeyPeriod:
            return std::min(seq.current_frame + 1, last);
        case kKeyPageUp:
        case kKeyComma:
            return std::max(seq.current_frame - 1, 0);
        case kKeyHome:
            return 0;
        case kKeyEnd:
            return last;
        default:
            return -1;
    }
}

/// Shows frame `frame` of the open sequence, or beeps when it cannot be read:
/// the user asked for that frame.
void show_frame(Window& win, int frame) {
    win.viewer.seq.current_frame = frame;
    if (!load_and_show(win)) win.front.beep(win.front.context);
}

void key(Window& win, int virtual_key) {
    const KeyResult result = key_pressed(win.viewer.play, win.viewer.seq, virtual_key);
    if (result == kKeyQuit) {
        win.front.quit(win.front.context);
        return;
    }
    set_timer(win, result == kKeyRunTimer);
    set_status_part(win, 2);
    set_status_part(win, kStatusParts - 1);
    // A frame key has paused like any other; at either end it stays put.
    const int frame = frame_for_key(win.viewer.seq, virtual_key);
    if (frame >= 0 && frame != win.viewer.seq.current_frame) show_frame(win, frame);
}

/// Reads a frame number typed by the user: decimal digits, blanks around them
/// allowed, at most `last`. Returns it, or -1 for anything else.
int parse_frame_number(const char* text, int last) {
    while (*text == ' ' || *text == '\t') ++text;
    long long value = 0;
    int digits = 0;
    for (; *text >= '0' && *text <= '9'; ++text, ++digits) {
        value = value * 10 + (*text - '0');
        if (value > last) return -1;
    }
    while (*text == ' ' || *text == '\t') ++text;
    if (digits == 0 || *text != '\0') return -1;
    return static_cast<int>(value);
}

/// File > Go to Frame...: pauses as the frame keys do, asks for a frame number
/// and shows that frame; a number out of range or no number at all beeps and
/// changes nothing.
void go_to_frame(Window& win) {
    Viewer& viewer = win.viewer;
    viewer.play.step = 0;
    set_timer(win, false);
    set_status_part(win, 2);
    if (viewer.seq.frame_count <= 0) {
        win.front.beep(win.front.context);
        return;
    }
    const int last = viewer.seq.frame_count - 1;
    char prompt[64];
    std::snprintf(prompt, sizeof prompt, "Frame number (0 to %d):", last);
    char text[kFrameTextBytes];
    std::snprintf(text, sizeof text, "%d", static_cast<int>(viewer.seq.current_frame));
    if (!win.front.ask_frame(win.front.context, prompt, text, sizeof text)) return;
    text[sizeof text - 1] = '\0';
    const int frame = parse_frame_number(text, last);
    if (frame < 0) {
        win.front.beep(win.front.context);
        return;
    }
    if (frame != viewer.seq.current_frame) show_frame(win, frame);
}

void tick(Window& win) {
    // The frame that is due now: a late tick moves past the frames it
    // dropped (Real time), or by one frame (Every Frame).
    const std::int64_t ticks = playback_tick(win);
    Sequence& seq = win.viewer.seq;
    if (seq.frame_count <= 0)
        timer_tick(seq, win.viewer.play);
    else
        seq.current_frame =
            frame_after_ticks(seq.current_frame, seq.frame_count, win.viewer.play.step, ticks);
    load_and_show(win);
    // Where the system has no read-ahead hint, opening the next frame's files
    // would be all the hint did. The cache's workers read ahead themselves.
    if (kFilePrefetchHints && !win.playback.cache) prefetch_next_frame(win.viewer);
}

void command(Window& win, int id) {
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
        case kCmdGoToFrame:
            go_to_frame(win);
            return;
        case kCmdConvert:
            viewer.store.convert = viewer.store.convert ? 0 : 1;
            win.front.check_menu(win.front.context, kCmdConvert, viewer.store.convert == 1);
            load_and_show(win);
            return;
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
        default:
            bool reload = false;
            if (playback_command(win, id)) {
                set_status_part(win, kStatusParts - 1);
                return;
            }
            if (signal_command(win, id, &reload)) {
                if (reload) load_and_show(win);
                return;
            }
            if (!compare_command(win, id)) win.front.beep(win.front.context);
            return;
    }
}

}  // namespace

// Each event handler below does nothing while another is still running: that
// happens only inside the modal loop of a box the first one raised, where the
// state it was changing must stay as the box found it.

void window_key(Window& win, int virtual_key) {
    if (win.busy) return;
    ++win.busy;
    key(win, virtual_key);
    --win.busy;
}

void window_tick(Window& win) {
    if (win.busy) return;
    ++win.busy;
    tick(win);
    --win.busy;
}

void window_drop(Window& win, const char* path) {
    if (win.busy || path == nullptr) return;
    ++win.busy;
    if (take_path(win, path, std::strlen(path))) open_path(win);
    --win.busy;
}

void window_command(Window& win, int id) {
    if (win.busy) return;
    if (id == kCmdAbout) {
        // The About box changes nothing: playback may go on behind it.
        win.front.show_about(win.front.context);
        repaint(win);
        return;
    }
    ++win.busy;
    command(win, id);
    --win.busy;
}

void window_view_resized(Window& win, int width, int height) {
    win.view_width = std::max(0, width);
    win.view_height = std::max(0, height);
    clamp_pan(win);
}

void window_drag(Window& win, int dx, int dy) {
    // In the wipe the split takes the drag's horizontal part.
    const bool split_moved = compare_wipe_drag(win, &dx);
    const int x = win.pan_x;
    const int y = win.pan_y;
    set_pan(win, static_cast<long long>(x) - dx, static_cast<long long>(y) - dy);
    if (split_moved) set_status_part(win, kStatusParts - 1);
    if (split_moved || win.pan_x != x || win.pan_y != y) repaint(win);
}

void window_wheel(Window& win, int delta, bool horizontal) {
    const int by = static_cast<int>(static_cast<long long>(delta) * kWheelStep / 120);
    if (horizontal)
        window_drag(win, by, 0);
    else
        window_drag(win, 0, by);
}

namespace {

/// Writes the probe text for (x, y) of the picture area, without a repaint.
void probe_at(Window& win, int x, int y) {
    const Viewer& viewer = win.viewer;
    const FrameStore& store = viewer.store;
    win.probing = true;
    win.probe_x = x;
    win.probe_y = y;
    win.probe_text[0] = '\0';
    std::int32_t source_x = 0;
    std::int32_t source_y = 0;
    // Off the picture, nothing open, or a frame that could not be read (its black
    // picture shows no stored values): the file name stays.
    const bool over_picture = viewer.seq.frame_count > 0 && store.pixels != nullptr &&
                              win.unreadable == kReadOk && x >= 0 && y >= 0 && x < win.view_width &&
                              y < win.view_height;
    // Inside the area the pan keeps these inside the picture (B's half of the
    // side-by-side picture shows the same pixels as A's).
    const int display_x = over_picture ? compare_display_column(win, x + win.pan_x) : 0;
    const int display_y = over_picture ? y + win.pan_y : 0;
    if (over_picture && display_to_source(store, display_x, display_y, &source_x, &source_y) == 0) {
        const std::uint8_t* shown =
            store.pixels + (static_cast<std::size_t>(display_height(store) - 1 - display_y) *
                                static_cast<std::size_t>(display_width(store)) +
                            static_cast<std::size_t>(display_x)) *
                               4;
        if (win.compare.active) {
            compare_probe_text(win, source_x, source_y, win.probe_text, sizeof win.probe_text);
            return;
        }
        char values[64];
        SourceValues stored{};
        if (read_source_values(viewer.seq.current_path, viewer.seq.source_format, store, source_x,
                               source_y, &stored) == 0)
            std::snprintf(values, sizeof values, "R %u G %u B %u", stored.red, stored.green,
                          stored.blue);
        else
            std::snprintf(values, sizeof values, "R %s G %s B %s", kProbeNoValue, kProbeNoValue,
                          kProbeNoValue);
        std::snprintf(win.probe_text, sizeof win.probe_text, "x %d y %d  %s  (%d %d %d)",
                      static_cast<int>(source_x), static_cast<int>(source_y), values, shown[2],
                      shown[1], shown[0]);
    }
}

}  // namespace

void window_probe(Window& win, int x, int y) {
    probe_at(win, x, y);
    set_status_part(win, 0);
}

void window_probe_end(Window& win) {
    if (!win.probing) return;
    win.probing = false;
    set_status_part(win, 0);
}

bool window_surface_lost(Window& win) {
    if (win.busy) return false;
    ++win.busy;
    // Told before falling back: a chain of smaller sizes that fail as well is
    // one loss, ended only by a picture that shows.
    tell_display_lost(win);
    FrameStore& store = win.viewer.store;
    if (store.shift < 3) {
        const int old_shift = store.shift;
        ++store.shift;
        move_size_check(win, old_shift);
        resize_path(win);
    }
    --win.busy;
    return true;
}

void window_timeline_press(Window& win, int x, int width) {
    if (win.busy) return;
    const int frame = timeline_frame(win, x, width);
    if (frame < 0) return;
    ++win.busy;
    // Pauses as the frame keys do.
    win.viewer.play.step = 0;
    set_timer(win, false);
    set_status_part(win, 2);
    if (frame != win.viewer.seq.current_frame) show_frame(win, frame);
    --win.busy;
}

void window_timeline_drag(Window& win, int x, int width) {
    window_timeline_press(win, x, width);
}

void window_shutdown(Window& win) {
    playback_shutdown(win);
    compare_shutdown(win);
    win.timer_running = false;
    signal_shutdown(win);
    release_display(win.viewer.store);
    release_sequence(win.viewer.seq);
}
