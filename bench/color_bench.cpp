// Nanoseconds per pixel of the BT.2020 to BT.709 conversion on one core: the
// reference arithmetic written out literally, the library's per-pixel call, and
// its row call on each row path the CPU has, side by side on the same inputs in
// one run.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <vector>

#include "bench/bench_common.h"
#include "color/bt2020.h"

namespace {

struct Literal {
    double d[256];
    double t[256];
};

double curve(double a) {
    if (a < 0.08145) return a / 4.5;
    return std::pow((a + 0.0993) / 1.0993, 2.2222222222222223);
}

int search(const Literal& l, double v) {
    int d = 128;
    for (int e = 64; e >= 1; e /= 2) d = v < l.t[d] ? d - e : d + e;
    return v < l.t[d] ? d - 1 : d;
}

void literal_convert(const Literal& l, int& red, int& green, int& blue) {
    const double R = l.d[red], G = l.d[green], B = l.d[blue];
    const double r = (1.6605 * R - 0.5876 * G) - 0.0729 * B;
    const double g = (1.1328 * G - 0.1244 * R) - 0.0084 * B;
    const double b = 1.1188 * B + (-0.0181 * R - 0.1006 * G);
    red = search(l, r);
    green = search(l, g);
    blue = search(l, b);
}

// CPU time of the calling thread: on a machine shared with other work, time
// spent waiting for a core does not count against the conversion.
double thread_ns() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e9 + static_cast<double>(t.tv_nsec);
}

// Fastest of `runs` (the steadiest figure) of ns of thread CPU time per pixel for
// `fn` applied to a fresh copy of `src`.
template <class Fn>
double ns_per_pixel(const std::vector<std::uint8_t>& src, int runs, Fn fn) {
    std::vector<double> times;
    std::vector<std::uint8_t> work;
    for (int i = 0; i < runs; ++i) {
        work = src;
        const double t0 = thread_ns();
        fn(work.data(), static_cast<int>(work.size() / 4));
        times.push_back((thread_ns() - t0) / static_cast<double>(work.size() / 4));
    }
    std::sort(times.begin(), times.end());
    return times[0];
}

enum class Content { random, bars, checker, noisy_ramp, grain };
const char* const kContentNames[] = {"random", "bars", "checker", "ramp+noise", "grain"};

// Pixels in rows of 3840: every pixel different (worst case); colour bars
// (long runs of one colour, as in a test pattern); a one-pixel checker of two
// colours; a horizontal ramp with a little noise (many nearby colours, as in
// natural pictures); the grainy picture of the other benchmarks (top bytes).
std::vector<std::uint8_t> make_pixels(int count, Content content) {
    std::vector<std::uint8_t> v(static_cast<std::size_t>(count) * 4);
    if (content == Content::grain) {
        const std::vector<std::uint16_t> rgb = bench::make_grain_picture(3840, count / 3840);
        for (std::size_t i = 0; i < static_cast<std::size_t>(count); ++i) {
            v[4 * i] = static_cast<std::uint8_t>(rgb[3 * i + 2] >> 8);
            v[4 * i + 1] = static_cast<std::uint8_t>(rgb[3 * i + 1] >> 8);
            v[4 * i + 2] = static_cast<std::uint8_t>(rgb[3 * i] >> 8);
        }
        return v;
    }
    std::uint32_t x = 2463534242u;
    for (int i = 0; i < count; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        const int col = i % 3840, row = i / 3840;
        std::uint32_t c = x;
        if (content == Content::bars) c = static_cast<std::uint32_t>(col / 549) * 0x9E3779B9u;
        if (content == Content::checker) c = ((col + row) & 1) ? 0x10EB10u : 0xEB10EBu;
        if (content == Content::noisy_ramp) {
            const std::uint32_t level = 16 + static_cast<std::uint32_t>(col) * 219 / 3840;
            c = (level + (x & 3)) * 0x010101u;
        }
        v[4 * i] = static_cast<std::uint8_t>(c);
        v[4 * i + 1] = static_cast<std::uint8_t>(c >> 8);
        v[4 * i + 2] = static_cast<std::uint8_t>(c >> 16);
        v[4 * i + 3] = 0;
    }
    return v;
}

}  // namespace

int main() {
    ConversionTables tables;
    build_conversion_tables(tables);
    Literal lit;
    for (int i = 0; i < 256; ++i) {
        lit.d[i] = curve((i - 16) / 219.0);
        lit.t[i] = curve((i - 16.5) / 219.0);
    }
    const int count = 3840 * 540;  // a quarter of a 4K frame per run
    const char* const path_names[] = {"portable", "4-px double", "16-px float"};
    std::printf("%-10s %10s %10s", "pixels", "literal", "pixel");
    for (int level = 0; level <= tables.vector_rows; ++level)
        std::printf(" %12s", path_names[level]);
    std::printf("\n");
    for (Content content :
         {Content::random, Content::bars, Content::checker, Content::noisy_ramp, Content::grain}) {
        const auto src = make_pixels(count, content);
        const double t_lit = ns_per_pixel(src, 9, [&](std::uint8_t* p, int n) {
            for (int i = 0; i < n; ++i, p += 4) {
                int r = p[2], g = p[1], b = p[0];
                literal_convert(lit, r, g, b);
                p[0] = static_cast<std::uint8_t>(b);
                p[1] = static_cast<std::uint8_t>(g);
                p[2] = static_cast<std::uint8_t>(r);
            }
        });
        const double t_pix = ns_per_pixel(src, 9, [&](std::uint8_t* p, int n) {
            for (int i = 0; i < n; ++i, p += 4) {
                int r = p[2], g = p[1], b = p[0];
                convert_pixel(tables, r, g, b);
                p[0] = static_cast<std::uint8_t>(b);
                p[1] = static_cast<std::uint8_t>(g);
                p[2] = static_cast<std::uint8_t>(r);
            }
        });
        std::printf("%-10s %7.2f ns %7.2f ns", kContentNames[static_cast<int>(content)], t_lit,
                    t_pix);
        for (int level = 0; level <= tables.vector_rows; ++level) {
            ConversionTables path = tables;
            path.vector_rows = level;
            // The row call as the readers make it: one display row at a time.
            const double t = ns_per_pixel(src, 9, [&](std::uint8_t* p, int n) {
                for (int i = 0; i < n; i += 3840) convert_row_bgrx(path, p + 4 * i, 3840);
            });
            std::printf(" %9.2f ns", t);
        }
        std::printf("\n");
        // The same rows marking the pixels that leave the gamut.
        std::printf("%-10s %10s %10s", "  marked", "", "");
        std::vector<std::uint64_t> marks(3840 / 64);
        for (int level = 0; level <= tables.vector_rows; ++level) {
            ConversionTables path = tables;
            path.vector_rows = level;
            const double t = ns_per_pixel(src, 9, [&](std::uint8_t* p, int n) {
                for (int i = 0; i < n; i += 3840)
                    convert_row_bgrx_marked(path, p + 4 * i, 3840, marks.data());
            });
            std::printf(" %9.2f ns", t);
        }
        std::printf("\n");
    }
    return 0;
}
