// Win32 front end of the viewer window.
#include "ui/win32/front_win32.h"

#include <commctrl.h>
#include <commdlg.h>
#include <mmsystem.h>
#include <shellapi.h>
#include <windowsx.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "scopes/scopes.h"
#include "ui/signal_logic.h"
#include "ui/win32/resource.h"

namespace {

Win32App& app_of(void* context) {
    return *static_cast<Win32App*>(context);
}

int status_height(const Win32App& app) {
    RECT bar{};
    if (app.status != nullptr) GetWindowRect(app.status, &bar);
    return bar.bottom - bar.top;
}

/// Puts the second status row just above the status bar, as wide as the
/// window, and tells the window logic how much room the picture has above the
/// timeline strip.
void layout_below_picture(Win32App& app, int client_width, int client_height) {
    const int bar = status_height(app);
    const int line = compare_line_height(app);
    if (app.line != nullptr && line > 0)
        MoveWindow(app.line, 0, client_height - bar - line, client_width, line, TRUE);
    window_view_resized(app.win, client_width, timeline_top(app, client_height));
}

/// Sizes the window to `w` x `h` (frame included), no larger than the work
/// area of its monitor and never beyond it, so the status bar stays on screen;
/// a larger picture is panned.
void place_window(Win32App& app, int w, int h) {
    RECT now{};
    GetWindowRect(app.hwnd, &now);
    int x = now.left;
    int y = now.top;
    UINT flags = SWP_NOMOVE | SWP_NOZORDER;
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    const bool bounded =
        GetMonitorInfoA(MonitorFromWindow(app.hwnd, MONITOR_DEFAULTTONEAREST), &monitor) != FALSE;
    auto place = [&] {
        if (bounded) {
            const RECT& work = monitor.rcWork;
            w = std::min<int>(w, work.right - work.left);
            h = std::min<int>(h, work.bottom - work.top);
            const int in_x = std::max<int>(work.left, std::min<int>(x, work.right - w));
            const int in_y = std::max<int>(work.top, std::min<int>(y, work.bottom - h));
            if (in_x != x || in_y != y) {
                x = in_x;
                y = in_y;
                flags &= ~SWP_NOMOVE;
            }
        }
        SetWindowPos(app.hwnd, nullptr, x, y, w, h, flags);
    };
    place();
}

void fit_picture(void* context, int width, int height) {
    Win32App& app = app_of(context);
    RECT outer{0, 0, width, height};
    AdjustWindowRect(&outer, WS_OVERLAPPEDWINDOW, TRUE);
    const int w = outer.right - outer.left;
    const int below = kTimelineHeight + compare_line_height(app) + status_height(app);
    const int h = outer.bottom - outer.top + below;
    place_window(app, w, h);
    // A menu bar too wide for a narrow window wraps onto more rows than the
    // frame above allowed for: the window grows by what they took.
    RECT client{};
    GetClientRect(app.hwnd, &client);
    const int short_by = height + below - client.bottom;
    if (short_by > 0) place_window(app, w, h + short_by);
}

void repaint(void* context) {
    Win32App& app = app_of(context);
    InvalidateRect(app.hwnd, nullptr, FALSE);
    UpdateWindow(app.hwnd);
}

void set_status(void* context, int part, const char* text) {
    Win32App& app = app_of(context);
    if (part == kStatusParts - 1) {
        // The fourth part's width follows its text, so a new text lays the bar out again.
        if (std::strcmp(app.info_text, text) == 0) return;
        std::snprintf(app.info_text, sizeof app.info_text, "%s", text);
        layout_status_parts(app.status, app.info_text);
        return;
    }
    SendMessageA(app.status, SB_SETTEXTA, static_cast<WPARAM>(part),
                 reinterpret_cast<LPARAM>(text));
}

void enable_menu(void* context, int id, bool enabled) {
    Win32App& app = app_of(context);
    EnableMenuItem(app.menu, static_cast<UINT>(id),
                   MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
}

void set_compare_line(void* context, const char* text) {
    Win32App& app = app_of(context);
    if (app.line == nullptr || std::strcmp(app.line_text, text) == 0) return;
    const bool was_shown = app.line_text[0] != '\0';
    std::snprintf(app.line_text, sizeof app.line_text, "%s", text);
    SendMessageA(app.line, SB_SETTEXTA, SB_SIMPLEID, reinterpret_cast<LPARAM>(app.line_text));
    if (was_shown == (text[0] != '\0')) return;
    // The row comes or goes: the picture area above it changes height (the
    // window logic refits the window after this).
    ShowWindow(app.line, text[0] != '\0' ? SW_SHOWNA : SW_HIDE);
    RECT client{};
    GetClientRect(app.hwnd, &client);
    layout_below_picture(app, client.right, client.bottom);
}

void wake(void* context) {
    // From the metrics worker's thread: a message the window thread takes up.
    PostMessageA(app_of(context).hwnd, kWakeMessage, 0, 0);
}

VOID CALLBACK tick_due(PVOID context, BOOLEAN) {
    // On the timer queue's thread: nothing but a message for the window thread,
    // which does the tick.
    Win32App& app = app_of(context);
    PostMessageA(app.hwnd, kMsgTick, app.tick_serial.load(), 0);
}

/// Cancels the armed timer. Waits for a callback under way, so that none posts
/// after this returns; one already posted is told apart by its serial.
void cancel_tick(Win32App& app) {
    if (app.tick_timer == nullptr) return;
    DeleteTimerQueueTimer(nullptr, app.tick_timer, INVALID_HANDLE_VALUE);
    app.tick_timer = nullptr;
}

/// Arms the one-shot timer for when the window logic wants its next tick, and
/// no sooner than `at_least_us`.
void arm_tick(Win32App& app, std::int64_t at_least_us) {
    cancel_tick(app);
    ++app.tick_serial;
    const std::int64_t us = std::max(window_tick_delay_us(app.win), at_least_us);
    // At least a millisecond even when a frame is due already: the queue hands
    // out posted messages before input, and a tick posted the moment the last
    // one was handled would keep the keys that stop playback waiting.
    const auto ms = static_cast<DWORD>(std::clamp<std::int64_t>((us + 999) / 1000, 1, 60000));
    if (!CreateTimerQueueTimer(&app.tick_timer, nullptr, tick_due, &app, ms, 0,
                               WT_EXECUTEINTIMERTHREAD | WT_EXECUTEONLYONCE))
        app.tick_timer = nullptr;
}

void start_timer(void* context) {
    Win32App& app = app_of(context);
    // Timer queue timers keep the system's timer resolution, 15.6 ms unless
    // asked for finer; frames of 24 to 120 per second need about 1 ms.
    if (!app.ticking) timeBeginPeriod(1);
    app.ticking = true;
    arm_tick(app, 0);
}

void stop_timer(void* context) {
    Win32App& app = app_of(context);
    cancel_tick(app);
    ++app.tick_serial;
    if (app.ticking) timeEndPeriod(1);
    app.ticking = false;
}

/// A kMsgTick of the current arming: one tick, then the timer armed again while
/// playback runs.
void on_tick(Win32App& app) {
    // Inside the modal loop of a box the window logic takes no tick; trying
    // again at once would spin, so the next try waits one 16 ms tick.
    const bool idle = app.win.busy == 0;
    const unsigned serial = app.tick_serial.load();
    window_tick(app.win);
    // The tick may have stopped playback, or started it again (which armed it).
    if (app.ticking && app.tick_serial.load() == serial)
        arm_tick(app, idle ? 0 : std::int64_t{kTimerMs} * 1000);
}

void quit(void*) {
    PostQuitMessage(0);
}

void close_window(void* context) {
    SendMessageA(app_of(context).hwnd, WM_CLOSE, 0, 0);
}

bool ask_open_file(void* context, char* path, int capacity) {
    Win32App& app = app_of(context);
    OPENFILENAMEA ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = app.hwnd;
    ofn.lpstrFilter =
        "DPX/RGB Files (*.dpx, *.[rgb])\0*.dpx;*.r;*.g;*.b\0"
        "All Files (*.*)\0*.*\0";
    ofn.nFilterIndex = 1;
    // The dialog starts from the current path and writes the chosen one in place.
    ofn.lpstrFile = path;
    ofn.nMaxFile = static_cast<DWORD>(capacity);
    ofn.Flags = OFN_READONLY | OFN_FILEMUSTEXIST;
    const bool chosen = GetOpenFileNameA(&ofn) != FALSE;
    if (app.watch && app.watch->dialog_closed) app.watch->dialog_closed("open-dialog", chosen);
    return chosen;
}

void show_about(void* context) {
    Win32App& app = app_of(context);
    const INT_PTR result =
        DialogBoxParamA(app.instance, "ABOUTDLG", app.hwnd, about_dialog_proc, 0);
    if (app.watch && app.watch->dialog_closed)
        app.watch->dialog_closed("about", static_cast<int>(result));
}

bool ask_frame(void* context, const char* prompt, char* text, int capacity) {
    Win32App& app = app_of(context);
    FrameQuestion question{prompt, text, capacity};
    const INT_PTR result = DialogBoxParamA(app.instance, "GOTODLG", app.hwnd, goto_dialog_proc,
                                           reinterpret_cast<LPARAM>(&question));
    if (app.watch && app.watch->dialog_closed)
        app.watch->dialog_closed("goto", static_cast<int>(result));
    return result == 1;
}

void check_menu(void* context, int id, bool checked) {
    Win32App& app = app_of(context);
    CheckMenuItem(app.menu, static_cast<UINT>(id),
                  MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED));
}

void beep(void*) {
    MessageBeep(MB_OK);
}

void show_text(void* context, const char* title, const char* text) {
    Win32App& app = app_of(context);
    const INT_PTR result = show_text_box(app.instance, app.hwnd, title, text);
    if (app.watch && app.watch->dialog_closed)
        app.watch->dialog_closed("frame-info", static_cast<int>(result));
}

void show_scopes(void* context, bool shown) {
    Win32App& app = app_of(context);
    if (!shown) {
        if (app.scopes) ShowWindow(app.scopes, SW_HIDE);
        return;
    }
    if (!app.scopes) {
        RECT outer{0, 0, kScopesWidth, kScopesHeight};
        const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
        AdjustWindowRect(&outer, style, FALSE);
        RECT main{};
        GetWindowRect(app.hwnd, &main);
        // Beside the main window, on its right; owned by it, so it closes with it.
        app.scopes = CreateWindowA(kScopesClass, "Scopes", style, main.right + 8, main.top,
                                   outer.right - outer.left, outer.bottom - outer.top, app.hwnd,
                                   nullptr, app.instance, &app);
        if (!app.scopes) return;
    }
    ShowWindow(app.scopes, SW_SHOWNOACTIVATE);
}

void repaint_scopes(void* context) {
    Win32App& app = app_of(context);
    if (!app.scopes) return;
    InvalidateRect(app.scopes, nullptr, FALSE);
    UpdateWindow(app.scopes);
}

void start_scopes_poll(void* context, int ms) {
    SetTimer(app_of(context).hwnd, kScopesTimerId, static_cast<UINT>(ms), nullptr);
}

void error_box(void* context, const char* message, const char* caption) {
    const Win32App& app = app_of(context);
    if (app.watch && app.watch->error_box && app.watch->error_box(message, caption)) return;
    MessageBoxA(nullptr, message, caption, MB_OK);
}

/// The timeline strip across the client area under the picture; dark where the
/// window logic draws nothing.
void paint_timeline(Win32App& app, HDC dc) {
    RECT client{};
    GetClientRect(app.hwnd, &client);
    const int top = timeline_top(app, client.bottom);
    if (client.right <= 0 || top < 0) return;
    const ShownPicture strip = window_timeline_picture(app.win, client.right);
    int rows = 0;
    if (strip.pixels != nullptr && strip.width > 0 && strip.height > 0) {
        rows = std::min(strip.height, kTimelineHeight);
        BITMAPINFO bitmap{};
        bitmap.bmiHeader.biSize = sizeof bitmap.bmiHeader;
        bitmap.bmiHeader.biWidth = strip.width;
        bitmap.bmiHeader.biHeight = strip.height;
        bitmap.bmiHeader.biPlanes = 1;
        bitmap.bmiHeader.biBitCount = 32;
        bitmap.bmiHeader.biCompression = BI_RGB;
        // Bottom-up: the strip's top `rows` lines start `rows` lines below the top.
        SetDIBitsToDevice(dc, 0, top, static_cast<DWORD>(std::min<int>(strip.width, client.right)),
                          static_cast<DWORD>(rows), 0, strip.height - rows, 0,
                          static_cast<UINT>(strip.height), strip.pixels, &bitmap, DIB_RGB_COLORS);
    }
    if (rows < kTimelineHeight) {
        const RECT rest{0, top + rows, client.right, top + kTimelineHeight};
        HBRUSH dark = CreateSolidBrush(RGB(18, 18, 18));
        FillRect(dc, &rest, dark);
        DeleteObject(dark);
    }
}

/// x on a timeline as wide as the client area, kept on it while a captured drag
/// leaves the window.
int timeline_x(int x, int width) {
    return std::clamp(x, 0, std::max(0, width - 1));
}

void on_paint(Win32App& app) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(app.hwnd, &ps);
    const Window& win = app.win;
    const ShownPicture shown = window_picture(win);
    // The part of the picture from the pan position that the picture area above
    // the status bar holds. After a failed allocation the display is 0x0 with no
    // pixels: nothing to draw.
    const int dh = shown.height;
    const int w = std::min(win.view_width, shown.width - win.pan_x);
    const int h = std::min(win.view_height, dh - win.pan_y);
    // The display's own header describes the display; a composed picture gets one
    // of its own, alike but for the size.
    BitmapInfo bitmap = win.viewer.store.bitmap;
    bitmap.header.biWidth = shown.width;
    bitmap.header.biHeight = shown.height;
    // A bottom-up bitmap's source rectangle is given by its lower-left corner,
    // counted from the bottom row.
    if (shown.pixels != nullptr && w > 0 && h > 0)
        SetDIBitsToDevice(dc, 0, 0, static_cast<DWORD>(w), static_cast<DWORD>(h), win.pan_x,
                          dh - win.pan_y - h, 0, static_cast<UINT>(dh), shown.pixels,
                          reinterpret_cast<const BITMAPINFO*>(&bitmap), DIB_RGB_COLORS);
    paint_timeline(app, dc);
    window_paint_status(app.win);
    EndPaint(app.hwnd, &ps);
    if (app.watch && app.watch->painted) app.watch->painted(app);
}

void on_drop(Win32App& app, HDROP drop) {
    char path[kPathMax];
    const UINT files = DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0);
    const UINT length = files > 0 ? DragQueryFileA(drop, 0, nullptr, 0) : 0;
    bool fits = files > 0 && length < static_cast<UINT>(kPathMax);
    if (fits) fits = DragQueryFileA(drop, 0, path, sizeof path) == length;
    DragFinish(drop);
    if (files == 0) return;
    // A path cut short at 260 bytes would name another file, or none.
    if (!fits) {
        show_error(app.win.viewer, kMsgCantOpen);
        return;
    }
    // Dropped with Ctrl held: the sequence to compare with.
    if (GetKeyState(VK_CONTROL) < 0)
        window_compare_drop(app.win, path);
    else
        window_drop(app.win, path);
}

}  // namespace

static_assert(sizeof(BitmapInfoHeader) == sizeof(BITMAPINFOHEADER), "bitmap header layout");
static_assert(sizeof(BitmapInfo) == sizeof(BITMAPINFO), "bitmap info layout");

void install_win32_front(Win32App& app) {
    FrontEnd& f = app.win.front;
    f.context = &app;
    f.fit_picture = fit_picture;
    f.repaint = repaint;
    f.set_status = set_status;
    f.start_timer = start_timer;
    f.stop_timer = stop_timer;
    f.quit = quit;
    f.close_window = close_window;
    f.ask_open_file = ask_open_file;
    f.show_about = show_about;
    f.ask_frame = ask_frame;
    f.check_menu = check_menu;
    f.beep = beep;
    f.show_text = show_text;
    f.show_scopes = show_scopes;
    f.repaint_scopes = repaint_scopes;
    f.start_scopes_poll = start_scopes_poll;
    f.enable_menu = enable_menu;
    f.set_compare_line = set_compare_line;
    f.wake = wake;
    app.win.viewer.error_box = error_box;
    app.win.viewer.error_context = &app;
}

const char* command_line_rest(const char* command_line) {
    if (command_line == nullptr) return "";
    const char* p = command_line;
    // The program name: quoted (spaces allowed inside) or up to the first blank.
    if (*p == '"') {
        ++p;
        while (*p != '\0' && *p != '"') ++p;
        if (*p == '"') ++p;
    } else {
        while (*p != '\0' && *p != ' ' && *p != '\t') ++p;
    }
    while (*p == ' ' || *p == '\t') ++p;
    return p;
}

int command_line_path(const char* command_line, char* out, int capacity) {
    if (capacity <= 0) return -1;
    out[0] = '\0';
    if (command_line == nullptr) return 0;
    const char* p = command_line_rest(command_line);
    const char* end = p + std::strlen(p);
    while (end > p && (end[-1] == ' ' || end[-1] == '\t')) --end;
    if (p == end) return 0;
    // Explorer quotes the path; both quotes go, so the name is the chosen frame's
    // own and that frame opens (a kept closing quote would match no file name).
    if (p < end && *p == '"') {
        ++p;
        if (p < end && end[-1] == '"') --end;
    }
    const std::size_t length = static_cast<std::size_t>(end - p);
    if (length >= static_cast<std::size_t>(capacity)) return -1;
    std::memcpy(out, p, length);
    out[length] = '\0';
    return 1;
}

int register_window_class(HINSTANCE instance) {
    WNDCLASSA wc{};
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = main_window_proc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION));
    wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH));
    wc.lpszMenuName = "MAINMENU";
    wc.lpszClassName = kWindowClass;
    if (RegisterClassA(&wc) == 0) return -1;
    WNDCLASSA scopes{};
    scopes.lpfnWndProc = scopes_window_proc;
    scopes.hInstance = instance;
    scopes.hIcon = wc.hIcon;
    scopes.hCursor = wc.hCursor;
    scopes.lpszClassName = kScopesClass;
    return RegisterClassA(&scopes) != 0 ? 0 : -1;
}

HWND create_main_window(Win32App& app) {
    const FrameStore& store = app.win.viewer.store;
    return CreateWindowA(kWindowClass, kWindowClass, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                         CW_USEDEFAULT, display_width(store), display_height(store), nullptr,
                         nullptr, app.instance, &app);
}

int compare_line_height(const Win32App& app) {
    return app.line != nullptr && app.line_text[0] != '\0' ? status_height(app) : 0;
}

int timeline_top(const Win32App& app, int client_height) {
    return client_height - status_height(app) - compare_line_height(app) - kTimelineHeight;
}

void layout_status_parts(HWND status, const char* info) {
    RECT r{};
    GetClientRect(status, &r);
    const int w = r.right - r.left;
    // The fourth part is as wide as its text, and takes no room when it is empty:
    // the bar then has the three parts it has always had.
    const int length = info ? static_cast<int>(std::strlen(info)) : 0;
    int info_width = 0;
    if (length > 0) {
        HDC dc = GetDC(status);
        const HGDIOBJ font = reinterpret_cast<HGDIOBJ>(SendMessageA(status, WM_GETFONT, 0, 0));
        const HGDIOBJ old = font ? SelectObject(dc, font) : nullptr;
        SIZE size{};
        GetTextExtentPoint32A(dc, info, length, &size);
        if (old) SelectObject(dc, old);
        ReleaseDC(status, dc);
        info_width = size.cx + 12;
        // The size grip is drawn over the right end of the last part.
        if (GetWindowLongA(status, GWL_STYLE) & SBARS_SIZEGRIP)
            info_width += GetSystemMetrics(SM_CXVSCROLL);
    }
    int edges[kStatusParts];
    status_part_edges(w, info_width, edges);
    const int parts = info_width > 0 ? kStatusParts : kStatusParts - 1;
    edges[parts - 1] = -1;
    SendMessageA(status, SB_SETPARTS, static_cast<WPARAM>(parts), reinterpret_cast<LPARAM>(edges));
    if (parts == kStatusParts)
        SendMessageA(status, SB_SETTEXTA, static_cast<WPARAM>(kStatusParts - 1),
                     reinterpret_cast<LPARAM>(info));
}

LRESULT CALLBACK main_window_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    auto* app = reinterpret_cast<Win32App*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (msg == WM_CREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lparam);
        app = static_cast<Win32App*>(create->lpCreateParams);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(app));
        app->hwnd = hwnd;
        app->status =
            CreateStatusWindowA(WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, "hoge", hwnd, kStatusBarId);
        // A status window of its own, placed by hand above the status bar.
        app->line = CreateWindowExA(
            0, STATUSCLASSNAMEA, "", WS_CHILD | CCS_NOPARENTALIGN | CCS_NORESIZE | CCS_NODIVIDER, 0,
            0, 0, 0, hwnd, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kCompareLineId)),
            create->hInstance, nullptr);
        if (app->line) SendMessageA(app->line, SB_SIMPLE, TRUE, 0);
        app->menu = GetMenu(hwnd);
        // Each playback group is one choice of several: its mark is a bullet.
        for (int id = kCmdRateTick; id <= kCmdEveryFrame; ++id) {
            MENUITEMINFOA item{};
            item.cbSize = sizeof item;
            item.fMask = MIIM_FTYPE;
            if (!GetMenuItemInfoA(app->menu, static_cast<UINT>(id), FALSE, &item)) continue;
            item.fType |= MFT_RADIOCHECK;
            SetMenuItemInfoA(app->menu, static_cast<UINT>(id), FALSE, &item);
        }
        app->instance = create->hInstance;
        window_created(app->win);
        if (app->watch && app->watch->created) app->watch->created(*app);
        return 0;
    }
    if (app == nullptr) return DefWindowProcA(hwnd, msg, wparam, lparam);
    switch (msg) {
        case WM_DESTROY:
            // No tick may come for a window that is gone, nor the finer timer
            // resolution outlive playback.
            stop_timer(app);
            PostQuitMessage(0);
            return 0;
        case WM_SIZE:
            SendMessageA(app->status, WM_SIZE, wparam, lparam);
            layout_status_parts(app->status, app->info_text);
            layout_below_picture(*app, LOWORD(lparam), HIWORD(lparam));
            return 0;
        case WM_LBUTTONDOWN: {
            // Captured, so a drag that leaves the window still moves the picture
            // or the playhead.
            SetCapture(hwnd);
            RECT client{};
            GetClientRect(hwnd, &client);
            const int y = GET_Y_LPARAM(lparam);
            const int top = timeline_top(*app, client.bottom);
            if (y >= top && y < top + kTimelineHeight) {
                app->scrubbing = true;
                window_timeline_press(app->win, timeline_x(GET_X_LPARAM(lparam), client.right),
                                      client.right);
                return 0;
            }
            app->drag_from = {GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)};
            app->dragging = true;
            window_press(app->win, GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam));
            return 0;
        }
        case WM_MOUSEMOVE: {
            const POINT at{GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)};
            if (app->scrubbing) {
                RECT client{};
                GetClientRect(hwnd, &client);
                window_timeline_drag(app->win, timeline_x(at.x, client.right), client.right);
            } else if (app->dragging) {
                const POINT from = app->drag_from;
                app->drag_from = at;
                window_drag(app->win, at.x - from.x, at.y - from.y);
            }
            if (wparam & MK_RBUTTON) window_probe(app->win, at.x, at.y);
            return 0;
        }
        case WM_LBUTTONUP:
            app->dragging = false;
            app->scrubbing = false;
            if ((wparam & MK_RBUTTON) == 0) ReleaseCapture();
            return 0;
        case WM_RBUTTONDOWN:
            SetCapture(hwnd);
            window_probe(app->win, GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam));
            return 0;
        case WM_RBUTTONUP:
            window_probe_end(app->win);
            if (!app->dragging && !app->scrubbing) ReleaseCapture();
            return 0;
        case WM_CAPTURECHANGED:
            app->dragging = false;
            app->scrubbing = false;
            window_probe_end(app->win);
            return 0;
        case WM_MOUSEWHEEL:
            window_wheel(app->win, GET_WHEEL_DELTA_WPARAM(wparam),
                         (GET_KEYSTATE_WPARAM(wparam) & MK_SHIFT) != 0);
            return 0;
        case WM_MOUSEHWHEEL:
            // Tilted to the right (positive) moves the view right.
            window_wheel(app->win, -GET_WHEEL_DELTA_WPARAM(wparam), true);
            return 0;
        case WM_PAINT:
            on_paint(*app);
            return 0;
        case WM_KEYDOWN:
            window_key(app->win, static_cast<int>(wparam));
            return 0;
        case WM_TIMER:
            if (wparam != kScopesTimerId) return DefWindowProcA(hwnd, msg, wparam, lparam);
            // One shot: the window logic asks again when it wants to.
            KillTimer(hwnd, kScopesTimerId);
            window_scopes_poll(app->win);
            return 0;
        case kMsgTick:
            // One posted before a stop or a restart belongs to no run.
            if (app->ticking && wparam == app->tick_serial.load()) on_tick(*app);
            return 0;
        case WM_DROPFILES:
            on_drop(*app, reinterpret_cast<HDROP>(wparam));
            return 0;
        case WM_COMMAND:
            window_command(app->win, LOWORD(wparam));
            return 0;
        case kWakeMessage:
            window_compare_ready(app->win);
            return 0;
        default:
            return DefWindowProcA(hwnd, msg, wparam, lparam);
    }
}

LRESULT CALLBACK scopes_window_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    auto* app = reinterpret_cast<Win32App*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (msg == WM_CREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lparam);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        return 0;
    }
    if (app == nullptr) return DefWindowProcA(hwnd, msg, wparam, lparam);
    switch (msg) {
        case WM_ERASEBKGND:
            return 1;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(hwnd, &ps);
            const ScopesPicture shown = window_scopes_picture(app->win);
            if (shown.pixels) {
                // Top row first: a negative height.
                BITMAPINFO bitmap{};
                bitmap.bmiHeader.biSize = sizeof bitmap.bmiHeader;
                bitmap.bmiHeader.biWidth = shown.width;
                bitmap.bmiHeader.biHeight = -shown.height;
                bitmap.bmiHeader.biPlanes = 1;
                bitmap.bmiHeader.biBitCount = 32;
                bitmap.bmiHeader.biCompression = BI_RGB;
                SetDIBitsToDevice(
                    dc, 0, 0, static_cast<DWORD>(shown.width), static_cast<DWORD>(shown.height), 0,
                    0, 0, static_cast<UINT>(shown.height), shown.pixels, &bitmap, DIB_RGB_COLORS);
            } else {
                HBRUSH dark = CreateSolidBrush(RGB(18, 18, 18));
                FillRect(dc, &ps.rcPaint, dark);
                DeleteObject(dark);
            }
            EndPaint(hwnd, &ps);
            return 0;
        }
        case WM_CLOSE:
            ShowWindow(hwnd, SW_HIDE);
            window_scopes_closed(app->win);
            return 0;
        default:
            return DefWindowProcA(hwnd, msg, wparam, lparam);
    }
}

INT_PTR CALLBACK text_dialog_proc(HWND dialog, UINT msg, WPARAM wparam, LPARAM lparam) {
    if (msg == WM_INITDIALOG) {
        const auto* shown = reinterpret_cast<const TextShown*>(lparam);
        SetWindowTextA(dialog, shown->title);
        // Edit fields break lines at "\r\n".
        std::string text;
        for (const char* p = shown->text; *p; ++p) {
            if (*p == '\n') text += '\r';
            text += *p;
        }
        SendDlgItemMessageA(dialog, IDC_INFO_TEXT, WM_SETFONT,
                            reinterpret_cast<WPARAM>(GetStockObject(ANSI_FIXED_FONT)), FALSE);
        SetDlgItemTextA(dialog, IDC_INFO_TEXT, text.c_str());
        return TRUE;
    }
    if (msg == WM_COMMAND && (LOWORD(wparam) == IDCANCEL || LOWORD(wparam) == IDOK)) {
        EndDialog(dialog, 0);
        return TRUE;
    }
    return FALSE;
}

INT_PTR show_text_box(HINSTANCE instance, HWND owner, const char* title, const char* text) {
    TextShown shown{title, text};
    return DialogBoxParamA(instance, "INFODLG", owner, text_dialog_proc,
                           reinterpret_cast<LPARAM>(&shown));
}

INT_PTR CALLBACK goto_dialog_proc(HWND dialog, UINT msg, WPARAM wparam, LPARAM lparam) {
    if (msg == WM_INITDIALOG) {
        const auto* question = reinterpret_cast<const FrameQuestion*>(lparam);
        SetWindowLongPtrA(dialog, DWLP_USER, lparam);
        SetDlgItemTextA(dialog, IDC_GOTO_PROMPT, question->prompt);
        SetDlgItemTextA(dialog, IDC_GOTO_FRAME, question->text);
        // The current number selected, so typing replaces it.
        SendDlgItemMessageA(dialog, IDC_GOTO_FRAME, EM_SETSEL, 0, -1);
        return TRUE;
    }
    if (msg != WM_COMMAND) return FALSE;
    if (LOWORD(wparam) == IDOK) {
        const auto* question =
            reinterpret_cast<const FrameQuestion*>(GetWindowLongPtrA(dialog, DWLP_USER));
        // Never cut short: the start of a longer text could read as another number.
        if (GetWindowTextLengthA(GetDlgItem(dialog, IDC_GOTO_FRAME)) < question->capacity)
            GetDlgItemTextA(dialog, IDC_GOTO_FRAME, question->text, question->capacity);
        else if (question->capacity > 0)
            question->text[0] = '\0';
        EndDialog(dialog, 1);
        return TRUE;
    }
    if (LOWORD(wparam) == IDCANCEL) {
        EndDialog(dialog, 0);
        return TRUE;
    }
    return FALSE;
}

INT_PTR CALLBACK about_dialog_proc(HWND dialog, UINT msg, WPARAM wparam, LPARAM) {
    if (msg != WM_COMMAND) return FALSE;
    if (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL) EndDialog(dialog, 0);
    return TRUE;
}
