#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/test_files.h"

// An independent decoder must read the DPX files the tests and the generator
// write exactly as they were meant: every 16-bit sample in its place.
TEST(DpxFilesDecodeElsewhere, FfmpegReadsEverySampleWritten) {
    if (std::system("ffmpeg -version >/dev/null 2>&1") != 0) GTEST_SKIP() << "ffmpeg not installed";
    TempDir dir;
    const int w = 37, h = 11;
    const auto rgb = test_pattern(w, h, 12);
    const std::string in = dir.file("frame.dpx");
    const std::string out = dir.file("frame.raw");
    ASSERT_EQ(write_dpx_file(in, w, h, rgb.data()), 0);
    const std::string command = "ffmpeg -v error -y -f image2 -i '" + in +
                                "' -f rawvideo -pix_fmt rgb48be '" + out + "' </dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const std::vector<std::uint8_t> raw = read_whole_file(out);
    ASSERT_EQ(raw.size(), rgb.size() * 2);
    std::size_t wrong = 0;
    for (std::size_t i = 0; i < rgb.size(); ++i)
        if (((raw[2 * i] << 8) | raw[2 * i + 1]) != rgb[i]) ++wrong;
    EXPECT_EQ(wrong, 0u);
}
