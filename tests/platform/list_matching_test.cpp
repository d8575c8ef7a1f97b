#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include "platform/platform.h"
#include "support/test_files.h"

// Windows file names cannot hold '*', compare without case and have no FIFOs;
// the Win32 layer's own versions of these cases are in tests/win32.
#if !defined(_WIN32)
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

}  // namespace

TEST(ListMatching, QuestionMarkIsOneCharacterAndEverythingElseIsLiteral) {
    TempDir dir;
    for (const char* name :
         {"a01.dpx", "a02.dpx", "a1.dpx", "a001.dpx", "A01.dpx", "a0x.dpx", "[1]*.dpx", ".a03.dpx"})
        ASSERT_EQ(write_file(dir.file(name), {1}), 0);
    EXPECT_EQ(list(dir.file("a??.dpx")),
              (std::vector<std::string>{"a01.dpx", "a02.dpx", "a0x.dpx"}));
    EXPECT_EQ(list(dir.file("[1]*.dpx")), (std::vector<std::string>{"[1]*.dpx"}));
    EXPECT_EQ(list(dir.file("????????")),
              (std::vector<std::string>{".a03.dpx", "[1]*.dpx", "a001.dpx"}));
    EXPECT_EQ(list(dir.file("b??.dpx")), (std::vector<std::string>{"<none>"}));
    EXPECT_EQ(list(dir.file("nofolder/a??.dpx")), (std::vector<std::string>{"<none>"}));
}

TEST(FileOpen, RefusesFoldersAndFifosWithoutBlockingAndSaysWhy) {
    TempDir dir;
    FileOpenFailure why = kOpenFailed;
    EXPECT_EQ(file_open_read(dir.path().c_str(), &why), kNoFile);
    EXPECT_EQ(why, kOpenNotRegularFile);
    const std::string fifo = dir.file("f0001.dpx");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    why = kOpenFailed;
    EXPECT_EQ(file_open_read(fifo.c_str(), &why), kNoFile);
    EXPECT_EQ(why, kOpenNotRegularFile);
    EXPECT_EQ(file_open_read(dir.file("missing.dpx").c_str(), &why), kNoFile);
    EXPECT_EQ(why, kOpenNoSuchFile);
    EXPECT_EQ(file_open_read(dir.file("missing/f0001.dpx").c_str(), &why), kNoFile);
    EXPECT_EQ(why, kOpenNoSuchFile);
}
#endif

TEST(FileRead, PositionalReadsReadWhereTheySay) {
    TempDir dir;
    std::vector<std::uint8_t> bytes(100000);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7);
    ASSERT_EQ(write_file(dir.file("x"), bytes), 0);
    FileHandle f = file_open_read(dir.file("x").c_str());
    ASSERT_NE(f, kNoFile);
    EXPECT_EQ(file_size(f), 100000);
    std::vector<std::uint8_t> b(10);
    EXPECT_EQ(file_read_at(f, b.data(), 10, 1000), 10);
    EXPECT_TRUE(std::equal(b.begin(), b.end(), bytes.begin() + 1000));
    EXPECT_EQ(file_read_at(f, b.data(), 10, 99995), 5);
    EXPECT_EQ(file_read_at(f, b.data(), 10, -1), -1);
    file_close(f);
}
