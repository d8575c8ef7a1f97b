// Fuzz target: the window logic as a state machine. The input is a start-up
// choice followed by events (keys, frame keys, timer ticks, menu commands, drops,
// the Open and Go to Frame dialogs, drags, wheel turns, the probe, and files
// changing on disk), played against a fake front end on a screen smaller than
// some pictures, over a folder of small valid, truncated and hostile frames.
// After every event:
//  - the step is within -10..+10, and a non-zero step has the timer running;
//  - the current frame is inside the list, or no sequence is open;
//  - exactly one Size item is checked and it is the shift's; the Color item's
//    check follows the convert flag;
//  - the header describes a pixel buffer of the source size at the shift, and
//    the picture area was last fitted to it;
//  - the three status texts are what the state says, and a frame that could not
//    be read shows black;
//  - the picture area is the fitted size as far as the screen holds it, and the
//    pan keeps it inside the picture.
// Each input starts from the same files, so a failing input replays exactly.
#include <sys/stat.h>

#include <algorithm>
#include <vector>

#include "tests/fuzz/fuzz_support.h"
#include "tools/frame_files.h"
#include "ui/signal_logic.h"
#include "ui/window_logic.h"

namespace {

struct Front {
    Window* win = nullptr;
    bool checked[1000] = {};
    bool timer = false;
    int fit_width = -1;
    int fit_height = -1;
    bool quit = false;
    std::string status[kStatusParts];
    /// What the Open dialog answers next: a path, or Cancel when empty.
    std::string dialog_answer;
    /// What the Go to Frame dialog answers next, or Cancel when `frame_cancel`.
    std::string frame_answer;
    bool frame_cancel = false;
    /// The scopes window is open; a scopes poll was asked for.
    bool scopes = false;
    bool poll = false;
};

/// The screen the fake window lives on: smaller than the largest pictures.
constexpr int kScreenWidth = 30;
constexpr int kScreenHeight = 12;

Front& front_of(void* c) {
    return *static_cast<Front*>(c);
}

void install(Window& win, Front& f) {
    f.win = &win;
    f.checked[kCmdSizeQuarter] = true;  // as the menu resource starts
    win.front.context = &f;
    win.front.fit_picture = [](void* c, int w, int h) {
        front_of(c).fit_width = w;
        front_of(c).fit_height = h;
        window_view_resized(*front_of(c).win, std::min(w, kScreenWidth),
                            std::min(h, kScreenHeight));
    };
    // A real paint handler draws and sets the three status parts.
    win.front.repaint = [](void* c) { window_paint_status(*front_of(c).win); };
    win.front.set_status = [](void* c, int part, const char* text) {
        FUZZ_CHECK(part >= 0 && part < kStatusParts);
        FUZZ_CHECK(text != nullptr);
        FUZZ_CHECK(std::strlen(text) < static_cast<std::size_t>(kPathMax));
        front_of(c).status[part] = text;
    };
    win.front.start_timer = [](void* c) { front_of(c).timer = true; };
    win.front.stop_timer = [](void* c) { front_of(c).timer = false; };
    win.front.quit = [](void* c) { front_of(c).quit = true; };
    win.front.close_window = [](void* c) { front_of(c).quit = true; };
    win.front.ask_open_file = [](void* c, char* path, int capacity) {
        FUZZ_CHECK(capacity == kPathMax);
        FUZZ_CHECK(strnlen(path, static_cast<std::size_t>(capacity)) <
                   static_cast<std::size_t>(capacity));
        Front& f = front_of(c);
        if (f.dialog_answer.empty()) return false;
        std::snprintf(path, static_cast<std::size_t>(capacity), "%s", f.dialog_answer.c_str());
        return true;
    };
    win.front.show_about = [](void*) {};
    win.front.ask_frame = [](void* c, const char* prompt, char* text, int capacity) {
        FUZZ_CHECK(prompt != nullptr && text != nullptr && capacity > 0);
        FUZZ_CHECK(strnlen(text, static_cast<std::size_t>(capacity)) <
                   static_cast<std::size_t>(capacity));
        Front& f = front_of(c);
        if (f.frame_cancel) return false;
        std::snprintf(text, static_cast<std::size_t>(capacity), "%s", f.frame_answer.c_str());
        return true;
    };
    win.front.check_menu = [](void* c, int id, bool on) {
        FUZZ_CHECK(id >= 0 && id < 1000);
        front_of(c).checked[id] = on;
    };
    win.front.beep = [](void*) {};
    win.front.show_text = [](void*, const char* title, const char* text) {
        FUZZ_CHECK(title != nullptr && text != nullptr && std::strlen(text) > 0);
    };
    win.front.show_scopes = [](void* c, bool shown) { front_of(c).scopes = shown; };
    win.front.repaint_scopes = [](void* c) {
        FUZZ_CHECK(window_scopes_picture(*front_of(c).win).pixels != nullptr);
    };
    // The poll runs at once: the harness has no clock.
    win.front.start_scopes_poll = [](void* c, int) { front_of(c).poll = true; };
    win.front.enable_menu = [](void*, int id, bool) { FUZZ_CHECK(id >= 0 && id < 1000); };
    win.front.set_compare_line = [](void*, const char* text) {
        FUZZ_CHECK(text != nullptr);
        FUZZ_CHECK(std::strlen(text) < static_cast<std::size_t>(kPathMax));
    };
    // The fuzzed window never opens a second sequence; a wake would come from
    // its worker's thread.
    win.front.wake = [](void*) {};
    win.viewer.error_box = [](void*, const char* message, const char* caption) {
        FUZZ_CHECK(std::strcmp(caption, kErrorCaption) == 0);
        FUZZ_CHECK(std::strcmp(message, kMsgCantOpen) == 0 ||
                   std::strcmp(message, kMsgInvalidImage) == 0 ||
                   std::strcmp(message, kMsgNoMemory) == 0);
    };
}

std::vector<std::uint16_t> pattern(int width, int height, int seed) {
    std::vector<std::uint16_t> v(static_cast<std::size_t>(width) * height * 3);
    std::uint32_t x = 0x12345u + static_cast<std::uint32_t>(seed) * 7919u;
    for (auto& s : v) {
        x = x * 1664525u + 1013904223u;
        s = static_cast<std::uint16_t>(x >> 16);
    }
    return v;
}

std::string file(const char* name) {
    return fuzz::scratch_file(name);
}

const std::vector<std::uint8_t>& frame_a(int n) {
    static const std::vector<std::vector<std::uint8_t>> files = [] {
        std::vector<std::vector<std::uint8_t>> v;
        for (int i = 0; i < 5; ++i) v.push_back(make_dpx_file(16, 8, pattern(16, 8, i).data()));
        return v;
    }();
    return files[static_cast<std::size_t>(n)];
}

const char* const kSeqA[] = {"a0000.dpx", "a0001.dpx", "a0002.dpx", "a0003.dpx", "a0004.dpx"};

// The files that never change: frames of several sizes, hostile entries named
// like frames, and a planar frame.
void make_fixed_files() {
    static bool made = false;
    if (made) return;
    made = true;
    const int sizes[3][2] = {{24, 16}, {16, 8}, {40, 20}};
    for (int n = 0; n < 3; ++n) {
        const char* names[] = {"b0000.dpx", "b0001.dpx", "b0002.dpx"};
        const auto bytes = make_dpx_file(sizes[n][0], sizes[n][1],
                                         pattern(sizes[n][0], sizes[n][1], 10 + n).data());
        fuzz::write_bytes(file(names[n]), bytes.data(), bytes.size());
    }
    const auto a = frame_a(0);
    fuzz::write_bytes(file("h0000.dpx"), a.data(), 500);  // header cut short
    fuzz::write_bytes(file("h0001.dpx"), nullptr, 0);     // empty
    ::mkdir(file("h0002.dpx").c_str(), 0700);             // a folder
    ::mkfifo(file("h0003.dpx").c_str(), 0600);            // a FIFO
    auto big = make_dpx_header(512, 256);                 // claims far more than it holds
    big.resize(big.size() + 10, 0x77);
    fuzz::write_bytes(file("h0004.dpx"), big.data(), big.size());
    const auto planes = pattern(40, 20, 30);
    FUZZ_CHECK(write_planar_files(file("p0000.2K."), 40, 20, planes.data()) == 0);
}

// Seq A as every input finds it at the start.
void reset_seq_a() {
    for (int n = 0; n < 5; ++n) {
        const std::string path = file(kSeqA[n]);
        ::rmdir(path.c_str());
        fuzz::write_bytes(path, frame_a(n).data(), frame_a(n).size());
    }
}

// Paths a user might drop or choose: frames, hostile entries, names that match
// nothing, and paths that cannot be held or are not frames at all.
std::string choose_path(std::uint8_t pick) {
    static const char* const names[] = {"a0000.dpx",  "a0002.dpx",  "a0004.dpx",    "b0000.dpx",
                                        "b0001.dpx",  "b0002.dpx",  "h0000.dpx",    "h0001.dpx",
                                        "h0002.dpx",  "h0003.dpx",  "h0004.dpx",    "p0000.2K.r",
                                        "p0000.2K.g", "p0000.2K.B", "none0001.dpx", "a0002.dpx\""};
    constexpr int kNamed = sizeof names / sizeof names[0];
    const int choice = pick % (kNamed + 4);
    if (choice < kNamed) return file(names[choice]);
    switch (choice - kNamed) {
        case 0:
            return std::string(kPathMax + 10, 'x');  // cannot be held
        case 1:
            return fuzz::scratch_folder() + "/";  // the folder itself
        case 2:
            return "a0001.dpx";  // relative: not in this folder
        default:
            return std::string(1, '/');
    }
}

// Changes a frame of seq A on disk, as a renderer or a copy in progress would.
void change_file(std::uint8_t arg) {
    const int n = arg % 5;
    const std::string path = file(kSeqA[n]);
    const auto& bytes = frame_a(n);
    switch ((arg / 5) % 6) {
        case 0:
            fuzz::write_bytes(path, nullptr, 0);
            break;
        case 1:
            fuzz::write_bytes(path, bytes.data(), 100);
            break;  // inside the header
        case 2:
            fuzz::write_bytes(path, bytes.data(), kDpxDataOffset + 200);
            break;
        case 3:
            fuzz::write_bytes(path, bytes.data(), bytes.size());
            break;
        case 4: {
            static const auto other = make_dpx_file(24, 16, pattern(24, 16, 99).data());
            fuzz::write_bytes(path, other.data(), other.size());
            break;
        }
        default:
            std::remove(path.c_str());
            break;
    }
}

/// Status part 0 as the state says, when the probe does not replace it: the
/// file name, or for a frame that could not be read its name and the reason.
std::string name_part(const Window& win) {
    const Sequence& seq = win.viewer.seq;
    if (win.unreadable != kReadOk && seq.frame_count > 0)
        return std::string(frame_name(seq, seq.current_frame)) + ": " +
               read_failure_text(win.unreadable);
    return seq.current_path + seq.name_slot;
}

void check_state(const Window& win, const Front& f) {
    const Viewer& v = win.viewer;
    FUZZ_CHECK(v.play.step >= -kMaxStep && v.play.step <= kMaxStep);
    FUZZ_CHECK(v.play.step == 0 || f.timer);
    FUZZ_CHECK(f.timer == win.timer_running);
    FUZZ_CHECK(v.seq.frame_count >= 0);
    if (v.seq.frame_count > 0) {
        FUZZ_CHECK(v.seq.current_frame >= 0 && v.seq.current_frame < v.seq.frame_count);
        FUZZ_CHECK(v.seq.frame_list != nullptr);
    }

    int checked = 0;
    for (int id = kCmdSizeOriginal; id <= kCmdSizeEighth; ++id) checked += f.checked[id];
    FUZZ_CHECK(checked == 1);
    FUZZ_CHECK(v.store.shift >= 0 && v.store.shift <= 3);
    FUZZ_CHECK(f.checked[kCmdSizeOriginal + v.store.shift]);
    FUZZ_CHECK(f.checked[kCmdConvert] == (v.store.convert == 1));
    FUZZ_CHECK(f.checked[kCmdGamutWarning] == win.signal.gamut_warning);
    FUZZ_CHECK(f.checked[kCmdRangeWarning] == win.signal.range_warning);
    FUZZ_CHECK(f.checked[kCmdScopes] == win.signal.scopes_open &&
               f.scopes == win.signal.scopes_open);

    const BitmapInfoHeader& h = v.store.bitmap.header;
    FUZZ_CHECK(h.biSize == 40 && h.biPlanes == 1 && h.biBitCount == 32 && h.biCompression == 0);
    FUZZ_CHECK(v.store.pixels != nullptr);
    FUZZ_CHECK(h.biWidth == (v.store.source_width >> v.store.shift));
    FUZZ_CHECK(h.biHeight == (v.store.source_height >> v.store.shift));
    FUZZ_CHECK(f.fit_width == h.biWidth && f.fit_height == h.biHeight);
    const std::size_t bytes = static_cast<std::size_t>(h.biWidth) * h.biHeight * 4;
    if (bytes) {
        // Reading the last byte lets AddressSanitizer prove the buffer is that big.
        volatile std::uint8_t last = v.store.pixels[bytes - 1];
        (void)last;
        // Byte 3 of a pixel is never written: it stays as allocated.
        for (std::size_t i = 3; i < bytes; i += 4 * 97) FUZZ_CHECK(v.store.pixels[i] == 0);
        // A frame that could not be read shows nothing of the one before.
        if (win.unreadable != kReadOk && v.seq.frame_count > 0)
            for (std::size_t i = 0; i < bytes; ++i) FUZZ_CHECK(v.store.pixels[i] == 0);
    }

    char want[kPathMax + 32];
    FUZZ_CHECK(v.seq.name_slot >= 0 && v.seq.name_slot < kPathMax);
    FUZZ_CHECK(f.status[0] == name_part(win));
    std::snprintf(want, sizeof want, "Frame: %d/%d", v.seq.current_frame, v.seq.frame_count);
    FUZZ_CHECK(f.status[1] == want);
    std::snprintf(want, sizeof want, "Step: %s%d", v.play.step > 0 ? "+" : "", v.play.step);
    FUZZ_CHECK(f.status[2] == want);

    FUZZ_CHECK(win.view_width == std::min(f.fit_width, kScreenWidth));
    FUZZ_CHECK(win.view_height == std::min(f.fit_height, kScreenHeight));
    FUZZ_CHECK(win.pan_x >= 0 && win.pan_x <= std::max(0, h.biWidth - win.view_width));
    FUZZ_CHECK(win.pan_y >= 0 && win.pan_y <= std::max(0, h.biHeight - win.view_height));
}

// A typed frame number: digits in or out of range, blanks, or not a number.
std::string frame_text(std::uint8_t pick) {
    static const char* const texts[] = {"0", "1", "4", "5", " 2 ", "", "x", "-1", "99999999999"};
    return texts[pick % 9];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    make_fixed_files();
    reset_seq_a();

    Window win;
    Front f;
    install(win, f);
    // Start-up: nothing, a frame, a quoted frame, or a file that cannot be shown.
    std::string command_line;
    switch (data[0] % 5) {
        case 1:
            command_line = file("a0002.dpx");
            break;
        case 2:
            // Appended piece by piece: gcc 12 warns falsely on "\"" + string.
            command_line.push_back('"');
            command_line += file("a0003.dpx");
            command_line.push_back('"');
            break;
        case 3:
            command_line = file("b0002.dpx");
            break;
        case 4:
            command_line = file("h0000.dpx");
            break;
        default:
            break;
    }
    FUZZ_CHECK(window_startup(win, command_line.empty() ? nullptr : command_line.c_str()) == 0);
    window_created(win);
    win.front.repaint(win.front.context);
    check_state(win, f);

    for (std::size_t i = 1; i < size && !f.quit; ++i) {
        const std::uint8_t op = data[i] & 7;
        const std::uint8_t arg = i + 1 < size ? data[i + 1] : 0;
        switch (op) {
            case 0:
                window_key(win, kKeyRight);
                break;
            case 1:
                window_key(win, kKeyLeft);
                break;
            case 2: {
                // Space, Shift and the frame keys.
                static const int keys[] = {0x20,     0x10,    kKeyPageDown, kKeyPageUp,
                                           kKeyHome, kKeyEnd, kKeyPeriod,   kKeyComma};
                window_key(win, keys[(data[i] >> 3) & 7]);
                break;
            }
            case 3:
                window_tick(win);
                break;
            case 4: {
                static const int commands[] = {
                    kCmdOpen,       kCmdConvert, kCmdSizeOriginal, kCmdSizeHalf, kCmdSizeQuarter,
                    kCmdSizeEighth, kCmdAbout,   kCmdExit,         555,          kCmdGoToFrame};
                // The signal checks where the top four bits are all set.
                static const int signal_commands[] = {kCmdFrameInfo, kCmdGamutWarning,
                                                      kCmdRangeWarning, kCmdScopes};
                const int id = (arg & 0xF0) == 0xF0 ? signal_commands[arg & 3] : commands[arg % 10];
                ++i;
                // A display above 1024x600 (1/2 or Original Size of a 4K frame,
                // which a planar "2K" name keeps) costs the fuzzer seconds per
                // input for no new state; the harness leaves those sizes out.
                if (id >= kCmdSizeOriginal && id <= kCmdSizeEighth) {
                    const int shift = id - kCmdSizeOriginal;
                    const std::int64_t w = win.viewer.store.source_width >> shift;
                    const std::int64_t h = win.viewer.store.source_height >> shift;
                    if (w * h > 1024 * 600) break;
                }
                if (id == kCmdOpen) {
                    const std::uint8_t answer = i + 1 < size ? data[i + 1] : 0;
                    ++i;
                    f.dialog_answer = answer & 1 ? choose_path(answer >> 1) : std::string();
                }
                if (id == kCmdGoToFrame) {
                    const std::uint8_t answer = i + 1 < size ? data[i + 1] : 0;
                    ++i;
                    f.frame_cancel = (answer & 0x0F) == 0x0F;
                    f.frame_answer = frame_text(answer);
                }
                window_command(win, id);
                break;
            }
            case 5:
                window_drop(win, choose_path(arg).c_str());
                ++i;
                break;
            case 6:
                // High bit: a drag, a wheel turn or a probe with the right
                // button; else a file changes on disk.
                if (arg & 0x80) {
                    const int by = (arg & 0x1F) - 16;
                    switch ((arg >> 5) & 3) {
                        case 0:
                        case 1:
                            window_drag(win, by, (arg & 0x20) ? -by : by);
                            break;
                        case 2:
                            window_wheel(win, by * 40, (arg & 1) != 0);
                            break;
                        default: {
                            // Held over a pixel (some off the picture area), then released.
                            window_probe(win, by + 8, (by + 16) / 3);
                            const std::string& shown = f.status[0];
                            FUZZ_CHECK(shown == name_part(win) || shown.compare(0, 2, "x ") == 0);
                            window_probe_end(win);
                            break;
                        }
                    }
                } else {
                    change_file(arg);
                }
                ++i;
                break;
            default:
                window_key(win, kKeyQ);
                break;
        }
        if (f.poll) {
            f.poll = false;
            window_scopes_poll(win);
        }
        check_state(win, f);
    }
    window_shutdown(win);
    return 0;
}
