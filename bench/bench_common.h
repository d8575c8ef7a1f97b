// What the benchmarks share: medians of samples, the grainy test picture, and
// the floors every case is measured against (plain reads of the same files).
// Header-only: every .cpp in bench/ is a benchmark program of its own.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

inline double ms_since(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

struct Stats {
    double median = 0, min = 0, max = 0;
};

inline Stats stats(std::vector<double> v) {
    Stats s;
    if (v.empty()) return s;
    std::sort(v.begin(), v.end());
    s.median = v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
    s.min = v.front();
    s.max = v.back();
    return s;
}

/// A camera-like picture: smooth ramps in each channel plus grain of +-1024 in
/// every 16-bit sample, so that the 16 -> 8 bit step matters and neighbouring
/// pixels rarely share a colour (no help from colour caches). Rows come out in
/// order, top first; `seed` makes the grain of each frame of a sequence differ.
struct GrainPicture {
    int width = 0;
    int height = 0;
    std::uint32_t state = 0x9E3779B9u;
};

inline GrainPicture grain_picture(int width, int height, std::uint32_t seed = 0) {
    GrainPicture g;
    g.width = width;
    g.height = height;
    g.state ^= seed * 0x85EBCA6Bu;
    if (g.state == 0) g.state = 1;  // xorshift never leaves 0
    return g;
}

/// The red, green and blue samples of row `y` (rows must be asked for in order).
inline void grain_row(GrainPicture& g, int y, std::uint16_t* rgb) {
    for (int x = 0; x < g.width; ++x, rgb += 3) {
        const int base[3] = {4096 + static_cast<int>(x * 56000LL / g.width),
                             4096 + static_cast<int>(y * 56000LL / g.height),
                             4096 + ((x + y) % 1024) * 54};
        for (int c = 0; c < 3; ++c) {
            g.state ^= g.state << 13;
            g.state ^= g.state >> 17;
            g.state ^= g.state << 5;
            const int v = base[c] + static_cast<int>(g.state % 2048) - 1024;
            rgb[c] = static_cast<std::uint16_t>(std::clamp(v, 0, 65535));
        }
    }
}

/// The whole grainy picture, top row first, 3 samples per pixel.
inline std::vector<std::uint16_t> make_grain_picture(int width, int height,
                                                     std::uint32_t seed = 0) {
    std::vector<std::uint16_t> rgb(static_cast<std::size_t>(width) * height * 3);
    GrainPicture g = grain_picture(width, height, seed);
    for (int y = 0; y < height; ++y)
        grain_row(g, y, rgb.data() + static_cast<std::size_t>(y) * width * 3);
    return rgb;
}

/// Floor: `size` bytes of the file into `buffer` with read() calls of at most
/// `chunk` bytes, front to back. Returns false when the file is shorter.
inline bool read_whole_file(const char* path, std::uint8_t* buffer, std::size_t size,
                            std::size_t chunk = SIZE_MAX) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd, buffer + done, std::min(size - done, chunk));
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    return done == size;
}

/// Floor: pread of exactly the rows a read at `shift` uses (every (1 << shift)-th
/// row from the bottom of a 16-bit RGB DPX file whose pixels start at
/// `data_offset`), one call per row, top of the file first, into one row buffer.
inline bool read_needed_rows(const char* path, std::int64_t data_offset, int width, int height,
                             int shift, std::uint8_t* row) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const std::size_t row_bytes = static_cast<std::size_t>(width) * 6;
    const int rows = height >> shift;
    bool ok = true;
    for (int d = rows - 1; d >= 0; --d) {
        const off_t at =
            static_cast<off_t>(data_offset) +
            static_cast<off_t>(height - 1 - (d << shift)) * static_cast<off_t>(row_bytes);
        if (::pread(fd, row, row_bytes, at) != static_cast<ssize_t>(row_bytes)) ok = false;
    }
    ::close(fd);
    return ok;
}

}  // namespace bench
