#include "ui/win32/front_win32.h"

#include <gtest/gtest.h>
#include <windows.h>

// After windows.h, which it needs.
#include <commctrl.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "ui/win32/resource.h"

namespace {

std::string path_of(const char* command_line, int capacity = kPathMax, int* result = nullptr) {
    std::vector<char> out(static_cast<std::size_t>(capacity), 'X');
    const int r = command_line_path(command_line, out.data(), capacity);
    if (result) *result = r;
    return out.data();
}

// Wine without an X display cannot create windows; the Windows test script
// runs these tests under Xvfb, elsewhere they skip.
bool can_create_windows() {
    HWND probe = CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
    if (probe == nullptr) return false;
    DestroyWindow(probe);
    return true;
}

}  // namespace

TEST(CommandLine, TheTextAfterTheProgramNameIsOnePathWithoutItsQuotes) {
    // What Explorer passes: both quotes go, so the chosen frame's own name is kept.
    EXPECT_EQ(path_of("\"C:\\Program Files\\k.exe\" \"D:\\my seq\\Cafe_00042.dpx\""),
              "D:\\my seq\\Cafe_00042.dpx");
    // Unquoted, spaces and all, taken whole.
    EXPECT_EQ(path_of("k.exe D:\\my seq\\Cafe_00042.dpx  "), "D:\\my seq\\Cafe_00042.dpx");
    EXPECT_EQ(path_of("k.exe\t\t\"D:\\a.dpx\"  "), "D:\\a.dpx");
    // An opening quote with no closing one.
    EXPECT_EQ(path_of("k.exe \"D:\\a b.dpx"), "D:\\a b.dpx");
    // Nothing named, and a named path that is empty once its quotes are gone.
    int result = -1;
    for (const char* nothing :
         {"\"C:\\k k\\k.exe\"", "k.exe   ", static_cast<const char*>(nullptr)}) {
        EXPECT_EQ(path_of(nothing, kPathMax, &result), "");
        EXPECT_EQ(result, 0);
    }
    for (const char* empty : {"k.exe \"\"", "k.exe \"", "\"k k.exe\" \" "}) {
        EXPECT_EQ(path_of(empty, kPathMax, &result), "") << empty;
        EXPECT_EQ(result, 1) << empty;
    }
}

TEST(CommandLine, APathThatDoesNotFitIsRefusedWhole) {
    const std::string fits(kPathMax - 1, 'a');
    int result = 1;
    EXPECT_EQ(path_of(("k.exe \"" + fits + "\"").c_str(), kPathMax, &result), fits);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(path_of(("k.exe " + fits + "b").c_str(), kPathMax, &result), "");
    EXPECT_EQ(result, -1);
    EXPECT_EQ(path_of("k.exe abc", 3, &result), "");
    EXPECT_EQ(result, -1);
}

TEST(Resources, MenuIdsAreTheWindowLogicsCommandsWithTheDefaultsChecked) {
    HMENU menu = LoadMenuA(GetModuleHandleA(nullptr), "MAINMENU");
    ASSERT_NE(menu, nullptr);
    std::vector<std::string> names;
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        char name[32] = {};
        GetMenuStringA(menu, static_cast<UINT>(i), name, sizeof name, MF_BYPOSITION);
        names.push_back(name);
    }
    ASSERT_EQ(names, (std::vector<std::string>{"File(&F)", "Size(&S)", "Color(&C)", "Playback(&P)",
                                               "Compare", "View(&V)", "Help(&H)"}));
    std::vector<int> ids;
    for (int i = 0; i < static_cast<int>(names.size()); ++i) {
        HMENU sub = GetSubMenu(menu, i);
        ASSERT_NE(sub, nullptr);
        for (int j = 0; j < GetMenuItemCount(sub); ++j)
            ids.push_back(static_cast<int>(GetMenuItemID(sub, j)));
    }
    // The separator reports id 0.
    EXPECT_EQ(ids, (std::vector<int>{kCmdOpen,
                                     kCmdGoToFrame,
                                     kCmdFrameInfo,
                                     kCmdCompareWith,
                                     kCmdCloseCompare,
                                     0,
                                     kCmdExit,
                                     kCmdSizeOriginal,
                                     kCmdSizeHalf,
                                     kCmdSizeQuarter,
                                     kCmdSizeEighth,
                                     kCmdConvert,
                                     kCmdGamutWarning,
                                     kCmdRangeWarning,
                                     kCmdRateTick,
                                     kCmdRate23976,
                                     kCmdRate24,
                                     kCmdRate25,
                                     kCmdRate2997,
                                     kCmdRate30,
                                     kCmdRate48,
                                     kCmdRate50,
                                     kCmdRate5994,
                                     kCmdRate60,
                                     kCmdRate120,
                                     kCmdRateFromFile,
                                     0,
                                     kCmdRealTime,
                                     kCmdEveryFrame,
                                     kCmdShowA,
                                     kCmdShowB,
                                     kCmdToggleAB,
                                     kCmdWipe,
                                     kCmdSideBySide,
                                     kCmdDifference,
                                     kCmdSignedDifference,
                                     0,
                                     kCmdGainUp,
                                     kCmdGainDown,
                                     0,
                                     kCmdOffsetLater,
                                     kCmdOffsetEarlier,
                                     kCmdOffsetZero,
                                     kCmdScopes,
                                     kCmdAbout}));
    // Ctrl+G is the shortcut of Go to Frame and Ctrl+I that of Frame Info, and
    // there are no others.
    HACCEL shortcuts = LoadAcceleratorsA(GetModuleHandleA(nullptr), "MAINACCEL");
    ASSERT_NE(shortcuts, nullptr);
    ACCEL table[4] = {};
    ASSERT_EQ(CopyAcceleratorTableA(shortcuts, table, 4), 2);
    const int commands[2] = {kCmdGoToFrame, kCmdFrameInfo};
    const char keys[2] = {'G', 'I'};
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(table[i].cmd, commands[i]);
        EXPECT_EQ(table[i].key, keys[i]);
        EXPECT_EQ(table[i].fVirt & (FVIRTKEY | FCONTROL | FSHIFT | FALT), FVIRTKEY | FCONTROL);
    }
    DestroyAcceleratorTable(shortcuts);
    // The comparison's keys, plain letters and brackets (the loop translates
    // them only while a comparison is open).
    shortcuts = LoadAcceleratorsA(GetModuleHandleA(nullptr), "COMPAREACCEL");
    ASSERT_NE(shortcuts, nullptr);
    ACCEL compare_table[16] = {};
    ASSERT_EQ(CopyAcceleratorTableA(shortcuts, compare_table, 16), 12);
    std::vector<std::pair<int, int>> compare_keys;
    for (int i = 0; i < 12; ++i)
        compare_keys.push_back(
            {compare_table[i].cmd,
             compare_table[i].key | ((compare_table[i].fVirt & FSHIFT) ? 0x100 : 0)});
    EXPECT_EQ(compare_keys, (std::vector<std::pair<int, int>>{{kCmdShowA, 'A'},
                                                              {kCmdShowB, 'B'},
                                                              {kCmdToggleAB, 'T'},
                                                              {kCmdWipe, 'W'},
                                                              {kCmdSideBySide, 'S'},
                                                              {kCmdDifference, 'D'},
                                                              {kCmdSignedDifference, 0x100 | 'D'},
                                                              {kCmdGainUp, 'G'},
                                                              {kCmdGainDown, 0x100 | 'G'},
                                                              {kCmdOffsetLater, VK_OEM_6},
                                                              {kCmdOffsetEarlier, VK_OEM_4},
                                                              {kCmdOffsetZero, '0'}}));
    DestroyAcceleratorTable(shortcuts);
    // One item checked in each group: 1/4 Size, the 16 ms tick and real time.
    for (int id : ids) {
        if (id == 0) continue;
        EXPECT_EQ((GetMenuState(menu, static_cast<UINT>(id), MF_BYCOMMAND) & MF_CHECKED) != 0,
                  id == kCmdSizeQuarter || id == kCmdRateTick || id == kCmdRealTime)
            << id;
    }
    DestroyMenu(menu);
}

TEST(Resources, IconAndAManifestAskingOnlyForTheInvokersLevel) {
    HMODULE module = GetModuleHandleA(nullptr);
    HICON icon =
        static_cast<HICON>(LoadImageA(module, MAKEINTRESOURCEA(IDI_ICON), IMAGE_ICON, 32, 32, 0));
    EXPECT_NE(icon, nullptr);
    if (icon) DestroyIcon(icon);

    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    ASSERT_NE(found, nullptr);
    const char* data = static_cast<const char*>(LockResource(LoadResource(module, found)));
    ASSERT_NE(data, nullptr);
    const std::string manifest(data, SizeofResource(module, found));
    EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos);
    // Nothing else: no common-controls dependency, no DPI or compatibility claims.
    EXPECT_EQ(manifest.find("dependency"), std::string::npos);
    EXPECT_EQ(manifest.find("dpiAware"), std::string::npos);
    EXPECT_EQ(manifest.find("compatibility"), std::string::npos);
}

TEST(AboutBox, LayoutAndClosingByOkOrCancel) {
    if (!can_create_windows()) GTEST_SKIP() << "no display";
    HWND dialog =
        CreateDialogParamA(GetModuleHandleA(nullptr), "ABOUTDLG", nullptr, about_dialog_proc, 0);
    ASSERT_NE(dialog, nullptr);
    char text[64] = {};
    GetWindowTextA(dialog, text, sizeof text);
    EXPECT_STREQ(text, "About");
    HWND ok = GetDlgItem(dialog, IDOK);
    ASSERT_NE(ok, nullptr);
    GetWindowTextA(ok, text, sizeof text);
    EXPECT_STREQ(text, "OK");
    // The button sits at 55,102 and is 40x14 dialog units (the dialog manager
    // converts the position and the size separately).
    RECT at{55, 102, 0, 0}, size{0, 0, 40, 14};
    MapDialogRect(dialog, &at);
    MapDialogRect(dialog, &size);
    RECT actual{};
    GetWindowRect(ok, &actual);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&actual), 2);
    EXPECT_EQ(actual.left, at.left);
    EXPECT_EQ(actual.top, at.top);
    EXPECT_EQ(actual.right - actual.left, size.right);
    EXPECT_EQ(actual.bottom - actual.top, size.bottom);
    int controls = 0;
    for (HWND c = GetWindow(dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) ++controls;
    EXPECT_EQ(controls, 9);

    // Initialisation and unknown commands: not handled / handled, box stays.
    EXPECT_EQ(about_dialog_proc(dialog, WM_INITDIALOG, 0, 0), FALSE);
    EXPECT_EQ(about_dialog_proc(dialog, WM_COMMAND, MAKEWPARAM(77, 0), 0), TRUE);
    ShowWindow(dialog, SW_SHOW);
    EXPECT_TRUE(IsWindowVisible(dialog));
    // Cancel (Esc or the close box) ends it like OK.
    EXPECT_EQ(about_dialog_proc(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0), TRUE);
    EXPECT_FALSE(IsWindowVisible(dialog));
    DestroyWindow(dialog);
}

TEST(StatusBar, PartsEndAtWidthMinus250AndMinus110AndTheFarRight) {
    if (!can_create_windows()) GTEST_SKIP() << "no display";
    HWND parent = CreateWindowA("STATIC", "", WS_OVERLAPPEDWINDOW, 0, 0, 800, 300, nullptr, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(parent, nullptr);
    HWND bar =
        CreateStatusWindowA(WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, "hoge", parent, kStatusBarId);
    ASSERT_NE(bar, nullptr);
    layout_status_parts(bar, "");
    RECT r{};
    GetClientRect(bar, &r);
    int edges[4] = {};
    ASSERT_EQ(SendMessageA(bar, SB_GETPARTS, 4, reinterpret_cast<LPARAM>(edges)), 3);
    EXPECT_EQ(edges[0], r.right - 250);
    EXPECT_EQ(edges[1], r.right - 110);
    EXPECT_EQ(edges[2], -1);
    // A fourth part with a text takes the far right; the first three keep their widths.
    layout_status_parts(bar, "23.98/23.976 fps, 0 dropped");
    ASSERT_EQ(SendMessageA(bar, SB_GETPARTS, 4, reinterpret_cast<LPARAM>(edges)), 4);
    EXPECT_EQ(edges[1] - edges[0], 140);
    EXPECT_EQ(edges[2] - edges[1], 110);
    EXPECT_LT(edges[2], r.right - 60);
    EXPECT_EQ(edges[3], -1);
    char text[64] = {};
    SendMessageA(bar, SB_GETTEXTA, 3, reinterpret_cast<LPARAM>(text));
    EXPECT_STREQ(text, "23.98/23.976 fps, 0 dropped");
    // The text ends before the size grip.
    RECT last{};
    SendMessageA(bar, SB_GETRECT, 3, reinterpret_cast<LPARAM>(&last));
    HDC dc = GetDC(bar);
    SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(bar, WM_GETFONT, 0, 0)));
    SIZE extent{};
    GetTextExtentPoint32A(dc, text, static_cast<int>(std::strlen(text)), &extent);
    ReleaseDC(bar, dc);
    EXPECT_GE(last.right - last.left - GetSystemMetrics(SM_CXVSCROLL), extent.cx);
    DestroyWindow(parent);
}
