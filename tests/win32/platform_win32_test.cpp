#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/win32/mbcs.h"
#include "support/test_files.h"

namespace {

int collect(void* context, const char* name) {
    static_cast<std::vector<std::string>*>(context)->push_back(name);
    return 0;
}

std::vector<std::string> list(const std::string& pattern) {
    std::vector<std::string> names;
    if (list_matching(pattern.c_str(), nullptr, collect, &names) != 0) names.push_back("<none>");
    std::sort(names.begin(), names.end());
    return names;
}

// Makes an empty file through the ANSI entry point, so the name's bytes are read
// in the process's code page just as the viewer's own calls read them.
bool make_ansi_file(const std::string& path) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    CloseHandle(h);
    return true;
}

constexpr unsigned kShiftJis = 932;
constexpr unsigned kWesternEurope = 1252;
// "表" in Shift-JIS: its trail byte is the code of '\'.
#define HYOU "\x95\x5C"

}  // namespace

TEST(Win32List, QuestionMarkIsExactlyOneCharacterAndCaseIsIgnored) {
    TempDir dir;
    for (const char* name : {"f_0001.dpx", "F_0002.DPX", "f_abcd.dpx", "f_1.dpx", "f_00001.dpx",
                             "f_0003.dpx.bak", "g_0001.dpx"})
        ASSERT_EQ(write_file(dir.file(name), {1}), 0) << name;
    ASSERT_TRUE(CreateDirectoryA(dir.file("f_0009.dpx").c_str(), nullptr));
    ASSERT_EQ(write_file(dir.file("f_0004.dpx"), {1}), 0);
    ASSERT_TRUE(SetFileAttributesA(dir.file("f_0004.dpx").c_str(), FILE_ATTRIBUTE_HIDDEN));

    // Folders and hidden files are listed like any frame; a '?' never matches
    // nothing (the system's own rule before a dot) and never two characters.
    EXPECT_EQ(list(dir.file("f_????.dpx")),
              (std::vector<std::string>{"F_0002.DPX", "f_0001.dpx", "f_0004.dpx", "f_0009.dpx",
                                        "f_abcd.dpx"}));
    EXPECT_EQ(list(dir.file("F_0001.DPX")), (std::vector<std::string>{"f_0001.dpx"}));
    EXPECT_EQ(list(dir.file("f_?.dpx")), (std::vector<std::string>{"f_1.dpx"}));
    EXPECT_EQ(list(dir.file("h_????.dpx")), (std::vector<std::string>{"<none>"}));
    EXPECT_EQ(list(dir.file("nofolder\\f_????.dpx")), (std::vector<std::string>{"<none>"}));
    EXPECT_EQ(list(dir.path() + "\\"), (std::vector<std::string>{"<none>"}));
}

TEST(Win32List, ShortNamesOfLongFilesDoNotMatch) {
    TempDir dir;
    ASSERT_EQ(write_file(dir.file("abcdefgh.dpx"), {1}), 0);
    ASSERT_EQ(write_file(dir.file("a_rather_long_name_0001.dpx"), {1}), 0);
    // The long file's 8.3 alias has eight characters before ".DPX" and would
    // match, bringing a frame of another sequence into the list.
    EXPECT_EQ(list(dir.file("????????.dpx")), (std::vector<std::string>{"abcdefgh.dpx"}));
}

TEST(Win32List, CallbackCanStopTheListing) {
    TempDir dir;
    for (const char* name : {"s1.dpx", "s2.dpx", "s3.dpx"})
        ASSERT_EQ(write_file(dir.file(name), {1}), 0);
    int calls = 0;
    auto stop_at_first = [](void* context, const char*) {
        ++*static_cast<int*>(context);
        return 1;
    };
    EXPECT_EQ(list_matching(dir.file("s?.dpx").c_str(), nullptr, stop_at_first, &calls), 0);
    EXPECT_EQ(calls, 1);
}

TEST(Win32FileOpen, RefusesFoldersDevicesAndPipesWithoutBlockingAndSaysWhy) {
    TempDir dir;
    FileOpenFailure why = kOpenFailed;
    EXPECT_EQ(file_open_read(dir.path().c_str(), &why), kNoFile);
    EXPECT_EQ(why, kOpenNotRegularFile);
    EXPECT_EQ(file_open_read(dir.file("missing.dpx").c_str(), &why), kNoFile);
    EXPECT_EQ(why, kOpenNoSuchFile);
    EXPECT_EQ(file_open_read(dir.file("missing\\f0001.dpx").c_str(), &why), kNoFile);
    EXPECT_EQ(why, kOpenNoSuchFile);
    EXPECT_EQ(file_open_read(""), kNoFile);
    why = kOpenFailed;
    EXPECT_EQ(file_open_read("NUL", &why), kNoFile);
    EXPECT_EQ(why, kOpenNotRegularFile);

    const std::string pipe = "\\\\.\\pipe\\karvelin-test-" + std::to_string(GetCurrentProcessId());
    HANDLE server = CreateNamedPipeA(pipe.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE | PIPE_WAIT,
                                     1, 4096, 4096, 0, nullptr);
    ASSERT_NE(server, INVALID_HANDLE_VALUE);
    // A reader on the pipe would wait for a writer that never writes.
    EXPECT_EQ(file_open_read(pipe.c_str()), kNoFile);
    CloseHandle(server);
}

TEST(Win32FileRead, PositionalReadsAndFilesSharedForReading) {
    TempDir dir;
    std::vector<std::uint8_t> bytes(70000);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 13 + 5);
    ASSERT_EQ(write_file(dir.file("x.dpx"), bytes), 0);
    FileHandle f = file_open_read(dir.file("x.dpx").c_str());
    ASSERT_NE(f, kNoFile);
    FileHandle g = file_open_read(dir.file("x.dpx").c_str());
    EXPECT_NE(g, kNoFile);
    file_close(g);

    std::uint8_t b[8];
    ASSERT_EQ(file_read_at(f, b, 8, 60000), 8);
    EXPECT_TRUE(std::equal(b, b + 8, bytes.begin() + 60000));
    ASSERT_EQ(file_read_at(f, b, 8, 100), 8);
    EXPECT_TRUE(std::equal(b, b + 8, bytes.begin() + 100));

    EXPECT_EQ(file_read_at(f, b, 8, 69996), 4);
    EXPECT_EQ(file_read_at(f, b, 8, 70000), 0);
    EXPECT_EQ(file_read_at(f, b, 8, 1 << 30), 0);
    EXPECT_EQ(file_read_at(f, b, 8, -1), -1);
    EXPECT_EQ(file_size(f), 70000);
    file_close(f);
    file_close(kNoFile);
}

TEST(Win32Heap, BlocksAreZeroFilledAndEmptyRequestsStillSucceed) {
    auto* block = static_cast<unsigned char*>(heap_alloc_zeroed(1 << 20));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(std::count(block, block + (1 << 20), 0), 1 << 20);
    heap_free(block);
    void* empty = heap_alloc_zeroed(0);
    EXPECT_NE(empty, nullptr);
    heap_free(empty);
    heap_free(nullptr);
}

TEST(MultibyteStepping, TrailBytesAreNeverTakenForCharactersOfTheirOwn) {
    const char path[] = "D:\\" HYOU "0001.dpx";
    // Walking back from the end must visit the two-byte character at its lead
    // byte (3) only, never its trail byte 0x5C (4), which looks like '\'.
    std::vector<int> visited;
    for (int pos = static_cast<int>(sizeof path) - 1; pos >= 0;
         pos = mb_char_prev(kShiftJis, path, pos))
        visited.push_back(pos);
    EXPECT_EQ(visited, (std::vector<int>{13, 12, 11, 10, 9, 8, 7, 6, 5, 3, 2, 1, 0}));
    EXPECT_EQ(mb_char_length(kShiftJis, path, 3), 2);
    EXPECT_EQ(mb_char_length(kShiftJis, path, 5), 1);
    // A lead byte cut off by the end of the text is one byte on its own.
    EXPECT_EQ(mb_char_length(kShiftJis, "\x95", 0), 1);

    // In a single-byte code page every byte is a character.
    EXPECT_EQ(mb_char_prev(kWesternEurope, path, 5), 4);
    EXPECT_EQ(mb_char_prev(kWesternEurope, path, 0), -1);
}

TEST(MultibyteStepping, NamesMatchCharacterByCharacterWithoutCase) {
    EXPECT_TRUE(mb_name_matches(kShiftJis, "?0001.dpx", HYOU "0001.dpx"));
    EXPECT_FALSE(mb_name_matches(kShiftJis, "??0001.dpx", HYOU "0001.dpx"));
    EXPECT_TRUE(mb_name_matches(kShiftJis, HYOU "????.DPX", HYOU "0042.dpx"));
    EXPECT_FALSE(mb_name_matches(kShiftJis, HYOU "????.dpx", HYOU "042.dpx"));
    // é and É are the same letter to the file system.
    EXPECT_TRUE(mb_name_matches(kWesternEurope, "caf\xC9_??.dpx", "caf\xE9_01.dpx"));
    EXPECT_FALSE(mb_name_matches(kWesternEurope, "cafe_??.dpx", "cafe_01.dpxx"));
    EXPECT_FALSE(mb_name_matches(kWesternEurope, "cafe_??.dpx", "cafe_01.dp"));
}

TEST(MultibyteStepping, ListsShiftJisNamesUnderAJapaneseSystemLocale) {
    if (GetACP() != kShiftJis)
        GTEST_SKIP() << "needs the ANSI code page 932 (run with LC_ALL=ja_JP.UTF-8 under Wine)";
    TempDir dir;
    for (const char* name : {HYOU "0001.dpx", HYOU "0002.dpx", "x0003.dpx"})
        ASSERT_TRUE(make_ansi_file(dir.file(name))) << name;
    // The name part starts after the real '\', not after the trail byte of 表.
    EXPECT_EQ(list(dir.file(HYOU "????.dpx")),
              (std::vector<std::string>{HYOU "0001.dpx", HYOU "0002.dpx"}));
    const std::string path = dir.file(HYOU "0001.dpx");
    const int end = static_cast<int>(path.size());
    int pos = end;
    for (int i = 0; i < 9; ++i) pos = path_char_prev(path.c_str(), pos);
    EXPECT_EQ(pos, end - 10);  // 表 is two bytes but one step.
    pos = path_char_prev(path.c_str(), pos);
    EXPECT_EQ(pos, end - 11);
    EXPECT_EQ(path[pos], '\\');
}
