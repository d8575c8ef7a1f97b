// A sequence: the chosen frame's path, the frames beside it that differ only in
// their frame digits, and which of them is shown.
#pragma once

#include <cstdint>

#include "platform/platform.h"

/// Source formats decided from the chosen file's extension.
constexpr std::int32_t kFormatPlanar = 0;
constexpr std::int32_t kFormatDpx = 1;

struct Sequence {
    /// The chosen frame's path, rewritten in place with each loaded frame's name.
    char current_path[kPathMax] = {};
    /// Offset in current_path where the file name begins.
    int name_slot = 0;
    /// Holds the wildcard pattern during discovery; scratch for status texts after.
    char work[kPathMax] = {};
    /// kFormatDpx or kFormatPlanar.
    std::int32_t source_format = 0;
    /// frame_count entries of (longest_name + 1) bytes, each a NUL-padded file name.
    char* frame_list = nullptr;
    std::int32_t longest_name = 0;
    /// 0 means no sequence is open.
    std::int32_t frame_count = 0;
    std::int32_t current_frame = 0;
};

/// Turns the path in `path` (NUL-terminated, at most kPathMax bytes) into the
/// wildcard pattern written to `pattern`: digit runs before every dot become '?';
/// where names cannot hold '"' (Windows) a trailing one is dropped. When
/// `wildcards` is not null (kPathMax bytes), it is set non-zero exactly at the
/// positions that became wildcards, for list_matching: a '?' the name itself
/// holds stays a plain character. Sets *name_slot to where the file name begins
/// in `path` and *source_format from the one-letter extension. Pure string work.
void derive_pattern(const char* path, char* pattern, char* wildcards, int* name_slot,
                    std::int32_t* source_format);

/// Lists the frames matching the current path's pattern into the frame list, in
/// name order, and finds the chosen frame in it. Returns 0, or -1 when nothing
/// matches or the folder cannot be listed (frame list and current frame kept).
int discover_sequence(Sequence& seq);

/// Entry `index` of the frame list.
inline const char* frame_name(const Sequence& seq, int index) {
    return seq.frame_list + static_cast<long>(index) * (seq.longest_name + 1);
}

/// Writes the path of frame `index`, the current path with that frame's name in
/// the name slot, to `out` (kPathMax bytes; may be the current path itself).
/// Returns 0, or -1 when the index is outside the list or the name would not fit
/// beside the folder part (it is never cut short into some other file's name).
int frame_path(const Sequence& seq, std::int32_t index, char* out);

/// Releases the frame list (process exit and tests).
void release_sequence(Sequence& seq);
