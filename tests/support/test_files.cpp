#include "support/test_files.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

TempDir::TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "karvelin-test-XXXXXX").string();
    char* made = mkdtemp(tmpl.data());
    path_ = made ? made : tmpl;
}

TempDir::~TempDir() {
    std::error_code ec;
    // Tests may take read permission away; give it back so everything goes.
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
}

std::string TempDir::file(const std::string& name) const { return path_ + "/" + name; }

std::vector<std::uint16_t> test_pattern(int width, int height, int seed) {
    std::vector<std::uint16_t> v(static_cast<std::size_t>(width) * height * 3);
    std::uint32_t x = 0x9E3779B9u ^ static_cast<std::uint32_t>(seed * 7919 + width * 31 + height);
    for (auto& s : v) {
        // xorshift: cheap, deterministic, every byte varies.
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        s = static_cast<std::uint16_t>(x);
    }
    return v;
}

std::vector<std::uint8_t> read_whole_file(const std::string& path) {
    std::vector<std::uint8_t> out;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return out;
    unsigned char buf[65536];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
    std::fclose(f);
    return out;
}
