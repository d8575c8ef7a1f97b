// The scopes against counts computed plainly from the pixels, the matrices
// against their luma and colour-difference definitions, and the worker thread
// against the scopes of the frames it was handed.
#include "scopes/scopes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "scopes/scope_worker.h"

namespace {

/// A bottom-up BGRX picture of random codes, byte 3 random too.
std::vector<std::uint8_t> random_picture(int w, int h, std::uint32_t seed) {
    std::vector<std::uint8_t> px(static_cast<std::size_t>(w) * h * 4);
    for (auto& b : px) {
        seed = seed * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(seed >> 16);
    }
    return px;
}

std::unique_ptr<ScopeCounts> counted(const std::vector<std::uint8_t>& px, int w, int h,
                                     ScopeMatrix m) {
    auto c = std::make_unique<ScopeCounts>();
    count_scopes(px.data(), w, h, static_cast<std::size_t>(w) * 4, m, *c);
    return c;
}

}  // namespace

// Every pixel lands where its column, its codes and its luma say, once in each
// scope, and the histograms are those of the codes.
TEST(Scopes, CountsArePlainCountsOfThePixels) {
    for (const ScopeMatrix m : {kScopeBt709, kScopeBt2020}) {
        const int w = 517, h = 93;
        const auto px = random_picture(w, h, 5 + m);
        const auto c = counted(px, w, h, m);
        const ScopeWeights wt = scope_weights(m);
        std::vector<std::uint32_t> wave(kWaveformColumns * 256), parade(kParadeColumns * 3 * 256);
        std::vector<std::uint32_t> vec(256 * 256), hist(4 * 256);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const std::uint8_t* p = &px[(static_cast<std::size_t>(y) * w + x) * 4];
                const int rgb[3] = {p[2], p[1], p[0]};
                const long long weighted = static_cast<long long>(wt.wr) * rgb[0] +
                                           static_cast<long long>(wt.wg) * rgb[1] +
                                           static_cast<long long>(wt.wb) * rgb[2];
                const int luma = static_cast<int>((weighted + 32768) / 65536);
                ++wave[luma * kWaveformColumns + x * kWaveformColumns / w];
                for (int k = 0; k < 3; ++k) {
                    ++parade[(k * 256 + rgb[k]) * kParadeColumns + x * kParadeColumns / w];
                    ++hist[k * 256 + rgb[k]];
                }
                ++hist[3 * 256 + luma];
                const VectorCell cell = vector_cell(wt, rgb[0], rgb[1], rgb[2]);
                ++vec[cell.y * 256 + cell.x];
            }
        EXPECT_EQ(c->pixels, w * h);
        EXPECT_EQ(std::memcmp(c->waveform, wave.data(), sizeof c->waveform), 0);
        EXPECT_EQ(std::memcmp(c->parade, parade.data(), sizeof c->parade), 0);
        EXPECT_EQ(std::memcmp(c->vector, vec.data(), sizeof c->vector), 0);
        for (int k = 0; k < 4; ++k) {
            std::uint32_t got[256];
            scope_histogram(*c, k, got);
            EXPECT_EQ(std::memcmp(got, &hist[k * 256], sizeof got), 0) << k;
        }
    }
}

// The integer luma and the grid cells stay within one code of the matrices'
// definitions in real numbers, on every 8-bit input, and grey has no colour.
TEST(Scopes, MatricesFollowTheirDefinitions) {
    struct Matrix {
        ScopeMatrix m;
        double kr, kb;
    };
    for (const Matrix& d :
         {Matrix{kScopeBt709, 0.2126, 0.0722}, Matrix{kScopeBt2020, 0.2627, 0.0593}}) {
        const ScopeWeights w = scope_weights(d.m);
        double luma_error = 0;
        int cell_error = 0;
        auto cell_of = [](double v) {
            return static_cast<int>(std::lround(std::clamp(v, 0.0, 255.0)));
        };
        for (int r = 0; r < 256; r += 3)
            for (int g = 0; g < 256; g += 1)
                for (int b = 0; b < 256; b += 5) {
                    const double y = d.kr * r + (1 - d.kr - d.kb) * g + d.kb * b;
                    const double cb = (b - y) / (2 * (1 - d.kb)) * 224 / 219;
                    const double cr = (r - y) / (2 * (1 - d.kr)) * 224 / 219;
                    const long long weighted = static_cast<long long>(w.wr) * r +
                                               static_cast<long long>(w.wg) * g +
                                               static_cast<long long>(w.wb) * b;
                    luma_error = std::max(luma_error, std::fabs((weighted + 32768) / 65536 - y));
                    const VectorCell cell = vector_cell(w, r, g, b);
                    cell_error = std::max({cell_error, std::abs(cell.x - cell_of(128 + cb)),
                                           std::abs(cell.y - cell_of(128 - cr))});
                }
        // Rounded: half a code (and the weights' own rounding), and a cell at most
        // one off where the real value lies on a half.
        EXPECT_LE(luma_error, 0.5 + 255 * 1.5 / 65536) << d.m;
        EXPECT_LE(cell_error, 1) << d.m;
        for (int v : {0, 16, 128, 235, 255}) {
            const VectorCell grey = vector_cell(w, v, v, v);
            EXPECT_EQ(grey.x, 128);
            EXPECT_EQ(grey.y, 128);
        }
        // 100% blue and red reach the edge of 8-bit chroma, 112 codes out.
        EXPECT_EQ(vector_cell(w, 16, 16, 235).x, 128 + 112);
        EXPECT_EQ(vector_cell(w, 235, 16, 16).y, 128 - 112);
    }
}

// One flat colour shows where it belongs in each drawn scope, and the 75% targets
// frame the cells of 75% bars.
TEST(Scopes, DrawingPutsAFlatColourWhereItsCountsAre) {
    // Wider than the waveform's columns, so that every column holds pixels.
    const int w = 2 * kWaveformColumns, h = 4;
    std::vector<std::uint8_t> px(static_cast<std::size_t>(w) * h * 4);
    for (std::size_t i = 0; i < px.size(); i += 4) {
        px[i] = 40;       // blue
        px[i + 1] = 180;  // green
        px[i + 2] = 100;  // red
    }
    const auto c = counted(px, w, h, kScopeBt709);
    std::vector<std::uint8_t> out(static_cast<std::size_t>(kScopesWidth) * kScopesHeight * 4);
    draw_scopes(*c, out.data());
    auto at = [&](int x, int y) {
        return &out[(static_cast<std::size_t>(y) * kScopesWidth + x) * 4];
    };
    auto lit = [&](int x, int y) { return at(x, y)[0] + at(x, y)[1] + at(x, y)[2] > 3 * 60; };
    const ScopeWeights wt = scope_weights(kScopeBt709);
    const int luma = static_cast<int>((wt.wr * 100LL + wt.wg * 180LL + wt.wb * 40LL + 32768) >> 16);
    // Waveform: every column at the luma's row (code 255 at the top of the panel).
    for (int x = 0; x < kWaveformColumns; x += 7) {
        EXPECT_TRUE(lit(x, 256 + 255 - luma)) << x;
        EXPECT_FALSE(lit(x, 256 + 255 - luma + 3)) << x;
    }
    // Parade: green's code in the middle third.
    EXPECT_TRUE(lit(kWaveformColumns + kParadeColumns + 5, 256 + 255 - 180));
    const VectorCell cell = vector_cell(wt, 100, 180, 40);
    EXPECT_TRUE(lit(512 + cell.x, cell.y));
    // Histogram: the red strip's bar at code 100 is full, its neighbours empty.
    EXPECT_EQ(at(2 * 100, 10)[2], 230);
    EXPECT_LT(at(2 * 102, 10)[2], 60);
    const VectorCell yellow = vector_cell(wt, 180, 180, 16);
    EXPECT_EQ(at(512 + yellow.x - 4, yellow.y)[1], 170);
    for (std::size_t i = 3; i < out.size(); i += 4) ASSERT_EQ(out[i], 255);
}

// Frames handed over faster than they are drawn: every scopes picture taken is
// that of one of the frames, whole, and the last frame's scopes come last;
// large pictures are counted from their sample.
TEST(ScopeWorker, LatestFrameWinsAndPicturesAreWhole) {
    ScopeWorker* worker = start_scope_worker();
    ASSERT_NE(worker, nullptr);
    const int w = 960, h = 540;
    std::vector<std::vector<std::uint8_t>> frames, expected;
    for (int k = 0; k < 4; ++k) {
        frames.push_back(random_picture(w, h, 100 + k));
        const auto c = counted(frames.back(), w, h, k % 2 ? kScopeBt2020 : kScopeBt709);
        expected.emplace_back(static_cast<std::size_t>(kScopesWidth) * kScopesHeight * 4);
        draw_scopes(*c, expected.back().data());
    }
    int taken = 0;
    const std::uint8_t* picture = nullptr;
    for (int i = 0; i < 40; ++i) {
        const int k = i % 4;
        post_scope_frame(*worker, frames[k].data(), w, h, k % 2 ? kScopeBt2020 : kScopeBt709);
        if (take_scopes(*worker, &picture)) {
            ++taken;
            bool known = false;
            for (const auto& e : expected)
                known = known || std::memcmp(picture, e.data(), e.size()) == 0;
            EXPECT_TRUE(known) << "a picture that is no frame's scopes, after frame " << i;
        }
    }
    while (scopes_pending(*worker)) std::this_thread::yield();
    ASSERT_TRUE(take_scopes(*worker, &picture));
    EXPECT_EQ(std::memcmp(picture, expected[39 % 4].data(), expected[0].size()), 0);
    EXPECT_FALSE(take_scopes(*worker, &picture));

    // A picture larger than the worker counts is handed over as every f-th pixel
    // of every f-th row: 3840x2160 as its 960x540 sample.
    const auto big = random_picture(4 * w, 4 * h, 9);
    std::vector<std::uint8_t> sample(static_cast<std::size_t>(w) * h * 4);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            std::memcpy(&sample[(static_cast<std::size_t>(y) * w + x) * 4],
                        &big[(static_cast<std::size_t>(4 * y) * 4 * w + 4 * x) * 4], 4);
    draw_scopes(*counted(sample, w, h, kScopeBt709), expected[0].data());
    post_scope_frame(*worker, big.data(), 4 * w, 4 * h, kScopeBt709);
    while (scopes_pending(*worker)) std::this_thread::yield();
    ASSERT_TRUE(take_scopes(*worker, &picture));
    EXPECT_EQ(std::memcmp(picture, expected[0].data(), expected[0].size()), 0);
    stop_scope_worker(worker);
}
