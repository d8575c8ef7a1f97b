// What the window keeps while it compares its sequence (A) with a second one
// (B): B's sequence and picture, how the two are shown, and the metrics of the
// pair on screen. Toolkit-free; the window logic owns one in its Window.
#pragma once

#include <cstdint>

#include "compare/compose.h"
#include "compare/metrics_worker.h"
#include "core/sequence.h"

/// File > Compare With... and File > Close Compare.
constexpr int kCmdCompareWith = 105;
constexpr int kCmdCloseCompare = 106;
/// The Compare menu: what is shown (one of them checked), the difference's
/// gain, and the offset of B's frames.
constexpr int kCmdShowA = 401;
constexpr int kCmdShowB = 402;
constexpr int kCmdToggleAB = 403;
constexpr int kCmdWipe = 404;
constexpr int kCmdSideBySide = 405;
constexpr int kCmdDifference = 406;
constexpr int kCmdSignedDifference = 407;
constexpr int kCmdGainUp = 410;
constexpr int kCmdGainDown = 411;
constexpr int kCmdOffsetLater = 412;
constexpr int kCmdOffsetEarlier = 413;
constexpr int kCmdOffsetZero = 414;

/// How the pair is shown.
enum CompareMode {
    kCompareShowA,
    kCompareShowB,
    kCompareWipe,
    kCompareSideBySide,
    kCompareDifference,
    kCompareSignedDifference,
};

struct CompareView {
    /// True while a second sequence is open.
    bool active = false;
    Sequence seq;
    /// B's frame shown beside A's frame n is n + offset.
    std::int32_t offset = 0;
    CompareMode mode = kCompareWipe;
    /// The difference picture's gain: 1, 2, 4, ... kMaxDifferenceGain.
    std::int32_t gain = 1;
    /// The wipe's split: display columns left of it show A.
    std::int32_t split = 0;

    /// B's picture at the display's size, and the frame of B it holds (-1: none
    /// pairs with A's frame, or it could not be read; black then).
    Picture b;
    std::int32_t b_frame = -1;
    /// Why B's frame is not shown (kReadOk: it is, or none pairs); set with
    /// b_other_size when it has another size than A's.
    ReadFailure b_failure = kReadOk;
    bool b_other_size = false;
    /// The wipe, side-by-side and difference pictures; composed_bytes allocated.
    Picture composed;
    std::size_t composed_bytes = 0;
    /// A display row of stored samples of each frame, for the difference.
    std::uint16_t* row_a = nullptr;
    std::uint16_t* row_b = nullptr;

    /// The metrics of the pair on screen, worked out in the background, and the
    /// latest result taken from it (have_result false before the first).
    MetricsWorker* worker = nullptr;
    /// The pair asked for last and its serial (0: none yet).
    PairRequest last;
    std::uint64_t posted = 0;
    /// Set once the front end stopped the background work for good.
    bool background_stopped = false;
    PairResult result;
    bool have_result = false;
};
