// The window logic driven through a fake front end that records what it is asked.
#include "ui/window_logic.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "scopes/scopes.h"
#include "support/test_files.h"
#include "ui/signal_logic.h"

namespace {

struct FakeFront {
    Window* win = nullptr;
    int fit_width = -1;
    int fit_height = -1;
    int fits = 0;
    int repaints = 0;
    std::string status[kStatusParts];
    bool timer = false;
    int quits = 0;
    int closes = 0;
    int abouts = 0;
    int beeps = 0;
    /// What the Open dialog answers: a path, or Cancel when empty.
    std::string dialog_answer;
    std::string dialog_start;
    int dialogs = 0;
    bool checked[1000] = {};
    std::vector<std::string> errors;
    /// Ticks each modal box (error box, Open dialog) delivers while it is open,
    /// as the real event loops do, and what a paint inside it then showed:
    /// status parts 1 and 2 and the top-left pixel.
    int ticks_in_box = 0;
    std::vector<std::string> seen_in_box;
    /// Paints find no surface (a display server that cannot back the window).
    bool surface_missing = false;
    /// The screen the window must fit on: the picture area never exceeds it.
    int screen_width = 1 << 20;
    int screen_height = 1 << 20;
    /// What the Go to Frame dialog answers (Cancel when `frame_answer_cancel`),
    /// and the prompt and text it was opened with.
    std::string frame_answer;
    bool frame_answer_cancel = false;
    std::string frame_prompt;
    std::string frame_start;
    /// The text boxes shown (title, then text), the scopes window, its
    /// repaints, and the pending scopes poll (its delay, 0: none).
    std::vector<std::string> texts;
    bool scopes_shown = false;
    int scopes_repaints = 0;
    int scopes_poll_ms = 0;
    /// Menu items disabled, the second status row, and wakes asked for (from
    /// any thread).
    bool disabled[1000] = {};
    std::string line;
    std::atomic<int> wakes{0};
};

std::vector<int> pixel_at(const Window& win, int x, int y);

/// A modal box's event loop: timer ticks, then a paint.
void run_box_loop(FakeFront& f) {
    for (int i = 0; i < f.ticks_in_box; ++i) window_tick(*f.win);
    if (!f.surface_missing) window_paint_status(*f.win);
    std::string seen = f.status[1] + "|" + f.status[2];
    if (f.win->viewer.store.pixels != nullptr) {
        const std::vector<int> p = pixel_at(*f.win, 0, 0);
        seen +=
            "|" + std::to_string(p[2]) + "," + std::to_string(p[1]) + "," + std::to_string(p[0]);
    }
    f.seen_in_box.push_back(seen);
}

FakeFront& fake(void* c) {
    return *static_cast<FakeFront*>(c);
}

void install(Window& win, FakeFront& f) {
    f.win = &win;
    f.checked[kCmdSizeQuarter] = true;
    win.front.context = &f;
    win.front.fit_picture = [](void* c, int w, int h) {
        FakeFront& f = fake(c);
        f.fit_width = w;
        f.fit_height = h;
        ++f.fits;
        window_view_resized(*f.win, std::min(w, f.screen_width), std::min(h, f.screen_height));
    };
    // The paint handler of a real front end sets the three status parts.
    win.front.repaint = [](void* c) {
        ++fake(c).repaints;
        if (!fake(c).surface_missing) window_paint_status(*fake(c).win);
    };
    win.front.set_status = [](void* c, int part, const char* text) {
        ASSERT_GE(part, 0);
        ASSERT_LT(part, kStatusParts);
        fake(c).status[part] = text;
    };
    win.front.start_timer = [](void* c) { fake(c).timer = true; };
    win.front.stop_timer = [](void* c) { fake(c).timer = false; };
    win.front.quit = [](void* c) { ++fake(c).quits; };
    win.front.close_window = [](void* c) { ++fake(c).closes; };
    win.front.ask_open_file = [](void* c, char* path, int capacity) {
        FakeFront& f = fake(c);
        ++f.dialogs;
        f.dialog_start = path;
        run_box_loop(f);
        if (f.dialog_answer.empty()) return false;
        std::snprintf(path, static_cast<std::size_t>(capacity), "%s", f.dialog_answer.c_str());
        return true;
    };
    win.front.show_about = [](void* c) { ++fake(c).abouts; };
    win.front.ask_frame = [](void* c, const char* prompt, char* text, int capacity) {
        FakeFront& f = fake(c);
        f.frame_prompt = prompt;
        f.frame_start = text;
        run_box_loop(f);
        if (f.frame_answer_cancel) return false;
        // As the real dialogs do: a text that does not fit is refused whole.
        const bool fits = f.frame_answer.size() < static_cast<std::size_t>(capacity);
        std::snprintf(text, static_cast<std::size_t>(capacity), "%s",
                      fits ? f.frame_answer.c_str() : "");
        return true;
    };
    win.front.check_menu = [](void* c, int id, bool on) { fake(c).checked[id] = on; };
    win.front.beep = [](void* c) { ++fake(c).beeps; };
    win.front.show_text = [](void* c, const char* title, const char* text) {
        fake(c).texts.push_back(std::string(title) + "\n" + text);
    };
    win.front.show_scopes = [](void* c, bool shown) { fake(c).scopes_shown = shown; };
    win.front.repaint_scopes = [](void* c) { ++fake(c).scopes_repaints; };
    win.front.start_scopes_poll = [](void* c, int ms) { fake(c).scopes_poll_ms = ms; };
    win.front.enable_menu = [](void* c, int id, bool on) { fake(c).disabled[id] = !on; };
    win.front.set_compare_line = [](void* c, const char* text) { fake(c).line = text; };
    win.front.wake = [](void* c) { ++fake(c).wakes; };
    win.viewer.error_box = [](void* c, const char* message, const char* caption) {
        EXPECT_STREQ(caption, "Error");
        fake(c).errors.push_back(message);
        run_box_loop(fake(c));
    };
    win.viewer.error_context = &f;
}

int checked_sizes(const FakeFront& f) {
    int n = 0;
    for (int id = kCmdSizeOriginal; id <= kCmdSizeEighth; ++id) n += f.checked[id] ? 1 : 0;
    return n;
}

/// Every pixel of the frame has the same colour, so that which frame is shown can
/// be told from any display pixel.
void write_flat_dpx(const std::string& path, int width, int height, std::uint16_t r,
                    std::uint16_t g, std::uint16_t b) {
    std::vector<std::uint16_t> rgb(static_cast<std::size_t>(width) * height * 3);
    for (std::size_t i = 0; i < rgb.size(); i += 3) {
        rgb[i] = r;
        rgb[i + 1] = g;
        rgb[i + 2] = b;
    }
    ASSERT_EQ(write_dpx_file(path, width, height, rgb.data()), 0);
}

/// Blue, green and red of display pixel (x, y), y counted from the top.
std::vector<int> pixel_at(const Window& win, int x, int y) {
    const FrameStore& s = win.viewer.store;
    const int w = display_width(s);
    const int h = display_height(s);
    const std::uint8_t* p = s.pixels + (static_cast<std::size_t>(h - 1 - y) * w + x) * 4;
    return {p[0], p[1], p[2]};
}

class WindowLogic : public ::testing::Test {
  protected:
    void SetUp() override { install(win, front); }
    void TearDown() override { window_shutdown(win); }
    void start(const char* command_line = nullptr) {
        ASSERT_EQ(window_startup(win, command_line), 0);
        window_created(win);
        front.repaints = 0;
        window_paint_status(win);
    }
    /// Three 64x32 frames: red, green, blue (8-bit codes 0x40, 0x80, 0xC0).
    std::string make_small_sequence() {
        write_flat_dpx(dir.file("clip_000.dpx"), 64, 32, 0x4000, 0, 0);
        write_flat_dpx(dir.file("clip_001.dpx"), 64, 32, 0, 0x8000, 0);
        write_flat_dpx(dir.file("clip_002.dpx"), 64, 32, 0, 0, 0xC000);
        return dir.file("clip_000.dpx");
    }
    std::string make_4k_sequence() {
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(
                write_header_only_dpx(dir.file("uhd_" + std::to_string(i) + ".dpx"), 3840, 2160),
                0);
        return dir.file("uhd_1.dpx");
    }

    TempDir dir;
    Window win;
    FakeFront front;
};

TEST_F(WindowLogic, StartsEmptyAt960x540WithBlackPictureAndZeroTexts) {
    start();
    EXPECT_EQ(front.fit_width, 960);
    EXPECT_EQ(front.fit_height, 540);
    EXPECT_EQ(front.status[0], "");
    EXPECT_EQ(front.status[1], "Frame: 0/0");
    EXPECT_EQ(front.status[2], "Step: 0");
    EXPECT_TRUE(front.errors.empty());
    const FrameStore& s = win.viewer.store;
    ASSERT_NE(s.pixels, nullptr);
    bool black = true;
    for (std::size_t i = 0; i < 960u * 540u * 4u; ++i) black = black && s.pixels[i] == 0;
    EXPECT_TRUE(black);
    EXPECT_TRUE(front.checked[kCmdSizeQuarter]);
    EXPECT_EQ(checked_sizes(front), 1);
}

TEST_F(WindowLogic, CommandLineOpensSequenceBeforeWindowExists) {
    const std::string path = make_4k_sequence();
    ASSERT_EQ(window_startup(win, path.c_str()), 0);
    EXPECT_EQ(front.fits, 0) << "no window to fit during start-up";
    window_created(win);
    window_paint_status(win);
    EXPECT_EQ(front.fit_width, 960);
    EXPECT_EQ(front.fit_height, 540);
    EXPECT_EQ(front.status[0], "uhd_1.dpx");
    EXPECT_EQ(front.status[1], "Frame: 1/3");
    EXPECT_TRUE(front.errors.empty());
}

TEST_F(WindowLogic, CommandLineOfOtherSizeReallocatesBeforeTheWindow) {
    const std::string path = make_small_sequence();
    start(path.c_str());
    EXPECT_EQ(front.fit_width, 16);
    EXPECT_EQ(front.fit_height, 8);
    // The frame was read again after the reallocation: its red shows.
    EXPECT_EQ(pixel_at(win, 3, 3), (std::vector<int>{0, 0, 0x40}));
}

TEST_F(WindowLogic, CommandLineQuotesAreRemovedOnlyWhereNamesCannotHoldThem) {
    const std::string path = make_small_sequence();
    start(("\"" + path + "\"").c_str());
    if (kNamesCanHoldQuotes) {
        // The shell removed the quoting; these quotes would be part of the name.
        EXPECT_EQ(front.errors, (std::vector<std::string>{"Can't open file!"}));
    } else {
        EXPECT_TRUE(front.errors.empty());
        EXPECT_EQ(front.status[0], "clip_000.dpx");
        EXPECT_EQ(front.status[1], "Frame: 0/3");
    }
}

TEST_F(WindowLogic, EmptyCommandLinePathIsReportedLikeAnyPathThatNamesNothing) {
    start(kNamesCanHoldQuotes ? "" : "\"\"");
    EXPECT_EQ(front.errors, (std::vector<std::string>{"Can't open file!"}));
    EXPECT_EQ(front.status[1], "Frame: 0/0");
}

TEST_F(WindowLogic, CommandLineTooLongForThePathIsRefusedWhole) {
    std::string path = dir.path() + "/" + std::string(kPathMax, 'a') + ".dpx";
    start(path.c_str());
    ASSERT_EQ(front.errors.size(), 1u);
    EXPECT_EQ(front.errors[0], "Can't open file!");
    EXPECT_EQ(front.status[0], "");
    EXPECT_EQ(front.status[1], "Frame: 0/0");
    // One character shorter than the limit (with its opening quote where quotes
    // are removed) fits: not refused for length.
    std::string exact =
        std::string(kNamesCanHoldQuotes ? "" : "\"") + std::string(kPathMax - 1, 'b');
    Window other;
    FakeFront other_front;
    install(other, other_front);
    ASSERT_EQ(window_startup(other, exact.c_str()), 0);
    ASSERT_EQ(other_front.errors.size(), 1u);
    EXPECT_EQ(std::strlen(other.viewer.seq.current_path), static_cast<std::size_t>(kPathMax - 1));
    window_shutdown(other);
}

TEST_F(WindowLogic, KeysSetStepAndTimerWithoutRepaint) {
    start(make_small_sequence().c_str());
    front.repaints = 0;
    for (int i = 0; i < 3; ++i) window_key(win, kKeyRight);
    EXPECT_EQ(front.status[2], "Step: +3");
    EXPECT_TRUE(front.timer);
    for (int i = 0; i < 5; ++i) window_key(win, kKeyLeft);
    EXPECT_EQ(front.status[2], "Step: -2");
    EXPECT_TRUE(front.timer);
    window_key(win, 'X');
    EXPECT_EQ(front.status[2], "Step: 0");
    EXPECT_FALSE(front.timer);
    EXPECT_EQ(front.repaints, 0);
    window_key(win, kKeyRight);
    window_key(win, kKeyQ);
    EXPECT_EQ(front.quits, 1);
    EXPECT_EQ(win.viewer.play.step, 1) << "Q leaves the step alone";
}

TEST_F(WindowLogic, RightWithNothingOpenStaysPaused) {
    start();
    window_key(win, kKeyRight);
    EXPECT_FALSE(front.timer);
    EXPECT_EQ(front.status[2], "Step: 0");
}

TEST_F(WindowLogic, TicksStepThroughFramesAndRepaint) {
    start(make_small_sequence().c_str());
    window_key(win, kKeyRight);
    window_tick(win);
    EXPECT_EQ(front.status[1], "Frame: 1/3");
    EXPECT_EQ(front.status[0], "clip_001.dpx");
    EXPECT_EQ(pixel_at(win, 0, 0), (std::vector<int>{0, 0x80, 0}));
    window_tick(win);
    window_tick(win);
    EXPECT_EQ(front.status[1], "Frame: 0/3") << "wraps past the end";
    EXPECT_EQ(pixel_at(win, 15, 7), (std::vector<int>{0, 0, 0x40}));
    EXPECT_EQ(front.repaints, 3);
}

TEST_F(WindowLogic, TickIntoFrameOfOtherSizeRefitsInsteadOfMisreading) {
    start(make_small_sequence().c_str());
    write_flat_dpx(dir.file("clip_001.dpx"), 128, 64, 0, 0x8000, 0);
    window_key(win, kKeyRight);
    window_tick(win);
    EXPECT_EQ(front.fit_width, 32);
    EXPECT_EQ(front.fit_height, 16);
    EXPECT_EQ(pixel_at(win, 31, 15), (std::vector<int>{0, 0x80, 0}));
}

TEST_F(WindowLogic, HalfSizeOf4kSequenceFitsResetsStepAndReloads) {
    start(make_4k_sequence().c_str());
    window_key(win, kKeyRight);
    window_key(win, kKeyRight);
    std::memset(win.viewer.seq.current_path + win.viewer.seq.name_slot, 'z', 3);
    window_command(win, kCmdSizeHalf);
    EXPECT_EQ(front.fit_width, 1920);
    EXPECT_EQ(front.fit_height, 1080);
    EXPECT_EQ(display_width(win.viewer.store), 1920);
    EXPECT_EQ(front.status[2], "Step: 0");
    EXPECT_TRUE(front.timer) << "the timer keeps running at step 0";
    EXPECT_EQ(front.status[0], "uhd_1.dpx") << "the frame was loaded again";
    EXPECT_TRUE(front.checked[kCmdSizeHalf]);
    EXPECT_EQ(checked_sizes(front), 1);
}

TEST_F(WindowLogic, EverySizeChoiceMovesTheSingleCheck) {
    start(make_4k_sequence().c_str());
    const int sizes[] = {kCmdSizeOriginal, kCmdSizeEighth, kCmdSizeQuarter, kCmdSizeHalf};
    const int widths[] = {3840, 480, 960, 1920};
    for (int i = 0; i < 4; ++i) {
        window_command(win, sizes[i]);
        EXPECT_EQ(front.fit_width, widths[i]);
        EXPECT_EQ(front.fit_height, widths[i] * 9 / 16);
        EXPECT_TRUE(front.checked[sizes[i]]);
        EXPECT_EQ(checked_sizes(front), 1);
    }
}

TEST_F(WindowLogic, ChoosingTheCheckedSizeStillReallocatesAndReloads) {
    start(make_small_sequence().c_str());
    win.viewer.store.pixels[0] = 0x55;  // would survive without a reallocation
    window_key(win, kKeyRight);
    const int fits = front.fits;
    window_command(win, kCmdSizeQuarter);
    EXPECT_EQ(front.fits, fits + 1);
    EXPECT_EQ(win.viewer.play.step, 0);
    EXPECT_EQ(pixel_at(win, 0, 7), (std::vector<int>{0, 0, 0x40}));
    EXPECT_TRUE(front.checked[kCmdSizeQuarter]);
    EXPECT_EQ(checked_sizes(front), 1);
}

TEST_F(WindowLogic, ColorToggleChecksAndReloads) {
    start(make_small_sequence().c_str());
    const std::vector<int> plain = pixel_at(win, 0, 0);
    window_command(win, kCmdConvert);
    EXPECT_EQ(win.viewer.store.convert, 1);
    EXPECT_TRUE(front.checked[kCmdConvert]);
    EXPECT_NE(pixel_at(win, 0, 0), plain) << "the frame was read again, converted";
    window_command(win, kCmdConvert);
    EXPECT_EQ(win.viewer.store.convert, 0);
    EXPECT_FALSE(front.checked[kCmdConvert]);
    EXPECT_EQ(pixel_at(win, 0, 0), plain);
}

TEST_F(WindowLogic, DropOpensSequenceAndRefits) {
    start();
    window_drop(win, make_small_sequence().c_str());
    window_paint_status(win);
    EXPECT_EQ(front.fit_width, 16);
    EXPECT_EQ(front.status[0], "clip_000.dpx");
    EXPECT_EQ(front.status[1], "Frame: 0/3");
    EXPECT_GT(front.repaints, 0);
}

TEST_F(WindowLogic, DropOfUnreadableFileReportsAndClosesSequence) {
    start(make_small_sequence().c_str());
    ASSERT_EQ(write_file(dir.file("junk_5.dpx"), std::vector<std::uint8_t>(100, 7)), 0);
    window_drop(win, dir.file("junk_5.dpx").c_str());
    window_drop(win, dir.file("absent_5.dpx").c_str());
    ASSERT_EQ(front.errors.size(), 2u);
    EXPECT_EQ(front.errors[0], "Invalid image file!");
    EXPECT_EQ(front.errors[1], "Can't open file!");
    EXPECT_EQ(front.status[1].substr(front.status[1].find('/')), "/0");
    EXPECT_EQ(pixel_at(win, 0, 0), (std::vector<int>{0, 0, 0x40})) << "previous picture kept";
}

TEST_F(WindowLogic, OpenDialogStartsFromCurrentPathAndOpensChoice) {
    const std::string first = make_small_sequence();
    start(first.c_str());
    write_flat_dpx(dir.file("other_7.dpx"), 64, 32, 0, 0xFF00, 0);
    front.dialog_answer = dir.file("other_7.dpx");
    window_command(win, kCmdOpen);
    EXPECT_EQ(front.dialog_start, first);
    EXPECT_EQ(front.status[0], "other_7.dpx");
    EXPECT_EQ(pixel_at(win, 0, 0), (std::vector<int>{0, 0xFF, 0}));
}

TEST_F(WindowLogic, CancelledOpenLeavesEverythingAsItWas) {
    start();
    window_command(win, kCmdOpen);
    EXPECT_EQ(front.dialogs, 1);
    EXPECT_TRUE(front.errors.empty()) << "nothing was asked for, nothing failed";
    EXPECT_EQ(front.status[1], "Frame: 0/0");

    window_drop(win, make_small_sequence().c_str());
    window_key(win, kKeyRight);
    window_tick(win);
    window_key(win, kKeyRight);
    window_paint_status(win);
    const int repaints = front.repaints;
    window_command(win, kCmdOpen);
    window_paint_status(win);
    EXPECT_TRUE(front.errors.empty());
    EXPECT_EQ(front.status[1], "Frame: 1/3");
    EXPECT_EQ(front.status[2], "Step: +2") << "Cancel does not reset the step";
    EXPECT_TRUE(front.timer);
    EXPECT_EQ(front.repaints, repaints);
}

TEST_F(WindowLogic, DisplayThatCannotBeAllocatedIsReportedAndNeverWrittenThrough) {
    start(make_small_sequence().c_str());
    // A source size the store refuses stands in for memory running out.
    win.viewer.store.source_width = kMaxFrameWidth * 2;
    window_command(win, kCmdSizeHalf);
    ASSERT_EQ(front.errors.size(), 1u);
    EXPECT_EQ(front.errors[0], kMsgNoMemory);
    EXPECT_EQ(win.viewer.store.pixels, nullptr);
    EXPECT_EQ(front.fit_width, 0);
    EXPECT_EQ(checked_sizes(front), 1);
    // Playback and the Color menu go on without touching a buffer.
    window_key(win, kKeyRight);
    window_tick(win);
    window_tick(win);
    window_command(win, kCmdConvert);
    EXPECT_EQ(front.errors.size(), 1u) << "one box per loss, not one per tick";
    // A frame of a readable size brings the picture back.
    win.viewer.store.source_width = 64;
    window_command(win, kCmdSizeQuarter);
    EXPECT_EQ(front.fit_width, 16);
    EXPECT_NE(win.viewer.store.pixels, nullptr);
    EXPECT_TRUE(front.checked[kCmdSizeQuarter]);
    EXPECT_EQ(checked_sizes(front), 1);
}

// A failed open while a sequence plays: the box's loop ticks, and neither then
// nor after OK may the rejected sequence play behind it or replace the picture.
TEST_F(WindowLogic, ModalBoxesFindPlaybackSettledAndTicksInsideThemChangeNothing) {
    start(make_small_sequence().c_str());
    window_key(win, kKeyRight);
    window_tick(win);  // frame 1: green
    ASSERT_EQ(pixel_at(win, 0, 0), (std::vector<int>{0, 0x80, 0}));
    ASSERT_EQ(write_file(dir.file("rej_0.dpx"), std::vector<std::uint8_t>(100, 7)), 0);
    write_flat_dpx(dir.file("rej_1.dpx"), 64, 32, 0xFF00, 0xFF00, 0xFF00);
    write_flat_dpx(dir.file("rej_2.dpx"), 64, 32, 0xFF00, 0xFF00, 0xFF00);
    front.ticks_in_box = 3;
    window_drop(win, dir.file("rej_0.dpx").c_str());
    ASSERT_EQ(front.errors, (std::vector<std::string>{"Invalid image file!"}));
    EXPECT_EQ(front.seen_in_box, (std::vector<std::string>{"Frame: 0/0|Step: 0|0,128,0"}));
    for (int i = 0; i < 3; ++i) window_tick(win);
    EXPECT_EQ(pixel_at(win, 0, 0), (std::vector<int>{0, 0x80, 0})) << "previous picture kept";
    EXPECT_EQ(front.status[1], "Frame: 0/0");

    // The Open dialog's loop ticks too: the sequence waits behind it.
    window_drop(win, make_small_sequence().c_str());
    window_key(win, kKeyRight);
    front.ticks_in_box = 2;
    front.seen_in_box.clear();
    window_command(win, kCmdOpen);
    EXPECT_EQ(front.seen_in_box, (std::vector<std::string>{"Frame: 0/3|Step: +1|64,0,0"}));
}

TEST_F(WindowLogic, OneNotEnoughMemoryBoxPerLossThoughTicksArriveInsideIt) {
    start(make_small_sequence().c_str());
    window_key(win, kKeyRight);
    front.ticks_in_box = 5;
    // A source size the store refuses stands in for memory running out.
    win.viewer.store.source_width = kMaxFrameWidth * 2;
    window_command(win, kCmdSizeHalf);
    EXPECT_EQ(front.errors, (std::vector<std::string>{kMsgNoMemory}));
    EXPECT_EQ(front.seen_in_box, (std::vector<std::string>{"Frame: 0/3|Step: +1"}))
        << "the box saw the frame it interrupted, unstepped";
}

TEST_F(WindowLogic, SurfaceThatCannotBeHadFallsBackOneSizeAtATimeWithOneBox) {
    start(make_4k_sequence().c_str());
    window_command(win, kCmdSizeOriginal);
    ASSERT_EQ(front.fit_width, 3840);
    // Original, then 1/2, cannot be shown; 1/4 can.
    front.surface_missing = true;
    EXPECT_TRUE(window_surface_lost(win));
    EXPECT_EQ(front.fit_width, 1920);
    EXPECT_TRUE(front.checked[kCmdSizeHalf]);
    EXPECT_TRUE(window_surface_lost(win));
    EXPECT_EQ(front.fit_width, 960);
    EXPECT_TRUE(front.checked[kCmdSizeQuarter]);
    EXPECT_EQ(checked_sizes(front), 1);
    EXPECT_EQ(front.errors, (std::vector<std::string>{kMsgNoMemory}));
    // A picture that showed ends the loss: a later one is told again.
    front.surface_missing = false;
    win.front.repaint(win.front.context);
    window_command(win, kCmdSizeOriginal);
    EXPECT_TRUE(window_surface_lost(win));
    EXPECT_EQ(front.errors.size(), 2u);
}

/// Five 64x32 frames, each one flat colour whose red code is 0x10 + 0x20 * n.
std::string make_five_frames(TempDir& dir) {
    for (int n = 0; n < 5; ++n)
        write_flat_dpx(dir.file("nav_" + std::to_string(n) + ".dpx"), 64, 32,
                       static_cast<std::uint16_t>((0x10 + 0x20 * n) << 8), 0x1000, 0x2000);
    return dir.file("nav_2.dpx");
}

/// The frame whose colour the picture shows, or -1.
int frame_shown(const Window& win) {
    const int red = pixel_at(win, 1, 1)[2];
    return (red - 0x10) % 0x20 == 0 ? (red - 0x10) / 0x20 : -1;
}

TEST_F(WindowLogic, FrameKeysPauseThenStepOneFrameOrJumpToAnEndWithoutWrapping) {
    start(make_five_frames(dir).c_str());
    window_key(win, kKeyRight);
    window_key(win, kKeyRight);
    ASSERT_TRUE(front.timer);
    const struct {
        int key;
        int frame;
    } presses[] = {{kKeyPageDown, 3}, {kKeyPeriod, 4}, {kKeyPageDown, 4},
                   {kKeyHome, 0},     {kKeyComma, 0},  {kKeyPageUp, 0},
                   {kKeyEnd, 4},      {kKeyPageUp, 3}, {kKeyComma, 2}};
    for (const auto& p : presses) {
        SCOPED_TRACE(p.key);
        const int repaints = front.repaints;
        const int before = win.viewer.seq.current_frame;
        window_key(win, p.key);
        EXPECT_FALSE(front.timer);
        EXPECT_EQ(front.status[2], "Step: 0");
        EXPECT_EQ(front.status[1], "Frame: " + std::to_string(p.frame) + "/5");
        EXPECT_EQ(frame_shown(win), p.frame);
        // At an end nothing is read or painted again.
        EXPECT_EQ(front.repaints, repaints + (p.frame != before ? 1 : 0));
    }
    // With no sequence open a frame key moves nothing.
    window_drop(win, dir.file("none_0.dpx").c_str());
    const int repaints = front.repaints;
    window_key(win, kKeyEnd);
    EXPECT_EQ(front.repaints, repaints);
    EXPECT_EQ(frame_shown(win), 2);
}

TEST_F(WindowLogic, GoToFramePausesAndShowsATypedFrameOrBeepsAndChangesNothing) {
    window_command(win, kCmdGoToFrame);
    EXPECT_EQ(front.beeps, 1) << "nothing open: nothing to go to";
    EXPECT_TRUE(front.frame_prompt.empty());

    start(make_five_frames(dir).c_str());
    window_key(win, kKeyLeft);
    ASSERT_TRUE(front.timer);
    front.ticks_in_box = 2;
    front.frame_answer = " 4 ";
    window_command(win, kCmdGoToFrame);
    EXPECT_EQ(front.frame_prompt, "Frame number (0 to 4):");
    EXPECT_EQ(front.frame_start, "2");
    EXPECT_EQ(front.seen_in_box.back().substr(0, 19), "Frame: 2/5|Step: 0|")
        << "paused before the dialog; its ticks changed nothing";
    EXPECT_FALSE(front.timer);
    EXPECT_EQ(front.status[1], "Frame: 4/5");
    EXPECT_EQ(frame_shown(win), 4);

    const int beeps = front.beeps;
    for (const char* bad : {"5", "-1", "x", "", "1e2", "3 1", "99999999999999999999", "+1"}) {
        SCOPED_TRACE(bad);
        front.frame_answer = bad;
        window_command(win, kCmdGoToFrame);
        EXPECT_EQ(front.status[1], "Frame: 4/5");
        EXPECT_EQ(frame_shown(win), 4);
    }
    EXPECT_EQ(front.beeps, beeps + 8);
    front.frame_answer_cancel = true;
    window_command(win, kCmdGoToFrame);
    EXPECT_EQ(front.beeps, beeps + 8) << "Cancel is no mistake";
    front.frame_answer_cancel = false;
    front.frame_answer = "0";
    window_command(win, kCmdGoToFrame);
    EXPECT_EQ(frame_shown(win), 0);
    // All that was typed is read, beyond 31 characters too.
    front.frame_answer = std::string(32, '0') + "3";
    window_command(win, kCmdGoToFrame);
    front.frame_answer = "4" + std::string(30, ' ') + "x";
    window_command(win, kCmdGoToFrame);
    EXPECT_EQ(frame_shown(win), 3);
    EXPECT_EQ(front.beeps, beeps + 9);
}

// A frame that cannot be read never leaves the previous picture under its name.
TEST_F(WindowLogic, AFrameThatCannotBeReadShowsBlackWithItsNameAndWhy) {
    const auto black = [&] {
        const FrameStore& s = win.viewer.store;
        const std::size_t bytes =
            static_cast<std::size_t>(display_width(s)) * display_height(s) * 4;
        return std::all_of(s.pixels, s.pixels + bytes, [](std::uint8_t b) { return b == 0; });
    };
    make_five_frames(dir);
    ASSERT_EQ(make_folder(dir.file("nav_5.dpx")), 0);  // joins the sequence as frame 5
    start(dir.file("nav_2.dpx").c_str());
    ASSERT_EQ(std::remove(dir.file("nav_4.dpx").c_str()), 0);
    ASSERT_EQ(write_file(dir.file("nav_3.dpx"), std::vector<std::uint8_t>(7, 'x')), 0);
    window_key(win, kKeyEnd);
    EXPECT_EQ(front.status[0], "nav_5.dpx: not a regular file");
    EXPECT_TRUE(black());
    front.frame_answer = "4";
    window_command(win, kCmdGoToFrame);
    EXPECT_EQ(front.status[0], "nav_4.dpx: no such file");
    EXPECT_EQ(front.status[1], "Frame: 4/6");
    window_key(win, kKeyPageUp);
    EXPECT_EQ(front.status[0], "nav_3.dpx: not a big-endian DPX file");
    EXPECT_TRUE(black());
    EXPECT_EQ(front.beeps, 3);
    // Played from frame 2: the same three pass without a box or a beep, then
    // frame 0 shows under its own name.
    window_key(win, kKeyComma);
    window_key(win, kKeyRight);
    for (int tick = 0; tick < 3; ++tick) window_tick(win);
    EXPECT_TRUE(black());
    window_tick(win);
    EXPECT_EQ(front.status[0], "nav_0.dpx");
    EXPECT_EQ(frame_shown(win), 0);
    EXPECT_EQ(front.beeps, 3);
    EXPECT_TRUE(front.errors.empty());
    EXPECT_EQ(win.unreadable_frames, 6);
}

TEST_F(WindowLogic, ProbeHeldStillIsReadAgainForEveryFrameShown) {
    start(make_five_frames(dir).c_str());
    // The frame whose stored red the probe shows.
    const auto probed_frame = [&] {
        unsigned red = 0;
        if (std::sscanf(front.status[0].c_str(), "x %*d y %*d R %u", &red) != 1) return -1;
        return static_cast<int>(((red >> 8) - 0x10) / 0x20);
    };
    window_probe(win, 3, 2);
    EXPECT_EQ(probed_frame(), 2);
    window_key(win, kKeyEnd);
    EXPECT_EQ(probed_frame(), 4);
    window_key(win, kKeyRight);
    window_tick(win);
    EXPECT_EQ(probed_frame(), 0);
}

TEST_F(WindowLogic, APictureLargerThanTheScreenPansWithinItsEdges) {
    front.screen_width = 40;
    front.screen_height = 20;
    start(make_five_frames(dir).c_str());
    window_command(win, kCmdSizeOriginal);
    ASSERT_EQ(win.view_width, 40);
    ASSERT_EQ(win.view_height, 20);
    const auto pan = [&] { return std::vector<int>{win.pan_x, win.pan_y}; };
    EXPECT_EQ(pan(), (std::vector<int>{0, 0}));
    int repaints = front.repaints;
    window_drag(win, -10, -5);  // the picture follows the mouse up and left
    EXPECT_EQ(pan(), (std::vector<int>{10, 5}));
    window_drag(win, -100, -100);
    EXPECT_EQ(pan(), (std::vector<int>{64 - 40, 32 - 20}));
    EXPECT_EQ(front.repaints, repaints + 2);
    window_drag(win, -1, -1);
    EXPECT_EQ(front.repaints, repaints + 2) << "at the edge nothing moves or repaints";
    window_drag(win, INT_MIN, INT_MIN);
    window_wheel(win, INT_MIN, true);
    EXPECT_EQ(pan(), (std::vector<int>{64 - 40, 32 - 20})) << "no overflow past the edge";
    window_wheel(win, 120, false);  // one notch away from the user: up
    EXPECT_EQ(pan(), (std::vector<int>{24, 0}));
    window_wheel(win, -60, true);  // half a notch towards the user, with Shift: right
    EXPECT_EQ(pan(), (std::vector<int>{24, 0}));
    window_wheel(win, 30, true);
    EXPECT_EQ(pan(), (std::vector<int>{0, 0}));
    window_drag(win, -7, -3);

    // Kept while playing frames of the same size.
    window_key(win, kKeyRight);
    window_tick(win);
    window_tick(win);
    EXPECT_EQ(pan(), (std::vector<int>{7, 3}));
    // A larger window shows more and pans less.
    window_view_resized(win, 60, 30);
    EXPECT_EQ(pan(), (std::vector<int>{4, 2}));
    // Back at the top-left for a display of another size, even one that is
    // larger again.
    window_command(win, kCmdSizeHalf);
    EXPECT_EQ(pan(), (std::vector<int>{0, 0}));
    window_command(win, kCmdSizeOriginal);
    EXPECT_EQ(pan(), (std::vector<int>{0, 0}));
}

// The probe against a plain decimation written here: display pixel (dx, dy),
// dy from the top, shows source column dx << shift and the source row
// (rows_shown - 1 - dy) << shift counted from the bottom.
TEST_F(WindowLogic, ProbeNamesTheSampledSourcePixelAndItsStoredValuesAtEveryShift) {
    const int width = 37;
    const int height = 23;
    auto stored = [](int x, int y, int channel) {
        const unsigned v[3] = {x * 1031u + 5u, y * 2053u + 7u, (x * y) * 13u + 100u};
        return v[channel] & 0xFFFFu;
    };
    std::vector<std::uint16_t> rgb(static_cast<std::size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c)
                rgb[(static_cast<std::size_t>(y) * width + x) * 3 + c] =
                    static_cast<std::uint16_t>(stored(x, y, c));
    ASSERT_EQ(write_dpx_file(dir.file("odd_1.dpx"), width, height, rgb.data()), 0);
    front.screen_width = 20;
    front.screen_height = 10;
    start(dir.file("odd_1.dpx").c_str());
    for (int shift = 0; shift <= 3; ++shift) {
        window_command(win, kCmdSizeOriginal + shift);
        // At full size the 37x23 picture is larger than the 20x10 area: panned.
        window_drag(win, -5, -4);
        const int dw = width >> shift;
        const int dh = height >> shift;
        for (int dy = 0; dy < dh; ++dy) {
            for (int dx = 0; dx < dw; ++dx) {
                const int x = dx - win.pan_x;
                const int y = dy - win.pan_y;
                if (x < 0 || y < 0 || x >= win.view_width || y >= win.view_height) continue;
                const int sx = dx << shift;
                const int sy = height - 1 - ((dh - 1 - dy) << shift);
                char want[128];
                std::snprintf(want, sizeof want, "x %d y %d  R %u G %u B %u  (%u %u %u)", sx, sy,
                              stored(sx, sy, 0), stored(sx, sy, 1), stored(sx, sy, 2),
                              stored(sx, sy, 0) >> 8, stored(sx, sy, 1) >> 8,
                              stored(sx, sy, 2) >> 8);
                window_probe(win, x, y);
                ASSERT_EQ(front.status[0], want) << "shift " << shift << " at " << dx << "," << dy;
            }
        }
    }
    // Off the picture area, and after the release: the file name.
    window_probe(win, -1, 0);
    EXPECT_EQ(front.status[0], "odd_1.dpx");
    window_probe(win, 0, 0);
    window_probe_end(win);
    EXPECT_EQ(front.status[0], "odd_1.dpx");
    // A file that vanished: the values are unknown, no box.
    ASSERT_EQ(std::remove(dir.file("odd_1.dpx").c_str()), 0);
    window_probe(win, 0, 0);
    const std::string none = kProbeNoValue;
    EXPECT_NE(front.status[0].find("R " + none + " G " + none + " B " + none + "  ("),
              std::string::npos)
        << front.status[0];
    EXPECT_TRUE(front.errors.empty());
}

TEST_F(WindowLogic, MenuCommandsExitAboutAndUnknown) {
    start();
    window_command(win, kCmdAbout);
    EXPECT_EQ(front.abouts, 1);
    EXPECT_EQ(front.repaints, 1);
    window_command(win, kCmdExit);
    EXPECT_EQ(front.closes, 1);
    window_command(win, 555);
    EXPECT_EQ(front.beeps, 1);
    EXPECT_EQ(front.quits, 0);
}

/// Three 64x32 frames with timecodes 01:00:00:00 .. 02: grey in the left half;
/// then a red below black, a red one code above white (235 in its top 8 bits),
/// and BT.2020 red at exactly white.
std::string make_signal_sequence(const TempDir& dir) {
    for (int frame = 0; frame < 3; ++frame) {
        std::vector<std::uint16_t> rgb(64 * 32 * 3, 0x8000);
        for (int y = 0; y < 32; ++y)
            for (int x = 32; x < 64; ++x) {
                std::uint16_t* p = &rgb[(static_cast<std::size_t>(y) * 64 + x) * 3];
                p[0] = x < 48 ? 0x0F00 : x < 56 ? 0xEB01 : 0xEB00;
                if (x >= 56) p[1] = p[2] = 0x1000;
            }
        std::vector<std::uint8_t> file = make_dpx_file(64, 32, rgb.data());
        const std::uint32_t timecode = 0x01000000u | static_cast<std::uint32_t>(frame);
        for (int i = 0; i < 4; ++i)
            file[1920 + i] = static_cast<std::uint8_t>(timecode >> (24 - 8 * i));
        EXPECT_EQ(write_file(dir.file("sig_" + std::to_string(frame) + ".dpx"), file), 0);
    }
    return dir.file("sig_0.dpx");
}

/// The 16x8 display of those frames computed plainly, converted or not: the top
/// 8 bits of each sample of every fourth column (rows are all alike).
std::vector<std::array<int, 3>> plain_columns(bool convert, std::vector<bool>* out_of_gamut) {
    ConversionTables tables;
    build_conversion_tables(tables);
    std::vector<std::array<int, 3>> columns;
    for (int c = 0; c < 16; ++c) {
        const int x = 4 * c;
        std::array<int, 3> v = {x < 32   ? 0x80
                                : x < 48 ? 0x0F
                                         : 0xEB,
                                x < 56 ? 0x80 : 0x10, x < 56 ? 0x80 : 0x10};
        bool outside = false;
        if (convert) outside = convert_pixel_marked(tables, v[0], v[1], v[2]);
        if (out_of_gamut) out_of_gamut->push_back(outside);
        columns.push_back(v);
    }
    return columns;
}

// The range warning marks the samples below black and above white (one code
// above, at 16 bits), paints them cyan and gives their share; the gamut warning
// acts with the conversion, from the conversion's own marks; the timecode of
// each frame shown is in the status; turning a warning off shows the picture
// as it is again.
TEST_F(WindowLogic, WarningsPaintAndShareTheirPixelsAndTheStatusGivesTheTimecode) {
    start(make_signal_sequence(dir).c_str());
    EXPECT_EQ(front.status[3], "62.5 fps  TC 01:00:00:00");
    window_command(win, kCmdRangeWarning);
    EXPECT_TRUE(front.checked[kCmdRangeWarning]);
    EXPECT_EQ(front.status[3], "62.5 fps  TC 01:00:00:00  range 37.50%");
    const auto plain = plain_columns(false, nullptr);
    for (int c = 0; c < 16; ++c) {
        const bool marked = c >= 8 && c < 14;
        const std::vector<int> want = marked
                                          ? std::vector<int>{0xFF, 0xFF, 0}
                                          : std::vector<int>{plain[c][2], plain[c][1], plain[c][0]};
        EXPECT_EQ(pixel_at(win, c, 5), want) << c;
    }
    // Gamut: nothing without the conversion, the conversion's marks with it.
    window_command(win, kCmdGamutWarning);
    EXPECT_EQ(front.status[3], "62.5 fps  TC 01:00:00:00  range 37.50%");
    window_command(win, kCmdConvert);
    std::vector<bool> outside;
    const auto converted = plain_columns(true, &outside);
    int gamut = 0;
    for (int c = 0; c < 16; ++c) {
        gamut += outside[c];
        const std::vector<int> want =
            c >= 8 && c < 14 ? std::vector<int>{0xFF, 0xFF, 0}
            : outside[c]     ? std::vector<int>{0xFF, 0, 0xFF}
                             : std::vector<int>{converted[c][2], converted[c][1], converted[c][0]};
        EXPECT_EQ(pixel_at(win, c, 2), want) << c;
    }
    ASSERT_GT(gamut, 0);
    char share[64];
    std::snprintf(share, sizeof share, "62.5 fps  TC 01:00:00:00  gamut %.2f%%  range 37.50%%",
                  100.0 * gamut / 16);
    EXPECT_EQ(front.status[3], share);
    // Every frame shown gives its own timecode.
    window_key(win, kKeyPageDown);
    EXPECT_EQ(front.status[3].substr(0, 24), "62.5 fps  TC 01:00:00:01");
    // Off again: the picture as converted, no shares.
    window_command(win, kCmdRangeWarning);
    window_command(win, kCmdGamutWarning);
    EXPECT_FALSE(front.checked[kCmdGamutWarning]);
    EXPECT_EQ(front.status[3], "62.5 fps  TC 01:00:00:01");
    for (int c = 0; c < 16; ++c)
        EXPECT_EQ(pixel_at(win, c, 2),
                  (std::vector<int>{converted[c][2], converted[c][1], converted[c][0]}))
            << c;
}

// The scopes window opens beside the picture, its scopes drawn on their thread
// from the picture as it is (never its warning colours), handed to the front end
// when the poll finds them; closing it takes the check mark away.
TEST_F(WindowLogic, ScopesShowThePictureAsItIsAndFollowEveryFrame) {
    start(make_signal_sequence(dir).c_str());
    window_command(win, kCmdRangeWarning);
    window_command(win, kCmdScopes);
    EXPECT_TRUE(front.scopes_shown);
    EXPECT_TRUE(front.checked[kCmdScopes]);
    EXPECT_EQ(front.scopes_poll_ms, kScopesPollMs);
    // The picture the scopes must show: the plain display, unpainted.
    const auto plain = plain_columns(false, nullptr);
    std::vector<std::uint8_t> display(16 * 8 * 4, 0);
    for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 16; ++c)
            for (int k = 0; k < 3; ++k)
                display[(r * 16 + c) * 4 + k] = static_cast<std::uint8_t>(plain[c][2 - k]);
    auto counts = std::make_unique<ScopeCounts>();
    count_scopes(display.data(), 16, 8, 64, kScopeBt2020, *counts);
    std::vector<std::uint8_t> want(static_cast<std::size_t>(kScopesWidth) * kScopesHeight * 4);
    draw_scopes(*counts, want.data());
    for (int i = 0; i < 2000 && front.scopes_repaints == 0; ++i) {
        window_scopes_poll(win);
        if (front.scopes_repaints == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(front.scopes_repaints, 1);
    const ScopesPicture shown = window_scopes_picture(win);
    ASSERT_NE(shown.pixels, nullptr);
    EXPECT_EQ(std::memcmp(shown.pixels, want.data(), want.size()), 0);
    // The display still shows its marks.
    EXPECT_EQ(pixel_at(win, 9, 0), (std::vector<int>{0xFF, 0xFF, 0}));
    // Each frame shown goes to the scopes again.
    front.scopes_poll_ms = 0;
    window_key(win, kKeyPageDown);
    EXPECT_EQ(front.scopes_poll_ms, kScopesPollMs);
    window_scopes_closed(win);
    EXPECT_FALSE(front.checked[kCmdScopes]);
    window_command(win, kCmdScopes);
    EXPECT_TRUE(front.scopes_shown);
    window_command(win, kCmdScopes);
    EXPECT_FALSE(front.scopes_shown);
}

// Comparing: B beside A, what is shown, and the metrics of the pair on screen.
class WindowCompare : public WindowLogic {
  protected:
    /// B: frame 0 as A's, frame 1 with green of pixel (7, 5) off by one, frame 2
    /// red where A's is blue (A is make_small_sequence).
    std::string make_b_sequence() {
        std::vector<std::uint16_t> rgb(64 * 32 * 3, 0);
        for (std::size_t i = 0; i < rgb.size(); i += 3) rgb[i] = 0x4000;
        EXPECT_EQ(write_dpx_file(dir.file("enc_000.dpx"), 64, 32, rgb.data()), 0);
        for (std::size_t i = 0; i < rgb.size(); i += 3) rgb[i] = 0, rgb[i + 1] = 0x8000;
        rgb[(5 * 64 + 7) * 3 + 1] += 1;
        EXPECT_EQ(write_dpx_file(dir.file("enc_001.dpx"), 64, 32, rgb.data()), 0);
        for (std::size_t i = 0; i < rgb.size(); i += 3) rgb[i] = 0x4000, rgb[i + 1] = 0;
        EXPECT_EQ(write_dpx_file(dir.file("enc_002.dpx"), 64, 32, rgb.data()), 0);
        return dir.file("enc_000.dpx");
    }
    /// Takes the worker's results as the front end's wakes bring them, until
    /// the pair on screen has its metrics.
    void wait_for_metrics() {
        for (int i = 0; i < 10000 && (front.line.find("comparing...") != std::string::npos ||
                                      front.line.find("% of the rows") != std::string::npos);
             ++i) {
            if (front.wakes.exchange(0) > 0) window_compare_ready(win);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    /// Red, green and blue of the shown picture's pixel (x, y), y from the top.
    std::vector<int> shown_at(int x, int y) {
        const ShownPicture p = window_picture(win);
        const std::uint8_t* px =
            p.pixels + (static_cast<std::size_t>(p.height - 1 - y) * p.width + x) * 4;
        return {px[2], px[1], px[0]};
    }
};

TEST_F(WindowCompare, ASequenceOfAnotherSizeIsRefusedWithABoxAndAStaysAsItWas) {
    start(make_small_sequence().c_str());
    write_flat_dpx(dir.file("half_0.dpx"), 32, 16, 0, 0, 0);
    const std::vector<int> before = pixel_at(win, 3, 3);
    const int fits = front.fits;
    front.dialog_answer = dir.file("half_0.dpx");
    window_command(win, kCmdCompareWith);
    ASSERT_EQ(front.errors.size(), 1u);
    EXPECT_EQ(front.errors[0],
              "Can't compare: half_0.dpx is 32x16, the open sequence is 64x32. Both sequences "
              "must have the same size.");
    window_compare_drop(win, dir.file("nothing_0.dpx").c_str());
    ASSERT_EQ(front.errors.size(), 2u);
    EXPECT_EQ(front.errors[1], kMsgCantOpen);
    EXPECT_FALSE(win.compare.active);
    EXPECT_EQ(window_picture(win).pixels, win.viewer.store.pixels);
    EXPECT_EQ(pixel_at(win, 3, 3), before);
    EXPECT_EQ(front.fits, fits);
    EXPECT_EQ(front.status[0], "clip_000.dpx");
    EXPECT_EQ(front.status[3], "62.5 fps");
    EXPECT_EQ(front.line, "");
    // The Compare menu's commands beep while nothing is compared.
    const int beeps = front.beeps;
    window_command(win, kCmdToggleAB);
    EXPECT_EQ(front.beeps, beeps + 1);
}

TEST_F(WindowCompare, BIsShownBesideAWithTheMetricsOfThePairOnScreen) {
    start(make_small_sequence().c_str());
    window_compare_drop(win, make_b_sequence().c_str());
    ASSERT_TRUE(front.errors.empty());
    ASSERT_TRUE(win.compare.active);
    EXPECT_FALSE(front.disabled[kCmdToggleAB]);
    EXPECT_TRUE(front.checked[kCmdWipe]);
    wait_for_metrics();
    EXPECT_EQ(front.line, "A clip_000.dpx  B enc_000.dpx  identical");
    EXPECT_EQ(front.status[3], "62.5 fps  Wipe at 8  Offset: +0  identical");

    // One sample off by one: PSNR at the 16-bit peak over 64 x 32 pixels.
    window_key(win, kKeyPageDown);
    wait_for_metrics();
    char psnr[64];
    std::snprintf(psnr, sizeof psnr, "PSNR R inf G %.2f B inf dB",
                  10 * std::log10(65535.0 * 65535.0 * 64 * 32));
    EXPECT_NE(front.line.find(std::string("A clip_001.dpx  B enc_001.dpx  ") + psnr),
              std::string::npos)
        << front.line;
    EXPECT_NE(front.line.find("max R 0 G 1 B 0  1 sample differs, first at x 7 y 5"),
              std::string::npos)
        << front.line;
    EXPECT_EQ(front.status[3], "62.5 fps  Wipe at 8  Offset: +0  differs");

    // Frame 2: A blue (0xC0), B red (0x40). The wipe splits the picture, B
    // shows B, the toggle flips, side by side is twice as wide.
    window_key(win, kKeyPageDown);
    EXPECT_EQ(shown_at(7, 0), (std::vector<int>{0, 0, 0xC0}));
    EXPECT_EQ(shown_at(8, 0), (std::vector<int>{0x40, 0, 0}));
    window_press(win, 2, 0);
    EXPECT_EQ(shown_at(1, 4), (std::vector<int>{0, 0, 0xC0}));
    EXPECT_EQ(shown_at(2, 4), (std::vector<int>{0x40, 0, 0}));
    window_drag(win, 5, 0);
    EXPECT_EQ(shown_at(6, 4), (std::vector<int>{0, 0, 0xC0}));
    EXPECT_EQ(shown_at(7, 4), (std::vector<int>{0x40, 0, 0}));
    EXPECT_EQ(front.status[3].rfind("62.5 fps  Wipe at 7", 0), 0u) << front.status[3];
    window_command(win, kCmdShowB);
    EXPECT_EQ(shown_at(0, 0), (std::vector<int>{0x40, 0, 0}));
    window_command(win, kCmdToggleAB);
    EXPECT_EQ(window_picture(win).pixels, win.viewer.store.pixels);
    window_command(win, kCmdSideBySide);
    EXPECT_EQ(front.fit_width, 32);
    EXPECT_EQ(shown_at(15, 7), (std::vector<int>{0, 0, 0xC0}));
    EXPECT_EQ(shown_at(16, 7), (std::vector<int>{0x40, 0, 0}));
    // The probe over B's half names the same source pixel, with A's and B's
    // stored values and their difference.
    window_probe(win, 16 + 1, 0);
    EXPECT_EQ(front.status[0],
              "x 4 y 3  A R 0 G 0 B 49152  B R 16384 G 0 B 0  A-B R -16384 G 0 B 49152");
    window_probe_end(win);
    // Size acts on both: at 1/2 the side-by-side picture is 2 x 32 wide.
    window_command(win, kCmdSizeHalf);
    EXPECT_EQ(front.fit_width, 64);
    EXPECT_EQ(front.fit_height, 16);
    EXPECT_EQ(shown_at(33, 0), (std::vector<int>{0x40, 0, 0}));

    // The difference of the stored samples, x1 then x2: |0 - 0x4000| and
    // |0xC000 - 0| taken to 8 bits; the gain key shows the difference.
    window_command(win, kCmdGainUp);
    EXPECT_TRUE(front.checked[kCmdDifference]);
    EXPECT_EQ(front.fit_width, 32);
    EXPECT_EQ(shown_at(3, 3), (std::vector<int>{128, 0, 255}));
    window_command(win, kCmdGainDown);
    EXPECT_EQ(shown_at(3, 3), (std::vector<int>{64, 0, 192}));
    window_command(win, kCmdSignedDifference);
    EXPECT_EQ(shown_at(3, 3), (std::vector<int>{128 - 64, 128, 128 + 128 - 1}));

    // The offset pairs A's frame n with B's n + 1: at A's last frame, no B,
    // and a probe held meanwhile loses B's values at once.
    window_probe(win, 1, 0);
    EXPECT_EQ(front.status[0].find(std::string("B R ") + kProbeNoValue), std::string::npos);
    window_command(win, kCmdOffsetLater);
    EXPECT_NE(front.status[0].find(std::string("B R ") + kProbeNoValue), std::string::npos)
        << front.status[0];
    window_probe_end(win);
    EXPECT_EQ(front.status[3], "62.5 fps  Signed difference x1  Offset: +1");
    EXPECT_EQ(front.line, "A clip_002.dpx  B: no frame at offset +1 (B has 3 frames)");
    window_key(win, kKeyHome);
    wait_for_metrics();
    EXPECT_EQ(front.line.rfind("A clip_000.dpx  B enc_001.dpx  PSNR", 0), 0u) << front.line;
    // Playback moves both.
    window_key(win, kKeyRight);
    window_tick(win);
    EXPECT_EQ(win.viewer.seq.current_frame, 1);
    EXPECT_EQ(win.compare.b_frame, 2);
    window_key(win, kKeyLeft);

    window_command(win, kCmdCloseCompare);
    EXPECT_FALSE(win.compare.active);
    EXPECT_EQ(front.line, "");
    EXPECT_EQ(front.status[3], "62.5 fps");
    EXPECT_TRUE(front.disabled[kCmdToggleAB]);
    EXPECT_EQ(window_picture(win).pixels, win.viewer.store.pixels);
    EXPECT_EQ(front.fit_width, 32);
    EXPECT_TRUE(front.errors.empty());
}

TEST_F(WindowCompare, TheCommandLineOpensBBeforeTheWindowExists) {
    const std::string a = make_small_sequence();
    CommandLine options;
    options.compare = make_b_sequence();
    ASSERT_EQ(window_startup(win, a.c_str(), &options), 0);
    EXPECT_TRUE(win.compare.active);
    EXPECT_EQ(front.fits, 0);
    window_created(win);
    EXPECT_TRUE(front.checked[kCmdWipe]);
    EXPECT_EQ(front.line.rfind("A clip_000.dpx  B enc_000.dpx", 0), 0u) << front.line;
    EXPECT_EQ(front.fit_width, 16);
}

}  // namespace
