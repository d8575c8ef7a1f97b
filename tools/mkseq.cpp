// karvelin-mkseq: writes numbered test sequences (16-bit RGB DPX files or
// 12-bit planar .r/.g/.b files) whose picture helps a person check a viewer:
// colour bars, a gray ramp, pixel checkers that show decimation, a box that
// moves from frame to frame and the frame number in large digits.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/frame_files.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

constexpr int kMaxWidth = 7680;
constexpr int kMaxHeight = 4320;
constexpr int kExitBadArguments = 2;

const char kUsage[] =
    "usage: karvelin-mkseq -o DIR [options]\n"
    "\n"
    "Writes a numbered test sequence for checking a frame viewer into DIR.\n"
    "\n"
    "Options:\n"
    "  -o, --out DIR       output folder, created if missing (required)\n"
    "  -n, --name PREFIX   file name before the frame number (default: frame_)\n"
    "  -s, --size WxH      picture size, at most 7680x4320 (default: 3840x2160)\n"
    "  -c, --count N       number of frames (default: 10)\n"
    "  -f, --first N       number of the first frame (default: 0)\n"
    "  -d, --digits N      digits of the zero-padded frame number, 1..9 (default: 4)\n"
    "      --planar        write three 12-bit plane files per frame instead of DPX:\n"
    "                      PREFIX0000.TAG.r, .g and .b\n"
    "      --tag TAG       size tag of planar names (default: 4K for 3840x2160,\n"
    "                      8K for 7680x4320; required for other sizes, e.g. 2K).\n"
    "                      A tag ending in 4K or 8K must match its size, since a\n"
    "                      viewer takes the size from it\n"
    "      --upper         upper-case plane letters (.R .G .B)\n"
    "  -h, --help          show this text\n"
    "\n"
    "DPX files are NAME + number + .dpx: SMPTE 268M version 2.0, one 16-bit RGB\n"
    "element, big-endian. Every sample's top byte is a video-range code (16 black,\n"
    "235 white); plane files hold the top 12 bits of the same samples.\n"
    "\n"
    "The picture, top to bottom: 75% colour bars (white, yellow, cyan, green,\n"
    "magenta, red, blue); a gray ramp from black to white; black/white checkers of\n"
    "1, 2, 4 and 8 pixel cells (at 1/2 the 1-pixel checker turns flat, and so on);\n"
    "a black band with the frame number in large digits and a white box that moves\n"
    "to the right by 1/64 of the width per frame number.\n"
    "\n"
    "On a terminal a progress line shows each frame as it is written.\n"
    "\n"
    "Exit status: 0 written, 1 a file could not be written, 2 bad arguments\n"
    "(also when no argument is given: nothing is written without an output folder).\n";

struct Options {
    std::string out;
    std::string name = "frame_";
    int width = 3840;
    int height = 2160;
    long long count = 10;
    long long first = 0;
    int digits = 4;
    bool planar = false;
    std::string tag;
    bool upper = false;
    bool help = false;
};

// Whole decimal number in [low, high]; no sign, no spaces, no trailing text.
int parse_number(const std::string& text, long long low, long long high, long long& value) {
    if (text.empty() || text.size() > 18) return -1;
    long long v = 0;
    for (char ch : text) {
        if (ch < '0' || ch > '9') return -1;
        v = v * 10 + (ch - '0');
    }
    if (v < low || v > high) return -1;
    value = v;
    return 0;
}

int parse_size(const std::string& text, int& width, int& height) {
    const std::size_t x = text.find_first_of("xX");
    if (x == std::string::npos) return -1;
    long long w = 0, h = 0;
    if (parse_number(text.substr(0, x), 1, kMaxWidth, w) != 0) return -1;
    if (parse_number(text.substr(x + 1), 1, kMaxHeight, h) != 0) return -1;
    width = static_cast<int>(w);
    height = static_cast<int>(h);
    return 0;
}

// Fills `o` from the command line; on failure `error` says what was wrong.
int parse_options(int argc, char** argv, Options& o, std::string& error) {
    bool have_tag = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        bool has_inline = false;
        if (arg.rfind("--", 0) == 0) {
            const std::size_t eq = arg.find('=');
            if (eq != std::string::npos) {
                value = arg.substr(eq + 1);
                arg = arg.substr(0, eq);
                has_inline = true;
            }
        }
        if (arg == "-h" || arg == "--help") {
            o.help = true;
            return 0;
        }
        if (arg == "--planar" || arg == "--upper") {
            if (has_inline) {
                error = arg + " takes no value";
                return -1;
            }
            (arg == "--planar" ? o.planar : o.upper) = true;
            continue;
        }
        static const char* const kWithValue[][2] = {
            {"-o", "--out"},   {"-n", "--name"},   {"-s", "--size"}, {"-c", "--count"},
            {"-f", "--first"}, {"-d", "--digits"}, {"", "--tag"},
        };
        std::string key;
        for (const auto& names : kWithValue)
            if (arg == names[1] || (names[0][0] && arg == names[0])) key = names[1];
        if (key.empty()) {
            error = "unknown option '" + arg + "'";
            return -1;
        }
        if (!has_inline) {
            if (i + 1 >= argc) {
                error = key + " needs a value";
                return -1;
            }
            value = argv[++i];
        }
        long long n = 0;
        if (key == "--out") {
            if (value.empty()) {
                error = "--out needs a folder";
                return -1;
            }
            o.out = value;
        } else if (key == "--name") {
            if (value.find_first_of("/\\") != std::string::npos) {
                error = "--name must not contain a folder separator: '" + value + "'";
                return -1;
            }
            o.name = value;
        } else if (key == "--size") {
            if (parse_size(value, o.width, o.height) != 0) {
                error = "--size must be WxH with 1 <= W <= 7680 and 1 <= H <= 4320, not '" + value +
                        "'";
                return -1;
            }
        } else if (key == "--count") {
            if (parse_number(value, 1, 1000000, n) != 0) {
                error = "--count must be a number from 1 to 1000000, not '" + value + "'";
                return -1;
            }
            o.count = n;
        } else if (key == "--first") {
            if (parse_number(value, 0, 999999999, n) != 0) {
                error = "--first must be a number from 0 to 999999999, not '" + value + "'";
                return -1;
            }
            o.first = n;
        } else if (key == "--digits") {
            if (parse_number(value, 1, 9, n) != 0) {
                error = "--digits must be a number from 1 to 9, not '" + value + "'";
                return -1;
            }
            o.digits = static_cast<int>(n);
        } else {
            o.tag = value;
            have_tag = true;
        }
    }

    // Frames of 4K and more are large: they are written only where asked.
    if (o.out.empty()) {
        error = "no output folder: name one with --out DIR";
        return -1;
    }

    // A viewer finds the frames of a sequence by fixed-width numbers, so every
    // number must fit the digit count.
    long long limit = 1;
    for (int i = 0; i < o.digits; ++i) limit *= 10;
    if (o.first + o.count - 1 >= limit) {
        error = "frame " + std::to_string(o.first + o.count - 1) + " needs more than " +
                std::to_string(o.digits) + " digits; raise --digits or lower --first/--count";
        return -1;
    }

    if (!o.planar) {
        if (have_tag || o.upper) {
            error = "--tag and --upper apply to planar output only (add --planar)";
            return -1;
        }
        return 0;
    }
    if (!have_tag) {
        if (o.width == 3840 && o.height == 2160) {
            o.tag = "4K";
        } else if (o.width == 7680 && o.height == 4320) {
            o.tag = "8K";
        } else {
            error = "planar frames of " + std::to_string(o.width) + "x" + std::to_string(o.height) +
                    " need a size tag, e.g. --tag 2K";
            return -1;
        }
    }
    // The viewer reads the character before the K as the size: 4 and 8 name
    // fixed sizes, anything else keeps the size it already has.
    const std::string& t = o.tag;
    bool tag_ok = t.size() >= 2 && t.back() == 'K';
    for (char ch : t)
        if (!((ch >= '0' && ch <= '9') || (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z')))
            tag_ok = false;
    if (!tag_ok) {
        error =
            "--tag must be letters or digits ending in an upper-case K, e.g. 2K, not '" + t + "'";
        return -1;
    }
    const char size_char = t[t.size() - 2];
    if ((size_char == '4' && !(o.width == 3840 && o.height == 2160)) ||
        (size_char == '8' && !(o.width == 7680 && o.height == 4320))) {
        error = "tag '" + t + "' names " + (size_char == '4' ? "3840x2160" : "7680x4320") +
                " to a viewer, but the size is " + std::to_string(o.width) + "x" +
                std::to_string(o.height);
        return -1;
    }
    return 0;
}

// 5x7 digits, one byte per row, bit 4 = leftmost column.
const std::uint8_t kDigitFont[10][7] = {
    {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}, {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E},
    {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}, {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E},
    {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}, {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E},
    {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}, {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08},
    {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}, {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C},
};

constexpr std::uint16_t code16(int code) {
    return static_cast<std::uint16_t>(code << 8);
}
constexpr std::uint16_t kBlack = code16(16);
constexpr std::uint16_t kWhite = code16(235);
constexpr int kBar = 180;  // 75% of the video range: 16 + 0.75 * 219

// Where each part of the picture lies, for one picture size.
struct Layout {
    int width = 0, height = 0;
    int bars_end = 0, ramp_end = 0, checker_end = 0;  // row bands, top down
    int scale = 1;                                    // font pixel size
    int text_x = 0, text_y = 0;
    int box_size = 0, box_y = 0, box_left = 0, box_span = 0, box_step = 1;
    std::vector<std::uint16_t> bars, ramp;  // precomputed rows
};

Layout make_layout(int width, int height, int digits) {
    Layout l;
    l.width = width;
    l.height = height;
    l.bars_end = height * 45 / 100;
    l.ramp_end = height * 55 / 100;
    l.checker_end = height * 75 / 100;
    const int band = height - l.checker_end;
    // Digits of 7 font rows plus a margin above and below, as large as the
    // band and the width allow, so they stay readable at 1/8.
    const int text_columns = digits * 6 + 1;
    l.scale = std::max(1, std::min(band / 9, width / 2 / text_columns));
    l.text_x = l.scale;
    l.text_y = l.checker_end + (band - 7 * l.scale) / 2;
    l.box_size = std::max(1, band / 2);
    l.box_y = l.checker_end + (band - l.box_size) / 2;
    l.box_left = std::min(width - 1, text_columns * l.scale + l.scale);
    l.box_span = std::max(1, width - l.box_left - l.box_size + 1);
    l.box_step = std::max(1, width / 64);

    static const int kBars[7][3] = {
        {kBar, kBar, kBar}, {kBar, kBar, 16}, {16, kBar, kBar}, {16, kBar, 16},
        {kBar, 16, kBar},   {kBar, 16, 16},   {16, 16, kBar},
    };
    l.bars.resize(static_cast<std::size_t>(width) * 3);
    l.ramp.resize(static_cast<std::size_t>(width) * 3);
    for (int x = 0; x < width; ++x) {
        const int bar = static_cast<int>(static_cast<long long>(x) * 7 / width);
        for (int c = 0; c < 3; ++c) l.bars[3 * x + c] = code16(kBars[bar][c]);
        // 16-bit steps from black to white, so the top byte (and the top 12
        // bits of a plane) rises evenly across the width.
        const long long span = static_cast<long long>(kWhite - kBlack);
        const std::uint16_t v =
            static_cast<std::uint16_t>(kBlack + (width > 1 ? span * x / (width - 1) : 0));
        l.ramp[3 * x] = l.ramp[3 * x + 1] = l.ramp[3 * x + 2] = v;
    }
    return l;
}

void fill(std::uint16_t* row, int from, int to, std::uint16_t v) {
    for (int x = from; x < to; ++x) row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = v;
}

// Row y (0 = top) of the picture for the frame numbered `number`, whose text
// is `text`; `row` holds width x 3 samples.
void make_row(const Layout& l, int y, long long number, const std::string& text,
              std::uint16_t* row) {
    const int w = l.width;
    if (y < l.bars_end) {
        std::memcpy(row, l.bars.data(), l.bars.size() * 2);
        return;
    }
    if (y < l.ramp_end) {
        std::memcpy(row, l.ramp.data(), l.ramp.size() * 2);
        return;
    }
    if (y < l.checker_end) {
        // Four segments with checker cells of 1, 2, 4 and 8 pixels.
        for (int x = 0; x < w; ++x) {
            const int cell = 1 << (static_cast<long long>(x) * 4 / w);
            const bool on = ((x / cell + y / cell) & 1) != 0;
            const std::uint16_t v = on ? kWhite : kBlack;
            row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = v;
        }
        return;
    }
    fill(row, 0, w, kBlack);
    const int fy = (y - l.text_y) / l.scale;
    if (y >= l.text_y && fy < 7) {
        for (std::size_t i = 0; i < text.size(); ++i) {
            const std::uint8_t bits = kDigitFont[text[i] - '0'][fy];
            for (int fx = 0; fx < 5; ++fx) {
                if (!(bits & (0x10 >> fx))) continue;
                const int x0 = l.text_x + (static_cast<int>(i) * 6 + fx) * l.scale;
                fill(row, std::min(x0, w), std::min(x0 + l.scale, w), kWhite);
            }
        }
    }
    if (y >= l.box_y && y < l.box_y + l.box_size) {
        const int x0 = l.box_left + static_cast<int>(number * l.box_step % l.box_span);
        fill(row, std::min(x0, w), std::min(x0 + l.box_size, w), kWhite);
    }
}

std::string frame_text(long long number, int digits) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%0*lld", digits, number);
    return buf;
}

int write_dpx_frame(const std::string& path, const Layout& l, long long number,
                    const std::string& text, std::vector<std::uint16_t>& row,
                    std::vector<std::uint8_t>& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return -1;
    const std::vector<std::uint8_t> header = make_dpx_header(l.width, l.height);
    bool ok = std::fwrite(header.data(), 1, header.size(), f) == header.size();
    for (int y = 0; y < l.height && ok; ++y) {
        make_row(l, y, number, text, row.data());
        for (std::size_t i = 0; i < row.size(); ++i) {
            bytes[2 * i] = static_cast<std::uint8_t>(row[i] >> 8);
            bytes[2 * i + 1] = static_cast<std::uint8_t>(row[i]);
        }
        ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    }
    return (std::fclose(f) == 0 && ok) ? 0 : -1;
}

int write_planar_frame(const std::string& base, const char* letters, const Layout& l,
                       long long number, const std::string& text, std::vector<std::uint16_t>& row,
                       std::vector<std::uint8_t>& bytes) {
    std::FILE* planes[3] = {};
    bool ok = true;
    for (int p = 0; p < 3 && ok; ++p) {
        planes[p] = std::fopen((base + letters[p]).c_str(), "wb");
        ok = planes[p] != nullptr;
    }
    const std::size_t plane_bytes = static_cast<std::size_t>(l.width) * 2;
    for (int y = 0; y < l.height && ok; ++y) {
        make_row(l, y, number, text, row.data());
        for (int p = 0; p < 3 && ok; ++p) {
            // The top 12 bits of each 16-bit sample, in the low 12 bits of a
            // big-endian word.
            for (int x = 0; x < l.width; ++x) {
                const std::uint16_t v = row[3 * x + p] >> 4;
                bytes[2 * x] = static_cast<std::uint8_t>(v >> 8);
                bytes[2 * x + 1] = static_cast<std::uint8_t>(v);
            }
            ok = std::fwrite(bytes.data(), 1, plane_bytes, planes[p]) == plane_bytes;
        }
    }
    for (std::FILE* f : planes)
        if (f && std::fclose(f) != 0) ok = false;
    return ok ? 0 : -1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs(kUsage, stderr);
        return kExitBadArguments;
    }
    Options o;
    std::string error;
    if (parse_options(argc, argv, o, error) != 0) {
        std::fprintf(stderr, "karvelin-mkseq: %s\n(try --help)\n", error.c_str());
        return kExitBadArguments;
    }
    if (o.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    std::error_code ec;
    std::filesystem::create_directories(o.out, ec);
    if (!std::filesystem::is_directory(o.out, ec)) {
        std::fprintf(stderr, "karvelin-mkseq: cannot create folder '%s'\n", o.out.c_str());
        return 1;
    }

    const Layout layout = make_layout(o.width, o.height, o.digits);
    std::vector<std::uint16_t> row(static_cast<std::size_t>(o.width) * 3);
    std::vector<std::uint8_t> bytes(row.size() * 2);
    const char* letters = o.upper ? "RGB" : "rgb";
    // One line, rewritten per frame, only where a person watches: a log or a
    // pipe gets the closing summary alone.
    const bool progress = isatty(fileno(stderr)) != 0;
    std::string first_path, last_path;
    for (long long i = 0; i < o.count; ++i) {
        const long long number = o.first + i;
        const std::string text = frame_text(number, o.digits);
        const std::string stem = o.out + "/" + o.name + text;
        int rc;
        if (o.planar) {
            const std::string base = stem + "." + o.tag + ".";
            rc = write_planar_frame(base, letters, layout, number, text, row, bytes);
            last_path = base + letters[0];
        } else {
            last_path = stem + ".dpx";
            rc = write_dpx_frame(last_path, layout, number, text, row, bytes);
        }
        if (rc != 0) {
            const int why = errno;
            if (progress) std::fputc('\n', stderr);
            std::fprintf(stderr, "karvelin-mkseq: cannot write '%s': %s\n", last_path.c_str(),
                         std::strerror(why));
            return 1;
        }
        if (i == 0) first_path = last_path;
        if (progress) {
            std::fprintf(stderr, "\rframe %lld of %lld written (%lld%%): %s%s", i + 1, o.count,
                         (i + 1) * 100 / o.count, o.name.c_str(), text.c_str());
            std::fflush(stderr);
        }
    }
    if (progress) std::fputc('\n', stderr);
    std::printf("wrote %lld %s frame%s of %dx%d: %s%s%s\n", o.count, o.planar ? "planar" : "DPX",
                o.count == 1 ? "" : "s", o.width, o.height, first_path.c_str(),
                o.count > 1 ? " .. " : "", o.count > 1 ? last_path.c_str() : "");
    return 0;
}
