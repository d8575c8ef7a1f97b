#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "core/sequence.h"

namespace {

struct Derived {
    std::string pattern;
    std::string name;  // text at the name slot
    std::int32_t format;
};

Derived derive(const std::string& path) {
    char pattern[kPathMax];
    char wildcards[kPathMax];
    std::memset(pattern, 'X', sizeof pattern);
    std::memset(wildcards, 'X', sizeof wildcards);
    int slot = -1;
    std::int32_t format = -1;
    derive_pattern(path.c_str(), pattern, wildcards, &slot, &format);
    EXPECT_GE(slot, 0);
    EXPECT_LE(static_cast<std::size_t>(slot), path.size());
    // The wildcard map marks exactly the digits that became '?', and nothing else.
    for (std::size_t i = 0; pattern[i] != '\0'; ++i)
        EXPECT_EQ(wildcards[i] != 0, pattern[i] != path[i]) << "position " << i;
    return {pattern, path.substr(static_cast<std::size_t>(slot)), format};
}

// The cases are written with '/'; each runs with the platform's own separator.
std::string native(std::string path) {
    std::replace(path.begin(), path.end(), '/', kPathSeparator);
    return path;
}

void expect_derived(const std::string& written_path, const std::string& written_pattern,
                    const std::string& name, std::int32_t format) {
    const std::string path = native(written_path);
    const std::string pattern = native(written_pattern);
    SCOPED_TRACE(path);
    const Derived d = derive(path);
    EXPECT_EQ(d.pattern, pattern);
    EXPECT_EQ(d.name, name);
    EXPECT_EQ(d.format, format);
}

}  // namespace

TEST(DerivePattern, TypicalNames) {
    expect_derived("/seq/Cafe_00042.dpx", "/seq/Cafe_?????.dpx", "Cafe_00042.dpx", kFormatDpx);
    expect_derived("/seq/Cafe_00042.4K.r", "/seq/Cafe_?????.4K.r", "Cafe_00042.4K.r",
                   kFormatPlanar);
    expect_derived("/seq/clip0001.G", "/seq/clip????.G", "clip0001.G", kFormatPlanar);
    expect_derived("/seq/0001.dpx", "/seq/????.dpx", "0001.dpx", kFormatDpx);
    // The dot that ends the run before ".dpx" is passed over: 12 is not a frame number.
    expect_derived("/seq/c12.34.dpx", "/seq/c12.??.dpx", "c12.34.dpx", kFormatDpx);
    expect_derived("/seq/0001_clip.dpx", "/seq/0001_clip.dpx", "0001_clip.dpx", kFormatDpx);
}

TEST(DerivePattern, EveryDotIsTreated) {
    expect_derived("/s/a01.b02.dpx", "/s/a??.b??.dpx", "a01.b02.dpx", kFormatDpx);
    // The second dot is the character that ends the empty run before the first.
    expect_derived("/s/a01..dpx", "/s/a01..dpx", "a01..dpx", kFormatDpx);
    // Digits in the folder part are left alone.
    expect_derived("/s2.1/f7.dpx", "/s2.1/f?.dpx", "f7.dpx", kFormatDpx);
}

TEST(DerivePattern, OnlyOneLetterPlaneExtensionsSelectPlanar) {
    for (const char* ext : {"r", "g", "b", "R", "G", "B"})
        expect_derived(std::string("/s/f1.") + ext, std::string("/s/f?.") + ext,
                       std::string("f1.") + ext, kFormatPlanar);
    for (const char* ext : {"rgb", "x", "rr", "dpx", "\xC3\xA9"})
        expect_derived(std::string("/s/f1.") + ext, std::string("/s/f?.") + ext,
                       std::string("f1.") + ext, kFormatDpx);
    // Only the last component's extension counts.
    expect_derived("/s/f1.r.dpx", "/s/f?.r.dpx", "f1.r.dpx", kFormatDpx);
}

TEST(DerivePattern, EdgeCases) {
    expect_derived("/s/clip.dpx", "/s/clip.dpx", "clip.dpx", kFormatDpx);
    expect_derived("/s/clip01.", "/s/clip??.", "clip01.", kFormatDpx);
    expect_derived("", "", "", kFormatDpx);
    expect_derived("12345", "12345", "12345", kFormatDpx);
    expect_derived("12345.dpx", "?????.dpx", "12345.dpx", kFormatDpx);
    expect_derived("///", "///", "", kFormatDpx);
    expect_derived("/", "/", "", kFormatDpx);
    expect_derived("/s/", "/s/", "", kFormatDpx);
    expect_derived("f1.dpx", "f?.dpx", "f1.dpx", kFormatDpx);
    expect_derived(".r", ".r", ".r", kFormatPlanar);
    // The separator that ends a digit run still ends the name.
    expect_derived("/s/0042.dpx", "/s/????.dpx", "0042.dpx", kFormatDpx);
    expect_derived("/s/.dpx", "/s/.dpx", ".dpx", kFormatDpx);
}

TEST(DerivePattern, ClosingQuoteIsDroppedOnlyWhereNamesCannotHoldIt) {
    if (!kNamesCanHoldQuotes) {
        expect_derived("/seq/Cafe_00042.dpx\"", "/seq/Cafe_?????.dpx", "Cafe_00042.dpx\"",
                       kFormatDpx);
        expect_derived("/seq/c0001.4K.g\"", "/seq/c????.4K.g", "c0001.4K.g\"", kFormatPlanar);
    } else {
        // Part of the name like any other character; a planar extension needs the
        // letter last.
        expect_derived("/seq/Cafe_00042.dpx\"", "/seq/Cafe_?????.dpx\"", "Cafe_00042.dpx\"",
                       kFormatDpx);
        expect_derived("/seq/say\"hi\"_0001.g", "/seq/say\"hi\"_????.g", "say\"hi\"_0001.g",
                       kFormatPlanar);
        expect_derived("/seq/c0001.4K.g\"", "/seq/c????.4K.g\"", "c0001.4K.g\"", kFormatDpx);
    }
}

TEST(DerivePattern, NonAsciiBytesAreNeverDigitsAndPassUnharmed) {
    // "Café_01.dpx" in UTF-8 and a name with a byte that is '2' + 0x80.
    expect_derived("/s\xC3\xA9/Caf\xC3\xA9_01.dpx", "/s\xC3\xA9/Caf\xC3\xA9_??.dpx",
                   "Caf\xC3\xA9_01.dpx", kFormatDpx);
    expect_derived("/s/a\xB2.dpx", "/s/a\xB2.dpx", "a\xB2.dpx", kFormatDpx);
    expect_derived("/s/[1]*  07.dpx", "/s/[1]*  ??.dpx", "[1]*  07.dpx", kFormatDpx);
}

TEST(DerivePattern, LongestPathStaysInsideTheBuffers) {
    std::string path(kPathMax - 1 - 8, 'd');
    path[0] = '/';
    path[100] = '/';
    path += "/f01.dpx";
    ASSERT_EQ(path.size(), static_cast<std::size_t>(kPathMax - 1));
    std::string expected = path;
    expected.replace(expected.size() - 6, 2, "??");
    expect_derived(path, expected, "f01.dpx", kFormatDpx);
}
