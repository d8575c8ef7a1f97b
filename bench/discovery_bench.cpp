// Sequence discovery in a busy folder against the floor of one bare readdir pass
// over the same folder, measured side by side in one run.
//
//   discovery_bench [frames=10000] [others=10000] [rounds=30]
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/sequence.h"

namespace {

double now_ms() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

/// The floor: every entry of the folder visited once, names looked at and nothing
/// kept.
std::size_t bare_readdir(const char* folder) {
    DIR* dir = opendir(folder);
    if (!dir) return 0;
    std::size_t bytes = 0;
    while (struct dirent* entry = readdir(dir)) bytes += std::strlen(entry->d_name);
    closedir(dir);
    return bytes;
}

bool touch(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    std::fclose(f);
    return true;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const int frames = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int others = argc > 2 ? std::atoi(argv[2]) : 10000;
    const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 30;

    std::string tmpl = (std::filesystem::temp_directory_path() / "karvelin-disc-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string folder = tmpl;
    bool made = true;
    char name[64];
    // Interleave the two kinds so that neither sits in one block of the folder.
    for (int i = 0; made && i < std::max(frames, others); ++i) {
        if (i < frames) {
            std::snprintf(name, sizeof name, "/Cafe_%05d.dpx", i);
            made = touch(folder + name);
        }
        if (made && i < others) {
            std::snprintf(name, sizeof name, "/other_%05d.txt", i);
            made = touch(folder + name);
        }
    }

    int status = 0;
    if (!made) {
        std::fprintf(stderr, "cannot create the test folder's files\n");
        status = 1;
    } else {
        static Sequence seq;
        std::snprintf(seq.current_path, sizeof seq.current_path, "%s/Cafe_%05d.dpx", folder.c_str(),
                      frames / 2);
        std::vector<double> discovery, floor;
        std::size_t sink = 0;
        // One warm-up round of each, so both run on a cached folder.
        sink += bare_readdir(folder.c_str());
        if (discover_sequence(seq) != 0 || seq.frame_count != frames) {
            std::fprintf(stderr, "discovery found %d frames, expected %d\n", seq.frame_count,
                         frames);
            status = 1;
        }
        for (int r = 0; status == 0 && r < rounds; ++r) {
            double t = now_ms();
            sink += bare_readdir(folder.c_str());
            floor.push_back(now_ms() - t);
            t = now_ms();
            discover_sequence(seq);
            discovery.push_back(now_ms() - t);
        }
        if (status == 0) {
            const double d = median(discovery), f = median(floor);
            std::printf("folder: %d frames + %d other files, %d rounds (medians)\n", frames, others,
                        rounds);
            std::printf("%-28s %10s\n", "", "ms");
            std::printf("%-28s %10.3f\n", "bare readdir pass (floor)", f);
            std::printf("%-28s %10.3f\n", "discover_sequence", d);
            std::printf("ratio discovery / floor: %.2f (target <= 3.00)\n", d / f);
            std::printf("frames listed: %d, current frame %d (%zu name bytes seen)\n",
                        seq.frame_count, seq.current_frame, sink);
        }
        release_sequence(seq);
    }
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    return status;
}
