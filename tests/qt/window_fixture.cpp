#include "window_fixture.h"

#include <cstdint>
#include <vector>

#include "tools/frame_files.h"

void quadrant_colour(int frame, int q, int rgb[3]) {
    // Distinct in every channel for every frame and quadrant, and clear of the
    // gray (128) around the picture.
    rgb[0] = 20 + 40 * q + 7 * frame;
    rgb[1] = 230 - 50 * q - 11 * frame;
    rgb[2] = 60 + 13 * frame + 30 * (q & 1) + 90 * (q >> 1);
}

int write_quadrant_sequence(const std::string& dir, const std::string& stem, int count, int width,
                            int height) {
    std::vector<std::uint16_t> rgb(static_cast<std::size_t>(width) * height * 3);
    for (int f = 0; f < count; ++f) {
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                int c[3];
                quadrant_colour(f, (y >= height / 2 ? 2 : 0) + (x >= width / 2 ? 1 : 0), c);
                std::uint16_t* p = &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
                // The low byte is noise the viewer drops.
                for (int i = 0; i < 3; ++i)
                    p[i] = static_cast<std::uint16_t>(c[i] << 8 | (x & 0xFF));
            }
        }
        const std::string name = dir + "/" + stem + "_" + std::to_string(f) + ".dpx";
        if (write_dpx_file(name, width, height, rgb.data()) != 0) return -1;
    }
    return 0;
}
