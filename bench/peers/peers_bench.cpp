// Milliseconds per DPX frame, side by side in one run, from the page cache, for
// 3840x2160 and 7680x4320 at every shift:
//   karvelin      read_dpx_frame, conversion off
//   karvelin-709  read_dpx_frame, BT.2020 -> BT.709 conversion on
//   ffmpeg        the whole file read into memory, libavcodec's DPX decoder, then
//                 swscale (nearest neighbour) into the same bottom-up BGRX buffer
//   oiio          OpenImageIO ImageInput::read_image (16 bits) then the same
//                 decimation into the same buffer
//   oiio-8bit     the same, asking the library for 8-bit samples (it converts)
//   floor-whole   the whole file in one read(), no pixel work
//   floor-rows    pread of exactly the rows the shift needs, no pixel work
// The conversion is timed again on karvelin-mkseq's test card, whose flat areas
// repeat colours. Before timing, every picture is compared with the project's: OpenImageIO's
// and the conversion's must be identical; swscale's differences are measured.
// Frames are written to a temporary folder that is removed afterwards.
//
// usage: peers_bench [--rounds N] [--tsv FILE] [--sizes 4k|8k|4k,8k] [--dir PARENT]
#include <OpenImageIO/imageio.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include "bench/bench_common.h"
#include "color/bt2020.h"
#include "core/helper_thread.h"
#include "core/readers.h"
#include "tools/frame_files.h"

namespace {

using bench::Clock;
using bench::ms_since;

struct Frame {
    std::string path;
    int width = 0, height = 0;
    std::size_t file_bytes = 0;
    std::vector<std::uint16_t> rgb;  // the samples written, top row first
    std::string picture;
};

// The display for one shift, reused by every case so that all of them write into
// the same bottom-up BGRX buffer.
struct Display {
    FrameStore store;
    std::size_t bytes = 0;
    int width = 0, height = 0;
};

int setup_display(Display& d, const Frame& f, int shift) {
    d.store.source_width = f.width;
    d.store.source_height = f.height;
    d.store.shift = shift;
    if (reallocate_display(d.store) != 0) return -1;
    start_frame_helper();
    d.width = display_width(d.store);
    d.height = display_height(d.store);
    d.bytes = static_cast<std::size_t>(d.width) * d.height * 4;
    return 0;
}

// ---- FFmpeg: libavcodec's DPX decoder and swscale ------------------------------

struct Ffmpeg {
    AVCodecContext* codec = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    AVBufferRef* file = nullptr;  // the whole file, padded as libavcodec requires
    SwsContext* sws = nullptr;
    int sws_w = 0, sws_h = 0, sws_dw = 0, sws_dh = 0, sws_format = -1;
};

int ffmpeg_open(Ffmpeg& ff, std::size_t max_file) {
    const AVCodec* dec = avcodec_find_decoder(AV_CODEC_ID_DPX);
    if (!dec) return -1;
    ff.codec = avcodec_alloc_context3(dec);
    ff.packet = av_packet_alloc();
    ff.frame = av_frame_alloc();
    ff.file = av_buffer_alloc(max_file + AV_INPUT_BUFFER_PADDING_SIZE);
    if (!ff.codec || !ff.packet || !ff.frame || !ff.file) return -1;
    ff.codec->thread_count = 1;
    return avcodec_open2(ff.codec, dec, nullptr) < 0 ? -1 : 0;
}

void ffmpeg_close(Ffmpeg& ff) {
    sws_freeContext(ff.sws);
    av_buffer_unref(&ff.file);
    av_frame_free(&ff.frame);
    av_packet_free(&ff.packet);
    avcodec_free_context(&ff.codec);
}

// One frame as a player would show it: read the file, decode it, scale it into
// the display (bottom-up, through a negative stride). The scaler is made once per
// size, as players cache it.
int ffmpeg_frame(Ffmpeg& ff, const Frame& f, Display& d) {
    if (!bench::read_whole_file(f.path.c_str(), ff.file->data, f.file_bytes)) return -1;
    std::memset(ff.file->data + f.file_bytes, 0, AV_INPUT_BUFFER_PADDING_SIZE);
    ff.packet->buf = av_buffer_ref(ff.file);
    ff.packet->data = ff.file->data;
    ff.packet->size = static_cast<int>(f.file_bytes);
    int r = avcodec_send_packet(ff.codec, ff.packet);
    av_packet_unref(ff.packet);
    if (r < 0 || avcodec_receive_frame(ff.codec, ff.frame) < 0) return -1;
    const AVFrame* in = ff.frame;
    if (!ff.sws || ff.sws_w != in->width || ff.sws_h != in->height || ff.sws_dw != d.width ||
        ff.sws_dh != d.height || ff.sws_format != in->format) {
        sws_freeContext(ff.sws);
        ff.sws =
            sws_getContext(in->width, in->height, static_cast<AVPixelFormat>(in->format), d.width,
                           d.height, AV_PIX_FMT_BGR0, SWS_POINT, nullptr, nullptr, nullptr);
        if (!ff.sws) return -1;
        ff.sws_w = in->width;
        ff.sws_h = in->height;
        ff.sws_dw = d.width;
        ff.sws_dh = d.height;
        ff.sws_format = in->format;
    }
    const int stride = d.width * 4;
    std::uint8_t* dst[4] = {d.store.pixels + static_cast<std::size_t>(d.height - 1) * stride};
    const int dst_stride[4] = {-stride};
    r = sws_scale(ff.sws, in->data, in->linesize, 0, in->height, dst, dst_stride);
    av_frame_unref(ff.frame);
    return r == d.height ? 0 : -1;
}

// ---- OpenImageIO ---------------------------------------------------------------

// `samples` receives 16-bit samples, or with `eight_bits` 8-bit ones that the
// library converts (rounding) itself.
template <class Sample>
int oiio_frame(const Frame& f, std::vector<Sample>& samples, Display& d) {
    constexpr bool eight_bits = sizeof(Sample) == 1;
    auto in = OIIO::ImageInput::open(f.path);
    if (!in) return -1;
    const OIIO::ImageSpec& spec = in->spec();
    if (spec.width != f.width || spec.height != f.height || spec.nchannels < 3) return -1;
    if (!in->read_image(0, 0, 0, 3, eight_bits ? OIIO::TypeDesc::UINT8 : OIIO::TypeDesc::UINT16,
                        samples.data()))
        return -1;
    in->close();
    constexpr int down = eight_bits ? 0 : 8;
    // The same selection as the project's reader: display row r is source row
    // r * factor from the bottom, column c is source column c * factor; top byte.
    const int shift = d.store.shift;
    for (int r = 0; r < d.height; ++r) {
        const Sample* src =
            samples.data() + static_cast<std::size_t>(f.height - 1 - (r << shift)) * f.width * 3;
        std::uint8_t* dst = d.store.pixels + static_cast<std::size_t>(r) * d.width * 4;
        for (int c = 0; c < d.width; ++c, dst += 4) {
            const Sample* px = src + static_cast<std::size_t>(c << shift) * 3;
            dst[0] = static_cast<std::uint8_t>(px[2] >> down);
            dst[1] = static_cast<std::uint8_t>(px[1] >> down);
            dst[2] = static_cast<std::uint8_t>(px[0] >> down);
        }
    }
    return 0;
}

// ---- Picture checks ------------------------------------------------------------

bool same_picture(const std::uint8_t* a, const std::uint8_t* b, std::size_t bytes) {
    for (std::size_t i = 0; i < bytes; i += 4)
        if (a[i] != b[i] || a[i + 1] != b[i + 1] || a[i + 2] != b[i + 2]) return false;
    return true;
}

struct Difference {
    int max = 0;
    double percent = 0;  // of pixels with any channel different
};

Difference difference(const std::uint8_t* a, const std::uint8_t* b, std::size_t bytes) {
    Difference d;
    std::size_t differing = 0;
    for (std::size_t i = 0; i < bytes; i += 4) {
        bool differs = false;
        for (int ch = 0; ch < 3; ++ch) {
            const int diff = std::abs(int{a[i + ch]} - int{b[i + ch]});
            d.max = std::max(d.max, diff);
            differs = differs || diff != 0;
        }
        differing += differs;
    }
    d.percent = bytes ? 100.0 * static_cast<double>(differing) / static_cast<double>(bytes / 4) : 0;
    return d;
}

// How swscale's picture relates to the source: for every source offset (ox, oy)
// within a decimation cell, the largest difference from the top byte (v >> 8) and
// from the rounded byte ((v + 128) >> 8, clamped) of the sample at column
// c * f + ox, row (from the top) r * f + oy. Prints the offset that fits best.
void describe_swscale(const Frame& f, const Display& d, std::uint8_t* reference) {
    const int shift = d.store.shift, factor = 1 << shift;
    int best_ox = 0, best_oy = 0, best_trunc = 256, best_round = 256;
    for (int oy = 0; oy < factor; ++oy) {
        for (int ox = 0; ox < factor; ++ox) {
            int trunc_max = 0, round_max = 0;
            for (int r = 0; r < d.height; ++r) {
                const int top = r * factor + oy;
                if (top >= f.height) continue;
                // sws wrote its row r (top down) to display row height - 1 - r.
                const std::uint8_t* out =
                    d.store.pixels + static_cast<std::size_t>(d.height - 1 - r) * d.width * 4;
                for (int c = 0; c < d.width; ++c) {
                    const int col = c * factor + ox;
                    if (col >= f.width) continue;
                    const std::uint16_t* px =
                        f.rgb.data() + (static_cast<std::size_t>(top) * f.width + col) * 3;
                    for (int ch = 0; ch < 3; ++ch) {
                        const int got = out[c * 4 + 2 - ch];
                        const int t = px[ch] >> 8;
                        const int rr = std::min(255, (px[ch] + 128) >> 8);
                        trunc_max = std::max(trunc_max, std::abs(got - t));
                        round_max = std::max(round_max, std::abs(got - rr));
                    }
                }
            }
            if (std::min(trunc_max, round_max) < std::min(best_trunc, best_round)) {
                best_ox = ox;
                best_oy = oy;
                best_trunc = trunc_max;
                best_round = round_max;
            }
        }
    }
    const Difference direct = difference(d.store.pixels, reference, d.bytes);
    const int own_oy = (f.height - 1) - (d.height - 1) * factor;
    std::printf(
        "  swscale %dx%d 1/%d: vs karvelin max |diff| %d, %.1f%% of pixels differ. Best fit: "
        "source column c*%d+%d, row r*%d+%d from the top (karvelin: +0, +%d); there max "
        "|diff| %d vs top byte, %d vs rounded byte\n",
        f.width, f.height, factor, direct.max, direct.percent, factor, best_ox, factor, best_oy,
        own_oy, best_trunc, best_round);
}

bool conversion_exact(const ConversionTables& tables, const std::uint8_t* off,
                      const std::uint8_t* on, std::size_t bytes) {
    for (std::size_t i = 0; i < bytes; i += 4) {
        int r = off[i + 2], g = off[i + 1], b = off[i];
        convert_pixel(tables, r, g, b);
        if (on[i] != b || on[i + 1] != g || on[i + 2] != r) return false;
    }
    return true;
}

// ---- Frames --------------------------------------------------------------------

// Written pages are flushed now rather than while a case is being timed.
void flush(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        ::fdatasync(fd);
        ::close(fd);
    }
}

int write_frame(Frame& f) {
    f.rgb = bench::make_grain_picture(f.width, f.height);
    if (write_dpx_file(f.path, f.width, f.height, f.rgb.data()) != 0) return -1;
    f.file_bytes = std::filesystem::file_size(f.path);
    flush(f.path);
    return 0;
}

enum Case { kOwn, kOwn709, kFfmpeg, kOiio, kOiio8, kFloorWhole, kFloorRows, kCaseCount };
const char* const kCases[kCaseCount] = {"karvelin",  "karvelin-709", "ffmpeg",    "oiio",
                                        "oiio-8bit", "floor-whole",  "floor-rows"};

}  // namespace

int main(int argc, char** argv) {
    int rounds = 7;
    std::string tsv_path, sizes = "4k,8k", parent = std::filesystem::temp_directory_path();
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--rounds" && i + 1 < argc) {
            rounds = std::max(1, std::atoi(argv[++i]));
        } else if (a == "--tsv" && i + 1 < argc) {
            tsv_path = argv[++i];
        } else if (a == "--sizes" && i + 1 < argc) {
            sizes = argv[++i];
        } else if (a == "--dir" && i + 1 < argc) {
            parent = argv[++i];
        } else {
            std::fprintf(stderr,
                         "usage: peers_bench [--rounds N] [--tsv FILE] [--sizes 4k,8k] "
                         "[--dir PARENT]\n");
            return 2;
        }
    }

    std::string dir_template = parent + "/karvelin-peers-XXXXXX";
    if (!mkdtemp(dir_template.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string dir = dir_template;

    // Every size twice: the grainy picture all cases read, and the generator's
    // test card (flat bars, ramp, checkers) on which only the conversion's cost
    // is measured again, since flat areas repeat colours.
    std::vector<Frame> frames;
    std::vector<int> sizes_wanted;
    if (sizes.find("4k") != std::string::npos) sizes_wanted.push_back(3840);
    if (sizes.find("8k") != std::string::npos) sizes_wanted.push_back(7680);
    int status = 0;
    for (int width : sizes_wanted) {
        const int height = width == 3840 ? 2160 : 4320;
        const std::string tag = width == 3840 ? "4K" : "8K";
        Frame grain{dir + "/grain" + tag + ".dpx", width, height, 0, {}, "grain"};
        std::fprintf(stderr, "writing %s\n", grain.path.c_str());
        if (write_frame(grain) != 0) status = 1;
        frames.push_back(std::move(grain));
        const std::string command = std::string(KARVELIN_MKSEQ) + " -o " + dir + " -n card" + tag +
                                    "_ -c 1 -s " + std::to_string(width) + "x" +
                                    std::to_string(height) + " > /dev/null";
        Frame card{dir + "/card" + tag + "_0000.dpx", width, height, 0, {}, "card"};
        if (std::system(command.c_str()) != 0 || !std::filesystem::exists(card.path)) {
            std::fprintf(stderr, "karvelin-mkseq failed: %s\n", command.c_str());
            status = 1;
        } else {
            card.file_bytes = std::filesystem::file_size(card.path);
            flush(card.path);
            frames.push_back(std::move(card));
        }
    }
    std::size_t max_file = 0;
    for (const Frame& f : frames) max_file = std::max(max_file, f.file_bytes);

    ConversionTables tables;
    build_conversion_tables(tables);
    Ffmpeg ff;
    std::vector<std::uint8_t> whole(max_file), row(static_cast<std::size_t>(kMaxFrameWidth) * 6);
    const std::size_t max_samples = static_cast<std::size_t>(kMaxFrameWidth) * kMaxFrameHeight * 3;
    std::vector<std::uint16_t> samples16(max_samples);
    std::vector<std::uint8_t> samples8(max_samples);
    if (status == 0 && ffmpeg_open(ff, max_file) != 0) {
        std::fprintf(stderr, "libavcodec has no usable DPX decoder\n");
        status = 1;
    }

    const int kShifts = 4;
    std::vector<Display> displays(frames.size() * kShifts);
    auto run_case = [&](int c, const Frame& f, Display& d) {
        switch (c) {
            case kOwn:
            case kOwn709:
                d.store.convert = c == kOwn709;
                return read_dpx_frame(f.path.c_str(), d.store, tables);
            case kFfmpeg:
                return ffmpeg_frame(ff, f, d);
            case kOiio:
                return oiio_frame(f, samples16, d);
            case kOiio8:
                return oiio_frame(f, samples8, d);
            case kFloorWhole:
                return bench::read_whole_file(f.path.c_str(), whole.data(), f.file_bytes) ? 0 : -1;
            default:
                return bench::read_needed_rows(f.path.c_str(), kDpxDataOffset, f.width, f.height,
                                               d.store.shift, row.data())
                           ? 0
                           : -1;
        }
    };
    auto cases_of = [](const Frame& f) { return f.picture == "card" ? 2 : int{kCaseCount}; };

    // Pictures first: every case must show the frame before its time counts.
    std::vector<std::uint8_t> reference;
    for (std::size_t fi = 0; status == 0 && fi < frames.size(); ++fi) {
        const Frame& f = frames[fi];
        for (int s = 0; s < kShifts && status == 0; ++s) {
            Display& d = displays[fi * kShifts + s];
            if (setup_display(d, f, s) != 0 || run_case(kOwn, f, d) != 0) {
                status = 1;
                break;
            }
            reference.assign(d.store.pixels, d.store.pixels + d.bytes);
            if (run_case(kOwn709, f, d) != 0 ||
                !conversion_exact(tables, reference.data(), d.store.pixels, d.bytes)) {
                std::fprintf(stderr, "conversion picture differs: %s 1/%d\n", f.path.c_str(),
                             1 << s);
                status = 1;
            }
            if (cases_of(f) == 2) continue;
            std::memset(d.store.pixels, 0, d.bytes);
            if (run_case(kOiio, f, d) != 0 ||
                !same_picture(d.store.pixels, reference.data(), d.bytes)) {
                std::fprintf(stderr, "OpenImageIO picture differs at %dx%d 1/%d\n", f.width,
                             f.height, 1 << s);
                status = 1;
            }
            std::memset(d.store.pixels, 0, d.bytes);
            if (run_case(kOiio8, f, d) != 0) {
                status = 1;
            } else {
                const Difference diff = difference(d.store.pixels, reference.data(), d.bytes);
                std::printf(
                    "  oiio-8bit %dx%d 1/%d: vs karvelin max |diff| %d, %.1f%% of pixels "
                    "differ (the library rounds 16 -> 8 bits, the viewer takes the top byte)\n",
                    f.width, f.height, 1 << s, diff.max, diff.percent);
            }
            std::memset(d.store.pixels, 0, d.bytes);
            if (run_case(kFfmpeg, f, d) != 0) {
                std::fprintf(stderr, "FFmpeg could not decode %s\n", f.path.c_str());
                status = 1;
            } else if (same_picture(d.store.pixels, reference.data(), d.bytes)) {
                std::printf("  swscale %dx%d 1/%d: identical to karvelin\n", f.width, f.height,
                            1 << s);
            } else {
                describe_swscale(f, d, reference.data());
            }
        }
    }
    for (Frame& f : frames) std::vector<std::uint16_t>().swap(f.rgb);
    std::fflush(stdout);

    // Rounds: each round times every case of every size and shift once (the fast
    // ones several times), so slow drifts of a shared machine hit all alike.
    std::map<std::string, std::vector<double>> samples_ms;
    auto key = [](std::size_t fi, int s, int c) {
        return std::to_string(fi) + "/" + std::to_string(s) + "/" + std::to_string(c);
    };
    for (int round = 0; status == 0 && round < rounds; ++round) {
        std::fprintf(stderr, "round %d/%d\n", round + 1, rounds);
        for (std::size_t fi = 0; fi < frames.size(); ++fi) {
            for (int s = 0; s < kShifts; ++s) {
                for (int c = 0; c < cases_of(frames[fi]); ++c) {
                    const bool slow = c == kFfmpeg || c == kOiio || c == kOiio8;
                    for (int r = 0; r < (slow ? 1 : 5); ++r) {
                        const auto t0 = Clock::now();
                        if (run_case(c, frames[fi], displays[fi * kShifts + s]) != 0) status = 1;
                        samples_ms[key(fi, s, c)].push_back(ms_since(t0));
                    }
                }
            }
        }
    }

    std::FILE* tsv = tsv_path.empty() ? nullptr : std::fopen(tsv_path.c_str(), "w");
    if (tsv) std::fprintf(tsv, "size\tpicture\tshift\tcase\tmedian_ms\tmin_ms\tmax_ms\tsamples\n");
    for (std::size_t fi = 0; status == 0 && fi < frames.size(); ++fi) {
        const Frame& f = frames[fi];
        const char* size = f.width == 3840 ? "4K" : "8K";
        std::printf("\n%dx%d, %s picture, ms per frame: median (min-max); ratios of medians\n",
                    f.width, f.height, f.picture.c_str());
        std::printf("%-6s %-13s %-28s %s\n", "size", "case", "median (min-max)", "ratio");
        for (int s = 0; s < kShifts; ++s) {
            bench::Stats st[kCaseCount];
            for (int c = 0; c < cases_of(f); ++c) st[c] = bench::stats(samples_ms[key(fi, s, c)]);
            for (int c = 0; c < cases_of(f); ++c) {
                char range[64], ratio[96] = "";
                std::snprintf(range, sizeof range, "%.2f (%.2f-%.2f)", st[c].median, st[c].min,
                              st[c].max);
                if (c == kOwn && cases_of(f) == kCaseCount)
                    std::snprintf(ratio, sizeof ratio, "%.2fx floor-rows, %.2fx floor-whole",
                                  st[kOwn].median / st[kFloorRows].median,
                                  st[kOwn].median / st[kFloorWhole].median);
                else if (c == kOwn709)
                    std::snprintf(ratio, sizeof ratio, "%.2fx conversion off",
                                  st[kOwn709].median / st[kOwn].median);
                else if (c == kFfmpeg || c == kOiio || c == kOiio8)
                    std::snprintf(ratio, sizeof ratio, "karvelin %.1fx faster",
                                  st[c].median / st[kOwn].median);
                std::printf("1/%-4d %-13s %-28s %s\n", 1 << s, kCases[c], range, ratio);
                if (tsv)
                    std::fprintf(tsv, "%s\t%s\t%d\t%s\t%.3f\t%.3f\t%.3f\t%zu\n", size,
                                 f.picture.c_str(), s, kCases[c], st[c].median, st[c].min,
                                 st[c].max, samples_ms[key(fi, s, c)].size());
            }
        }
    }
    if (tsv) std::fclose(tsv);

    for (Display& d : displays) release_display(d.store);
    ffmpeg_close(ff);
    std::filesystem::remove_all(dir);
    if (status != 0) std::fprintf(stderr, "peers_bench: failed\n");
    return status;
}
