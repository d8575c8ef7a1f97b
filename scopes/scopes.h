// Scopes of the picture on screen: a histogram of red, green, blue and luma, a
// luma waveform and an RGB parade, and a Cb/Cr vectorscope with the targets of
// 75% colour bars. Counted from a BGRX picture of 8-bit video codes and drawn
// into one picture that the front ends only blit; no toolkit, no threads.
#pragma once

#include <cstddef>
#include <cstdint>

/// The drawn scopes: kScopesWidth x kScopesHeight pixels, top row first, rows
/// kScopesWidth * 4 bytes apart, each blue, green, red, 255. Histogram at the
/// top left, vectorscope at the top right, luma waveform at the bottom left,
/// RGB parade at the bottom right.
constexpr int kScopesWidth = 768;
constexpr int kScopesHeight = 512;

/// Columns of the picture the waveform and each colour of the parade tell
/// apart: picture column x falls in column x * columns / width.
constexpr int kWaveformColumns = 384;
constexpr int kParadeColumns = 128;

/// Which luma and colour-difference weights the scopes use: BT.709 for a
/// picture converted to BT.709, BT.2020 for one shown as stored.
enum ScopeMatrix { kScopeBt709, kScopeBt2020 };

/// Integer luma weights (sum 65536) and colour-difference scales of a matrix,
/// in 1/65536: luma Y = (wr R + wg G + wb B + 32768) >> 16 on 8-bit codes, and
/// Cb = (B - Y') * cb_scale, Cr = (R - Y') * cr_scale in 8-bit chroma codes
/// (+-112 for the primaries at 100%), Y' the luma before rounding.
struct ScopeWeights {
    std::int32_t wr, wg, wb;
    std::int64_t cb_scale, cr_scale;
};
ScopeWeights scope_weights(ScopeMatrix matrix);

/// Where a pixel's Cb and Cr fall on the vectorscope's 256 x 256 grid: x =
/// 128 + Cb, y = 128 - Cr (Cr up, y from the top), each rounded half up and
/// kept inside the grid.
struct VectorCell {
    int x, y;
};
VectorCell vector_cell(const ScopeWeights& w, int red, int green, int blue);

/// Most pixels count_scopes takes: a column of the waveform or the parade then
/// holds at most 65535 of them.
constexpr std::int64_t kScopePixelsMost = std::int64_t{1} << 22;

/// What the scopes count: for each waveform column the pixels of each luma
/// code, for each parade column and colour the pixels of each code, and for
/// each vectorscope cell its pixels. The histograms are the sums over columns.
/// Columns are 16-bit, so that all the counts stay close to the processor.
struct ScopeCounts {
    std::uint16_t waveform[kWaveformColumns][256];
    /// parade[column][colour][code], colours red, green, blue.
    std::uint16_t parade[kParadeColumns][3][256];
    /// vector[y][x], as vector_cell places pixels.
    std::uint32_t vector[256][256];
    std::int64_t pixels;
    ScopeMatrix matrix;
};

/// Counts a bottom-up width x height BGRX picture, rows `stride` bytes apart;
/// counts nothing for a picture of more than kScopePixelsMost pixels.
void count_scopes(const std::uint8_t* pixels, int width, int height, std::size_t stride,
                  ScopeMatrix matrix, ScopeCounts& counts);

/// Draws the scopes of `counts` into `out` (see kScopesWidth).
void draw_scopes(const ScopeCounts& counts, std::uint8_t* out);

/// The histogram of colour `channel` (0 red, 1 green, 2 blue, 3 luma) from the
/// counts.
void scope_histogram(const ScopeCounts& counts, int channel, std::uint32_t out[256]);
