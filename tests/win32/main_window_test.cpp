#include <gtest/gtest.h>
#include <windows.h>

// After windows.h, which they need.
#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "scopes/scopes.h"
#include "support/test_files.h"
#include "ui/signal_logic.h"
#include "ui/win32/front_win32.h"
#include "ui/win32/resource.h"

namespace {

std::vector<std::string> g_errors;

void record_error(void*, const char* message, const char*) {
    g_errors.push_back(message);
}

// A drop as the shell makes it: a DROPFILES header and the NUL-separated paths.
HGLOBAL make_drop(const std::vector<std::string>& files) {
    std::size_t size = sizeof(DROPFILES) + 1;
    for (const auto& f : files) size += f.size() + 1;
    HGLOBAL block = GlobalAlloc(GHND, size);
    auto* header = static_cast<DROPFILES*>(GlobalLock(block));
    header->pFiles = sizeof(DROPFILES);
    header->fWide = FALSE;
    char* out = reinterpret_cast<char*>(header + 1);
    for (const auto& f : files) {
        std::memcpy(out, f.c_str(), f.size() + 1);
        out += f.size() + 1;
    }
    GlobalUnlock(block);
    return block;
}

struct MainWindow : ::testing::Test {
    std::unique_ptr<Win32App> app = std::make_unique<Win32App>();
    HWND hwnd = nullptr;
    TempDir dir;

    void SetUp() override {
        g_errors.clear();
        install_win32_front(*app);
        app->win.viewer.error_box = record_error;
        app->instance = GetModuleHandleA(nullptr);
        ASSERT_EQ(window_startup(app->win, nullptr), 0);
        static const bool registered = register_window_class(app->instance) == 0;
        ASSERT_TRUE(registered);
        hwnd = create_main_window(*app);
        // Wine without an X display cannot create windows; the Windows test
        // script runs these tests under Xvfb.
        if (hwnd == nullptr) GTEST_SKIP() << "no display";
        ShowWindow(hwnd, SW_SHOW);
        UpdateWindow(hwnd);
    }
    void TearDown() override {
        if (hwnd) DestroyWindow(hwnd);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        }
        window_shutdown(app->win);
    }

    std::string status(int part) {
        char text[kPathMax] = {};
        SendMessageA(app->status, SB_GETTEXTA, static_cast<WPARAM>(part),
                     reinterpret_cast<LPARAM>(text));
        return text;
    }
    SIZE client() {
        RECT r{};
        GetClientRect(hwnd, &r);
        return {r.right, r.bottom};
    }
    int bar_height() {
        RECT r{};
        GetWindowRect(app->status, &r);
        return r.bottom - r.top;
    }
};

}  // namespace

TEST_F(MainWindow, StartsBlackAt960x540AboveTheTimelineAndTheStatusBar) {
    EXPECT_GT(bar_height(), 0);
    EXPECT_EQ(client().cx, 960);
    EXPECT_EQ(client().cy, 540 + kTimelineHeight + bar_height());
    EXPECT_EQ(status(0), "");
    EXPECT_EQ(status(1), "Frame: 0/0");
    EXPECT_EQ(status(2), "Step: 0");
    EXPECT_EQ(GetDlgItem(hwnd, kStatusBarId), app->status);
    // The picture is drawn from the bottom-up buffer at the client origin.
    HDC dc = GetDC(hwnd);
    EXPECT_EQ(GetPixel(dc, 10, 10) & 0xFFFFFF, 0u);
    EXPECT_EQ(GetPixel(dc, 959, 539) & 0xFFFFFF, 0u);
    ReleaseDC(hwnd, dc);
}

TEST_F(MainWindow, DropOpensTheFirstFileAndRefitsTheWindow) {
    const auto rgb = test_pattern(1280, 720, 1);
    for (const char* name : {"drop_01.dpx", "drop_02.dpx", "drop_03.dpx"})
        ASSERT_EQ(write_dpx_file(dir.file(name), 1280, 720, rgb.data()), 0);
    SendMessageA(hwnd, WM_DROPFILES,
                 reinterpret_cast<WPARAM>(make_drop({dir.file("drop_02.dpx"), dir.file("x.dpx")})),
                 0);
    EXPECT_TRUE(g_errors.empty());
    EXPECT_EQ(status(0), "drop_02.dpx");
    EXPECT_EQ(status(1), "Frame: 1/3");
    EXPECT_EQ(client().cx, 320);
    EXPECT_EQ(client().cy, 180 + kTimelineHeight + bar_height());

    // The arrow keys set the step shown in part 2; another key pauses.
    SendMessageA(hwnd, WM_KEYDOWN, VK_RIGHT, 0);
    SendMessageA(hwnd, WM_KEYDOWN, VK_RIGHT, 0);
    EXPECT_EQ(status(2), "Step: +2");
    SendMessageA(hwnd, WM_KEYDOWN, VK_LEFT, 0);
    SendMessageA(hwnd, WM_KEYDOWN, VK_LEFT, 0);
    SendMessageA(hwnd, WM_KEYDOWN, VK_LEFT, 0);
    EXPECT_EQ(status(2), "Step: -1");
    SendMessageA(hwnd, WM_KEYDOWN, 'X', 0);
    EXPECT_EQ(status(2), "Step: 0");

    // 1/2 Size moves the check mark and refits the window.
    SendMessageA(hwnd, WM_COMMAND, MAKEWPARAM(kCmdSizeHalf, 0), 0);
    EXPECT_EQ(client().cx, 640);
    EXPECT_EQ(client().cy, 360 + kTimelineHeight + bar_height());
    EXPECT_TRUE(GetMenuState(app->menu, kCmdSizeHalf, MF_BYCOMMAND) & MF_CHECKED);
    EXPECT_FALSE(GetMenuState(app->menu, kCmdSizeQuarter, MF_BYCOMMAND) & MF_CHECKED);
}

TEST_F(MainWindow, ADroppedPathTooLongForThePathBufferIsRefusedNotCut) {
    const auto rgb = test_pattern(64, 32, 2);
    ASSERT_EQ(write_dpx_file(dir.file("keep_1.dpx"), 64, 32, rgb.data()), 0);
    SendMessageA(hwnd, WM_DROPFILES, reinterpret_cast<WPARAM>(make_drop({dir.file("keep_1.dpx")})),
                 0);
    ASSERT_EQ(status(0), "keep_1.dpx");
    const std::string too_long = dir.file(std::string(kPathMax, 'a') + ".dpx");
    SendMessageA(hwnd, WM_DROPFILES, reinterpret_cast<WPARAM>(make_drop({too_long})), 0);
    EXPECT_EQ(g_errors, (std::vector<std::string>{kMsgCantOpen}));
    EXPECT_STREQ(app->win.viewer.seq.current_path, dir.file("keep_1.dpx").c_str());
    // An empty drop does nothing at all.
    SendMessageA(hwnd, WM_DROPFILES, reinterpret_cast<WPARAM>(make_drop({})), 0);
    EXPECT_EQ(g_errors.size(), 1u);
}

// A frame dropped with Ctrl held opens B: a second status row above the bar
// (the picture area keeps its size) that the metrics worker's posted message
// fills, the Compare menu enabled, and Close Compare takes it all away.
TEST_F(MainWindow, ACtrlDropComparesWithARowOfMetricsAboveTheStatusBar) {
    const auto rgb = test_pattern(1280, 720, 4);
    for (const char* name : {"src_0.dpx", "src_1.dpx", "enc_0.dpx", "enc_1.dpx"})
        ASSERT_EQ(write_dpx_file(dir.file(name), 1280, 720, rgb.data()), 0);
    SendMessageA(hwnd, WM_DROPFILES, reinterpret_cast<WPARAM>(make_drop({dir.file("src_0.dpx")})),
                 0);
    ASSERT_EQ(status(0), "src_0.dpx");
    EXPECT_TRUE(GetMenuState(app->menu, kCmdToggleAB, MF_BYCOMMAND) & MF_GRAYED);
    BYTE keys[256] = {};
    GetKeyboardState(keys);
    keys[VK_CONTROL] = 0x80;
    SetKeyboardState(keys);
    SendMessageA(hwnd, WM_DROPFILES, reinterpret_cast<WPARAM>(make_drop({dir.file("enc_0.dpx")})),
                 0);
    keys[VK_CONTROL] = 0;
    SetKeyboardState(keys);
    EXPECT_TRUE(g_errors.empty());
    ASSERT_TRUE(app->win.compare.active);
    EXPECT_EQ(status(0), "src_0.dpx");
    EXPECT_FALSE(GetMenuState(app->menu, kCmdToggleAB, MF_BYCOMMAND) & MF_GRAYED);
    EXPECT_TRUE(GetMenuState(app->menu, kCmdWipe, MF_BYCOMMAND) & MF_CHECKED);
    EXPECT_TRUE(IsWindowVisible(app->line));
    EXPECT_EQ(client().cx, 320);
    EXPECT_EQ(client().cy, 180 + kTimelineHeight + 2 * bar_height());
    RECT line{}, bar{};
    GetWindowRect(app->line, &line);
    GetWindowRect(app->status, &bar);
    EXPECT_EQ(line.bottom, bar.top);
    MSG msg;
    for (int i = 0; i < 5000 && std::strstr(app->line_text, "identical") == nullptr; ++i) {
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
        Sleep(1);
    }
    EXPECT_STREQ(app->line_text, "A src_0.dpx  B enc_0.dpx  identical");
    // After the paused rate in force, the 16 ms tick's.
    EXPECT_EQ(status(3), "62.5 fps  Wipe at 160  Offset: +0  identical");

    SendMessageA(hwnd, WM_COMMAND, MAKEWPARAM(kCmdSideBySide, 0), 0);
    EXPECT_EQ(client().cx, 640);
    SendMessageA(hwnd, WM_COMMAND, MAKEWPARAM(kCmdCloseCompare, 0), 0);
    EXPECT_FALSE(app->win.compare.active);
    EXPECT_FALSE(IsWindowVisible(app->line));
    EXPECT_EQ(client().cx, 320);
    EXPECT_EQ(client().cy, 180 + kTimelineHeight + bar_height());
    EXPECT_TRUE(GetMenuState(app->menu, kCmdToggleAB, MF_BYCOMMAND) & MF_GRAYED);
}

TEST_F(MainWindow, ClosingTheWindowEndsTheMessageLoopWithCodeZero) {
    SendMessageA(hwnd, WM_COMMAND, MAKEWPARAM(kCmdExit, 0), 0);
    EXPECT_FALSE(IsWindow(hwnd));
    hwnd = nullptr;
    MSG msg{};
    bool quit = false;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
        if (msg.message == WM_QUIT) {
            quit = true;
            EXPECT_EQ(msg.wParam, 0u);
        }
    EXPECT_TRUE(quit);
}

namespace {

// What the Go to Frame dialog is to answer, typed by a timer that fires inside
// its modal loop as a user would type; empty: Cancel.
std::string g_goto_answer;

BOOL CALLBACK find_goto(HWND window, LPARAM found) {
    char title[32] = {};
    GetWindowTextA(window, title, sizeof title);
    if (std::strcmp(title, "Go to Frame") != 0) return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

void CALLBACK answer_goto(HWND, UINT, UINT_PTR timer, DWORD) {
    // This thread's own dialog: another test program may show one at the same time.
    HWND dialog = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), find_goto, reinterpret_cast<LPARAM>(&dialog));
    if (dialog == nullptr) return;
    KillTimer(nullptr, timer);
    if (g_goto_answer.empty()) {
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
        return;
    }
    SetDlgItemTextA(dialog, IDC_GOTO_FRAME, g_goto_answer.c_str());
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, 0), 0);
}

void go_to(HWND hwnd, const std::string& answer) {
    g_goto_answer = answer;
    SetTimer(nullptr, 0, 20, answer_goto);
    SendMessageA(hwnd, WM_COMMAND, MAKEWPARAM(kCmdGoToFrame, 0), 0);
}

}  // namespace

TEST_F(MainWindow, FrameKeysAndGoToFrameShowTheFrameAndPause) {
    const auto rgb = test_pattern(64, 32, 3);
    for (int n = 0; n < 4; ++n)
        ASSERT_EQ(write_dpx_file(dir.file("key_" + std::to_string(n) + ".dpx"), 64, 32, rgb.data()),
                  0);
    SendMessageA(hwnd, WM_DROPFILES, reinterpret_cast<WPARAM>(make_drop({dir.file("key_1.dpx")})),
                 0);
    ASSERT_EQ(status(1), "Frame: 1/4");
    const struct {
        WPARAM key;
        const char* frame;
    } presses[] = {{VK_NEXT, "Frame: 2/4"}, {VK_OEM_PERIOD, "Frame: 3/4"}, {VK_NEXT, "Frame: 3/4"},
                   {VK_HOME, "Frame: 0/4"}, {VK_OEM_COMMA, "Frame: 0/4"},  {VK_END, "Frame: 3/4"},
                   {VK_PRIOR, "Frame: 2/4"}};
    for (const auto& p : presses) {
        SendMessageA(hwnd, WM_KEYDOWN, VK_RIGHT, 0);
        SendMessageA(hwnd, WM_KEYDOWN, p.key, 0);
        EXPECT_EQ(status(1), p.frame) << p.key;
        EXPECT_EQ(status(2), "Step: 0") << p.key;
    }
    // The dialog from the resource: it starts from the current frame, and what
    // is typed is shown; a number out of range or Cancel changes nothing.
    go_to(hwnd, "0");
    EXPECT_EQ(status(1), "Frame: 0/4");
    go_to(hwnd, "4");
    EXPECT_EQ(status(1), "Frame: 0/4");
    go_to(hwnd, "");
    EXPECT_EQ(status(1), "Frame: 0/4");
    go_to(hwnd, " 3");
    EXPECT_EQ(status(1), "Frame: 3/4");
    // Read whole: long, or refused when longer than any frame number needs.
    go_to(hwnd, std::string(32, '0') + "1");
    EXPECT_EQ(status(1), "Frame: 1/4");
    go_to(hwnd, std::string(kFrameTextBytes, '0') + "2");
    EXPECT_EQ(status(1), "Frame: 1/4");
    EXPECT_TRUE(g_errors.empty());
}

// A picture larger than the screen: the window stays inside the work area with
// its status bar, and the picture is drawn from the pan position.
TEST_F(MainWindow, APictureLargerThanTheWorkAreaIsPannedInsideIt) {
    RECT work{};
    ASSERT_TRUE(SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0));
    const int width = static_cast<int>(work.right - work.left) + 300;
    const int height = static_cast<int>(work.bottom - work.top) + 200;
    // Black, with white from column `edge_x` and red from row `edge_y` (from the
    // top) on: colours that survive any screen depth.
    const int edge_x = width - 100;
    const int edge_y = height - 50;
    std::vector<std::uint16_t> rgb(static_cast<std::size_t>(width) * height * 3, 0);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::uint16_t* p = &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
            if (x >= edge_x)
                p[0] = p[1] = p[2] = 0xFFFF;
            else if (y >= edge_y)
                p[0] = 0xFFFF;
        }
    ASSERT_EQ(write_dpx_file(dir.file("wide_1.dpx"), width, height, rgb.data()), 0);
    SendMessageA(hwnd, WM_DROPFILES, reinterpret_cast<WPARAM>(make_drop({dir.file("wide_1.dpx")})),
                 0);
    SendMessageA(hwnd, WM_COMMAND, MAKEWPARAM(kCmdSizeOriginal, 0), 0);
    RECT outer{};
    GetWindowRect(hwnd, &outer);
    EXPECT_GE(outer.left, work.left);
    EXPECT_GE(outer.top, work.top);
    EXPECT_LE(outer.right, work.right);
    EXPECT_LE(outer.bottom, work.bottom);
    const Window& win = app->win;
    EXPECT_EQ(win.view_width, client().cx);
    EXPECT_EQ(win.view_height, client().cy - kTimelineHeight - bar_height());
    ASSERT_LT(win.view_width, width);

    // Far right with Shift+wheel, far down with the wheel.
    SendMessageA(hwnd, WM_MOUSEWHEEL, MAKEWPARAM(MK_SHIFT, static_cast<WORD>(-120 * 50)), 0);
    SendMessageA(hwnd, WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(-120 * 50)), 0);
    EXPECT_EQ(win.pan_x, width - win.view_width);
    EXPECT_EQ(win.pan_y, height - win.view_height);
    UpdateWindow(hwnd);
    HDC dc = GetDC(hwnd);
    const int ex = edge_x - win.pan_x;
    const int ey = edge_y - win.pan_y;
    EXPECT_EQ(GetPixel(dc, ex - 2, ey - 2) & 0xFFFFFF, 0x000000u);
    EXPECT_EQ(GetPixel(dc, ex + 1, ey - 2) & 0xFFFFFF, 0xFFFFFFu);
    EXPECT_EQ(GetPixel(dc, ex - 2, ey + 1) & 0xFFFFFF, 0x0000FFu);
    ReleaseDC(hwnd, dc);

    // A drag moves the picture with the mouse: 10 pixels right and down.
    SendMessageA(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(100, 100));
    SendMessageA(hwnd, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(110, 110));
    SendMessageA(hwnd, WM_LBUTTONUP, 0, MAKELPARAM(110, 110));
    EXPECT_EQ(win.pan_x, width - win.view_width - 10);
    EXPECT_EQ(win.pan_y, height - win.view_height - 10);
    EXPECT_EQ(status(1), "Frame: 0/1") << "the status bar is still there";
}

namespace {

// What the Frame Info box showed, read by a timer inside its modal loop.
std::string g_info_text;
bool g_info_read_only = false;

BOOL CALLBACK find_info(HWND window, LPARAM found) {
    char title[32] = {};
    GetWindowTextA(window, title, sizeof title);
    if (std::strcmp(title, "Frame Info") != 0) return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

void CALLBACK read_info(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND dialog = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), find_info, reinterpret_cast<LPARAM>(&dialog));
    if (dialog == nullptr) return;
    KillTimer(nullptr, timer);
    static char text[16384];
    GetDlgItemTextA(dialog, IDC_INFO_TEXT, text, sizeof text);
    g_info_text = text;
    g_info_read_only =
        (GetWindowLongA(GetDlgItem(dialog, IDC_INFO_TEXT), GWL_STYLE) & ES_READONLY) != 0;
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
}

}  // namespace

// File > Frame Info... shows the listing in a read-only field, its lines ended as
// edit fields want them; View > Scopes opens a window beside the main one that
// draws the scopes once the poll timer finds them, and closing it takes the
// check mark away.
TEST_F(MainWindow, FrameInfoBoxAndScopesWindow) {
    const auto rgb = test_pattern(256, 128, 4);
    ASSERT_EQ(write_dpx_file(dir.file("info_1.dpx"), 256, 128, rgb.data()), 0);
    SendMessageA(hwnd, WM_DROPFILES, reinterpret_cast<WPARAM>(make_drop({dir.file("info_1.dpx")})),
                 0);
    ASSERT_EQ(status(0), "info_1.dpx");
    g_info_text.clear();
    SetTimer(nullptr, 0, 20, read_info);
    SendMessageA(hwnd, WM_COMMAND, MAKEWPARAM(kCmdFrameInfo, 0), 0);
    EXPECT_EQ(g_info_text.substr(0, 8 + dir.file("info_1.dpx").size()),
              "file: " + dir.file("info_1.dpx") + "\r\n");
    EXPECT_NE(g_info_text.find("\r\nsize: 256 x 128\r\n"), std::string::npos);
    EXPECT_TRUE(g_info_read_only);

    SendMessageA(hwnd, WM_COMMAND, MAKEWPARAM(kCmdScopes, 0), 0);
    ASSERT_NE(app->scopes, nullptr);
    EXPECT_TRUE(IsWindowVisible(app->scopes));
    EXPECT_TRUE(GetMenuState(app->menu, kCmdScopes, MF_BYCOMMAND) & MF_CHECKED);
    RECT client{};
    GetClientRect(app->scopes, &client);
    EXPECT_EQ(client.right, kScopesWidth);
    EXPECT_EQ(client.bottom, kScopesHeight);
    // The poll timer delivers the scopes through the message loop.
    for (int i = 0; i < 300 && !window_scopes_picture(app->win).pixels; ++i) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
        Sleep(10);
    }
    ASSERT_NE(window_scopes_picture(app->win).pixels, nullptr);
    UpdateWindow(app->scopes);
    // The left edge of the 75% yellow target of the vectorscope (BT.2020: not converted).
    const VectorCell yellow = vector_cell(scope_weights(kScopeBt2020), 180, 180, 16);
    HDC dc = GetDC(app->scopes);
    EXPECT_EQ(GetPixel(dc, 512 + yellow.x - 4, yellow.y) & 0xFFFFFF, RGB(200, 170, 60));
    ReleaseDC(app->scopes, dc);
    SendMessageA(app->scopes, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindowVisible(app->scopes));
    EXPECT_FALSE(GetMenuState(app->menu, kCmdScopes, MF_BYCOMMAND) & MF_CHECKED);
}

// Playback runs on a one-shot timer that every tick arms again; a click on the
// timeline under the picture pauses on the frame under it and a drag follows
// (held beyond the window's edge, the last frame); a tick posted for an earlier
// arming changes nothing.
TEST_F(MainWindow, PlaybackTicksUntilTheTimelinePausesOnTheFrameUnderIt) {
    constexpr int kFrames = 8;
    const auto rgb = test_pattern(320, 180, 6);
    for (int n = 0; n < kFrames; ++n)
        ASSERT_EQ(
            write_dpx_file(dir.file("play_" + std::to_string(n) + ".dpx"), 320, 180, rgb.data()),
            0);
    SendMessageA(hwnd, WM_DROPFILES, reinterpret_cast<WPARAM>(make_drop({dir.file("play_0.dpx")})),
                 0);
    SendMessageA(hwnd, WM_COMMAND, MAKEWPARAM(kCmdSizeOriginal, 0), 0);
    ASSERT_EQ(status(1), "Frame: 0/8");
    const int& frame = app->win.viewer.seq.current_frame;
    MENUITEMINFOA item{};
    item.cbSize = sizeof item;
    item.fMask = MIIM_FTYPE;
    ASSERT_TRUE(GetMenuItemInfoA(app->menu, kCmdRate24, FALSE, &item));
    EXPECT_TRUE(item.fType & MFT_RADIOCHECK);
    // The window logic's marks: no --rate, so From File (these frames give no
    // rate); a rate chosen moves the mark and is the rate in force.
    EXPECT_TRUE(GetMenuState(app->menu, kCmdRateFromFile, MF_BYCOMMAND) & MF_CHECKED);
    EXPECT_FALSE(GetMenuState(app->menu, kCmdRateTick, MF_BYCOMMAND) & MF_CHECKED);
    EXPECT_TRUE(GetMenuState(app->menu, kCmdRealTime, MF_BYCOMMAND) & MF_CHECKED);
    SendMessageA(hwnd, WM_COMMAND, MAKEWPARAM(kCmdRate120, 0), 0);
    EXPECT_TRUE(GetMenuState(app->menu, kCmdRate120, MF_BYCOMMAND) & MF_CHECKED);
    EXPECT_FALSE(GetMenuState(app->menu, kCmdRateFromFile, MF_BYCOMMAND) & MF_CHECKED);
    InvalidateRect(hwnd, nullptr, FALSE);
    UpdateWindow(hwnd);
    EXPECT_EQ(status(3), "120 fps");

    SendMessageA(hwnd, WM_KEYDOWN, VK_RIGHT, 0);
    ASSERT_TRUE(app->ticking);
    ASSERT_NE(app->tick_timer, nullptr);
    // Only the timer's posted ticks move the frame: three moves need it armed
    // again after each.
    int moves = 0;
    for (int i = 0, last = frame; i < 10000 && moves < 3; ++i) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
        if (frame != last) ++moves;
        last = frame;
        Sleep(1);
    }
    EXPECT_EQ(moves, 3);
    // A tick of an earlier arming is ignored; one of the current arming ticks
    // and arms the timer again.
    const unsigned serial = app->tick_serial;
    const int at = frame;
    SendMessageA(hwnd, kMsgTick, serial - 1, 0);
    EXPECT_EQ(frame, at);
    EXPECT_EQ(app->tick_serial, serial);
    SendMessageA(hwnd, kMsgTick, serial, 0);
    EXPECT_NE(app->tick_serial, serial);
    EXPECT_NE(app->tick_timer, nullptr);

    // The middle of frame k's share of the strip is under x = (2k + 1) W / 2N.
    const int width = client().cx;
    const int y = timeline_top(*app, client().cy) + kTimelineHeight / 2;
    const auto x_of = [&](int k) { return (2 * k + 1) * width / (2 * kFrames); };
    SendMessageA(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x_of(5), y));
    EXPECT_EQ(status(1), "Frame: 5/8");
    EXPECT_EQ(status(2), "Step: 0");
    EXPECT_FALSE(app->ticking);
    EXPECT_EQ(app->tick_timer, nullptr);
    EXPECT_EQ(GetCapture(), hwnd);
    SendMessageA(hwnd, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(x_of(2), y - 100));
    EXPECT_EQ(status(1), "Frame: 2/8");
    SendMessageA(hwnd, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(width + 50, y));
    EXPECT_EQ(status(1), "Frame: 7/8");
    SendMessageA(hwnd, WM_LBUTTONUP, 0, MAKELPARAM(width + 50, y));
    SendMessageA(hwnd, WM_MOUSEMOVE, 0, MAKELPARAM(x_of(0), y));
    EXPECT_EQ(status(1), "Frame: 7/8");
    // The last arming's tick, posted before the pause, steps nothing.
    PostMessageA(hwnd, kMsgTick, app->tick_serial, 0);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    EXPECT_EQ(frame, 7);
    EXPECT_TRUE(g_errors.empty());
}
