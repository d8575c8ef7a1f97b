#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "color/bt2020.h"
#include "core/dpx_test_files.h"
#include "core/helper_thread.h"
#include "core/readers.h"
#include "support/test_files.h"

// Counts the C allocation calls of the whole program so that a frame read can be
// shown to allocate nothing. The sanitizer builds bring their own allocator, so
// there the count is not taken.
#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__)
#define KARVELIN_COUNT_ALLOCATIONS 1
std::atomic<long> g_allocations{0};
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* malloc(std::size_t n) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(n);
}
void* calloc(std::size_t n, std::size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(n, size);
}
void* realloc(void* p, std::size_t n) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(p, n);
}
}
#endif

namespace {

const ConversionTables& tables() {
    static ConversionTables t = [] {
        ConversionTables built{};
        build_conversion_tables(built);
        return built;
    }();
    return t;
}

// A store whose display is already sized for width x height at `shift`.
void size_store(FrameStore& store, int width, int height, int shift) {
    store.source_width = width;
    store.source_height = height;
    store.shift = shift;
    ASSERT_EQ(reallocate_display(store), 0);
}

std::size_t display_bytes(const FrameStore& store) {
    return static_cast<std::size_t>(display_width(store)) * display_height(store) * 4;
}

void fill_display(FrameStore& store, std::uint8_t value) {
    std::memset(store.pixels, value, display_bytes(store));
}

// The display pixel (x, y) (y counted from the bottom) expected by plain
// decimation: source row y * f from the bottom, column x * f, top sample bytes,
// converted when asked.
void expected_pixel(const std::vector<std::uint16_t>& rgb, int width, int height, int shift, int x,
                    int y, bool convert, std::uint8_t out[3]) {
    const int row_from_top = height - 1 - (y << shift);
    const std::size_t at = (static_cast<std::size_t>(row_from_top) * width + (x << shift)) * 3;
    int r = rgb[at] >> 8, g = rgb[at + 1] >> 8, b = rgb[at + 2] >> 8;
    if (convert) convert_pixel(tables(), r, g, b);
    out[0] = static_cast<std::uint8_t>(b);
    out[1] = static_cast<std::uint8_t>(g);
    out[2] = static_cast<std::uint8_t>(r);
}

// Checks every display pixel against the plain decimation and that byte 3 kept
// `marker`. Returns the number of wrong pixels (reported once).
int count_wrong(const FrameStore& store, const std::vector<std::uint16_t>& rgb, int width,
                int height, bool convert, std::uint8_t marker) {
    int wrong = 0;
    for (int y = 0; y < display_height(store); ++y)
        for (int x = 0; x < display_width(store); ++x) {
            std::uint8_t want[3];
            expected_pixel(rgb, width, height, store.shift, x, y, convert, want);
            const std::uint8_t* got =
                store.pixels + (static_cast<std::size_t>(y) * display_width(store) + x) * 4;
            if (std::memcmp(got, want, 3) != 0 || got[3] != marker) {
                if (wrong == 0)
                    ADD_FAILURE() << "pixel " << x << "," << y << " of " << width << "x" << height
                                  << " >> " << store.shift << ": got " << int(got[0]) << ","
                                  << int(got[1]) << "," << int(got[2]) << "," << int(got[3])
                                  << " want " << int(want[0]) << "," << int(want[1]) << ","
                                  << int(want[2]) << "," << int(marker);
                ++wrong;
            }
        }
    return wrong;
}

// A DPX header that says `width` x `height` with the data at `offset`, followed
// by `data_bytes` bytes of 0x80.
std::vector<std::uint8_t> dpx_header(std::uint32_t width, std::uint32_t height,
                                     std::uint32_t offset = kDpxDataOffset,
                                     std::size_t data_bytes = 0) {
    std::vector<std::uint8_t> b(kDpxDataOffset + data_bytes, 0x80);
    std::memset(b.data(), 0, kDpxDataOffset);
    std::memcpy(b.data(), "SDPX", 4);
    auto put = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
    };
    put(4, offset);
    put(772, width);
    put(776, height);
    return b;
}

// Store state a refused read must leave alone.
struct Snapshot {
    std::int32_t width, height, recorded;
    std::vector<std::uint8_t> pixels;
    explicit Snapshot(const FrameStore& s)
        : width(s.source_width),
          height(s.source_height),
          recorded(s.size_recorded),
          pixels(s.pixels, s.pixels + display_bytes(s)) {}
    bool same(const FrameStore& s) const {
        return width == s.source_width && height == s.source_height &&
               recorded == s.size_recorded &&
               std::memcmp(pixels.data(), s.pixels, pixels.size()) == 0;
    }
};

class DpxReader : public ::testing::Test {
  protected:
    void TearDown() override { release_display(store); }
    FrameStore store;
    TempDir dir;
};

}  // namespace

TEST_F(DpxReader, OddSizesAtEveryShiftMatchPlainDecimation) {
    // Widths that exercise both the wide row kernels and their scalar tails.
    const int sizes[][2] = {{1, 1}, {7, 5}, {13, 9}, {8, 8}, {37, 11}, {64, 3}, {3, 40}, {101, 17}};
    for (const auto& sz : sizes) {
        const int w = sz[0], h = sz[1];
        const auto rgb = test_pattern(w, h, w * 100 + h);
        const std::string path = dir.file("f.dpx");
        ASSERT_EQ(write_dpx_file(path, w, h, rgb.data()), 0);
        for (int shift = 0; shift <= 3; ++shift) {
            size_store(store, w, h, shift);
            fill_display(store, 0xA5);  // byte 3 must keep it
            store.size_recorded = 1;
            ASSERT_EQ(read_dpx_frame(path.c_str(), store, tables()), 0);
            EXPECT_EQ(store.size_recorded, 0);
            EXPECT_EQ(count_wrong(store, rgb, w, h, false, 0xA5), 0)
                << w << "x" << h << " >> " << shift;
        }
    }
}

TEST_F(DpxReader, ConversionGivesConvertPixelOfEachSampledPixel) {
    const int w = 45, h = 7;
    const auto rgb = test_pattern(w, h, 3);
    const std::string path = dir.file("c.dpx");
    ASSERT_EQ(write_dpx_file(path, w, h, rgb.data()), 0);
    for (int shift = 0; shift <= 3; ++shift) {
        size_store(store, w, h, shift);
        fill_display(store, 0x3C);
        store.convert = 1;
        ASSERT_EQ(read_dpx_frame(path.c_str(), store, tables()), 0);
        EXPECT_EQ(count_wrong(store, rgb, w, h, true, 0x3C), 0) << "shift " << shift;
    }
}

TEST_F(DpxReader, NewSizeIsRecordedFirstAndReadOnTheSecondCall) {
    const auto big = test_pattern(16, 12, 1);
    const auto small = test_pattern(8, 6, 2);
    ASSERT_EQ(write_dpx_file(dir.file("big.dpx"), 16, 12, big.data()), 0);
    ASSERT_EQ(write_dpx_file(dir.file("small.dpx"), 8, 6, small.data()), 0);

    // Growing and shrinking: each change takes two calls, the first of which
    // touches nothing but the source size.
    size_store(store, 3840, 2160, 1);
    for (auto [name, w, h, rgb] :
         {std::tuple{"big.dpx", 16, 12, &big}, std::tuple{"small.dpx", 8, 6, &small},
          std::tuple{"big.dpx", 16, 12, &big}}) {
        fill_display(store, 0x11);
        const Snapshot before(store);
        ASSERT_EQ(read_dpx_frame(dir.file(name).c_str(), store, tables()), 0);
        EXPECT_EQ(store.source_width, w);
        EXPECT_EQ(store.source_height, h);
        EXPECT_EQ(store.size_recorded, 1);
        EXPECT_EQ(std::memcmp(before.pixels.data(), store.pixels, before.pixels.size()), 0);

        ASSERT_EQ(reallocate_display(store), 0);
        ASSERT_EQ(read_dpx_frame(dir.file(name).c_str(), store, tables()), 0);
        EXPECT_EQ(store.size_recorded, 0);
        EXPECT_EQ(count_wrong(store, *rgb, w, h, false, 0), 0) << name;
    }

    // The width alone differing is a new size too.
    size_store(store, 3840, 2160, 2);
    ASSERT_EQ(write_file(dir.file("wide.dpx"), dpx_header(4096, 2160)), 0);
    ASSERT_EQ(read_dpx_frame(dir.file("wide.dpx").c_str(), store, tables()), 0);
    EXPECT_EQ(store.source_width, 4096);
    EXPECT_EQ(store.source_height, 2160);
    EXPECT_EQ(store.size_recorded, 1);
}

TEST_F(DpxReader, LargestFrameIsAcceptedAndOneMoreIsRefused) {
    // Header plus the first 16 rows only: the rows present are shown, the rest of
    // the frame is black.
    const std::size_t row = 7680 * 6;
    std::vector<std::uint8_t> file = dpx_header(7680, 4320, kDpxDataOffset, 16 * row);
    for (std::size_t i = 0; i < 16 * row; ++i)
        file[kDpxDataOffset + i] = static_cast<std::uint8_t>(i / row + 1);
    ASSERT_EQ(write_file(dir.file("8k.dpx"), file), 0);

    size_store(store, 3840, 2160, 3);
    ASSERT_EQ(read_dpx_frame(dir.file("8k.dpx").c_str(), store, tables()), 0);
    EXPECT_EQ(store.source_width, 7680);
    EXPECT_EQ(store.source_height, 4320);
    ASSERT_EQ(reallocate_display(store), 0);
    fill_display(store, 0xEE);
    ASSERT_EQ(read_dpx_frame(dir.file("8k.dpx").c_str(), store, tables()), 0);
    // Display row 539 shows file row 7 from the top, row 538 file row 15.
    const auto px = [&](int x, int y) { return store.pixels + (std::size_t(y) * 960 + x) * 4; };
    EXPECT_EQ(px(0, 539)[0], 8);
    EXPECT_EQ(px(959, 539)[2], 8);
    EXPECT_EQ(px(500, 538)[1], 16);
    EXPECT_EQ(px(500, 538)[3], 0xEE);
    for (int y : {0, 1, 300, 537})
        for (int x : {0, 1, 480, 959}) {
            EXPECT_EQ(px(x, y)[0] | px(x, y)[1] | px(x, y)[2], 0) << x << "," << y;
            EXPECT_EQ(px(x, y)[3], 0xEE);
        }

    for (auto [w, h] : {std::pair{7681u, 4320u}, std::pair{7680u, 4321u}}) {
        ASSERT_EQ(write_file(dir.file("big.dpx"), dpx_header(w, h, kDpxDataOffset, 64)), 0);
        const Snapshot before(store);
        EXPECT_EQ(read_dpx_frame(dir.file("big.dpx").c_str(), store, tables()), -1);
        EXPECT_TRUE(before.same(store)) << w << "x" << h;
    }
}

TEST_F(DpxReader, RefusesWhatItCannotReadAndChangesNothing) {
    size_store(store, 3840, 2160, 2);
    fill_display(store, 0x42);
    const auto rgb = test_pattern(4, 4);
    std::vector<std::uint8_t> good = make_dpx_file(4, 4, rgb.data());

    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
    };
    std::vector<Case> cases;
    auto with = [&](const char* name, auto&& change) {
        std::vector<std::uint8_t> b = good;
        change(b);
        cases.push_back({name, b});
    };
    with("little-endian magic", [](auto& b) { std::memcpy(b.data(), "XPDS", 4); });
    with("other magic", [](auto& b) { std::memcpy(b.data(), "SDPY", 4); });
    with("header cut before the size", [](auto& b) { b.resize(776); });
    with("only the magic", [](auto& b) { b.resize(4); });
    cases.push_back({"zero width", dpx_header(0, 4)});
    cases.push_back({"zero height", dpx_header(4, 0)});
    cases.push_back({"negative width", dpx_header(0xFFFFFFFFu, 4)});
    cases.push_back({"negative height", dpx_header(4, 0x80000000u)});
    cases.push_back({"offset 2^31", dpx_header(4, 4, 0x80000000u, 96)});
    cases.push_back({"offset 2^32-1", dpx_header(4, 4, 0xFFFFFFFFu, 96)});
    cases.push_back({"offset past the end", dpx_header(4, 4, kDpxDataOffset + 97, 96)});

    for (const Case& c : cases) {
        ASSERT_EQ(write_file(dir.file("bad.dpx"), c.bytes), 0);
        const Snapshot before(store);
        EXPECT_EQ(read_dpx_frame(dir.file("bad.dpx").c_str(), store, tables()), -1) << c.name;
        EXPECT_TRUE(before.same(store)) << c.name;
    }
    std::fclose(std::fopen(dir.file("empty.dpx").c_str(), "wb"));
    EXPECT_EQ(read_dpx_frame(dir.file("empty.dpx").c_str(), store, tables()), -1);
    EXPECT_EQ(read_dpx_frame(dir.file("missing.dpx").c_str(), store, tables()), -1);
    EXPECT_EQ(read_dpx_frame(dir.path().c_str(), store, tables()), -1);  // a folder
    EXPECT_EQ(store.source_width, 3840);
}

TEST_F(DpxReader, ShortFileShowsBlackWhereDataIsMissing) {
    const int w = 40, h = 9;
    const auto old_rgb = test_pattern(w, h, 7);
    const auto rgb = test_pattern(w, h, 8);
    ASSERT_EQ(write_dpx_file(dir.file("old.dpx"), w, h, old_rgb.data()), 0);
    const std::vector<std::uint8_t> full = make_dpx_file(w, h, rgb.data());
    const std::size_t row = w * 6;

    // Cut mid-row and mid-pixel; and a file that ends right at its data offset.
    for (std::size_t data : {row * 4 + 6 * 13 + 3, row * 7, std::size_t{0}}) {
        std::vector<std::uint8_t> cut(full.begin(), full.begin() + kDpxDataOffset + data);
        ASSERT_EQ(write_file(dir.file("cut.dpx"), cut), 0);
        for (int shift = 0; shift <= 3; ++shift) {
            size_store(store, w, h, shift);
            // An earlier full frame leaves its rows in the buffers and the display.
            ASSERT_EQ(read_dpx_frame(dir.file("old.dpx").c_str(), store, tables()), 0);
            ASSERT_EQ(read_dpx_frame(dir.file("cut.dpx").c_str(), store, tables()), 0);
            for (int y = 0; y < display_height(store); ++y)
                for (int x = 0; x < display_width(store); ++x) {
                    const std::size_t at =
                        static_cast<std::size_t>(h - 1 - (y << shift)) * row + (x << shift) * 6;
                    std::uint8_t want[3] = {0, 0, 0};
                    if (at + 6 <= data) expected_pixel(rgb, w, h, shift, x, y, false, want);
                    const std::uint8_t* got =
                        store.pixels + (static_cast<std::size_t>(y) * display_width(store) + x) * 4;
                    ASSERT_EQ(std::memcmp(got, want, 3), 0)
                        << "data " << data << " shift " << shift << " at " << x << "," << y;
                }
        }
    }
}

TEST_F(DpxReader, ShortFileWithPaddedRowsShowsTheRowsItHolds) {
    // Rows of 3 pixels (18 bytes) padded to 20, as SMPTE 268M writes them; the
    // file is cut 50 bytes into its data: two whole rows and one pixel of the third.
    const int w = 3, h = 5;
    const auto rgb = test_pattern(w, h, 3);
    const std::size_t cut_at = kDpxDataOffset + 50;
    for (const std::uint32_t declared : {std::uint32_t{kDpxDataOffset + 5 * 20}, 0xFFFFFFFFu}) {
        std::vector<std::uint8_t> file = make_dpx_header(w, h);
        for (int i = 0; i < 4; ++i)
            file[16 + i] = static_cast<std::uint8_t>(declared >> (24 - 8 * i));
        for (int y = 0; y < h; ++y) {
            for (int i = 0; i < w * 3; ++i)
                put16(file, rgb[(static_cast<std::size_t>(y) * w) * 3 + i]);
            file.insert(file.end(), 2, 0);
        }
        file.resize(cut_at);
        ASSERT_EQ(write_file(dir.file("cut.dpx"), file), 0);
        size_store(store, w, h, 0);
        fill_display(store, 0x55);
        ASSERT_EQ(read_dpx_frame(dir.file("cut.dpx").c_str(), store, tables()), 0);
        for (int row = 0; row < h; ++row)
            for (int x = 0; x < w; ++x) {
                std::uint8_t want[3] = {0, 0, 0};
                if (kDpxDataOffset + 20 * row + 6 * x + 6 <= cut_at)
                    expected_pixel(rgb, w, h, 0, x, h - 1 - row, false, want);
                const std::uint8_t* got =
                    store.pixels + (static_cast<std::size_t>(h - 1 - row) * w + x) * 4;
                EXPECT_EQ(std::memcmp(got, want, 3), 0)
                    << "declared " << declared << " row " << row << " pixel " << x;
            }
    }
}

TEST_F(DpxReader, RefusesToWriteWithoutAPixelBuffer) {
    const auto rgb = test_pattern(4, 4);
    ASSERT_EQ(write_dpx_file(dir.file("f.dpx"), 4, 4, rgb.data()), 0);
    size_store(store, 4, 4, 0);
    store.shift = 7;  // a failed reallocation leaves this 0x0 and bufferless
    ASSERT_EQ(reallocate_display(store), -1);
    store.shift = 0;
    EXPECT_EQ(read_dpx_frame(dir.file("f.dpx").c_str(), store, tables()), -1);
}

TEST_F(DpxReader, ReadingFramesAllocatesNothing) {
#if KARVELIN_COUNT_ALLOCATIONS
    const auto rgb = test_pattern(300, 200, 5);
    ASSERT_EQ(write_dpx_file(dir.file("a.dpx"), 300, 200, rgb.data()), 0);
    ASSERT_EQ(write_planar_files(dir.file("a.2K."), 300, 200, rgb.data()), 0);
    ASSERT_EQ(write_file(dir.file("p.dpx"), layout_file(300, 200, 50, 10, 0,
                                                        std::vector<std::uint8_t>(300 * 200 * 4))),
              0);
    std::string planar = dir.file("a.2K.r");
    const std::string dpx = dir.file("a.dpx"), packed = dir.file("p.dpx");
    size_store(store, 300, 200, 0);
    store.convert = 1;
    (void)tables();
    const long before = g_allocations.load();
    for (int shift = 0; shift <= 3; ++shift) {
        store.shift = shift;
        // Reallocation is allowed to allocate; the reads after it are not.
        ASSERT_EQ(reallocate_display(store), 0);
        const long after_realloc = g_allocations.load();
        for (int i = 0; i < 3; ++i) {
            ASSERT_EQ(read_dpx_frame(dpx.c_str(), store, tables()), 0);
            ASSERT_EQ(read_dpx_frame(packed.c_str(), store, tables()), 0);
            ASSERT_EQ(read_planar_frame(planar.data(), store, tables()), 0);
        }
        EXPECT_EQ(g_allocations.load(), after_realloc) << "shift " << shift;
    }
    EXPECT_GT(g_allocations.load(), before);  // the counter does see reallocations
#else
    GTEST_SKIP() << "allocation counting needs the plain glibc allocator";
#endif
}

TEST_F(DpxReader, FramesSharedWithTheHelperThreadMatchOneThread) {
    // Large enough to be shared between two threads (over 1 MB of rows), cut
    // short so that spans near the end are partly black.
    const int w = 700, h = 290;
    const auto rgb = test_pattern(w, h, 21);
    std::vector<std::uint8_t> file = make_dpx_file(w, h, rgb.data());
    const std::size_t held = static_cast<std::size_t>(w) * 6 * 250 + 100;
    file.resize(kDpxDataOffset + held);
    const std::string path = dir.file("shared.dpx");
    ASSERT_EQ(write_file(path, file), 0);
    start_frame_helper();
    for (int shift = 0; shift <= 3; ++shift)
        for (int convert = 0; convert <= 1; ++convert) {
            size_store(store, w, h, shift);
            store.convert = convert;
            std::vector<std::uint8_t> frames[2];
            for (int share = 0; share <= 1; ++share) {
                g_share_frames = share;
                fill_display(store, 0x99);
                ASSERT_EQ(read_dpx_frame(path.c_str(), store, tables()), 0);
                frames[share].assign(store.pixels, store.pixels + display_bytes(store));
            }
            g_share_frames = 1;
            EXPECT_EQ(frames[0], frames[1]) << "shift " << shift << " convert " << convert;
            // Every row the file holds is right, whichever thread made and
            // converted it; the rows it lacks are black.
            int wrong = 0;
            for (int y = 0; y < display_height(store); ++y)
                for (int x = 0; x < display_width(store) && h - 1 - (y << shift) < 250; ++x) {
                    std::uint8_t want[3];
                    expected_pixel(rgb, w, h, shift, x, y, convert, want);
                    wrong += std::memcmp(frames[1].data() +
                                             (static_cast<std::size_t>(y) * display_width(store) +
                                              static_cast<std::size_t>(x)) *
                                                 4,
                                         want, 3) != 0;
                }
            EXPECT_EQ(wrong, 0) << "shift " << shift << " convert " << convert;
            EXPECT_EQ(store.pixels[0] | store.pixels[1] | store.pixels[2], 0);
            EXPECT_EQ(store.pixels[3], 0x99);
        }
}

namespace {

bool have_tool(const char* name) {
    const std::string command = std::string("command -v ") + name + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

// Replaces every "{key}" in `text` with its value.
std::string fill(std::string text, const std::vector<std::pair<std::string, std::string>>& values) {
    for (const auto& [key, value] : values)
        for (std::size_t at; (at = text.find("{" + key + "}")) != std::string::npos;)
            text.replace(at, key.size() + 2, "'" + value + "'");
    return text;
}

// A 16-bit binary PPM (or RGBA PAM) of test_pattern samples, for the peers to convert.
std::string write_source_picture(const TempDir& dir, int w, int h, bool alpha) {
    const auto samples = test_pattern(w, h * (alpha ? 4 : 3), alpha ? 41 : 40);
    std::string text = alpha ? "P7\nWIDTH " + std::to_string(w) + "\nHEIGHT " + std::to_string(h) +
                                   "\nDEPTH 4\nMAXVAL 65535\nTUPLTYPE RGB_ALPHA\nENDHDR\n"
                             : "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n65535\n";
    std::vector<std::uint8_t> bytes(text.begin(), text.end());
    const std::size_t count = static_cast<std::size_t>(w) * h * (alpha ? 4 : 3);
    for (std::size_t i = 0; i < count; ++i) {
        bytes.push_back(static_cast<std::uint8_t>(samples[i] >> 8));
        bytes.push_back(static_cast<std::uint8_t>(samples[i]));
    }
    const std::string path = dir.file(alpha ? "source.pam" : "source.ppm");
    return write_file(path, bytes) == 0 ? path : "";
}

enum Decoder { kByFfmpeg, kByOiio };

struct PeerFile {
    const char* writer;
    bool alpha;
    const char* command;
    /// The header's bit size and packing the writer is expected to choose.
    int bits, packing;
    Decoder decoder;
};

// DPX files as FFmpeg, ImageMagick and OpenImageIO write them, at an odd size.
const PeerFile kPeerFiles[] = {
    {"ffmpeg", false, "ffmpeg -v error -y -i {in} -pix_fmt gbrp10be {out}", 10, 1, kByFfmpeg},
    {"ffmpeg", false, "ffmpeg -v error -y -i {in} -pix_fmt gbrp12be {out}", 12, 1, kByFfmpeg},
    {"ffmpeg", false, "ffmpeg -v error -y -i {in} -pix_fmt rgb48be {out}", 16, 0, kByFfmpeg},
    {"ffmpeg", true, "ffmpeg -v error -y -i {in} -pix_fmt rgba64be {out}", 16, 0, kByFfmpeg},
    {"convert", false, "convert {in} -depth 8 -endian MSB {out}", 8, 0, kByFfmpeg},
    {"convert", false, "convert {in} -depth 10 -endian MSB {out}", 10, 1, kByFfmpeg},
    {"convert", true, "convert {in} -depth 10 -endian MSB {out}", 10, 1, kByFfmpeg},
    {"convert", false, "convert {in} -depth 12 -endian MSB {out}", 12, 1, kByFfmpeg},
    {"convert", false, "convert {in} -depth 16 -endian MSB {out}", 16, 0, kByFfmpeg},
    {"convert", true, "convert {in} -depth 8 -endian MSB {out}", 8, 0, kByFfmpeg},
    {"oiiotool", false,
     "oiiotool {in} -d uint10 --attrib oiio:Endian big --attrib dpx:Packing 'Filled, method B' "
     "-o {out}",
     10, 2, kByOiio},
    {"oiiotool", false,
     "oiiotool {in} -d uint10 --attrib oiio:Endian big --attrib dpx:Packing Packed -o {out}", 10, 0,
     kByOiio},
    {"oiiotool", false, "oiiotool {in} -d uint12 --attrib oiio:Endian big -o {out}", 12, 0,
     kByOiio},
    {"oiiotool", false,
     "oiiotool {in} -d uint16 --attrib oiio:Endian big --attrib dpx:EndOfLinePadding 10 -o {out}",
     16, 1, kByOiio},
};

}  // namespace

// Every layout the peers write, read at every shift with the conversion off and
// on, against the peer's own decoding of the same file to 16-bit samples.
TEST_F(DpxReader, FilesWrittenByPeersShowWhatThePeersDecode) {
    if (!have_tool("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
    const int w = 133, h = 11;
    const std::string dpx = dir.file("peer.dpx"), tif = dir.file("peer.tif");
    const std::string raw = dir.file("peer.raw");
    int checked = 0;
    for (const PeerFile& peer : kPeerFiles) {
        SCOPED_TRACE(peer.command);
        if (!have_tool(peer.writer) || (peer.decoder == kByOiio && !have_tool("oiiotool"))) {
            std::printf("skipped, %s missing: %s\n", peer.writer, peer.command);
            continue;
        }
        const std::string in = write_source_picture(dir, w, h, peer.alpha);
        ASSERT_EQ(std::system(fill(peer.command, {{"in", in}, {"out", dpx}}).c_str()), 0);
        const std::vector<std::uint8_t> file = read_whole_file(dpx);
        ASSERT_GT(file.size(), 808u);
        EXPECT_EQ(file[803], peer.bits);
        EXPECT_EQ((file[804] << 8) | file[805], peer.packing);

        // The reference: 16-bit RGB samples (8-bit ones for 8-bit files, which
        // FFmpeg's scaler would not widen exactly).
        const bool eight = peer.bits == 8;
        std::string decode = "ffmpeg -v error -y -i {dpx} -f rawvideo -pix_fmt ";
        decode += eight ? "rgb24 {raw}" : "rgb48be {raw}";
        if (peer.decoder == kByOiio)
            decode = "oiiotool {dpx} --ch R,G,B -d uint16 --compression none -o {tif} && " +
                     fill(decode, {{"dpx", tif}});
        ASSERT_EQ(std::system(fill(decode, {{"dpx", dpx}, {"raw", raw}, {"tif", tif}}).c_str()), 0);
        const std::vector<std::uint8_t> ref = read_whole_file(raw);
        const std::size_t samples = static_cast<std::size_t>(w) * h * 3;
        ASSERT_EQ(ref.size(), samples * (eight ? 1 : 2));
        std::vector<std::uint16_t> rgb(samples);
        for (std::size_t i = 0; i < samples; ++i) rgb[i] = eight ? ref[i] << 8 : ref[2 * i] << 8;

        for (int shift = 0; shift <= 3; ++shift)
            for (int convert = 0; convert <= 1; ++convert) {
                size_store(store, 1, 1, shift);
                store.convert = convert;
                ASSERT_EQ(read_dpx_frame(dpx.c_str(), store, tables()), 0);
                ASSERT_EQ(store.size_recorded, 1);
                ASSERT_EQ(reallocate_display(store), 0);
                fill_display(store, 0x5A);
                ASSERT_EQ(read_dpx_frame(dpx.c_str(), store, tables()), 0);
                EXPECT_EQ(count_wrong(store, rgb, w, h, convert, 0x5A), 0)
                    << "shift " << shift << " convert " << convert;
            }
        ++checked;
    }
    if (checked == 0) GTEST_SKIP() << "no DPX writer installed";
}

// Layouts no peer writes: 16-bit ABGR (colours in reverse after the alpha) and
// 12-bit filled method B (the sample in the low 12 bits of its word).
TEST_F(DpxReader, AbgrAndTwelveBitMethodBShowTheirSamplesTopBits) {
    const int w = 61, h = 7;
    const auto rgb = test_pattern(w, h, 9);
    std::vector<std::uint8_t> abgr, method_b;
    for (std::size_t p = 0; p < rgb.size(); p += 3) {
        for (unsigned v :
             {0xFFFFu ^ rgb[p], unsigned{rgb[p + 2]}, unsigned{rgb[p + 1]}, unsigned{rgb[p]}})
            put16(abgr, v);
        for (int c = 0; c < 3; ++c) put16(method_b, 0xF000u | (rgb[p + c] >> 4));
    }
    ASSERT_EQ(write_file(dir.file("abgr.dpx"), layout_file(w, h, 52, 16, 0, abgr)), 0);
    ASSERT_EQ(write_file(dir.file("b12.dpx"), layout_file(w, h, 50, 12, 2, method_b)), 0);
    for (const char* name : {"abgr.dpx", "b12.dpx"})
        for (int shift = 0; shift <= 3; ++shift) {
            size_store(store, w, h, shift);
            fill_display(store, 0x77);
            ASSERT_EQ(read_dpx_frame(dir.file(name).c_str(), store, tables()), 0);
            EXPECT_EQ(count_wrong(store, rgb, w, h, false, 0x77), 0) << name << " >> " << shift;
        }
}

// What cannot be shown right is refused, with its reason, before anything
// changes; undefined fields are never a reason.
TEST_F(DpxReader, RefusesLayoutsItCannotShowAndChangesNothing) {
    const std::vector<std::uint8_t> data(4 * 4 * 8, 0x40);
    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
        ReadFailure why;
    };
    auto with = [&](const char* name, int descriptor, int bits, int packing, ReadFailure why,
                    auto&& change) {
        Case c{name, layout_file(4, 4, descriptor, bits, packing, data), why};
        change(c.bytes);
        return c;
    };
    auto same = [](std::vector<std::uint8_t>&) {};
    const Case cases[] = {
        with("YCbCr 4:2:2", 100, 10, 1, kFailDescriptor, same),
        with("YCbCr 4:4:4", 102, 10, 1, kFailDescriptor, same),
        with("luma only", 6, 16, 0, kFailDescriptor, same),
        with("32-bit float", 50, 32, 0, kFailBitSize, same),
        with("64-bit float", 50, 64, 0, kFailBitSize, same),
        with("1-bit", 50, 1, 0, kFailBitSize, same),
        with("unknown packing", 50, 10, 3, kFailPacking, same),
        with("run-length encoded", 50, 16, 0, kFailEncoded, [](auto& b) { b[807] = 1; }),
        with("signed", 50, 16, 0, kFailSigned, [](auto& b) { b[783] = 1; }),
        with("second element of another layout", 50, 10, 1, kFailMixedElements,
             [](auto& b) {
                 b[771] = 2;
                 std::memcpy(&b[852], &b[780], 72);
                 b[852 + 23] = 16;
             }),
        with("nine elements", 50, 16, 0, kFailElementCount, [](auto& b) { b[771] = 9; }),
        with("a hundred elements", 50, 16, 0, kFailElementCount, [](auto& b) { b[771] = 100; }),
        with("row padding past 4 GB", 50, 16, 0, kFailRowSize,
             [](auto& b) { std::memset(&b[812], 0x7F, 4); }),
    };
    size_store(store, 3840, 2160, 2);
    fill_display(store, 0x42);
    for (const Case& c : cases) {
        ASSERT_EQ(write_file(dir.file("bad.dpx"), c.bytes), 0);
        const Snapshot before(store);
        ReadFailure why = kReadOk;
        EXPECT_EQ(read_dpx_frame(dir.file("bad.dpx").c_str(), store, tables(), &why), -1) << c.name;
        EXPECT_EQ(why, c.why) << c.name;
        EXPECT_TRUE(before.same(store)) << c.name;
    }

    // The same file with every layout field undefined, and with a second element
    // of its own layout, is read as 16-bit RGB.
    std::vector<std::uint8_t> undefined = layout_file(4, 4, 0xFF, 0xFF, 0xFFFF, data);
    std::memset(&undefined[780], 0xFF, 4);   // data sign
    std::memset(&undefined[806], 0xFF, 2);   // encoding
    std::memset(&undefined[812], 0xFF, 4);   // end-of-line padding
    undefined[770] = undefined[771] = 0xFF;  // number of elements
    std::vector<std::uint8_t> stereo = layout_file(4, 4, 50, 16, 0, data);
    stereo[771] = 2;
    std::memcpy(&stereo[852], &stereo[780], 72);
    for (const auto& file : {undefined, stereo}) {
        ASSERT_EQ(write_file(dir.file("good.dpx"), file), 0);
        size_store(store, 4, 4, 0);
        ASSERT_EQ(read_dpx_frame(dir.file("good.dpx").c_str(), store, tables()), 0);
        EXPECT_EQ(store.pixels[0], 0x40);
        EXPECT_EQ(store.pixels[4 * 15 + 2], 0x40);
    }
}
