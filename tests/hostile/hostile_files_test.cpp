// Files that are not what their names say, or that change under the viewer: none
// may block, crash or corrupt it; each is an invalid frame (or shows black where
// its data is missing), and the viewer keeps working.
#include <fcntl.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <random>
#include <thread>

#include "hostile/hostile_support.h"

namespace {

using hostile::ViewerFixture;
using HostileFiles = ViewerFixture;

// A socket bound at `path`; the descriptor stays open for the test's duration.
int bind_socket(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0) return -1;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) return -1;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Truncates or extends `path` to `length` bytes.
void resize_file(const std::string& path, std::size_t length) {
    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(length)), 0) << path;
}

}  // namespace

TEST_F(HostileFiles, SpecialFilesNamedLikeFramesAreInvalidWithoutBlocking) {
    const auto rgb = dpx("clip0000.dpx", 16, 8, 1);
    ASSERT_EQ(::mkfifo(dir.file("clip0001.dpx").c_str(), 0600), 0);
    const int sock = bind_socket(dir.file("clip0002.dpx"));
    ASSERT_GE(sock, 0);
    ASSERT_EQ(::symlink("/dev/null", dir.file("clip0003.dpx").c_str()), 0);
    // An endless device: a reader that trusted read() to end would never return.
    ASSERT_EQ(::symlink("/dev/zero", dir.file("clip0004.dpx").c_str()), 0);
    ASSERT_EQ(make_folder(dir.file("clip0005.dpx")), 0);
    ASSERT_EQ(::symlink("clip0006.dpx", dir.file("clip0006.dpx").c_str()), 0);  // a loop
    ASSERT_EQ(::symlink("gone.dpx", dir.file("clip0007.dpx").c_str()), 0);      // dangling

    open(dir.file("clip0000.dpx"));
    ASSERT_TRUE(errors.empty());
    ASSERT_EQ(viewer.seq.frame_count, 8);  // the listing includes every kind of entry
    const auto shown = picture();
    EXPECT_EQ(hostile::wrong_pixels(viewer, rgb, 16, 8), 0);

    for (int n = 1; n <= 7; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "clip%04d.dpx", n);
        open(dir.file(name));
        ASSERT_EQ(errors.size(), static_cast<std::size_t>(n)) << name;
        EXPECT_EQ(errors.back(), kMsgInvalidImage) << name;
        EXPECT_EQ(viewer.seq.frame_count, 0) << name;
        EXPECT_EQ(picture(), shown) << name;
        EXPECT_TRUE(display_consistent());
    }

    // Playing over them: each is a silent failed load that keeps the picture.
    open(dir.file("clip0000.dpx"));
    errors.clear();
    viewer.play.step = 1;
    for (int t = 0; t < 16; ++t) {
        const int result = tick();
        EXPECT_EQ(result, viewer.seq.current_frame == 0 ? 0 : -1) << loaded_name();
        EXPECT_EQ(picture(), shown) << loaded_name();
    }
    EXPECT_TRUE(errors.empty());
    ::close(sock);
}

TEST_F(HostileFiles, SpecialFilesAsPlanesAreInvalidWithoutBlocking) {
    const auto rgb = test_pattern(16, 8, 2);
    ASSERT_EQ(write_planar_files(dir.file("p0000.2K."), 16, 8, rgb.data()), 0);
    ASSERT_EQ(write_planar_files(dir.file("p0001.2K."), 16, 8, rgb.data()), 0);
    ASSERT_EQ(write_planar_files(dir.file("p0002.2K."), 16, 8, rgb.data()), 0);
    ASSERT_EQ(std::remove(dir.file("p0001.2K.g").c_str()), 0);
    ASSERT_EQ(::mkfifo(dir.file("p0001.2K.g").c_str(), 0600), 0);
    ASSERT_EQ(std::remove(dir.file("p0002.2K.b").c_str()), 0);
    ASSERT_EQ(make_folder(dir.file("p0002.2K.b")), 0);

    open(dir.file("p0000.2K.r"));
    ASSERT_TRUE(errors.empty());
    const auto shown = picture();
    for (const char* name : {"p0001.2K.r", "p0002.2K.r"}) {
        errors.clear();
        open(dir.file(name));
        ASSERT_EQ(errors.size(), 1u) << name;
        EXPECT_EQ(errors[0], kMsgInvalidImage) << name;
        EXPECT_EQ(picture(), shown) << name;
    }
}

// Root reads files whatever their mode, so as root the check runs in a child
// that has given up root for the "nobody" account.
TEST_F(HostileFiles, FrameWithoutReadPermissionIsInvalid) {
    dpx("locked0001.dpx", 16, 8, 3);
    ASSERT_EQ(::chmod(dir.file("locked0001.dpx").c_str(), 0), 0);
    const passwd* nobody = ::getpwnam("nobody");
    if (::geteuid() == 0) {
        if (!nobody) GTEST_SKIP() << "running as root and there is no 'nobody' account to drop to";
        ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    }
    const std::string path = dir.file("locked0001.dpx");

    fflush(nullptr);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(nobody->pw_gid) != 0 || ::setuid(nobody->pw_uid) != 0))
            _exit(3);
        // The file is there to list but cannot be read.
        if (::access(path.c_str(), R_OK) == 0) _exit(4);
        std::vector<std::string> seen;
        viewer.error_context = &seen;
        std::memcpy(viewer.seq.current_path, path.c_str(), path.size() + 1);
        open_sequence(viewer);
        if (seen.size() != 1 || seen[0] != kMsgInvalidImage) _exit(5);
        if (viewer.seq.frame_count != 0) _exit(6);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "3: could not drop root, 4: file still readable, "
                                         "5: wrong message, 6: sequence left open";
}

TEST_F(HostileFiles, FrameDeletedBetweenDiscoveryAndLoad) {
    std::vector<std::uint16_t> rgb[3];
    for (int n = 0; n < 3; ++n) rgb[n] = dpx("d000" + std::to_string(n) + ".dpx", 16, 8, 10 + n);
    open(dir.file("d0000.dpx"));
    ASSERT_EQ(viewer.seq.frame_count, 3);
    ASSERT_EQ(std::remove(dir.file("d0001.dpx").c_str()), 0);

    viewer.play.step = 1;
    EXPECT_EQ(tick(), -1);  // frame 1 is gone: the picture of frame 0 stays
    EXPECT_EQ(hostile::wrong_pixels(viewer, rgb[0], 16, 8), 0);
    EXPECT_EQ(tick(), 0);
    EXPECT_EQ(hostile::wrong_pixels(viewer, rgb[2], 16, 8), 0);
    EXPECT_TRUE(errors.empty());

    // Opening the deleted frame itself finds its siblings and opens at the first.
    open(dir.file("d0001.dpx"));
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(viewer.seq.frame_count, 2);
    EXPECT_EQ(viewer.seq.current_frame, 0);

    // Every frame gone: nothing matches.
    ASSERT_EQ(std::remove(dir.file("d0000.dpx").c_str()), 0);
    ASSERT_EQ(std::remove(dir.file("d0002.dpx").c_str()), 0);
    open(dir.file("d0000.dpx"));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], kMsgCantOpen);
}

TEST_F(HostileFiles, ZeroByteFrames) {
    dpx("z0000.dpx", 16, 8, 4);
    open(dir.file("z0000.dpx"));
    const auto shown = picture();
    // A DPX of no bytes has no header: invalid.
    ASSERT_EQ(write_file(dir.file("z0000.dpx"), {}), 0);
    open(dir.file("z0000.dpx"));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], kMsgInvalidImage);
    EXPECT_EQ(picture(), shown);

    // Planes carry no header; empty ones are a frame with no data: black.
    for (const char* name : {"e.2K.r", "e.2K.g", "e.2K.b"})
        ASSERT_EQ(write_file(dir.file(name), {}), 0);
    open(dir.file("e.2K.r"));
    EXPECT_EQ(errors.size(), 1u);
    EXPECT_EQ(viewer.seq.frame_count, 1);
    EXPECT_EQ(picture(), std::vector<std::uint8_t>(display_bytes(), 0));
}

TEST_F(HostileFiles, HeaderClaiming8KWithTenBytesShowsBlack) {
    std::vector<std::uint8_t> file = make_dpx_header(7680, 4320);
    file.resize(file.size() + 10, 0xEE);
    ASSERT_EQ(write_file(dir.file("big0001.dpx"), file), 0);
    viewer.store.shift = 3;
    ASSERT_EQ(reallocate_display(viewer.store), 0);
    open(dir.file("big0001.dpx"));
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(viewer.store.source_width, 7680);
    EXPECT_EQ(display_width(viewer.store), 960);
    EXPECT_EQ(display_height(viewer.store), 540);
    // The one pixel the file holds is in the top row, which 1/8 does not sample.
    EXPECT_EQ(picture(), std::vector<std::uint8_t>(display_bytes(), 0));

    // Only the 780 bytes up to the size fields, and its data offset past them.
    file.resize(780);
    ASSERT_EQ(write_file(dir.file("big0001.dpx"), file), 0);
    open(dir.file("big0001.dpx"));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], kMsgInvalidImage);  // its data would start past the end
}

TEST_F(HostileFiles, DataOffsetInsideTheHeaderReadsHeaderBytesAsPixels) {
    // A 2x1 frame whose pixels "start" at offset 0: the first pixel is the magic
    // and the offset field, which is what the reader must show, nothing else.
    std::vector<std::uint8_t> file = make_dpx_header(2, 1);
    file[4] = file[5] = file[6] = file[7] = 0;
    file.resize(kDpxDataOffset + 12, 0);
    ASSERT_EQ(write_file(dir.file("off0001.dpx"), file), 0);
    open(dir.file("off0001.dpx"));
    ASSERT_TRUE(errors.empty());
    ASSERT_EQ(display_width(viewer.store), 2);
    const std::uint8_t* px = viewer.store.pixels;
    EXPECT_EQ(px[2], 'S');  // red: first byte of the first sample
    EXPECT_EQ(px[1], 'P');  // green: byte 2
    EXPECT_EQ(px[0], 0);    // blue: byte 4, the offset's top byte
    EXPECT_EQ(px[3], 0);
    EXPECT_EQ(px[6], file[6 + 0]);  // second pixel: bytes 6..11
    EXPECT_EQ(px[5], file[6 + 2]);
    EXPECT_EQ(px[4], file[6 + 4]);
}

TEST_F(HostileFiles, PlanesOfThreeDifferentLengthsShowOnlyWhatAllHold) {
    const int w = 16, h = 8;
    const auto rgb = test_pattern(w, h, 5);
    ASSERT_EQ(write_planar_files(dir.file("u.2K."), w, h, rgb.data()), 0);
    const std::size_t row = w * 2;
    resize_file(dir.file("u.2K.r"), row * h);      // whole
    resize_file(dir.file("u.2K.g"), row * 5 + 1);  // 5 rows and half a sample
    resize_file(dir.file("u.2K.b"), row * h * 3);  // three times too long
    open(dir.file("u.2K.r"));
    ASSERT_TRUE(errors.empty());
    // Rows 0..4 from the top have all three samples; the rest is black.
    for (int y = 0; y < h; ++y) {
        const int top = h - 1 - y;
        for (int x = 0; x < w; ++x) {
            const std::uint8_t* px = viewer.store.pixels + (y * w + x) * 4;
            if (top < 5) {
                const std::size_t s = (static_cast<std::size_t>(top) * w + x) * 3;
                EXPECT_EQ(px[2], (rgb[s] & 0xFFF) >> 4) << x << "," << y;
                EXPECT_EQ(px[1], (rgb[s + 1] & 0xFFF) >> 4) << x << "," << y;
            } else {
                EXPECT_EQ(px[0] | px[1] | px[2], 0) << x << "," << y;
            }
        }
    }
}

// A writer keeps truncating, growing and replacing the frames (sometimes with
// a frame of another size) while the viewer plays them. Every load must end
// with 0 or -1 and a display that describes its buffer; once the writer stops,
// every frame reads back exactly.
TEST_F(HostileFiles, FramesTruncatedGrowingAndReplacedWhilePlaying) {
    const int w = 32, h = 16, frames = 4;
    std::vector<std::vector<std::uint8_t>> files;
    std::vector<std::vector<std::uint16_t>> rgb;
    for (int n = 0; n < frames; ++n) {
        rgb.push_back(test_pattern(w, h, 20 + n));
        files.push_back(make_dpx_file(w, h, rgb.back().data()));
        ASSERT_EQ(write_file(dir.file("g000" + std::to_string(n) + ".dpx"), files.back()), 0);
    }
    const auto other = test_pattern(24, 16, 99);
    const auto other_file = make_dpx_file(24, 16, other.data());
    open(dir.file("g0000.dpx"));
    ASSERT_EQ(viewer.seq.frame_count, frames);

    std::atomic<bool> stop{false};
    std::thread writer([&] {
        std::mt19937 rng(1234);
        while (!stop.load()) {
            const int n = static_cast<int>(rng() % frames);
            const std::string path = dir.file("g000" + std::to_string(n) + ".dpx");
            const auto& bytes = files[n];
            switch (rng() % 4) {
                case 0:  // cut short anywhere, header included
                    (void)::truncate(path.c_str(), static_cast<off_t>(rng() % bytes.size()));
                    break;
                case 1: {  // written again in place, growing in small steps
                    const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC);
                    if (fd < 0) break;
                    for (std::size_t at = 0; at < bytes.size(); at += 700)
                        (void)!::write(fd, bytes.data() + at,
                                       std::min<std::size_t>(700, bytes.size() - at));
                    ::close(fd);
                    break;
                }
                case 2:  // replaced whole, as a renderer that renames into place
                    (void)write_file(path + ".tmp", bytes);
                    (void)std::rename((path + ".tmp").c_str(), path.c_str());
                    break;
                default:  // replaced by a frame of another size
                    (void)write_file(path, other_file);
                    break;
            }
        }
    });

    viewer.play.step = 1;
    int loaded = 0;
    std::string failure;
    for (int t = 0; t < 600 && failure.empty(); ++t) {
        if (t % 150 == 0) viewer.play.step = -viewer.play.step;
        const int result = tick();
        loaded += result == 0;
        const auto pic = picture();
        bool byte3_clear = true;
        for (std::size_t i = 3; i < pic.size(); i += 4) byte3_clear = byte3_clear && pic[i] == 0;
        if (result != 0 && result != -1) failure = "result " + std::to_string(result);
        if (!display_consistent()) failure = "display does not describe the source";
        if (!byte3_clear) failure = "byte 3 of a pixel written";
        if (!failure.empty()) failure += " at tick " + std::to_string(t) + ", " + loaded_name();
    }
    // The writer must be stopped before any assertion can leave the test.
    stop = true;
    writer.join();
    ASSERT_EQ(failure, "");
    EXPECT_GT(loaded, 0);
    EXPECT_TRUE(errors.empty());

    // Whole again: every frame reads back exactly, at its own size.
    for (int n = 0; n < frames; ++n)
        ASSERT_EQ(write_file(dir.file("g000" + std::to_string(n) + ".dpx"), files[n]), 0);
    viewer.play.step = 1;
    for (int t = 0; t < frames; ++t) {
        ASSERT_EQ(tick(), 0);
        EXPECT_EQ(hostile::wrong_pixels(viewer, rgb[viewer.seq.current_frame], w, h), 0);
    }
}
