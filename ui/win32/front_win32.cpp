// Win32 front end of the viewer window.
#include "ui/win32/front_win32.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>

#include <cstring>

namespace {

Win32App& app_of(void* context) {
    return *static_cast<Win32App*>(context);
}

void fit_picture(void* context, int width, int height) {
    Win32App& app = app_of(context);
    RECT bar{};
    if (app.status != nullptr) GetWindowRect(app.status, &bar);
    RECT outer{0, 0, width, height};
    AdjustWindowRect(&outer, WS_OVERLAPPEDWINDOW, TRUE);
    SetWindowPos(app.hwnd, nullptr, 0, 0, outer.right - outer.left,
                 outer.bottom - outer.top + (bar.bottom - bar.top), SWP_NOMOVE | SWP_NOZORDER);
}

void repaint(void* context) {
    Win32App& app = app_of(context);
    InvalidateRect(app.hwnd, nullptr, FALSE);
    UpdateWindow(app.hwnd);
}

void set_status(void* context, int part, const char* text) {
    Win32App& app = app_of(context);
    SendMessageA(app.status, SB_SETTEXTA, static_cast<WPARAM>(part),
                 reinterpret_cast<LPARAM>(text));
}

void start_timer(void* context) {
    SetTimer(app_of(context).hwnd, kTimerId, kTimerMs, nullptr);
}

void stop_timer(void* context) {
    KillTimer(app_of(context).hwnd, kTimerId);
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

void check_menu(void* context, int id, bool checked) {
    Win32App& app = app_of(context);
    CheckMenuItem(app.menu, static_cast<UINT>(id),
                  MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED));
}

void beep(void*) {
    MessageBeep(MB_OK);
}

void error_box(void* context, const char* message, const char* caption) {
    const Win32App& app = app_of(context);
    if (app.watch && app.watch->error_box && app.watch->error_box(message, caption)) return;
    MessageBoxA(nullptr, message, caption, MB_OK);
}

void on_paint(Win32App& app) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(app.hwnd, &ps);
    const FrameStore& store = app.win.viewer.store;
    // After a failed allocation the display is 0x0 with no pixels: nothing to draw.
    if (store.pixels != nullptr && display_width(store) > 0 && display_height(store) > 0)
        SetDIBitsToDevice(dc, 0, 0, static_cast<DWORD>(display_width(store)),
                          static_cast<DWORD>(display_height(store)), 0, 0, 0,
                          static_cast<UINT>(display_height(store)), store.pixels,
                          reinterpret_cast<const BITMAPINFO*>(&store.bitmap), DIB_RGB_COLORS);
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
    f.check_menu = check_menu;
    f.beep = beep;
    app.win.viewer.error_box = error_box;
    app.win.viewer.error_context = &app;
}

int command_line_path(const char* command_line, char* out, int capacity) {
    if (capacity <= 0) return -1;
    out[0] = '\0';
    if (command_line == nullptr) return 0;
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
    return RegisterClassA(&wc) != 0 ? 0 : -1;
}

HWND create_main_window(Win32App& app) {
    const FrameStore& store = app.win.viewer.store;
    return CreateWindowA(kWindowClass, kWindowClass, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                         CW_USEDEFAULT, display_width(store), display_height(store), nullptr,
                         nullptr, app.instance, &app);
}

void layout_status_parts(HWND status) {
    RECT r{};
    GetClientRect(status, &r);
    const int w = r.right - r.left;
    int edges[kStatusParts] = {w - 250, w - 110, -1};
    SendMessageA(status, SB_SETPARTS, kStatusParts, reinterpret_cast<LPARAM>(edges));
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
        app->menu = GetMenu(hwnd);
        app->instance = create->hInstance;
        window_created(app->win);
        if (app->watch && app->watch->created) app->watch->created(*app);
        return 0;
    }
    if (app == nullptr) return DefWindowProcA(hwnd, msg, wparam, lparam);
    switch (msg) {
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        case WM_SIZE:
            SendMessageA(app->status, WM_SIZE, wparam, lparam);
            layout_status_parts(app->status);
            return 0;
        case WM_PAINT:
            on_paint(*app);
            return 0;
        case WM_KEYDOWN:
            window_key(app->win, static_cast<int>(wparam));
            return 0;
        case WM_TIMER:
            window_tick(app->win);
            return 0;
        case WM_DROPFILES:
            on_drop(*app, reinterpret_cast<HDROP>(wparam));
            return 0;
        case WM_COMMAND:
            window_command(app->win, LOWORD(wparam));
            return 0;
        default:
            return DefWindowProcA(hwnd, msg, wparam, lparam);
    }
}

INT_PTR CALLBACK about_dialog_proc(HWND dialog, UINT msg, WPARAM wparam, LPARAM) {
    if (msg != WM_COMMAND) return FALSE;
    if (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL) EndDialog(dialog, 0);
    return TRUE;
}
