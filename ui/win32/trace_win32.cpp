// The window trace of the test builds (see trace_win32.h).
#include "ui/win32/trace_win32.h"

#include <commctrl.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

/// Writes one line to the trace file. Opened per line so that the log is
/// complete whenever the program stops.
void trace_line(const char* format, ...) {
    const char* file = std::getenv("KARVELIN_TRACE");
    if (file == nullptr || *file == '\0') return;
    std::FILE* out = std::fopen(file, "ab");
    if (out == nullptr) return;
    va_list args;
    va_start(args, format);
    std::vfprintf(out, format, args);
    va_end(args);
    std::fputc('\n', out);
    std::fclose(out);
}

/// The menu bar as the window class loaded it.
void trace_menu(const Win32App& app) {
    const int count = GetMenuItemCount(app.menu);
    for (int i = 0; i < count; ++i) {
        char text[128] = {};
        GetMenuStringA(app.menu, static_cast<UINT>(i), text, sizeof text, MF_BYPOSITION);
        trace_line("menu %s", text);
        HMENU sub = GetSubMenu(app.menu, i);
        const int items = sub ? GetMenuItemCount(sub) : 0;
        for (int j = 0; j < items; ++j) {
            const UINT id = GetMenuItemID(sub, j);
            const UINT state = GetMenuState(sub, static_cast<UINT>(j), MF_BYPOSITION);
            char item[128] = {};
            GetMenuStringA(sub, static_cast<UINT>(j), item, sizeof item, MF_BYPOSITION);
            if (state & MF_SEPARATOR)
                trace_line("item separator");
            else
                trace_line("item %u %s%s", id, item, (state & MF_CHECKED) ? " [checked]" : "");
        }
    }
}

/// After a paint: the status texts, the client area and where it is on screen.
void trace_paint(const Win32App& app) {
    char parts[kStatusParts][kPathMax];
    for (int i = 0; i < kStatusParts; ++i) {
        parts[i][0] = '\0';
        if (LOWORD(SendMessageA(app.status, SB_GETTEXTLENGTHA, static_cast<WPARAM>(i), 0)) <
            kPathMax)
            SendMessageA(app.status, SB_GETTEXTA, static_cast<WPARAM>(i),
                         reinterpret_cast<LPARAM>(parts[i]));
    }
    RECT client{}, bar{};
    GetClientRect(app.hwnd, &client);
    GetWindowRect(app.status, &bar);
    POINT origin{0, 0};
    ClientToScreen(app.hwnd, &origin);
    static char last[4 * kPathMax];
    char line[4 * kPathMax];
    std::snprintf(line, sizeof line,
                  "paint %s|%s|%s client %ldx%ld bar %ld display %dx%d at %ld,%ld", parts[0],
                  parts[1], parts[2], client.right, client.bottom, bar.bottom - bar.top,
                  display_width(app.win.viewer.store), display_height(app.win.viewer.store),
                  origin.x, origin.y);
    // Playback repaints every 16 ms; only changes are worth a line.
    if (std::strcmp(line, last) == 0) return;
    std::strcpy(last, line);
    trace_line("%s", line);
}

void trace_dialog(const char* dialog, int result) {
    trace_line("%s %d", dialog, result);
}

bool trace_error(const char* message, const char* caption) {
    trace_line("error %s|%s", caption, message);
    return true;
}

void trace_exit(int code, const char* why) {
    if (why != nullptr && *why != '\0')
        trace_line("exit %d (%s)", code, why);
    else
        trace_line("exit %d", code);
}

}  // namespace

void install_trace(Win32App& app) {
    const char* file = std::getenv("KARVELIN_TRACE");
    if (file == nullptr || *file == '\0') return;
    static Win32Watch watch;
    watch.created = trace_menu;
    watch.painted = trace_paint;
    watch.dialog_closed = trace_dialog;
    watch.error_box = trace_error;
    watch.exiting = trace_exit;
    app.watch = &watch;
}
