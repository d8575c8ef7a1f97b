// Frames whose four quadrants have flat colours that depend on the frame number,
// so that a screenshot tells which frame is shown and which way up it is.
#pragma once

#include <string>

/// 8-bit red, green, blue of quadrant `q` (0 top-left, 1 top-right, 2 bottom-left,
/// 3 bottom-right) of frame `frame`.
void quadrant_colour(int frame, int q, int rgb[3]);

/// Writes `count` DPX frames `<dir>/<stem>_<n>.dpx` of width x height. Returns 0 or -1.
int write_quadrant_sequence(const std::string& dir, const std::string& stem, int count, int width,
                            int height);
