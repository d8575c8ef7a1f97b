// A viewer driven the way the window drives it, for tests that throw bad files
// and folders at it, and a watchdog that turns a hang into a failure.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/loading.h"
#include "support/test_files.h"

namespace hostile {

/// Ends the test process (a failure) when the test is not done in `seconds`: a
/// read that blocks on a FIFO or an endless device must not pass by hanging
/// until the harness's much longer timeout.
struct Watchdog {
    explicit Watchdog(unsigned seconds) { alarm(seconds); }
    ~Watchdog() { alarm(0); }
};

inline void record_error(void* context, const char* message, const char*) {
    static_cast<std::vector<std::string>*>(context)->push_back(message);
}

struct ViewerFixture : ::testing::Test {
    Watchdog watchdog{60};
    TempDir dir;
    Viewer viewer;
    std::vector<std::string> errors;

    /// A small display to start from: source 16x8 at full size.
    ViewerFixture() {
        viewer.store.source_width = 16;
        viewer.store.source_height = 8;
        viewer.store.shift = 0;
        viewer.error_box = record_error;
        viewer.error_context = &errors;
        build_conversion_tables(viewer.tables);
        EXPECT_EQ(reallocate_display(viewer.store), 0);
    }
    ~ViewerFixture() override {
        release_display(viewer.store);
        release_sequence(viewer.seq);
    }

    /// Writes a DPX frame of the given size; returns its samples.
    std::vector<std::uint16_t> dpx(const std::string& name, int width, int height, int seed) {
        std::vector<std::uint16_t> rgb = test_pattern(width, height, seed);
        EXPECT_EQ(write_dpx_file(dir.file(name), width, height, rgb.data()), 0);
        return rgb;
    }

    /// Opens `path` as the window's open path does: open, then the size check.
    void open(const std::string& path) {
        ASSERT_LT(path.size(), sizeof viewer.seq.current_path);
        std::memcpy(viewer.seq.current_path, path.c_str(), path.size() + 1);
        open_sequence(viewer);
        bool changed = false;
        complete_size_change(viewer, &changed);
    }

    /// One playback tick as the window does it.
    int tick() {
        timer_tick(viewer.seq, viewer.play);
        bool changed = false;
        return load_frame_checked(viewer, &changed);
    }

    std::size_t display_bytes() const {
        return static_cast<std::size_t>(display_width(viewer.store)) *
               display_height(viewer.store) * 4;
    }

    std::vector<std::uint8_t> picture() const {
        return std::vector<std::uint8_t>(viewer.store.pixels,
                                         viewer.store.pixels + display_bytes());
    }

    /// The display describes a buffer of the source size at the current shift.
    bool display_consistent() const {
        return viewer.store.pixels != nullptr && display_matches_source(viewer.store);
    }

    std::string loaded_name() const { return viewer.seq.current_path + viewer.seq.name_slot; }
};

/// The display pixel (x, y from the bottom) a DPX frame's samples give at `shift`.
inline void expected_dpx_pixel(const std::vector<std::uint16_t>& rgb, int width, int height,
                               int shift, int x, int y, std::uint8_t out[3]) {
    const int row = height - 1 - (y << shift);
    const std::size_t s = (static_cast<std::size_t>(row) * width + (x << shift)) * 3;
    out[0] = static_cast<std::uint8_t>(rgb[s + 2] >> 8);
    out[1] = static_cast<std::uint8_t>(rgb[s + 1] >> 8);
    out[2] = static_cast<std::uint8_t>(rgb[s] >> 8);
}

/// Number of display pixels that differ from the DPX frame's decimation.
inline int wrong_pixels(const Viewer& viewer, const std::vector<std::uint16_t>& rgb, int width,
                        int height) {
    const FrameStore& s = viewer.store;
    int wrong = 0;
    for (int y = 0; y < display_height(s); ++y)
        for (int x = 0; x < display_width(s); ++x) {
            std::uint8_t want[3];
            expected_dpx_pixel(rgb, width, height, s.shift, x, y, want);
            const std::uint8_t* px =
                s.pixels + (static_cast<std::size_t>(y) * display_width(s) + x) * 4;
            wrong += std::memcmp(px, want, 3) != 0;
        }
    return wrong;
}

}  // namespace hostile
