// Fuzz target: path and pattern handling. The input is used twice:
//  1. as the raw bytes of the current path buffer (not even NUL-terminated when
//     the input is long): the pattern, the name slot and the source format must
//     stay within their buffers and be what the rules give;
//  2. as two file names in a scratch folder: the pattern derived from the first
//     name's path must list that name (the chosen frame is always found), and
//     what the platform's folder listing returns for the pattern must agree with
//     a slow reference matcher for both names.
#include <dirent.h>

#include <set>
#include <vector>

#include "core/sequence.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// '?' stands for exactly one byte, every other byte for itself: compared as two
// whole strings, position by position, with no early exit.
bool reference_match(const std::string& pattern, const std::string& name) {
    bool ok = pattern.size() == name.size();
    for (std::size_t i = 0; ok && i < name.size(); ++i)
        ok = pattern[i] == '?' || pattern[i] == name[i];
    return ok;
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

void check_raw_path(const std::uint8_t* data, std::size_t size) {
    // Heap blocks of exactly kPathMax bytes, so AddressSanitizer sees any read or
    // write past them; the pattern block is guarded for builds without it.
    auto* path = static_cast<char*>(std::malloc(kPathMax));
    FUZZ_CHECK(path != nullptr);
    std::memset(path, 0, kPathMax);
    std::memcpy(path, data, std::min<std::size_t>(size, kPathMax));
    fuzz::Guarded pattern_block = fuzz::guarded_alloc(kPathMax);
    char* pattern = reinterpret_cast<char*>(pattern_block.data());
    std::memset(pattern, 0x7E, kPathMax);

    int slot = -7;
    std::int32_t format = -7;
    derive_pattern(path, pattern, &slot, &format);

    FUZZ_CHECK(fuzz::guards_intact(pattern_block));
    const std::size_t length = strnlen(path, kPathMax - 1);
    const void* nul = std::memchr(pattern, '\0', kPathMax);
    FUZZ_CHECK(nul != nullptr);
    const std::size_t pattern_length = static_cast<const char*>(nul) - pattern;
    FUZZ_CHECK(pattern_length <= length);
    // The pattern ends at the path's end or where a quote was dropped.
    FUZZ_CHECK(pattern_length == length || path[pattern_length] == '"');
    for (std::size_t i = 0; i < pattern_length; ++i)
        FUZZ_CHECK(pattern[i] == path[i] || (pattern[i] == '?' && is_digit(path[i])));

    // The name begins after the last separator of the path, wherever it is.
    std::size_t want_slot = 0;
    for (std::size_t i = 0; i < length; ++i)
        if (path[i] == kPathSeparator) want_slot = i + 1;
    FUZZ_CHECK(slot >= 0 && static_cast<std::size_t>(slot) == want_slot);
    FUZZ_CHECK(format == kFormatDpx || format == kFormatPlanar);
    // A one-letter plane extension at the end selects the planar reader. A quote
    // inside the path cuts the pattern there (the rest of a quoted command line),
    // so with one the extension may also stand before it.
    std::size_t end = length;
    while (end > 0 && path[end - 1] == '"') --end;
    const bool inner_quote = std::memchr(path, '"', end) != nullptr;
    auto plane_extension_at = [&](std::size_t dot) {
        return path[dot] == '.' && std::strchr("rgbRGB", path[dot + 1]) != nullptr &&
               path[dot + 1] != '\0' && (dot + 2 == length || path[dot + 2] == '"');
    };
    if (!inner_quote)
        FUZZ_CHECK((format == kFormatPlanar) == (end >= 2 && plane_extension_at(end - 2)));
    if (format == kFormatPlanar) {
        bool found = false;
        for (std::size_t dot = 0; dot + 2 <= length && !found; ++dot)
            found = plane_extension_at(dot);
        FUZZ_CHECK(found);
    }
    fuzz::guarded_free(pattern_block);
    std::free(path);
}

// A name the folder can hold: no separator or NUL, not "." or "..", at most 255 bytes.
std::string file_name(const std::uint8_t* data, std::size_t size) {
    std::string name(reinterpret_cast<const char*>(data), std::min<std::size_t>(size, 200));
    for (char& c : name)
        if (c == '/' || c == '\0') c = '_';
    if (name.empty() || name == "." || name == "..") name = "0.dpx";
    return name;
}

int collect(void* context, const char* name) {
    static_cast<std::vector<std::string>*>(context)->push_back(name);
    return 0;
}

void check_listing(const std::uint8_t* data, std::size_t size) {
    const std::size_t half = size / 2;
    const std::string chosen = file_name(data, half ? half : size);
    const std::string other = file_name(data + half, size - half);

    // The folder holds exactly the two names of this input.
    static const std::string folder = fuzz::scratch_file("names");
    static std::vector<std::string> made;
    ::mkdir(folder.c_str(), 0700);
    for (const auto& n : made) std::remove((folder + "/" + n).c_str());
    made = {chosen};
    if (other != chosen) made.push_back(other);
    for (const auto& n : made) fuzz::write_bytes(folder + "/" + n, nullptr, 0);

    const std::string path = folder + "/" + chosen;
    FUZZ_CHECK(path.size() < static_cast<std::size_t>(kPathMax));
    char pattern[kPathMax];
    int slot = 0;
    std::int32_t format = 0;
    derive_pattern(path.c_str(), pattern, &slot, &format);
    FUZZ_CHECK(static_cast<std::size_t>(slot) == folder.size() + 1);
    const std::string name_pattern = pattern + slot;

    std::vector<std::string> listed;
    const int result = list_matching(pattern, collect, &listed);
    const std::set<std::string> listed_set(listed.begin(), listed.end());
    FUZZ_CHECK(listed_set.size() == listed.size());  // each entry once
    std::size_t expected = 0;
    for (const auto& n : made) {
        const bool want = reference_match(name_pattern, n);
        FUZZ_CHECK(want == (listed_set.count(n) == 1));
        expected += want;
    }
    FUZZ_CHECK(listed.size() == expected);
    FUZZ_CHECK(result == (expected ? 0 : -1));
    // Without a closing quote the chosen name always matches its own pattern.
    if (chosen.find('"') == std::string::npos) FUZZ_CHECK(listed_set.count(chosen) == 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    check_raw_path(data, size);
    check_listing(data, size);
    return 0;
}
