// Helper of the real-window test: writes the quadrant sequence, and checks a
// screenshot (binary PPM) for the picture of a given frame.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "window_fixture.h"

namespace {

struct Ppm {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgb;
    const unsigned char* at(int x, int y) const {
        return &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
    }
};

bool read_ppm(const char* path, Ppm& out) {
    std::FILE* f = std::fopen(path, "rb");
    if (!f) return false;
    int maxval = 0;
    const bool ok = std::fscanf(f, "P6 %d %d %d", &out.width, &out.height, &maxval) == 3 &&
                    maxval == 255 && out.width > 0 && out.height > 0 && out.width < 20000 &&
                    out.height < 20000 && std::fgetc(f) != EOF;
    if (ok) {
        out.rgb.resize(static_cast<std::size_t>(out.width) * out.height * 3);
        const bool full = std::fread(out.rgb.data(), 1, out.rgb.size(), f) == out.rgb.size();
        std::fclose(f);
        return full;
    }
    std::fclose(f);
    return false;
}

bool same(const unsigned char* p, const int rgb[3]) {
    return p[0] == rgb[0] && p[1] == rgb[1] && p[2] == rgb[2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 6 && std::strcmp(argv[1], "make") == 0) {
        return write_quadrant_sequence(argv[2], argv[3], std::atoi(argv[4]), std::atoi(argv[5]),
                                       std::atoi(argv[5]) / 2) == 0
                   ? 0
                   : 1;
    }
    if (argc == 6 && std::strcmp(argv[1], "check") == 0) {
        // check SHOT.ppm FRAME DISPLAY_WIDTH DISPLAY_HEIGHT
        Ppm shot;
        if (!read_ppm(argv[2], shot)) {
            std::fprintf(stderr, "cannot read %s\n", argv[2]);
            return 1;
        }
        const int frame = std::atoi(argv[3]);
        const int w = std::atoi(argv[4]);
        const int h = std::atoi(argv[5]);
        int tl[3];
        quadrant_colour(frame, 0, tl);
        // The picture's top-left corner: the first pixel of the top-left colour
        // scanning from the top.
        for (int y = 0; y + h <= shot.height; ++y) {
            for (int x = 0; x + w <= shot.width; ++x) {
                if (!same(shot.at(x, y), tl)) continue;
                const int points[][3] = {{2, 2, 0},         {w / 2 - 2, h / 2 - 2, 0},
                                         {w - 3, 2, 1},     {w / 2 + 2, h / 2 - 2, 1},
                                         {2, h - 3, 2},     {w / 2 - 2, h / 2 + 2, 2},
                                         {w - 3, h - 3, 3}, {w / 2 + 2, h / 2 + 2, 3}};
                bool all = true;
                for (const auto& p : points) {
                    int c[3];
                    quadrant_colour(frame, p[2], c);
                    const unsigned char* got = shot.at(x + p[0], y + p[1]);
                    if (!same(got, c)) {
                        std::fprintf(stderr, "at +%d,+%d: %d,%d,%d, expected %d,%d,%d\n", p[0],
                                     p[1], got[0], got[1], got[2], c[0], c[1], c[2]);
                        all = false;
                    }
                }
                if (all) {
                    std::printf("frame %d found at %d,%d\n", frame, x, y);
                    return 0;
                }
                return 1;
            }
        }
        std::fprintf(stderr, "frame %d not on the screen\n", frame);
        return 1;
    }
    std::fprintf(stderr,
                 "usage: window_check make DIR STEM COUNT WIDTH\n"
                 "       window_check check SHOT.ppm FRAME DISPLAY_WIDTH DISPLAY_HEIGHT\n");
    return 2;
}
