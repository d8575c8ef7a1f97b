// What a frame says of itself, as "field: value" lines: the Frame Info box and
// `karvelin --info FRAME` both show this listing. No toolkit, no window.
#pragma once

#include <cstdint>
#include <string>

#include "core/formats/format.h"

/// Writes a header timecode (BCD HH MM SS FF, hours in the top byte) as
/// "HH:MM:SS:FF", or "HH:MM:SS;FF" when its drop-frame flag (bit 6 of the
/// frames byte) is set. Returns false, writing nothing, for an unset (all ones)
/// or malformed one (a digit above 9, 24 hours or more, 60 minutes or seconds).
bool format_timecode(std::uint32_t timecode, char* out, int capacity);

/// The listing of a frame whose header `info` was read from `path` (for a
/// planar frame, any of its planes).
std::string frame_info_text(const char* path, const FrameInfo& info);

/// Reads the frame at `path` of format `source_format` (`width` x `height` the
/// size a planar frame without a size tag has) and writes its listing to `out`.
/// Returns 0, or -1 saying why in *why.
int frame_info_listing(std::int32_t source_format, const char* path, std::int32_t width,
                       std::int32_t height, std::string& out, ReadFailure* why);

/// What `karvelin --info FRAME` prints: the listing of FRAME, its format chosen
/// from its name as the viewer chooses it, to `out`, returning 0; or the line
/// "karvelin: FRAME: reason" to `error`, returning 1.
int info_command(const char* frame, std::string& out, std::string& error);
