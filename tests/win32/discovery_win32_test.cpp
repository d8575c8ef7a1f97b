#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/sequence.h"
#include "support/test_files.h"

namespace {

std::vector<std::string> listed(const Sequence& seq) {
    std::vector<std::string> names;
    for (int n = 0; n < seq.frame_count; ++n) names.emplace_back(frame_name(seq, n));
    return names;
}

void set_path(Sequence& seq, const std::string& path) {
    ASSERT_LT(path.size(), sizeof seq.current_path);
    std::memcpy(seq.current_path, path.c_str(), path.size() + 1);
}

bool make_ansi_file(const std::string& path) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    CloseHandle(h);
    return true;
}

struct Win32Discovery : ::testing::Test {
    TempDir dir;
    Sequence seq;
    ~Win32Discovery() override { release_sequence(seq); }
};

// "表" in Shift-JIS: its trail byte is the code of '\'.
#define HYOU "\x95\x5C"

}  // namespace

TEST_F(Win32Discovery, ListingIgnoresCaseButTheChosenNameMustMatchExactly) {
    for (const char* name : {"f01.dpx", "f02.dpx", "F03.DPX", "f4.dpx"})
        ASSERT_TRUE(make_ansi_file(dir.file(name))) << name;
    set_path(seq, dir.file("f02.dpx"));
    ASSERT_EQ(discover_sequence(seq), 0);
    const std::vector<std::string> names = listed(seq);
    ASSERT_EQ(names.size(), 3u);
    EXPECT_EQ(names[static_cast<std::size_t>(seq.current_frame)], "f02.dpx");
    EXPECT_STREQ(seq.current_path + seq.name_slot, "f02.dpx");
    EXPECT_EQ(std::string(seq.work), dir.file("f??.dpx"));

    set_path(seq, dir.file("F02.DPX"));
    ASSERT_EQ(discover_sequence(seq), 0);
    EXPECT_EQ(seq.frame_count, 3);
    EXPECT_EQ(seq.current_frame, 0);
}

TEST_F(Win32Discovery, ShiftJisNamesWhoseTrailByteLooksLikeTheSeparator) {
    if (GetACP() != 932)
        GTEST_SKIP() << "needs the ANSI code page 932 (LC_ALL=ja_JP.UTF-8 under Wine)";
    const std::string folder = dir.file(HYOU);
    ASSERT_EQ(make_folder(folder), 0);
    for (const char* name : {HYOU "x01.dpx", HYOU "x02.dpx", HYOU "x03.dpx"})
        ASSERT_TRUE(make_ansi_file(folder + "\\" + name)) << name;
    // Read byte by byte, the 0x5C after 0x95 would end the name at "x02.dpx".
    set_path(seq, folder + "\\" HYOU "x02.dpx");
    ASSERT_EQ(discover_sequence(seq), 0);
    EXPECT_EQ(std::string(seq.work), folder + "\\" HYOU "x??.dpx");
    EXPECT_STREQ(seq.current_path + seq.name_slot, HYOU "x02.dpx");
    EXPECT_EQ(listed(seq),
              (std::vector<std::string>{HYOU "x01.dpx", HYOU "x02.dpx", HYOU "x03.dpx"}));
    EXPECT_EQ(seq.current_frame, 1);
}
