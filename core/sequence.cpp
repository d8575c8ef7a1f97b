// Sequence discovery: from the path of one chosen frame to the sorted list of
// every frame beside it that differs only in its frame digits.
#include "core/sequence.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

/// Plane extensions: a one-letter extension among these names one plane of a
/// planar frame.
constexpr const char kPlaneLetters[] = "rgbRGB";

/// True when exactly one single-byte character follows the dot at `dot` before the
/// end of the pattern and it is a plane letter.
bool is_plane_extension(const char* pattern, int dot) {
    const int letter = dot + 1;
    if (pattern[letter] == '\0') return false;
    if (path_char_length(pattern, letter) != 1) return false;
    if (pattern[letter + 1] != '\0') return false;
    return std::strchr(kPlaneLetters, pattern[letter]) != nullptr;
}

/// Names collected in one listing pass: NUL-terminated names packed one after the
/// other in `text`, and where each starts. Grown with realloc so that a full folder
/// costs a handful of allocations, not one per name.
struct NameCollector {
    char* text = nullptr;
    std::size_t text_used = 0;
    std::size_t text_capacity = 0;
    std::size_t* offsets = nullptr;
    std::size_t count = 0;
    std::size_t offsets_capacity = 0;
    std::size_t longest = 0;
    bool failed = false;
};

void release_collector(NameCollector& names) {
    std::free(names.text);
    std::free(names.offsets);
    names = NameCollector{};
}

int collect_name(void* context, const char* name) {
    auto& names = *static_cast<NameCollector*>(context);
    const std::size_t length = std::strlen(name);
    if (names.text_used + length + 1 > names.text_capacity) {
        std::size_t capacity = names.text_capacity ? names.text_capacity * 2 : 16384;
        while (capacity < names.text_used + length + 1) capacity *= 2;
        char* grown = static_cast<char*>(std::realloc(names.text, capacity));
        if (!grown) {
            names.failed = true;
            return 1;
        }
        names.text = grown;
        names.text_capacity = capacity;
    }
    if (names.count == names.offsets_capacity) {
        const std::size_t capacity = names.offsets_capacity ? names.offsets_capacity * 2 : 1024;
        auto* grown =
            static_cast<std::size_t*>(std::realloc(names.offsets, capacity * sizeof(std::size_t)));
        if (!grown) {
            names.failed = true;
            return 1;
        }
        names.offsets = grown;
        names.offsets_capacity = capacity;
    }
    std::memcpy(names.text + names.text_used, name, length + 1);
    names.offsets[names.count++] = names.text_used;
    names.text_used += length + 1;
    names.longest = std::max(names.longest, length);
    return 0;
}

}  // namespace

void derive_pattern(const char* path, char* pattern, char* wildcards, int* name_slot,
                    std::int32_t* source_format) {
    *name_slot = 0;
    *source_format = kFormatDpx;
    const int length = static_cast<int>(strnlen(path, kPathMax - 1));
    std::memcpy(pattern, path, static_cast<std::size_t>(length));
    pattern[length] = '\0';
    if (wildcards) std::memset(wildcards, 0, static_cast<std::size_t>(length) + 1);

    // Walk from the last character towards the first. Every dot met on the way
    // turns the digits just before it into wildcards, so a name may carry its frame
    // number before any of its dots.
    int pos = path_char_prev(pattern, length);
    while (pos >= 0) {
        const char c = pattern[pos];
        if (c == '"' && !kNamesCanHoldQuotes) {
            // A path from a quoted command line ends in its closing quote. Where
            // names may hold quotes the shell has already removed the quoting.
            pattern[pos] = '\0';
        } else if (c == kPathSeparator) {
            *name_slot = pos + 1;
            return;
        } else if (c == '.') {
            if (is_plane_extension(pattern, pos)) *source_format = kFormatPlanar;
            int run = path_char_prev(pattern, pos);
            while (run >= 0 && path_char_is_digit(pattern, run)) {
                pattern[run] = '?';
                if (wildcards) wildcards[run] = 1;
                run = path_char_prev(pattern, run);
            }
            if (run < 0) return;
            // The character that ends the digit run is not looked at as a dot or a
            // quote: "c12.34.dpx" keeps its 12. Only a separator still ends the name.
            if (pattern[run] == kPathSeparator) {
                *name_slot = run + 1;
                return;
            }
            pos = run;
        }
        pos = path_char_prev(pattern, pos);
    }
}

int discover_sequence(Sequence& seq) {
    seq.longest_name = 0;
    seq.frame_count = 0;
    // Only the frame digits may differ: a '?' or '*' that a name holds matches
    // only itself.
    char wildcards[kPathMax];
    derive_pattern(seq.current_path, seq.work, wildcards, &seq.name_slot, &seq.source_format);

    // One listing pass collects every match; the frame list is then sized from
    // what was collected, so a folder that changes meanwhile cannot make a second
    // pass overrun it.
    NameCollector names;
    if (list_matching(seq.work, wildcards, collect_name, &names) != 0 || names.failed ||
        names.count == 0 || names.count > 0x7FFFFFFF) {
        release_collector(names);
        return -1;
    }

    // Directory listings come in no particular order on most file systems; frames
    // are played in name order.
    const char* text = names.text;
    std::sort(names.offsets, names.offsets + names.count,
              [text](std::size_t a, std::size_t b) { return std::strcmp(text + a, text + b) < 0; });

    heap_free(seq.frame_list);
    const std::size_t entry = names.longest + 1;
    seq.frame_list = static_cast<char*>(heap_alloc_zeroed(names.count * entry));
    if (!seq.frame_list) {
        release_collector(names);
        return -1;
    }
    seq.longest_name = static_cast<std::int32_t>(names.longest);
    seq.frame_count = static_cast<std::int32_t>(names.count);
    seq.current_frame = 0;

    // On Windows the chosen name keeps a closing quote when there was one; it then
    // equals no listed name and the sequence opens at its first frame.
    const char* chosen = seq.current_path + seq.name_slot;
    bool found = false;
    for (std::size_t n = 0; n < names.count; ++n) {
        const char* name = text + names.offsets[n];
        std::memcpy(seq.frame_list + n * entry, name, std::strlen(name));
        if (!found && std::strcmp(name, chosen) == 0) {
            seq.current_frame = static_cast<std::int32_t>(n);
            found = true;
        }
    }
    release_collector(names);
    return 0;
}

void release_sequence(Sequence& seq) {
    heap_free(seq.frame_list);
    seq.frame_list = nullptr;
    seq.frame_count = 0;
    seq.longest_name = 0;
    seq.current_frame = 0;
}

int frame_path(const Sequence& seq, std::int32_t index, char* out) {
    if (!seq.frame_list || index < 0 || index >= seq.frame_count) return -1;
    if (seq.name_slot < 0 || seq.name_slot >= kPathMax) return -1;
    const char* name = frame_name(seq, index);
    const std::size_t length = strnlen(name, static_cast<std::size_t>(seq.longest_name) + 1);
    if (static_cast<std::size_t>(seq.name_slot) + length + 1 > static_cast<std::size_t>(kPathMax))
        return -1;
    // Loading writes the name into the current path itself; the folder part is
    // then already in place.
    if (out != seq.current_path)
        std::memcpy(out, seq.current_path, static_cast<std::size_t>(seq.name_slot));
    std::memcpy(out + seq.name_slot, name, length);
    out[seq.name_slot + length] = '\0';
    return 0;
}
