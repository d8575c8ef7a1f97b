// Comparing the open sequence (A) with a second one (B) in the window: B's
// frames decoded beside A's at the display's size, the picture composed from
// both, and the metrics of the pair on screen worked out in the background.
#include "ui/compare_logic.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "core/probe.h"

namespace {

/// Shown when B is to be opened with no sequence open to compare it with.
constexpr const char* kMsgNothingToCompare = "Open a sequence before comparing it with another!";

/// The Compare menu's items for what is shown.
constexpr struct {
    int id;
    CompareMode mode;
} kModeItems[] = {{kCmdShowA, kCompareShowA},
                  {kCmdShowB, kCompareShowB},
                  {kCmdWipe, kCompareWipe},
                  {kCmdSideBySide, kCompareSideBySide},
                  {kCmdDifference, kCompareDifference},
                  {kCmdSignedDifference, kCompareSignedDifference}};

/// The display as a picture.
Picture display_picture(const FrameStore& store) {
    Picture p;
    p.pixels = store.pixels;
    p.width = display_width(store);
    p.height = display_height(store);
    return p;
}

void release_picture(Picture& p) {
    heap_free(p.pixels);
    p = Picture{};
}

/// Name of frame `index` of `seq`, or "" outside the list.
const char* name_of(const Sequence& seq, std::int32_t index) {
    if (!seq.frame_list || index < 0 || index >= seq.frame_count) return "";
    return frame_name(seq, index);
}

/// B's frame that pairs with A's frame `a`, or -1 when none does.
std::int32_t partner(const CompareView& c, std::int32_t a) {
    const std::int64_t b = static_cast<std::int64_t>(a) + c.offset;
    return b >= 0 && b < c.seq.frame_count ? static_cast<std::int32_t>(b) : -1;
}

/// Brings B's picture to the display's size, black, the wipe's split moved
/// with it. False when there is no display or no memory for the picture.
bool size_b_picture(CompareView& c, const FrameStore& store) {
    const std::int32_t w = display_width(store);
    const std::int32_t h = display_height(store);
    if (c.b.pixels && c.b.width == w && c.b.height == h) return true;
    const std::int32_t old_width = c.b.width;
    release_picture(c.b);
    c.b_frame = -1;
    if (w <= 0 || h <= 0) return false;
    c.b.pixels = static_cast<std::uint8_t*>(
        heap_alloc_zeroed(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 4));
    if (!c.b.pixels) return false;
    c.b.width = w;
    c.b.height = h;
    // The split stays over the same part of the picture at another size.
    c.split = old_width > 0
                  ? static_cast<std::int32_t>(static_cast<std::int64_t>(c.split) * w / old_width)
                  : w / 2;
    return true;
}

/// Room for a composed picture of width x height. False when memory runs out.
bool reserve_composed(CompareView& c, std::int32_t width, std::int32_t height) {
    const std::size_t bytes =
        static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4;
    if (bytes > c.composed_bytes) {
        heap_free(c.composed.pixels);
        c.composed.pixels = static_cast<std::uint8_t*>(heap_alloc_zeroed(bytes));
        c.composed_bytes = c.composed.pixels ? bytes : 0;
        if (!c.composed.pixels) return false;
    }
    c.composed.width = width;
    c.composed.height = height;
    return true;
}

/// Decodes frame `index` of B's sequence into B's picture at the display's
/// size, shift and conversion, as A's frame is decoded into the display. The
/// one place B's frames come from, so that a cache of decoded frames can take
/// its place. Sets *other_size for a frame whose size is not A's.
int load_b_frame(CompareView& c, const Viewer& viewer, std::int32_t index, ReadFailure* why,
                 bool* other_size) {
    *other_size = false;
    char path[kPathMax];
    if (frame_path(c.seq, index, path) != 0) return fail_with(why, kFailNameTooLong);
    const FrameStore& store = viewer.store;
    OpenFrame frame;
    if (open_frame(c.seq.source_format, path, store.source_width, store.source_height, frame,
                   why) != 0)
        return -1;
    if (frame.info.width != store.source_width || frame.info.height != store.source_height) {
        *other_size = true;
        return -1;
    }
    DecodeSettings settings;
    settings.shift = store.shift;
    settings.tables = store.convert ? &viewer.tables : nullptr;
    // The window waits for this frame as for A's, on the same thread and scratch.
    settings.share_rows = true;
    DecodeScratch scratch;
    scratch.row = store.row_buffer;
    scratch.read = store.read_buffer;
    PixelTarget target;
    target.pixels = c.b.pixels;
    target.width = c.b.width;
    target.height = c.b.height;
    target.stride = static_cast<std::size_t>(c.b.width) * 4;
    if (decode_frame(frame, settings, target, scratch) != 0) return fail_with(why, kFailNoDisplay);
    return 0;
}

/// Loads B's frame that pairs with A's current one into B's picture (black
/// when none pairs or it cannot be read).
void load_partner(Window& win) {
    CompareView& c = win.compare;
    const std::int32_t index = partner(c, win.viewer.seq.current_frame);
    c.b_failure = kReadOk;
    c.b_other_size = false;
    c.b_frame = -1;
    if (!c.b.pixels) return;
    // A frame of A's size writes every pixel of the picture (black where its
    // file ends early), so only a missing or failed frame needs it cleared.
    ReadFailure why = kReadOk;
    if (index >= 0 && load_b_frame(c, win.viewer, index, &why, &c.b_other_size) == 0) {
        c.b_frame = index;
        return;
    }
    std::memset(c.b.pixels, 0, picture_bytes(c.b));
    if (index < 0) return;
    c.b_failure = c.b_other_size ? kReadOk : (why != kReadOk ? why : kFailCannotOpen);
}

/// The path of A's current frame into `out` (kPathMax bytes); false when none.
bool a_path(const Window& win, char* out) {
    const Sequence& seq = win.viewer.seq;
    return seq.frame_count > 0 && frame_path(seq, seq.current_frame, out) == 0;
}

/// The difference picture of the pair on screen into the composed picture;
/// black where a frame is missing or cannot be read.
void compose_difference_now(Window& win) {
    CompareView& c = win.compare;
    const FrameStore& store = win.viewer.store;
    std::memset(c.composed.pixels, 0, picture_bytes(c.composed));
    char path[kPathMax];
    if (c.b_frame < 0 || win.unreadable != kReadOk || !a_path(win, path)) return;
    OpenFrame a, b;
    if (open_frame(win.viewer.seq.source_format, path, store.source_width, store.source_height,
                   a) != 0 ||
        frame_path(c.seq, c.b_frame, path) != 0 ||
        open_frame(c.seq.source_format, path, store.source_width, store.source_height, b) != 0)
        return;
    if (!c.row_a) {
        const std::size_t bytes = static_cast<std::size_t>(kMaxFrameWidth) * 3 * 2;
        c.row_a = static_cast<std::uint16_t*>(heap_alloc_zeroed(bytes));
        c.row_b = static_cast<std::uint16_t*>(heap_alloc_zeroed(bytes));
    }
    DecodeScratch scratch;
    scratch.row = store.row_buffer;
    scratch.read = store.read_buffer;
    // One frame's row at a time: both may use the window's scratch in turn.
    DifferenceScratch rows;
    rows.a = &scratch;
    rows.b = &scratch;
    rows.row_a = c.row_a;
    rows.row_b = c.row_b;
    DifferenceStyle style;
    style.gain = c.gain;
    style.signed_around_grey = c.mode == kCompareSignedDifference;
    if (compose_difference(a, b, store.shift, style, rows, c.composed) != 0)
        std::memset(c.composed.pixels, 0, picture_bytes(c.composed));
}

/// Composes the picture the front end shows for the mode, from the display and
/// B's picture; with `black` the composed picture only gets its size (black),
/// for a display just reallocated whose frames are still to be read.
void compose(Window& win, bool black = false) {
    CompareView& c = win.compare;
    const FrameStore& store = win.viewer.store;
    win.composed = ShownPicture{};
    const Picture a = display_picture(store);
    if (!c.active || !a.pixels || !c.b.pixels || c.b.width != a.width || c.b.height != a.height)
        return;
    c.split = std::clamp(c.split, 0, a.width);
    bool made = true;
    switch (c.mode) {
        case kCompareShowA:
            return;
        case kCompareShowB:
            win.composed.pixels = c.b.pixels;
            win.composed.width = c.b.width;
            win.composed.height = c.b.height;
            return;
        case kCompareWipe:
            made = reserve_composed(c, a.width, a.height) &&
                   (black || compose_wipe(a, c.b, c.split, c.composed) == 0);
            break;
        case kCompareSideBySide:
            made = reserve_composed(c, 2 * a.width, a.height) &&
                   (black || compose_side_by_side(a, c.b, c.composed) == 0);
            break;
        case kCompareDifference:
        case kCompareSignedDifference:
            made = reserve_composed(c, a.width, a.height);
            if (made && !black) compose_difference_now(win);
            break;
    }
    // Without memory for the composed picture A shows alone, as before.
    if (!made) return;
    if (black) std::memset(c.composed.pixels, 0, picture_bytes(c.composed));
    win.composed.pixels = c.composed.pixels;
    win.composed.width = c.composed.width;
    win.composed.height = c.composed.height;
}

/// Called on the worker's thread when a result can be taken.
void metrics_ready(void* context) {
    const Window& win = *static_cast<const Window*>(context);
    win.front.wake(win.front.context);
}

/// Asks the worker for the metrics of the pair on screen, unless they are the
/// pair asked for last.
void post_metrics(Window& win) {
    CompareView& c = win.compare;
    if (c.b_frame < 0 || win.unreadable != kReadOk || c.background_stopped) return;
    PairRequest pair;
    if (!a_path(win, pair.path_a) || frame_path(c.seq, c.b_frame, pair.path_b) != 0) return;
    pair.format_a = win.viewer.seq.source_format;
    pair.format_b = c.seq.source_format;
    pair.frame_a = win.viewer.seq.current_frame;
    pair.frame_b = c.b_frame;
    if (c.posted != 0 && std::strcmp(pair.path_a, c.last.path_a) == 0 &&
        std::strcmp(pair.path_b, c.last.path_b) == 0)
        return;
    if (!c.worker) c.worker = start_metrics_worker(metrics_ready, &win);
    if (!c.worker) return;
    c.last = pair;
    c.posted = post_pair(*c.worker, pair);
}

/// Rewrites the fourth status part and the second row, without a repaint.
void refresh_status(Window& win) {
    char text[kPathMax];
    status_text(win, kStatusParts - 1, text, sizeof text);
    win.front.set_status(win.front.context, kStatusParts - 1, text);
    compare_status_line(win, text, sizeof text);
    win.front.set_compare_line(win.front.context, text);
}

/// Moves the check mark to the mode shown (none when not comparing).
void check_mode(Window& win) {
    const CompareView& c = win.compare;
    for (const auto& m : kModeItems)
        win.front.check_menu(win.front.context, m.id, c.active && c.mode == m.mode);
}

/// What can be chosen while comparing, and the mode's check mark.
void update_menus(Window& win) {
    static const int kItems[] = {
        kCmdCloseCompare, kCmdShowA,      kCmdShowB,       kCmdToggleAB,
        kCmdWipe,         kCmdSideBySide, kCmdDifference,  kCmdSignedDifference,
        kCmdGainUp,       kCmdGainDown,   kCmdOffsetLater, kCmdOffsetEarlier,
        kCmdOffsetZero};
    for (int id : kItems) win.front.enable_menu(win.front.context, id, win.compare.active);
    check_mode(win);
}

/// Releases what the comparison holds, without any front-end call.
void release_compare(Window& win) {
    CompareView& c = win.compare;
    stop_metrics_worker(c.worker);
    c.worker = nullptr;
    win.composed = ShownPicture{};
    release_picture(c.b);
    heap_free(c.composed.pixels);
    heap_free(c.row_a);
    heap_free(c.row_b);
    release_sequence(c.seq);
    c = CompareView{};
}

void set_mode(Window& win, CompareMode mode) {
    CompareView& c = win.compare;
    const bool was_wide = c.mode == kCompareSideBySide;
    c.mode = mode;
    check_mode(win);
    compose(win);
    // The side-by-side picture is twice as wide: the window follows it.
    if (was_wide != (mode == kCompareSideBySide)) window_fit(win);
    win.front.repaint(win.front.context);
}

/// B's frames move by `by` against A's (0: back to none).
void move_offset(Window& win, int by) {
    CompareView& c = win.compare;
    const std::int32_t most = std::max(c.seq.frame_count, win.viewer.seq.frame_count);
    const std::int32_t offset = by == 0 ? 0 : std::clamp(c.offset + by, -most, most);
    if (offset == c.offset) {
        win.front.beep(win.front.context);
        return;
    }
    c.offset = offset;
    compare_after_load(win);
    // B's partner changed under a held probe: its values are another frame's.
    if (win.probing) window_probe(win, win.probe_x, win.probe_y);
    win.front.repaint(win.front.context);
}

void change_gain(Window& win, bool up) {
    CompareView& c = win.compare;
    const std::int32_t gain =
        up ? std::min(c.gain * 2, kMaxDifferenceGain) : std::max(c.gain / 2, 1);
    if (gain == c.gain) {
        win.front.beep(win.front.context);
        return;
    }
    c.gain = gain;
    // The gain is the difference picture's: choosing it shows that picture.
    if (c.mode != kCompareDifference && c.mode != kCompareSignedDifference) {
        set_mode(win, kCompareDifference);
        return;
    }
    compose(win);
    win.front.repaint(win.front.context);
}

/// Appends printf-style text to `out` at *used, never past `capacity`.
void append(char* out, int capacity, int* used, const char* format, ...)
    __attribute__((format(printf, 4, 5)));

void append(char* out, int capacity, int* used, const char* format, ...) {
    if (*used >= capacity - 1) return;
    va_list args;
    va_start(args, format);
    const int n =
        std::vsnprintf(out + *used, static_cast<std::size_t>(capacity - *used), format, args);
    va_end(args);
    if (n > 0) *used = std::min(capacity - 1, *used + n);
}

/// One colour's PSNR as shown: two decimals, "inf" when nothing differs.
void append_psnr(char* out, int capacity, int* used, const FrameMetrics& m, int c) {
    const double psnr = metrics_psnr(m, c);
    if (std::isinf(psnr))
        append(out, capacity, used, "inf");
    else
        append(out, capacity, used, "%.2f", psnr);
}

/// The metrics of a result: "identical", or PSNR, MSE, largest difference,
/// differing samples and the first differing pixel; the depths when they
/// differ; the share of the rows when not every row was compared.
void append_metrics(char* out, int capacity, int* used, const PairResult& r) {
    const FrameMetrics& m = r.metrics;
    static const char kColour[] = {'R', 'G', 'B'};
    if (metrics_identical(m)) {
        append(out, capacity, used, "  identical");
    } else {
        append(out, capacity, used, "  PSNR");
        for (int c = 0; c < kCompareChannels; ++c) {
            append(out, capacity, used, " %c ", kColour[c]);
            append_psnr(out, capacity, used, m, c);
        }
        append(out, capacity, used, " dB  MSE");
        for (int c = 0; c < kCompareChannels; ++c)
            append(out, capacity, used, " %c %.3g", kColour[c], metrics_mse(m, c));
        append(out, capacity, used, "  max");
        for (int c = 0; c < kCompareChannels; ++c)
            append(out, capacity, used, " %c %u", kColour[c], m.channel[c].max_diff);
        unsigned long long differing = 0;
        for (const ChannelMetrics& c : m.channel) differing += c.differing;
        append(out, capacity, used, "  %llu %s, first at x %d y %d", differing,
               differing == 1 ? "sample differs" : "samples differ", static_cast<int>(m.first_x),
               static_cast<int>(m.first_y));
    }
    if (m.bits_a != m.bits_b)
        append(out, capacity, used, "  (%d-bit %s shifted to %d bits)",
               static_cast<int>(std::min(m.bits_a, m.bits_b)), m.bits_a < m.bits_b ? "A" : "B",
               static_cast<int>(m.bits));
    if (!metrics_whole(m))
        append(out, capacity, used, "  (%d%% of the rows)",
               static_cast<int>(100LL * m.rows / std::max(1, m.height)));
}

/// The file name in a path.
const char* file_name(const char* path) {
    const char* name = path;
    for (const char* p = path; *p; ++p)
        if (*p == '/' || *p == kPathSeparator) name = p + 1;
    return name;
}

}  // namespace

void compare_open(Window& win, const char* path, bool window_exists) {
    Viewer& viewer = win.viewer;
    const FrameStore& store = viewer.store;
    const std::size_t length = path ? std::strlen(path) : 0;
    if (length == 0 || length >= static_cast<std::size_t>(kPathMax)) {
        show_error(viewer, kMsgCantOpen);
        return;
    }
    if (viewer.seq.frame_count <= 0) {
        show_error(viewer, kMsgNothingToCompare);
        return;
    }
    // Found and checked on its own, so that a refused B changes nothing.
    Sequence next;
    std::memcpy(next.current_path, path, length + 1);
    ReadFailure why = kFailNoMatch;
    const char* message = kMsgCantOpen;
    FrameInfo info;
    if (discover_sequence(next) == 0) {
        why = kFailCannotOpen;
        message = kMsgInvalidImage;
        if (frame_path(next, next.current_frame, next.current_path) == 0 &&
            read_frame_info(next.source_format, next.current_path, store.source_width,
                            store.source_height, info, &why) == 0)
            message = nullptr;
    }
    if (message) {
        std::fprintf(stderr, "karvelin: %s: %s\n", next.current_path, read_failure_text(why));
        release_sequence(next);
        show_error(viewer, message);
        return;
    }
    if (info.width != store.source_width || info.height != store.source_height) {
        char text[512];
        std::snprintf(text, sizeof text,
                      "Can't compare: %.255s is %dx%d, the open sequence is %dx%d. Both sequences "
                      "must have the same size.",
                      file_name(next.current_path), static_cast<int>(info.width),
                      static_cast<int>(info.height), static_cast<int>(store.source_width),
                      static_cast<int>(store.source_height));
        release_sequence(next);
        show_error(viewer, text);
        return;
    }
    CompareView& c = win.compare;
    release_compare(win);
    c.seq = next;
    // The list now belongs to the comparison.
    next.frame_list = nullptr;
    c.active = true;
    if (!size_b_picture(c, store)) {
        release_compare(win);
        show_error(viewer, kMsgNoMemory);
        return;
    }
    compare_after_load(win);
    if (!window_exists) return;
    compare_window_created(win);
    window_fit(win);
    win.front.repaint(win.front.context);
}

void compare_close(Window& win) {
    release_compare(win);
    update_menus(win);
    win.front.set_compare_line(win.front.context, "");
    window_fit(win);
    win.front.repaint(win.front.context);
}

void compare_window_created(Window& win) {
    // The menus start as a window without a comparison needs them.
    if (!win.compare.active) return;
    update_menus(win);
    char text[kPathMax];
    compare_status_line(win, text, sizeof text);
    win.front.set_compare_line(win.front.context, text);
}

void compare_after_load(Window& win) {
    CompareView& c = win.compare;
    if (!c.active) return;
    // A sequence that failed to open leaves nothing to compare B with.
    if (win.viewer.seq.frame_count <= 0) {
        compare_close(win);
        return;
    }
    if (!size_b_picture(c, win.viewer.store)) {
        win.composed = ShownPicture{};
        return;
    }
    load_partner(win);
    compose(win);
    post_metrics(win);
}

void compare_display_resized(Window& win) {
    CompareView& c = win.compare;
    if (!c.active) return;
    if (!size_b_picture(c, win.viewer.store)) {
        win.composed = ShownPicture{};
        return;
    }
    compose(win, true);
}

bool compare_command(Window& win, int id) {
    CompareView& c = win.compare;
    if (id == kCmdCompareWith) {
        // The dialog edits a copy: Cancel changes nothing.
        char chosen[kPathMax];
        const char* start = c.active ? c.seq.current_path : win.viewer.seq.current_path;
        std::snprintf(chosen, sizeof chosen, "%s", start);
        if (win.front.ask_open_file(win.front.context, chosen, kPathMax)) {
            chosen[kPathMax - 1] = '\0';
            compare_open(win, chosen);
        }
        return true;
    }
    bool known = id == kCmdCloseCompare || id == kCmdToggleAB || id == kCmdGainUp ||
                 id == kCmdGainDown || id == kCmdOffsetLater || id == kCmdOffsetEarlier ||
                 id == kCmdOffsetZero;
    for (const auto& m : kModeItems) known = known || id == m.id;
    if (!known) return false;
    if (!c.active) {
        win.front.beep(win.front.context);
        return true;
    }
    for (const auto& m : kModeItems)
        if (id == m.id) {
            set_mode(win, m.mode);
            return true;
        }
    switch (id) {
        case kCmdCloseCompare:
            compare_close(win);
            break;
        case kCmdToggleAB:
            set_mode(win, c.mode == kCompareShowA ? kCompareShowB : kCompareShowA);
            break;
        case kCmdGainUp:
        case kCmdGainDown:
            change_gain(win, id == kCmdGainUp);
            break;
        case kCmdOffsetLater:
            move_offset(win, 1);
            break;
        case kCmdOffsetEarlier:
            move_offset(win, -1);
            break;
        default:
            move_offset(win, 0);
            break;
    }
    return true;
}

void compare_status_segment(const Window& win, char* out, int capacity) {
    if (capacity <= 0) return;
    out[0] = '\0';
    const CompareView& c = win.compare;
    if (!c.active) return;
    int used = 0;
    switch (c.mode) {
        case kCompareShowA:
            append(out, capacity, &used, "A");
            break;
        case kCompareShowB:
            append(out, capacity, &used, "B");
            break;
        case kCompareWipe:
            append(out, capacity, &used, "Wipe at %d", static_cast<int>(c.split));
            break;
        case kCompareSideBySide:
            append(out, capacity, &used, "Side by side");
            break;
        case kCompareDifference:
            append(out, capacity, &used, "Difference x%d", static_cast<int>(c.gain));
            break;
        case kCompareSignedDifference:
            append(out, capacity, &used, "Signed difference x%d", static_cast<int>(c.gain));
            break;
    }
    append(out, capacity, &used, "  Offset: %+d", static_cast<int>(c.offset));
    // The verdict of the pair on screen once all of it was compared.
    if (c.have_result && c.result.pair.serial == c.posted && c.b_frame >= 0 &&
        c.result.result == 0 && metrics_whole(c.result.metrics))
        append(out, capacity, &used, "  %s",
               metrics_identical(c.result.metrics) ? "identical" : "differs");
}

void compare_status_line(const Window& win, char* out, int capacity) {
    if (capacity <= 0) return;
    out[0] = '\0';
    const CompareView& c = win.compare;
    if (!c.active) return;
    int used = 0;
    const Sequence& seq = win.viewer.seq;
    const bool current = c.have_result && c.result.pair.serial == c.posted;
    // While playing, the latest pair compared is named with its metrics, a
    // frame or so behind the one on screen.
    if (!current && c.have_result && win.viewer.play.step != 0 && c.result.result == 0) {
        append(out, capacity, &used, "A %s  B %s", file_name(c.result.pair.path_a),
               file_name(c.result.pair.path_b));
        append_metrics(out, capacity, &used, c.result);
        return;
    }
    append(out, capacity, &used, "A %s", name_of(seq, seq.current_frame));
    if (win.unreadable != kReadOk)
        append(out, capacity, &used, ": %s", read_failure_text(win.unreadable));
    const std::int32_t index = partner(c, seq.current_frame);
    if (index < 0) {
        append(out, capacity, &used, "  B: no frame at offset %+d (B has %d frames)",
               static_cast<int>(c.offset), static_cast<int>(c.seq.frame_count));
        return;
    }
    append(out, capacity, &used, "  B %s", name_of(c.seq, index));
    if (c.b_other_size) {
        append(out, capacity, &used, ": not %dx%d as A",
               static_cast<int>(win.viewer.store.source_width),
               static_cast<int>(win.viewer.store.source_height));
        return;
    }
    if (c.b_failure != kReadOk) {
        append(out, capacity, &used, ": %s", read_failure_text(c.b_failure));
        return;
    }
    if (win.unreadable != kReadOk) return;
    if (!current) {
        append(out, capacity, &used, "  comparing...");
        return;
    }
    const PairResult& r = c.result;
    if (r.result != 0) {
        if (r.why != kReadOk)
            append(out, capacity, &used, "  %s: %s", r.failed_b ? "B" : "A",
                   read_failure_text(r.why));
        else
            append(out, capacity, &used, "  A is %dx%d, B %dx%d", static_cast<int>(r.width_a),
                   static_cast<int>(r.height_a), static_cast<int>(r.width_b),
                   static_cast<int>(r.height_b));
        return;
    }
    append_metrics(out, capacity, &used, r);
}

int compare_display_column(const Window& win, int x) {
    const CompareView& c = win.compare;
    const int width = display_width(win.viewer.store);
    if (c.active && c.mode == kCompareSideBySide && x >= width && x < 2 * width) return x - width;
    return x;
}

void compare_probe_text(const Window& win, std::int32_t x, std::int32_t y, char* out,
                        int capacity) {
    const CompareView& c = win.compare;
    const FrameStore& store = win.viewer.store;
    int used = 0;
    if (capacity <= 0) return;
    out[0] = '\0';
    append(out, capacity, &used, "x %d y %d", static_cast<int>(x), static_cast<int>(y));
    char path[kPathMax];
    SourceValues a{}, b{};
    const bool have_a = a_path(win, path) && read_source_values(path, win.viewer.seq.source_format,
                                                                store, x, y, &a) == 0;
    const bool have_b = c.b_frame >= 0 && frame_path(c.seq, c.b_frame, path) == 0 &&
                        read_source_values(path, c.seq.source_format, store, x, y, &b) == 0;
    auto values = [&](const char* label, bool have, const SourceValues& v) {
        if (have)
            append(out, capacity, &used, "  %s R %u G %u B %u", label, v.red, v.green, v.blue);
        else
            append(out, capacity, &used, "  %s R %s G %s B %s", label, kProbeNoValue, kProbeNoValue,
                   kProbeNoValue);
    };
    values("A", have_a, a);
    values("B", have_b, b);
    if (!have_a || !have_b) return;
    // At the common depth, as the metrics count it.
    const int bits = std::max(a.bits, b.bits);
    auto diff = [&](std::uint32_t p, std::uint32_t q) {
        return static_cast<long long>(p) * (1LL << (bits - a.bits)) -
               static_cast<long long>(q) * (1LL << (bits - b.bits));
    };
    append(out, capacity, &used, "  A-B R %lld G %lld B %lld", diff(a.red, b.red),
           diff(a.green, b.green), diff(a.blue, b.blue));
}

bool compare_wipe_drag(Window& win, int* dx) {
    CompareView& c = win.compare;
    if (!c.active || c.mode != kCompareWipe || *dx == 0 || !win.composed.pixels) return false;
    const std::int32_t from = c.split;
    c.split =
        std::clamp(static_cast<std::int32_t>(static_cast<long long>(c.split) + *dx), 0, c.b.width);
    *dx = 0;
    if (c.split == from) return false;
    move_wipe(display_picture(win.viewer.store), c.b, from, c.split, c.composed);
    return true;
}

void compare_shutdown(Window& win) {
    release_compare(win);
}

void window_compare_drop(Window& win, const char* path) {
    if (win.busy || path == nullptr) return;
    ++win.busy;
    compare_open(win, path);
    --win.busy;
}

void window_press(Window& win, int x, int) {
    CompareView& c = win.compare;
    if (win.busy || !c.active || c.mode != kCompareWipe || !win.composed.pixels) return;
    // The split goes to the column under the cursor (kept inside the picture).
    int dx = static_cast<int>(std::clamp<long long>(static_cast<long long>(x) + win.pan_x - c.split,
                                                    -c.b.width, c.b.width));
    if (compare_wipe_drag(win, &dx)) {
        refresh_status(win);
        win.front.repaint(win.front.context);
    }
}

void window_compare_ready(Window& win) {
    CompareView& c = win.compare;
    if (!c.worker) return;
    PairResult result;
    if (!take_pair_result(*c.worker, result)) return;
    c.result = result;
    c.have_result = true;
    refresh_status(win);
}

void window_stop_background(Window& win) {
    CompareView& c = win.compare;
    stop_metrics_worker(c.worker);
    c.worker = nullptr;
    c.background_stopped = true;
}
