#include "support/test_files.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/stat.h>
#endif

#if defined(_WIN32)
// mingw has no mkdtemp: try names made of the process id and a counter until
// CreateDirectoryA makes a new folder (it fails when the name exists).
TempDir::TempDir() {
    char base[MAX_PATH + 1];
    const DWORD len = GetTempPathA(sizeof base, base);
    std::string root = (len > 0 && len < sizeof base) ? std::string(base, len) : std::string(".\\");
    if (root.back() != '\\' && root.back() != '/') root += '\\';
    static unsigned counter = 0;
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const std::string candidate =
            root + "karvelin-test-" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(GetTickCount()) + "-" + std::to_string(counter++);
        if (CreateDirectoryA(candidate.c_str(), nullptr)) {
            path_ = candidate;
            return;
        }
    }
    path_ = root + "karvelin-test-unavailable";
}
#else
TempDir::TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "karvelin-test-XXXXXX").string();
    char* made = mkdtemp(tmpl.data());
    path_ = made ? made : tmpl;
}
#endif

TempDir::~TempDir() {
    std::error_code ec;
    // Tests may take read permission away; give it back so everything goes.
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
}

std::string TempDir::file(const std::string& name) const {
#if defined(_WIN32)
    // Discovery looks for the last backslash to find where the file name starts.
    return path_ + "\\" + name;
#else
    return path_ + "/" + name;
#endif
}

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

int write_header_only_dpx(const std::string& path, int width, int height) {
    std::vector<std::uint16_t> one(3, 0);
    std::vector<std::uint8_t> bytes = make_dpx_file(1, 1, one.data());
    bytes.resize(kDpxDataOffset);
    for (int i = 0; i < 4; ++i) {
        bytes[772 + i] =
            static_cast<std::uint8_t>(static_cast<std::uint32_t>(width) >> (24 - 8 * i));
        bytes[776 + i] =
            static_cast<std::uint8_t>(static_cast<std::uint32_t>(height) >> (24 - 8 * i));
    }
    return write_file(path, bytes);
}

int make_folder(const std::string& path) {
#if defined(_WIN32)
    return CreateDirectoryA(path.c_str(), nullptr) ? 0 : -1;
#else
    return mkdir(path.c_str(), 0700) == 0 ? 0 : -1;
#endif
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
