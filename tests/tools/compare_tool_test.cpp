// Runs karvelin-compare on sequences the test writes: its lines, its summary
// and its exit status.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "support/run_program.h"
#include "support/test_files.h"

namespace {

constexpr int kW = 20;
constexpr int kH = 10;

RunResult compare(const TempDir& dir, const std::string& args, bool terminal = false) {
    return run_program(dir, KARVELIN_COMPARE, args, terminal);
}

/// Writes `stem`0.dpx .. `stem`<count - 1>.dpx of the test pattern of seed i.
void write_sequence(const TempDir& dir, const std::string& stem, int count) {
    for (int i = 0; i < count; ++i)
        ASSERT_EQ(write_dpx_file(dir.file(stem + std::to_string(i) + ".dpx"), kW, kH,
                                 test_pattern(kW, kH, i).data()),
                  0);
}

/// Frame `i` of the pattern with red of pixel (x, y) raised by `by`.
void write_changed(const TempDir& dir, const std::string& name, int i, int x, int y, int by) {
    auto rgb = test_pattern(kW, kH, i);
    std::uint16_t& red = rgb[(static_cast<std::size_t>(y) * kW + x) * 3];
    red = static_cast<std::uint16_t>(red >= 60000 ? red - by : red + by);
    ASSERT_EQ(write_dpx_file(dir.file(name), kW, kH, rgb.data()), 0);
}

std::string lines(const std::string& text, const std::string& prefix) {
    std::string found;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(at, end - at);
        if (line.rfind(prefix, 0) == 0) found += line + "\n";
        at = end + 1;
    }
    return found;
}

}  // namespace

TEST(CompareTool, ExitStatusLinesAndSummarySayWhetherAndWhereTheSequencesDiffer) {
    TempDir dir;
    write_sequence(dir, "a_", 3);
    write_sequence(dir, "b_", 3);
    const std::string ab = "'" + dir.file("a_0.dpx") + "' '" + dir.file("b_1.dpx") + "'";
    RunResult r = compare(dir, ab);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(lines(r.out, "frame 2: "), "frame 2: a_2.dpx b_2.dpx: identical\n");
    EXPECT_EQ(lines(r.out, "3 pairs"), "3 pairs compared: 3 identical, 0 differ; all identical\n");

    // One sample of frame 1 off by 300, and all of frame 2's red: the first
    // difference is frame 1's, at that pixel.
    write_changed(dir, "b_1.dpx", 1, 13, 6, 300);
    write_changed(dir, "b_2.dpx", 2, 0, 0, 1);
    r = compare(dir, ab);
    EXPECT_EQ(r.status, 1) << r.err;
    char psnr[32];
    std::snprintf(psnr, sizeof psnr, "%.2f",
                  10 * std::log10(65535.0 * 65535.0 * kW * kH / (300.0 * 300.0)));
    EXPECT_EQ(lines(r.out, "frame 1: "),
              std::string("frame 1: a_1.dpx b_1.dpx: PSNR R ") + psnr +
                  " G inf B inf dB, max R 300 G 0 B 0, 1 sample differs, first at (13, 6)\n");
    EXPECT_EQ(lines(r.out, "3 pairs"),
              "3 pairs compared: 1 identical, 2 differ; these two sequences differ, first at "
              "frame 1, pixel (13, 6)\n");
    r = compare(dir, "--first-difference " + ab);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(lines(r.out, "frame 2"), "");
    EXPECT_NE(r.out.find("2 of 3 pairs compared"), std::string::npos) << r.out;
    r = compare(dir, "--csv " + ab);
    std::snprintf(psnr, sizeof psnr, "%.4f",
                  10 * std::log10(65535.0 * 65535.0 * kW * kH / (300.0 * 300.0)));
    // MSE: 300^2 over the 200 pixels.
    EXPECT_EQ(lines(r.out, "1,"),
              std::string("1,a_1.dpx,b_1.dpx,16,") + psnr + ",inf,inf,450,0,0,300,0,0,1,13,6,\n");
    r = compare(dir, "--json " + ab);
    EXPECT_NE(r.out.find("\"first_difference\": {\"frame\": 1, \"x\": 13, \"y\": 6}"),
              std::string::npos)
        << r.out;

    // B one frame behind A, with a frame of its own first: --offset 1 pairs
    // them; that first frame is named but is no error.
    ASSERT_EQ(write_dpx_file(dir.file("c_0.dpx"), kW, kH, test_pattern(kW, kH, 7).data()), 0);
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(write_dpx_file(dir.file("c_" + std::to_string(i + 1) + ".dpx"), kW, kH,
                                 test_pattern(kW, kH, i).data()),
                  0);
    r = compare(dir, "--offset 1 '" + dir.file("a_0.dpx") + "' '" + dir.file("c_0.dpx") + "'");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("all identical; frame 0 of B (c_0.dpx) has no partner (not compared)"),
              std::string::npos)
        << r.out;
}

TEST(CompareTool, MissingFramesSizesAndBadArgumentsEndWithStatusTwo) {
    TempDir dir;
    write_sequence(dir, "a_", 3);
    write_sequence(dir, "b_", 2);
    // A's frame 2 has no partner: the pairs there are are still compared.
    RunResult r = compare(dir, "'" + dir.file("a_0.dpx") + "' '" + dir.file("b_0.dpx") + "'");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("frame 2 of A (a_2.dpx) has no partner"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("frame 1: a_1.dpx b_1.dpx: identical"), std::string::npos) << r.out;
    // A pair of two sizes names the frame and both sizes.
    ASSERT_EQ(write_dpx_file(dir.file("b_2.dpx"), kH, kH, test_pattern(kH, kH, 2).data()), 0);
    r = compare(dir, "'" + dir.file("a_0.dpx") + "' '" + dir.file("b_0.dpx") + "'");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("karvelin-compare: b_2.dpx: 10x10, a_2.dpx is 20x10"), std::string::npos)
        << r.err;
    EXPECT_EQ(compare(dir, "'" + dir.file("a_0.dpx") + "' '" + dir.file("none_0.dpx") + "'").status,
              2);
    EXPECT_EQ(compare(dir, "'" + dir.file("a_0.dpx") + "'").status, 2);
    EXPECT_EQ(compare(dir, "--offset x a b").status, 2);
    EXPECT_EQ(compare(dir, "--help").status, 0);
}

TEST(CompareTool, AProgressLineOnATerminalOnly) {
    TempDir dir;
    write_sequence(dir, "a_", 2);
    const std::string ab = "'" + dir.file("a_0.dpx") + "' '" + dir.file("a_1.dpx") + "'";
    EXPECT_EQ(compare(dir, ab).err.find("pair 1 of 2"), std::string::npos);
    const RunResult r = compare(dir, ab, true);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("\rpair 2 of 2: a_1.dpx"), std::string::npos) << r.out;
}
