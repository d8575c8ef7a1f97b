// Shared pieces of the fuzz targets: a check that aborts (so libFuzzer and the
// corpus replay both see a failure), a scratch folder made once per process, and
// guarded buffers that catch a write outside the display, row or read buffer even
// in a build without AddressSanitizer.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "color/bt2020.h"
#include "core/decimate.h"
#include "core/frame_store.h"
#include "platform/platform.h"

#define FUZZ_CHECK(cond)                                                                  \
    do {                                                                                  \
        if (!(cond)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                 \
        }                                                                                 \
    } while (0)

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace fuzz {

/// A folder of this process's own under the temporary folder, made on first use
/// and removed with its contents at exit. Every input reuses the same file names
/// in it, so a long run does not fill the disk.
inline const std::string& scratch_folder() {
    // Never destroyed: the exit handler that removes the folder runs after the
    // static destructors.
    static const std::string* folder = [] {
        std::string tmpl =
            (std::filesystem::temp_directory_path() / "karvelin-fuzz-XXXXXX").string();
        const char* made = mkdtemp(tmpl.data());
        FUZZ_CHECK(made != nullptr);
        auto* kept = new std::string(made);
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(scratch_folder(), ec);
        });
        return kept;
    }();
    return *folder;
}

inline std::string scratch_file(const std::string& name) {
    return scratch_folder() + "/" + name;
}

/// Replaces the file at `path` with `size` bytes. Aborts when it cannot: a fuzz
/// run that silently reads a stale file would test nothing.
inline void write_bytes(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    FUZZ_CHECK(f != nullptr);
    FUZZ_CHECK(size == 0 || std::fwrite(data, 1, size, f) == size);
    FUZZ_CHECK(std::fclose(f) == 0);
}

inline const ConversionTables& tables() {
    static const ConversionTables* built = [] {
        auto* t = new ConversionTables{};
        build_conversion_tables(*t);
        return t;
    }();
    return *built;
}

constexpr std::size_t kGuardBytes = 64;
constexpr std::uint8_t kGuardByte = 0xCB;

/// A block with kGuardBytes of a known byte on either side.
struct Guarded {
    std::uint8_t* base = nullptr;
    std::size_t size = 0;
    std::uint8_t* data() const { return base ? base + kGuardBytes : nullptr; }
};

inline Guarded guarded_alloc(std::size_t size) {
    Guarded g;
    g.size = size;
    g.base = static_cast<std::uint8_t*>(std::malloc(size + 2 * kGuardBytes));
    FUZZ_CHECK(g.base != nullptr);
    std::memset(g.base, kGuardByte, kGuardBytes);
    std::memset(g.base + kGuardBytes, 0, size);
    std::memset(g.base + kGuardBytes + size, kGuardByte, kGuardBytes);
    return g;
}

inline bool guards_intact(const Guarded& g) {
    if (!g.base) return true;
    for (std::size_t i = 0; i < kGuardBytes; ++i)
        if (g.base[i] != kGuardByte || g.base[kGuardBytes + g.size + i] != kGuardByte) return false;
    return true;
}

inline void guarded_free(Guarded& g) {
    std::free(g.base);
    g = Guarded{};
}

/// A frame store whose three buffers are guarded blocks. The display is sized by
/// the real reallocate_display first (so its header is what the viewer would
/// have), then its block is swapped for a guarded one of the same size. The row
/// and read buffers are made once per process, as the viewer makes them once.
struct GuardedStore {
    FrameStore store;
    Guarded pixels;

    static Guarded& row() {
        static Guarded g = guarded_alloc(kRowBufferBytes);
        return g;
    }
    static Guarded& read() {
        // The viewer starts the helper thread with its read buffer; large frames
        // are then split between the two threads, each with half of the buffer.
        static Guarded g = (start_frame_helper(), guarded_alloc(kReadBufferBytes));
        return g;
    }

    /// Allocates the display for `width` x `height` at `shift`; `read_buffer`
    /// false leaves the store without the large read buffer (row-by-row reads).
    void setup(std::int32_t width, std::int32_t height, std::int32_t shift, bool read_buffer) {
        teardown();
        store = FrameStore{};
        store.source_width = width;
        store.source_height = height;
        store.shift = shift;
        store.row_buffer = row().data();
        store.read_buffer = read().data();
        FUZZ_CHECK(reallocate_display(store) == 0);
        FUZZ_CHECK(store.row_buffer == row().data() && store.read_buffer == read().data());
        FUZZ_CHECK(display_width(store) == (width >> shift));
        FUZZ_CHECK(display_height(store) == (height >> shift));
        const std::size_t bytes =
            static_cast<std::size_t>(display_width(store)) * display_height(store) * 4;
        heap_free(store.pixels);
        pixels = guarded_alloc(bytes);
        store.pixels = pixels.data();
        if (!read_buffer) store.read_buffer = nullptr;
    }

    std::size_t display_bytes() const { return pixels.size; }

    bool intact() const {
        return guards_intact(pixels) && guards_intact(row()) && guards_intact(read());
    }

    void teardown() {
        guarded_free(pixels);
        store.pixels = store.row_buffer = store.read_buffer = nullptr;
    }

    ~GuardedStore() { teardown(); }
};

/// Fills the display with bytes that depend on their position, so that a pixel
/// written where it should not be, or byte 3 of any pixel written at all, shows.
inline void fill_display(std::uint8_t* pixels, std::size_t bytes) {
    for (std::size_t i = 0; i < bytes; ++i) pixels[i] = static_cast<std::uint8_t>(0xA5 ^ (i * 7));
}

inline std::uint8_t fill_byte(std::size_t i) {
    return static_cast<std::uint8_t>(0xA5 ^ (i * 7));
}

}  // namespace fuzz
