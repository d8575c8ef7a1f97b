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
#include "support/viewer_fixture.h"

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

struct ViewerFixture : ViewerFixtureBase {
    Watchdog watchdog{60};
    std::vector<std::string> errors;

    /// A small display to start from: source 16x8 at full size.
    ViewerFixture() : ViewerFixtureBase(0) {
        viewer.error_box = record_error;
        viewer.error_context = &errors;
        build_conversion_tables(viewer.tables);
    }

    /// Opens `path` as the window's open path does.
    void open(const std::string& path) { open_path(path); }

    /// One playback tick as the window does it.
    int tick() {
        timer_tick(viewer.seq, viewer.play);
        bool changed = false;
        return load_frame_checked(viewer, &changed);
    }

    /// The display describes a buffer of the source size at the current shift.
    bool display_consistent() const {
        return viewer.store.pixels != nullptr && display_matches_source(viewer.store);
    }
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
