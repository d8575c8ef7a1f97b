// Runs karvelin-mkseq and reads what it wrote back.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/run_program.h"
#include "support/test_files.h"

namespace {

namespace fs = std::filesystem;

RunResult mkseq(const TempDir& dir, const std::string& args, bool terminal = false) {
    return run_program(dir, KARVELIN_MKSEQ, args, terminal);
}

std::uint32_t be32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) << 24 | static_cast<std::uint32_t>(b[at + 1]) << 16 |
           static_cast<std::uint32_t>(b[at + 2]) << 8 | b[at + 3];
}

std::uint16_t be16(const std::vector<std::uint8_t>& b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] << 8 | b[at + 1]);
}

struct Picture {
    int width = 0, height = 0;
    std::vector<std::uint16_t> rgb;  // width x height x 3, top row first
    std::uint16_t at(int x, int y, int c) const {
        return rgb[(static_cast<std::size_t>(y) * width + x) * 3 + c];
    }
};

// Checks the DPX header fields a reader relies on and returns the samples.
Picture read_dpx(const std::string& path, int width, int height) {
    Picture p;
    const std::vector<std::uint8_t> b = read_whole_file(path);
    const std::size_t pixels_bytes = static_cast<std::size_t>(width) * height * 6;
    EXPECT_EQ(b.size(), 2048 + pixels_bytes) << path;
    if (b.size() != 2048 + pixels_bytes) return p;
    EXPECT_EQ(std::string(b.begin(), b.begin() + 4), "SDPX");
    EXPECT_EQ(be32(b, 4), 2048u);  // image data offset
    EXPECT_EQ(std::string(b.begin() + 8, b.begin() + 12), "V2.0");
    EXPECT_EQ(be32(b, 16), b.size());  // file size
    EXPECT_EQ(be16(b, 770), 1);        // one image element
    EXPECT_EQ(be32(b, 772), static_cast<std::uint32_t>(width));
    EXPECT_EQ(be32(b, 776), static_cast<std::uint32_t>(height));
    EXPECT_EQ(b[800], 50);           // descriptor RGB
    EXPECT_EQ(b[803], 16);           // bits per sample
    EXPECT_EQ(be16(b, 804), 0);      // packing
    EXPECT_EQ(be16(b, 806), 0);      // encoding
    EXPECT_EQ(be32(b, 808), 2048u);  // element data offset
    p.width = width;
    p.height = height;
    p.rgb.resize(static_cast<std::size_t>(width) * height * 3);
    for (std::size_t i = 0; i < p.rgb.size(); ++i) p.rgb[i] = be16(b, 2048 + 2 * i);
    return p;
}

constexpr std::uint16_t code(int c) {
    return static_cast<std::uint16_t>(c << 8);
}

// The white run of the moving box: the last white run in `y`, as its first x.
int last_white_run_start(const Picture& p, int y) {
    int start = -1;
    for (int x = 0; x < p.width; ++x)
        if (p.at(x, y, 0) == code(235) && (x == 0 || p.at(x - 1, y, 0) != code(235))) start = x;
    return start;
}

}  // namespace

TEST(Mkseq, DpxSequenceNamesHeaderAndPicture) {
    TempDir dir;
    const int w = 140, h = 100;
    const RunResult r =
        mkseq(dir, "-o '" + dir.file("out") + "' -n clip_ -s 140x100 -c 3 -f 98 -d 3");
    ASSERT_EQ(r.status, 0) << r.err;

    // Exactly the numbers 098, 099, 100, zero-padded to three digits.
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir.file("out")))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"clip_098.dpx", "clip_099.dpx", "clip_100.dpx"}));

    const Picture a = read_dpx(dir.file("out/clip_098.dpx"), w, h);
    const Picture b = read_dpx(dir.file("out/clip_099.dpx"), w, h);
    ASSERT_FALSE(a.rgb.empty());
    ASSERT_FALSE(b.rgb.empty());

    // 75% bars in video range, left to right, checked in the middle of each.
    const int bars[7][3] = {{180, 180, 180}, {180, 180, 16}, {16, 180, 180}, {16, 180, 16},
                            {180, 16, 180},  {180, 16, 16},  {16, 16, 180}};
    for (int i = 0; i < 7; ++i)
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(a.at((2 * i + 1) * w / 14, h / 5, c), code(bars[i][c]));

    // The gray ramp runs from black to white, never falling, equal channels.
    const int ramp = h / 2;
    EXPECT_EQ(a.at(0, ramp, 0), code(16));
    EXPECT_EQ(a.at(w - 1, ramp, 0), code(235));
    for (int x = 1; x < w; ++x) {
        EXPECT_GE(a.at(x, ramp, 0), a.at(x - 1, ramp, 0));
        EXPECT_EQ(a.at(x, ramp, 1), a.at(x, ramp, 0));
        EXPECT_EQ(a.at(x, ramp, 2), a.at(x, ramp, 0));
    }

    // The 1-pixel checker at the left flips between every pair of neighbours.
    const int check = h * 65 / 100;
    for (int x = 1; x < w / 8; ++x) {
        EXPECT_NE(a.at(x, check, 0), a.at(x - 1, check, 0)) << x;
        EXPECT_NE(a.at(x, check, 0), a.at(x, check + 1, 0)) << x;
    }

    // Frames differ only in the bottom band (number and box); the box moves
    // right from one frame number to the next.
    const std::size_t band = static_cast<std::size_t>(h * 75 / 100) * w * 3;
    EXPECT_TRUE(std::equal(a.rgb.begin(), a.rgb.begin() + band, b.rgb.begin()));
    EXPECT_FALSE(std::equal(a.rgb.begin() + band, a.rgb.end(), b.rgb.begin() + band));
    const int box_row = h * 7 / 8;
    EXPECT_GT(last_white_run_start(b, box_row), last_white_run_start(a, box_row));
    EXPECT_GT(last_white_run_start(a, box_row), w / 4);  // right of the digits

    // The digits of 098 and 099 differ in the last digit only: the columns of
    // the first two digits are identical, and those digits are drawn (white).
    bool white_in_digits = false, last_digit_differs = false;
    for (int y = h * 75 / 100; y < h; ++y) {
        for (int x = 0; x < w / 4; ++x) {
            if (a.at(x, y, 0) == code(235)) white_in_digits = true;
            if (a.at(x, y, 0) != b.at(x, y, 0)) last_digit_differs = true;
        }
    }
    EXPECT_TRUE(white_in_digits);
    EXPECT_TRUE(last_digit_differs);
}

TEST(Mkseq, OddAndExtremeSizesGiveWholeFiles) {
    TempDir dir;
    for (const char* size : {"1x1", "7x3", "7680x1", "1x4320", "13x9"}) {
        const RunResult r = mkseq(dir, std::string("-o '") + dir.path() + "' -n s -c 1 -s " + size);
        ASSERT_EQ(r.status, 0) << size << ": " << r.err;
        int w = 0, h = 0;
        ASSERT_EQ(std::sscanf(size, "%dx%d", &w, &h), 2);
        const Picture p = read_dpx(dir.file("s0000.dpx"), w, h);
        EXPECT_EQ(p.width, w) << size;
        // Every sample is a video-range code in its top byte.
        for (std::uint16_t v : p.rgb) {
            EXPECT_GE(v >> 8, 16);
            EXPECT_LE(v >> 8, 235);
        }
    }
}

// FFmpeg is an independent DPX reader: it must see the same samples.
TEST(Mkseq, FfmpegDecodesTheSamplesWritten) {
    if (std::system("ffmpeg -version >/dev/null 2>&1") != 0) GTEST_SKIP() << "ffmpeg not installed";
    TempDir dir;
    ASSERT_EQ(mkseq(dir, "-o '" + dir.path() + "' -n f -c 1 -f 5 -s 33x21").status, 0);
    const std::string raw = dir.file("f.raw");
    const std::string cmd = "ffmpeg -hide_banner -loglevel error -y -i '" + dir.file("f0005.dpx") +
                            "' -f rawvideo -pix_fmt rgb48be '" + raw + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    const std::vector<std::uint8_t> file = read_whole_file(dir.file("f0005.dpx"));
    const std::vector<std::uint8_t> decoded = read_whole_file(raw);
    ASSERT_EQ(decoded.size(), 33u * 21 * 6);
    ASSERT_EQ(file.size(), 2048 + decoded.size());
    EXPECT_TRUE(std::equal(decoded.begin(), decoded.end(), file.begin() + 2048));
}

TEST(Mkseq, PlanarFilesHoldTheTop12BitsOfTheDpxSamples) {
    TempDir dir;
    const int w = 50, h = 30;
    ASSERT_EQ(mkseq(dir, "-o '" + dir.path() + "' -n p -c 2 -f 7 -s 50x30").status, 0);
    const RunResult r =
        mkseq(dir, "-o '" + dir.path() + "' -n p -c 2 -f 7 -s 50x30 --planar --tag 2K");
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* n : {"0007", "0008"}) {
        const Picture dpx = read_dpx(dir.file(std::string("p") + n + ".dpx"), w, h);
        ASSERT_FALSE(dpx.rgb.empty());
        for (int c = 0; c < 3; ++c) {
            const std::string plane = dir.file(std::string("p") + n + ".2K." + "rgb"[c]);
            const std::vector<std::uint8_t> b = read_whole_file(plane);
            ASSERT_EQ(b.size(), static_cast<std::size_t>(w) * h * 2) << plane;
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    ASSERT_EQ(be16(b, 2 * (static_cast<std::size_t>(y) * w + x)),
                              dpx.at(x, y, c) >> 4)
                        << plane << " " << x << "," << y;
        }
    }
}

TEST(Mkseq, PlanarSizeTagsAndLetters) {
    TempDir dir;
    // 3840x2160 takes the 4K tag by itself; the yellow bar's blue is black.
    ASSERT_EQ(mkseq(dir, "-o '" + dir.path() + "' -n c -c 1 --planar").status, 0);
    const std::size_t plane = 3840u * 2160 * 2;
    const std::size_t yellow = (100u * 3840 + 3 * 3840 / 14) * 2;
    const std::vector<std::uint8_t> r = read_whole_file(dir.file("c0000.4K.r"));
    const std::vector<std::uint8_t> b = read_whole_file(dir.file("c0000.4K.b"));
    ASSERT_EQ(r.size(), plane);
    ASSERT_EQ(b.size(), plane);
    EXPECT_EQ(fs::file_size(dir.file("c0000.4K.g")), plane);
    EXPECT_EQ(be16(r, yellow), 180 << 4);
    EXPECT_EQ(be16(b, yellow), 16 << 4);

    ASSERT_EQ(
        mkseq(dir, "-o '" + dir.path() + "' -n u -c 2 -s 8x8 --planar --tag 2K --upper").status, 0);
    for (const char* name : {"u0000.2K.R", "u0000.2K.G", "u0000.2K.B", "u0001.2K.B"})
        EXPECT_EQ(fs::file_size(dir.file(name)), 8u * 8 * 2) << name;
    EXPECT_FALSE(fs::exists(dir.file("u0000.2K.r")));
}

TEST(Mkseq, BadArgumentsAreRefusedWithStatus2AndWriteNothing) {
    TempDir dir;
    const std::string out = "-o '" + dir.file("out") + "' ";
    const char* bad[] = {
        "--bogus",
        "-s 7681x10",
        "-s 10x4321",
        "-s 0x5",
        "-s 10",
        "-s 10x",
        "-s -4x4",
        "-c 0",
        "-c abc",
        "-d 0",
        "-d 10",
        "-f -1",
        "-d 2 -f 99 -c 2",  // frame 100 needs three digits
        "-c",               // value missing
        "-n a/b",
        "--planar -s 640x480",          // no tag for an unnamed size
        "--planar -s 64x32 --tag 4K",   // a viewer would read 4K as 3840x2160
        "--planar -s 64x32 --tag 18K",  // ... and this as 7680x4320
        "--planar -s 64x32 --tag 2k",   // the viewer looks for an upper-case K
        "--planar -s 64x32 --tag K",
        "--planar -s 64x32 --tag 2.K",
        "--tag 2K",  // tag without planar output
        "--planar=yes",
    };
    for (const char* args : bad) {
        const RunResult r = mkseq(dir, out + args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_NE(r.err.find("karvelin-mkseq: "), std::string::npos) << args;
        EXPECT_FALSE(fs::exists(dir.file("out"))) << args;
    }
}

TEST(Mkseq, HelpExplainsAndWritesNothing) {
    TempDir dir;
    const RunResult r = mkseq(dir, "--help -o '" + dir.file("out") + "'");
    EXPECT_EQ(r.status, 0);
    for (const char* word : {"usage:", "--size", "--count", "--first", "--digits", "--name",
                             "--out", "--planar", "--tag"})
        EXPECT_NE(r.out.find(word), std::string::npos) << word;
    EXPECT_FALSE(fs::exists(dir.file("out")));
}

// Frames of 4K and more are large: nothing is written unless a folder is named.
TEST(Mkseq, WithoutAnOutputFolderItExplainsAndWritesNothing) {
    TempDir dir;
    const RunResult help = mkseq(dir, "--help");
    const RunResult bare = mkseq(dir, "");
    EXPECT_EQ(bare.status, 2);
    EXPECT_EQ(bare.err, help.out);  // the usage, on stderr
    EXPECT_EQ(bare.out, "");
    const RunResult no_out = mkseq(dir, "-c 1 -s 8x8");
    EXPECT_EQ(no_out.status, 2);
    EXPECT_NE(no_out.err.find("--out"), std::string::npos) << no_out.err;
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

// One progress line, rewritten per frame, for a person at a terminal; a log or
// a pipe gets the summary alone.
TEST(Mkseq, ProgressOnlyOnATerminal) {
    if (std::system("script -V >/dev/null 2>&1") != 0) GTEST_SKIP() << "script(1) not installed";
    TempDir dir;
    const std::string args = "-o '" + dir.file("out") + "' -n t -s 16x8 -c 3";
    const RunResult piped = mkseq(dir, args);
    ASSERT_EQ(piped.status, 0) << piped.err;
    EXPECT_EQ(piped.err, "");
    const RunResult tty = mkseq(dir, args, true);
    ASSERT_EQ(tty.status, 0) << tty.err;
    std::size_t at = 0;
    for (const char* frame : {"1 of 3", "2 of 3", "3 of 3"}) {
        at = tty.out.find(frame, at);
        ASSERT_NE(at, std::string::npos) << frame << " in " << tty.out;
    }
    // The summary follows, as without a terminal.
    EXPECT_NE(tty.out.find(piped.out.substr(0, piped.out.find(':')), at), std::string::npos);
}
