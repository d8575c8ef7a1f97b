// Milliseconds per frame for the scopes of the picture on screen: counting and
// drawing them (what the scopes' worker does for each frame), and handing a
// frame over to the worker (the only part the window's tick pays), for a
// 960x540 display (4K at 1/4) and larger ones the worker counts from a sample.
// Pictures: the grainy picture's top 8 bits, a flat colour, and random colours.
//
// usage: scopes_bench [--rounds N]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_common.h"
#include "scopes/scope_worker.h"
#include "scopes/scopes.h"

namespace {

using bench::Clock;
using bench::ms_since;

std::vector<std::uint8_t> picture(int w, int h, const std::string& kind) {
    std::vector<std::uint8_t> px(static_cast<std::size_t>(w) * h * 4, 0);
    if (kind == "grain") {
        const auto rgb = bench::make_grain_picture(w, h);
        for (std::size_t i = 0; i < static_cast<std::size_t>(w) * h; ++i) {
            px[4 * i] = static_cast<std::uint8_t>(rgb[3 * i + 2] >> 8);
            px[4 * i + 1] = static_cast<std::uint8_t>(rgb[3 * i + 1] >> 8);
            px[4 * i + 2] = static_cast<std::uint8_t>(rgb[3 * i] >> 8);
        }
    } else if (kind == "flat") {
        for (std::size_t i = 0; i < px.size(); i += 4) {
            px[i] = 60;
            px[i + 1] = 120;
            px[i + 2] = 180;
        }
    } else {
        std::uint32_t x = 1;
        for (auto& b : px) b = static_cast<std::uint8_t>((x = x * 1103515245u + 12345u) >> 16);
    }
    return px;
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 41;
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) rounds = std::atoi(argv[++i]);
    auto counts = std::make_unique<ScopeCounts>();
    std::vector<std::uint8_t> out(static_cast<std::size_t>(kScopesWidth) * kScopesHeight * 4);
    ScopeWorker* worker = start_scope_worker();
    if (!worker) return 1;
    std::printf("%-10s %-7s %12s %12s %15s %14s\n", "display", "picture", "count ms", "draw ms",
                "total ms (min)", "hand-over ms");
    const int sizes[][2] = {{960, 540}, {1920, 1080}, {3840, 2160}};
    for (const auto& size : sizes) {
        for (const char* kind : {"grain", "flat", "random"}) {
            const int w = size[0], h = size[1];
            const auto px = picture(w, h, kind);
            // What the worker counts: the display itself, or its sample.
            int f = 1;
            while (static_cast<std::int64_t>((w - 1) / f + 1) * ((h - 1) / f + 1) >
                   kScopeInputPixels)
                f *= 2;
            const int sw = (w - 1) / f + 1, sh = (h - 1) / f + 1;
            std::vector<std::uint8_t> sample(static_cast<std::size_t>(sw) * sh * 4);
            for (int y = 0; y < sh; ++y)
                for (int x = 0; x < sw; ++x)
                    std::memcpy(&sample[(static_cast<std::size_t>(y) * sw + x) * 4],
                                &px[(static_cast<std::size_t>(y) * f * w + x * f) * 4], 4);
            std::vector<double> count_ms, draw_ms, total_ms, post_ms;
            // Once untimed: the counts, the picture and the worker's buffers
            // in memory before any round counts.
            for (int r = 0; r < 3; ++r) {
                count_scopes(sample.data(), sw, sh, static_cast<std::size_t>(sw) * 4, kScopeBt709,
                             *counts);
                draw_scopes(*counts, out.data());
                post_scope_frame(*worker, px.data(), w, h, kScopeBt709);
                while (scopes_pending(*worker)) std::this_thread::yield();
                const std::uint8_t* taken = nullptr;
                take_scopes(*worker, &taken);
            }
            for (int r = 0; r < rounds; ++r) {
                auto t0 = Clock::now();
                count_scopes(sample.data(), sw, sh, static_cast<std::size_t>(sw) * 4, kScopeBt709,
                             *counts);
                count_ms.push_back(ms_since(t0));
                auto t1 = Clock::now();
                draw_scopes(*counts, out.data());
                draw_ms.push_back(ms_since(t1));
                total_ms.push_back(ms_since(t0));
            }
            // The hand-over alone, with the worker idle, as between two ticks.
            for (int r = 0; r < rounds; ++r) {
                const auto t2 = Clock::now();
                post_scope_frame(*worker, px.data(), w, h, kScopeBt709);
                post_ms.push_back(ms_since(t2));
                while (scopes_pending(*worker)) std::this_thread::yield();
                const std::uint8_t* taken = nullptr;
                take_scopes(*worker, &taken);
            }
            const bench::Stats total = bench::stats(total_ms);
            std::printf("%4dx%-5d %-7s %12.3f %12.3f %7.3f (%.3f) %14.3f\n", w, h, kind,
                        bench::stats(count_ms).median, bench::stats(draw_ms).median, total.median,
                        total.min, bench::stats(post_ms).median);
        }
    }
    stop_scope_worker(worker);
    std::printf(
        "\nmedians of %d rounds. count + draw is the worker's time per frame (target <= 2 ms\n"
        "for 960x540); hand-over is the copy the window's tick pays to give the worker a frame\n"
        "(displays over 1M pixels are handed over as every 2nd or 4th pixel of every 2nd or\n"
        "4th row).\n",
        rounds);
    return 0;
}
