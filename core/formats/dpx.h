// The DPX format: big-endian (SDPX) RGB, RGBA and ABGR files of 8, 10, 12 and
// 16 bits per sample, filled or packed (see dpx_layout.h).
#pragma once

#include "core/formats/format.h"

/// The DPX entry of the format table.
extern const FrameFormat kDpxFormat;
