// karvelin.exe: start-up and the message loop.
#include <windows.h>

// After windows.h, which it needs.
#include <commctrl.h>

#include <cstdio>
#include <string>
#include <vector>

#include "ui/command_line.h"
#include "ui/frame_info.h"
#include "ui/usage.h"
#include "ui/win32/front_win32.h"
#if defined(KARVELIN_TRACE_HOOK)
#include "ui/win32/trace_win32.h"
#endif

namespace {

// The viewer state is large (conversion tables, paths) and lives for the whole
// run, so it is not put on the stack.
Win32App g_app;

void exiting(int code, const char* why) {
    if (g_app.watch && g_app.watch->exiting) g_app.watch->exiting(code, why);
}

// Writes `text` to a standard handle; false when the program has none there.
bool write_std(DWORD which, const std::string& text) {
    HANDLE h = GetStdHandle(which);
    if (h == nullptr || h == INVALID_HANDLE_VALUE || GetFileType(h) == FILE_TYPE_UNKNOWN)
        return false;
    DWORD written = 0;
    return text.empty() ||
           WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) != FALSE;
}

// karvelin --info FRAME. A GUI program has no console of its own: where its
// output goes somewhere (redirected to a file or a pipe, as scripts do) the
// listing is written there and the reason for a failure to its error output;
// started without, it shows either in the Frame Info box. Exit 0 or 1 alike.
int info(const CommandLine& options) {
    std::string listing, error;
    const int code = info_command(options.frame.c_str(), listing, error);
    if (write_std(STD_OUTPUT_HANDLE, listing)) {
        write_std(STD_ERROR_HANDLE, error);
        return code;
    }
    show_text_box(g_app.instance, nullptr, "Frame Info",
                  code == 0 ? listing.c_str() : error.c_str());
    return code;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
    install_win32_front(g_app);
    g_app.instance = instance;
#if defined(KARVELIN_TRACE_HOOK)
    install_trace(g_app);
#endif

    std::vector<std::string> words;
    split_command_text(command_line_rest(GetCommandLineA()), words);
    std::vector<const char*> word_texts;
    for (const std::string& w : words) word_texts.push_back(w.c_str());
    CommandLine options;
    // A GUI program has no console to print to: --help, --version and a wrong
    // option answer in a box.
    if (parse_command_words(static_cast<int>(word_texts.size()), word_texts.data(), options) != 0) {
        MessageBoxA(nullptr, options.error.c_str(), "Karvelin", MB_OK | MB_ICONERROR);
        return 2;
    }
    if (options.answer) {
        static char box[4096];
        message_box_text(options.answer, box, sizeof box);
        MessageBoxA(nullptr, box, "Karvelin", MB_OK | MB_ICONINFORMATION);
        return 0;
    }
    if (options.info) {
        const int code = info(options);
        exiting(code, "");
        return code;
    }
    const bool too_long = options.frame.size() >= static_cast<std::size_t>(kPathMax);
    // A named path that is empty once its quotes are gone still opens (and fails).
    const char* path = options.named && !too_long ? options.frame.c_str() : nullptr;
    if (window_startup(g_app.win, path, &options) != 0) return 1;
    // A named path that does not fit is refused like any file that cannot be opened.
    if (too_long) show_error(g_app.win.viewer, kMsgCantOpen);

    // Makes sure the status bar's window class is registered before the window
    // procedure creates one.
    InitCommonControls();
    if (register_window_class(instance) != 0) {
        exiting(1, "class");
        return 1;
    }
    HWND hwnd = create_main_window(g_app);
    if (hwnd == nullptr) {
        char why[64];
        std::snprintf(why, sizeof why, "window, error %lu", GetLastError());
        exiting(1, why);
        return 1;
    }
    ShowWindow(hwnd, show);
    UpdateWindow(hwnd);
    DragAcceptFiles(hwnd, TRUE);

    // Ctrl+G for File > Go to Frame...; the comparison's keys while one is open.
    HACCEL shortcuts = LoadAcceleratorsA(instance, "MAINACCEL");
    HACCEL compare_keys = LoadAcceleratorsA(instance, "COMPAREACCEL");
    MSG msg{};
    int got;
    // GetMessage returns -1 on an error; looping on it would spin forever.
    while ((got = GetMessageA(&msg, nullptr, 0, 0)) > 0) {
        if (shortcuts != nullptr && TranslateAcceleratorA(hwnd, shortcuts, &msg)) continue;
        if (compare_keys != nullptr && g_app.win.compare.active &&
            TranslateAcceleratorA(hwnd, compare_keys, &msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    const int code = got < 0 ? 1 : static_cast<int>(msg.wParam);
    window_stop_background(g_app.win);
    window_shutdown(g_app.win);
    exiting(code, "");
    return code;
}
