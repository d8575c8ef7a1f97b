// The Frame Info listing (and with it `karvelin --info` and the timecode in the
// status) against DPX files that FFmpeg, ImageMagick and OpenImageIO write with
// known rates and timecodes, and against hand-made headers whose fields are
// unset, garbage or unterminated.
#include "ui/frame_info.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "core/sequence.h"
#include "support/test_files.h"
#include "tools/frame_files.h"

namespace {

bool have_tool(const char* name) {
    const std::string command = std::string("command -v ") + name + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

/// The listing's lines as field -> value; every line must be "field: value".
std::map<std::string, std::string> fields_of(const std::string& listing) {
    std::map<std::string, std::string> out;
    std::istringstream lines(listing);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t colon = line.find(": ");
        EXPECT_NE(colon, std::string::npos) << line;
        if (colon != std::string::npos) out[line.substr(0, colon)] = line.substr(colon + 2);
    }
    return out;
}

std::map<std::string, std::string> listing_of(const std::string& path) {
    std::string out, error;
    EXPECT_EQ(info_command(path.c_str(), out, error), 0) << error;
    EXPECT_EQ(error, "");
    return fields_of(out);
}

void put32(std::vector<std::uint8_t>& f, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) f[at + i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}

void put_float(std::vector<std::uint8_t>& f, std::size_t at, float value) {
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    put32(f, at, bits);
}

}  // namespace

// Rates and timecodes as three peers store them, read back through the listing.
TEST(FrameInfo, PeersFilesGiveTheirRatesAndTimecodes) {
    TempDir dir;
    struct Peer {
        const char* tool;
        std::string command;
        // The fields the file must show.
        std::map<std::string, std::string> want;
    };
    const std::string out = dir.file("peer.dpx");
    const Peer peers[] = {
        // FFmpeg's header ends at 1664: no film or television header at all, and
        // its first pixels must not read as one.
        {"ffmpeg",
         "ffmpeg -v error -y -f lavfi -i color=c=0x336699:s=40x20 -frames:v 1 -pix_fmt rgb48be '" +
             out + "'",
         {{"transfer", "2 (linear)"},
          {"colorimetric", "2 (linear)"},
          {"film frame rate", "not set"},
          {"television frame rate", "not set"},
          {"timecode", "not set"},
          {"data offset", "1664"},
          {"bit size", "16"}}},
        {"convert",
         "convert -size 40x20 xc:'rgb(200,100,50)' -depth 10 -endian MSB -define "
         "dpx:television.time.code=10:20:30:12 -define dpx:television.frame_rate=25 -define "
         "dpx:film.frame_rate=24 '" +
             out + "'",
         {{"film frame rate", "24"},
          {"television frame rate", "25"},
          {"timecode", "10:20:30:12"},
          {"descriptor", "50 (RGB)"},
          {"packing", "1 (filled, method A)"},
          {"bit size", "10"}}},
        {"oiiotool",
         "oiiotool --pattern constant:color=0.5,0.2,0.1 40x20 3 -d uint10 --attrib dpx:TimeCode "
         "01:02:03:04 --attrib:type=float dpx:FrameRate 23.976 --attrib:type=float "
         "dpx:TemporalFrameRate 29.97 --attrib oiio:Endian big -o '" +
             out + "'",
         {{"film frame rate", "23.976"},
          {"television frame rate", "29.97"},
          {"timecode", "01:02:03:04"},
          {"size", "40 x 20"},
          {"orientation", "0 (left to right, top to bottom)"}}},
    };
    int checked = 0;
    for (const Peer& peer : peers) {
        SCOPED_TRACE(peer.command);
        if (!have_tool(peer.tool)) {
            std::printf("skipped, %s missing: %s\n", peer.tool, peer.command.c_str());
            continue;
        }
        ASSERT_EQ(std::system(peer.command.c_str()), 0);
        const auto fields = listing_of(out);
        for (const auto& [field, value] : peer.want) EXPECT_EQ(fields.at(field), value) << field;
        EXPECT_EQ(fields.at("file"), out);
        EXPECT_EQ(fields.at("file size"), std::to_string(read_whole_file(out).size()) + " bytes");
        ++checked;
    }
    if (checked == 0) GTEST_SKIP() << "no DPX writer installed";
}

// A header the test writes itself: every descriptive field unset, then filled
// with garbage and with texts that run to the end of their fields.
TEST(FrameInfo, UnsetGarbageAndUnterminatedFields) {
    TempDir dir;
    const std::string path = dir.file("made.dpx");
    std::vector<std::uint16_t> rgb(4 * 2 * 3, 0x8000);
    std::vector<std::uint8_t> file = make_dpx_file(4, 2, rgb.data());
    // Unset: all ones in every code, rate, timecode and user bits, empty texts.
    for (std::size_t at : {8, 36, 136, 160, 260, 460, 1556}) file[at] = 0;
    for (std::size_t at : {800, 801, 802, 803}) file[at] = 0xFF;
    for (std::size_t at : {804, 806, 768, 770}) file[at] = file[at + 1] = 0xFF;
    for (std::size_t at : {16, 812, 1724, 1920, 1924, 1940}) put32(file, at, 0xFFFFFFFFu);
    ASSERT_EQ(write_file(path, file), 0);
    {
        const auto f = listing_of(path);
        for (const char* field : {"creator",
                                  "project",
                                  "copyright",
                                  "creation time",
                                  "input device",
                                  "header version",
                                  "image file name",
                                  "transfer",
                                  "colorimetric",
                                  "descriptor",
                                  "bit size",
                                  "packing",
                                  "encoding",
                                  "orientation",
                                  "image elements",
                                  "film frame rate",
                                  "television frame rate",
                                  "timecode",
                                  "user bits",
                                  "declared file size",
                                  "end-of-line padding"})
            EXPECT_EQ(f.at(field), "not set") << field;
    }

    // Garbage: control characters and bytes above 0x7E in texts, codes no
    // standard names, NaN and out-of-range rates, a timecode that is no BCD.
    std::memcpy(&file[160], "Cam\x01\x1b[2J\xff\xe9!", 11);
    file[171] = 0;
    file[801] = 99;
    file[802] = 6;
    file[800] = 50;
    put_float(file, 1724, std::nanf(""));
    put_float(file, 1940, 1000.0f);
    put32(file, 1920, 0x1A2B3C4D);
    put32(file, 1924, 0x0000BEEF);
    // Unterminated: the project's 200 bytes all letters, straight into the copyright.
    std::memset(&file[260], 'p', 200);
    std::memset(&file[460], 'c', 200);
    file[659] = 0;
    ASSERT_EQ(write_file(path, file), 0);
    {
        const auto f = listing_of(path);
        EXPECT_EQ(f.at("creator"),
                  "Cam??[2J??"
                  "!");
        EXPECT_EQ(f.at("transfer"), "99");
        EXPECT_EQ(f.at("colorimetric"), "6 (BT.709)");
        EXPECT_EQ(f.at("film frame rate"), "not set");
        EXPECT_EQ(f.at("television frame rate"), "1000 (outside 1 to 240, not used)");
        EXPECT_EQ(f.at("timecode"), "invalid (1A2B3C4D)");
        EXPECT_EQ(f.at("user bits"), "0000BEEF");
        EXPECT_EQ(f.at("project"), std::string(200, 'p'));
        EXPECT_EQ(f.at("copyright"), std::string(199, 'c'));
        // Only printable characters anywhere in the listing.
        std::string listing, error;
        ASSERT_EQ(info_command(path.c_str(), listing, error), 0);
        for (const char c : listing)
            EXPECT_TRUE(c == '\n' || (c >= 0x20 && c < 0x7F)) << static_cast<int>(c);
    }
}

// Timecodes: the drop-frame flag, the flag bits the digits leave, and those no
// clock can show.
TEST(FrameInfo, TimecodesAndTheirFlags) {
    char text[16];
    ASSERT_TRUE(format_timecode(0x23595929, text, sizeof text));
    EXPECT_STREQ(text, "23:59:59:29");
    ASSERT_TRUE(format_timecode(0x01000000 | 0x40 | 0x02, text, sizeof text));
    EXPECT_STREQ(text, "01:00:00;02");
    // The colour-frame flag (bit 7 of the frames) and the flags above the tens of
    // seconds and minutes change no digit.
    ASSERT_TRUE(format_timecode(0x00808099, text, sizeof text));
    EXPECT_STREQ(text, "00:00:00:19");
    for (std::uint32_t bad : {0xFFFFFFFFu, 0x24000000u, 0x00600000u, 0x00006000u, 0x0000000Au})
        EXPECT_FALSE(format_timecode(bad, text, sizeof text)) << std::hex << bad;
}

// A frame that cannot be read: the reason on the error line, and exit 1.
TEST(FrameInfo, UnreadableFramesSayWhy) {
    TempDir dir;
    std::string out, error;
    EXPECT_EQ(info_command(dir.file("none.dpx").c_str(), out, error), 1);
    EXPECT_EQ(out, "");
    EXPECT_EQ(error, "karvelin: " + dir.file("none.dpx") + ": no such file\n");
    const std::string little = dir.file("little.dpx");
    std::vector<std::uint8_t> bytes(2048, 0);
    std::memcpy(bytes.data(), "XPDS", 4);
    ASSERT_EQ(write_file(little, bytes), 0);
    EXPECT_EQ(info_command(little.c_str(), out, error), 1);
    EXPECT_EQ(error, "karvelin: " + little + ": not a big-endian DPX file\n");
}

// Planar frames have no header: their three planes and sizes.
TEST(FrameInfo, PlanarFramesListTheirPlanes) {
    TempDir dir;
    std::vector<std::uint16_t> rgb(3840 * 2 * 3, 0x123);
    ASSERT_EQ(write_planar_files(dir.file("clip0001.4K."), 3840, 2, rgb.data()), 0);
    const auto f = listing_of(dir.file("clip0001.4K.g"));
    EXPECT_EQ(f.at("format"), "planar RGB");
    EXPECT_EQ(f.at("size"), "3840 x 2160");
    EXPECT_EQ(f.at("bits per sample"), "12");
    EXPECT_EQ(f.at("red plane"), dir.file("clip0001.4K.r") + " (15360 bytes)");
    EXPECT_EQ(f.at("blue plane"), dir.file("clip0001.4K.b") + " (15360 bytes)");
    EXPECT_EQ(f.count("timecode"), 0u);
}
