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

// A position where the pattern differs from the chosen name (a frame digit made
// '?') stands for exactly one byte, every other byte for itself, a '?' of the
// name included: compared as whole strings, position by position.
bool reference_match(const std::string& pattern, const std::string& chosen,
                     const std::string& name) {
    bool ok = pattern.size() == name.size() && pattern.size() == chosen.size();
    for (std::size_t i = 0; ok && i < name.size(); ++i)
        ok = pattern[i] != chosen[i] || pattern[i] == name[i];
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

    fuzz::Guarded wildcard_block = fuzz::guarded_alloc(kPathMax);
    char* wildcards = reinterpret_cast<char*>(wildcard_block.data());
    std::memset(wildcards, 0x7E, kPathMax);

    int slot = -7;
    std::int32_t format = -7;
    derive_pattern(path, pattern, wildcards, &slot, &format);

    FUZZ_CHECK(fuzz::guards_intact(pattern_block));
    FUZZ_CHECK(fuzz::guards_intact(wildcard_block));
    const std::size_t length = strnlen(path, kPathMax - 1);
    const void* nul = std::memchr(pattern, '\0', kPathMax);
    FUZZ_CHECK(nul != nullptr);
    const std::size_t pattern_length = static_cast<const char*>(nul) - pattern;
    // Names here may hold '"': the pattern is as long as the path.
    FUZZ_CHECK(pattern_length == length);
    for (std::size_t i = 0; i < pattern_length; ++i) {
        FUZZ_CHECK(pattern[i] == path[i] || (pattern[i] == '?' && is_digit(path[i])));
        FUZZ_CHECK((wildcards[i] != 0) == (pattern[i] != path[i]));
    }

    // The name begins after the last separator of the path, wherever it is.
    std::size_t want_slot = 0;
    for (std::size_t i = 0; i < length; ++i)
        if (path[i] == kPathSeparator) want_slot = i + 1;
    FUZZ_CHECK(slot >= 0 && static_cast<std::size_t>(slot) == want_slot);
    FUZZ_CHECK(format == kFormatDpx || format == kFormatPlanar);
    // A one-letter plane extension at the very end selects the planar reader.
    const bool plane_extension = length >= 2 && path[length - 2] == '.' &&
                                 std::strchr("rgbRGB", path[length - 1]) != nullptr;
    FUZZ_CHECK((format == kFormatPlanar) == plane_extension);
    fuzz::guarded_free(wildcard_block);
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
    char wildcards[kPathMax];
    int slot = 0;
    std::int32_t format = 0;
    derive_pattern(path.c_str(), pattern, wildcards, &slot, &format);
    FUZZ_CHECK(static_cast<std::size_t>(slot) == folder.size() + 1);
    const std::string name_pattern = pattern + slot;

    std::vector<std::string> listed;
    const int result = list_matching(pattern, wildcards, collect, &listed);
    const std::set<std::string> listed_set(listed.begin(), listed.end());
    FUZZ_CHECK(listed_set.size() == listed.size());  // each entry once
    std::size_t expected = 0;
    for (const auto& n : made) {
        const bool want = reference_match(name_pattern, chosen, n);
        FUZZ_CHECK(want == (listed_set.count(n) == 1));
        expected += want;
    }
    FUZZ_CHECK(listed.size() == expected);
    FUZZ_CHECK(result == (expected ? 0 : -1));
    // The chosen name always matches its own pattern, whatever it holds.
    FUZZ_CHECK(listed_set.count(chosen) == 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    check_raw_path(data, size);
    check_listing(data, size);
    return 0;
}
