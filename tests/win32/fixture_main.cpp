// Writes a small DPX sequence for the window smoke test:
//   karvelin-win32-fixture FOLDER PREFIX COUNT WIDTH HEIGHT
// Frame n is FOLDER\PREFIXnnnn.dpx: a bright colour ramp whose hue moves with n,
// so a screenshot can tell a drawn frame from the gray background.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/frame_files.h"

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: %s FOLDER PREFIX COUNT WIDTH HEIGHT\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    const std::string prefix = argv[2];
    const int count = std::atoi(argv[3]);
    const int width = std::atoi(argv[4]);
    const int height = std::atoi(argv[5]);
    if (count < 1 || count > 9999 || width < 1 || width > 7680 || height < 1 || height > 4320) {
        std::fprintf(stderr, "bad count or size\n");
        return 2;
    }
    std::vector<std::uint16_t> rgb(static_cast<std::size_t>(width) * height * 3);
    for (int n = 0; n < count; ++n) {
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                std::uint16_t* p = &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
                p[0] = static_cast<std::uint16_t>(0xC000 + (x * 0x3FFF) / width);
                p[1] = static_cast<std::uint16_t>((y * 0xFFFF) / height);
                p[2] = static_cast<std::uint16_t>((n * 0x5000) & 0xFFFF);
            }
        char name[32];
        std::snprintf(name, sizeof name, "%04d.dpx", n);
        const std::string path = folder + "\\" + prefix + name;
        if (write_dpx_file(path, width, height, rgb.data()) != 0) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
