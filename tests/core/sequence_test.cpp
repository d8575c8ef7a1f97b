#include "core/sequence.h"

#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "support/test_files.h"

namespace {

/// Every entry of the frame list, checking that each is NUL-terminated and
/// zero-padded to the entry's end.
std::vector<std::string> listed(const Sequence& seq) {
    std::vector<std::string> names;
    for (int n = 0; n < seq.frame_count; ++n) {
        const char* entry = frame_name(seq, n);
        const std::size_t length = strnlen(entry, static_cast<std::size_t>(seq.longest_name) + 1);
        EXPECT_LE(length, static_cast<std::size_t>(seq.longest_name)) << "entry " << n;
        for (int i = static_cast<int>(length); i <= seq.longest_name; ++i)
            EXPECT_EQ(entry[i], '\0') << "entry " << n << " byte " << i;
        names.emplace_back(entry, length);
    }
    return names;
}

void set_path(Sequence& seq, const std::string& path) {
    ASSERT_LT(path.size(), sizeof seq.current_path);
    std::memcpy(seq.current_path, path.c_str(), path.size() + 1);
}

void touch(const std::string& path) {
    ASSERT_EQ(write_file(path, {0x53}), 0) << path;
}

struct SequenceFixture : ::testing::Test {
    TempDir dir;
    Sequence seq;
    ~SequenceFixture() override { release_sequence(seq); }
};

}  // namespace

using Discovery = SequenceFixture;

TEST_F(Discovery, ListsSiblingsInNameOrderWhateverTheCreationOrder) {
    std::vector<int> numbers(60);
    for (int i = 0; i < 60; ++i) numbers[i] = i;
    std::shuffle(numbers.begin(), numbers.end(), std::mt19937(7));
    std::vector<std::string> expected;
    for (int n : numbers) {
        char name[32];
        std::snprintf(name, sizeof name, "Cafe_%05d.dpx", n * 3);
        touch(dir.file(name));
    }
    for (int i = 0; i < 60; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "Cafe_%05d.dpx", i * 3);
        expected.push_back(name);
    }
    // Near misses: other length, other extension, other prefix, letter for a digit.
    for (const char* other :
         {"Cafe_000001.dpx", "Cafe_00001.dpy", "Cafa_00001.dpx", "Cafe_00001.dpx.bak"})
        touch(dir.file(other));

    set_path(seq, dir.file("Cafe_00042.dpx"));
    ASSERT_EQ(discover_sequence(seq), 0);
    EXPECT_EQ(listed(seq), expected);
    EXPECT_EQ(seq.frame_count, 60);
    EXPECT_EQ(seq.longest_name, 14);
    EXPECT_EQ(seq.current_frame, 14);  // 42 / 3
    EXPECT_EQ(seq.source_format, kFormatDpx);
    EXPECT_STREQ(seq.current_path + seq.name_slot, "Cafe_00042.dpx");
    EXPECT_EQ(std::string(seq.work), dir.file("Cafe_?????.dpx"));
}

TEST_F(Discovery, HiddenFilesAndFoldersAreFrames) {
    touch(dir.file(".a1.dpx"));
    touch(dir.file(".a2.dpx"));
    ASSERT_EQ(make_folder(dir.file(".a3.dpx")), 0);
    set_path(seq, dir.file(".a2.dpx"));
    ASSERT_EQ(discover_sequence(seq), 0);
    EXPECT_EQ(listed(seq), (std::vector<std::string>{".a1.dpx", ".a2.dpx", ".a3.dpx"}));
    EXPECT_EQ(seq.current_frame, 1);
}

// Windows names cannot hold '*' or '?', the system lists them without regard
// to case and folders cannot be made unreadable by mode bits; the Win32 versions
// of these cases are in tests/win32.
#if !defined(_WIN32)
TEST_F(Discovery, NamesWithSpacesBracketsStarsAndUtf8) {
    const std::string base = "Caf\xC3\xA9 [take*2] ";
    for (const char* n : {"01", "02", "10"}) touch(dir.file(base + n + ".4K.r"));
    touch(dir.file("Cafe [take*2] 01.4K.r"));
    set_path(seq, dir.file(base + "10.4K.r"));
    ASSERT_EQ(discover_sequence(seq), 0);
    EXPECT_EQ(listed(seq),
              (std::vector<std::string>{base + "01.4K.r", base + "02.4K.r", base + "10.4K.r"}));
    EXPECT_EQ(seq.current_frame, 2);
    EXPECT_EQ(seq.source_format, kFormatPlanar);
}

TEST_F(Discovery, FolderWithPatternCharactersInItsName) {
    const std::string sub = dir.file("shot[1]*?");
    ASSERT_EQ(mkdir(sub.c_str(), 0700), 0);
    touch(sub + "/f1.dpx");
    touch(sub + "/f2.dpx");
    set_path(seq, sub + "/f2.dpx");
    ASSERT_EQ(discover_sequence(seq), 0);
    EXPECT_EQ(listed(seq), (std::vector<std::string>{"f1.dpx", "f2.dpx"}));
    EXPECT_EQ(seq.current_frame, 1);
}

TEST_F(Discovery, ChosenNameIsMatchedExactly) {
    touch(dir.file("f01.dpx"));
    touch(dir.file("f02.dpx"));
    touch(dir.file("F03.dpx"));
    // A case-different chosen name matches nothing in the case-sensitive listing.
    set_path(seq, dir.file("F03.dpx"));
    ASSERT_EQ(discover_sequence(seq), 0);
    EXPECT_EQ(listed(seq), (std::vector<std::string>{"F03.dpx"}));
    EXPECT_EQ(seq.current_frame, 0);
    // A chosen name that is not on disk still opens its siblings.
    set_path(seq, dir.file("f07.dpx"));
    ASSERT_EQ(discover_sequence(seq), 0);
    EXPECT_EQ(seq.frame_count, 2);
    EXPECT_EQ(seq.current_frame, 0);
}

// Quotes, '?', '*' and '[' are ordinary characters of a name here: only the frame
// digits vary, so neighbouring sequences whose names differ at those characters
// stay apart.
TEST_F(Discovery, QuotesAndPatternCharactersInNamesMatchOnlyThemselves) {
    const struct {
        const char* chosen;
        std::vector<std::string> frames;
        std::vector<std::string> others;
    } cases[] = {
        {"say\"hi\"_0002.dpx",
         {"say\"hi\"_0001.dpx", "say\"hi\"_0002.dpx"},
         {"say\"hi_0001.dpx", "sayXhiX_0001.dpx", "say\"hi\"_0001.dpx\""}},
        {"shot?_0002.dpx",
         {"shot?_0000.dpx", "shot?_0002.dpx"},
         {"shotB_0000.dpx", "shotC_0001.dpx", "shot?x0001.dpx"}},
        {"take*_01.4K.r", {"take*_01.4K.r", "take*_02.4K.r"}, {"takeX_01.4K.r", "take**_1.4K.r"}},
        {"[a-z]1_7.dpx", {"[a-z]1_7.dpx", "[a-z]1_8.dpx"}, {"b1_7.dpx", "[a-z]2_7.dpx"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.chosen);
        TempDir here;
        for (const auto& n : c.frames) touch(here.file(n));
        for (const auto& n : c.others) touch(here.file(n));
        set_path(seq, here.file(c.chosen));
        ASSERT_EQ(discover_sequence(seq), 0);
        EXPECT_EQ(listed(seq), c.frames);
        EXPECT_STREQ(frame_name(seq, seq.current_frame), c.chosen);
    }
}

#endif

TEST_F(Discovery, FailureKeepsThePreviousListAndCurrentFrame) {
    for (const char* n : {"a1.dpx", "a2.dpx", "a3.dpx"}) touch(dir.file(n));
    set_path(seq, dir.file("a3.dpx"));
    ASSERT_EQ(discover_sequence(seq), 0);
    ASSERT_EQ(seq.current_frame, 2);
    const char* list = seq.frame_list;

    for (const std::string& missing :
         {dir.file("b1.dpx"), dir.file("nofolder/a1.dpx"), dir.path() + "/", std::string("")}) {
        SCOPED_TRACE(missing);
        set_path(seq, missing);
        EXPECT_EQ(discover_sequence(seq), -1);
        EXPECT_EQ(seq.frame_count, 0);
        EXPECT_EQ(seq.longest_name, 0);
        EXPECT_EQ(seq.current_frame, 2);
        EXPECT_EQ(seq.frame_list, list);
        EXPECT_STREQ(seq.frame_list, "a1.dpx");
    }
}

#if !defined(_WIN32)
TEST_F(Discovery, UnreadableFolderFails) {
    touch(dir.file("a1.dpx"));
    ASSERT_EQ(chmod(dir.path().c_str(), 0300), 0);
    set_path(seq, dir.file("a1.dpx"));
    // Root may list anything; the check only means something for other users.
    if (geteuid() != 0) {
        EXPECT_EQ(discover_sequence(seq), -1);
    }
    chmod(dir.path().c_str(), 0700);
}

#endif

TEST_F(Discovery, RediscoveryReplacesAListOfOtherShape) {
    for (int i = 0; i < 30; ++i) touch(dir.file("long_name_" + std::to_string(100 + i) + ".dpx"));
    touch(dir.file("s1.dpx"));
    touch(dir.file("s2.dpx"));
    set_path(seq, dir.file("long_name_105.dpx"));
    ASSERT_EQ(discover_sequence(seq), 0);
    EXPECT_EQ(seq.frame_count, 30);
    EXPECT_EQ(seq.current_frame, 5);
    set_path(seq, dir.file("s2.dpx"));
    ASSERT_EQ(discover_sequence(seq), 0);
    EXPECT_EQ(listed(seq), (std::vector<std::string>{"s1.dpx", "s2.dpx"}));
    EXPECT_EQ(seq.longest_name, 6);
    EXPECT_EQ(seq.current_frame, 1);
}

#if !defined(_WIN32)
TEST_F(Discovery, PathAtTheLimit) {
    // Nest folders until the chosen frame's path is exactly kPathMax - 1 bytes.
    const std::string frame = "f01.dpx";
    std::string folder = dir.path();
    const std::size_t target = static_cast<std::size_t>(kPathMax) - 1 - frame.size() - 1;
    ASSERT_LT(folder.size() + 2, target);
    while (folder.size() < target) {
        const std::size_t room = target - folder.size() - 1;  // minus the separator
        std::size_t part = std::min<std::size_t>(200, room);
        // Never leave a remainder too short for one more folder name.
        if (room > 200 && room - 200 < 2) part = 150;
        folder.push_back('/');
        folder.append(part, 'd');
        ASSERT_EQ(mkdir(folder.c_str(), 0700), 0) << folder.size();
    }
    ASSERT_EQ(folder.size(), target);
    touch(folder + "/f01.dpx");
    touch(folder + "/f02.dpx");
    const std::string chosen = folder + "/f02.dpx";
    ASSERT_EQ(chosen.size(), static_cast<std::size_t>(kPathMax) - 1);
    set_path(seq, chosen);
    ASSERT_EQ(discover_sequence(seq), 0);
    EXPECT_EQ(listed(seq), (std::vector<std::string>{"f01.dpx", "f02.dpx"}));
    EXPECT_EQ(seq.current_frame, 1);
    EXPECT_EQ(seq.name_slot, static_cast<int>(folder.size()) + 1);
}
#endif
