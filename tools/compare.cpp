// karvelin-compare: compares every frame pair of two test sequences on their
// stored samples and says, one line per pair and in a summary, whether and
// where they differ; its exit status says it to scripts.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "compare/metrics.h"
#include "core/sequence.h"

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

namespace {

constexpr int kExitIdentical = 0;
constexpr int kExitDiffers = 1;
constexpr int kExitError = 2;

const char kUsage[] =
    "usage: karvelin-compare [--offset N] [--first-difference] [--csv | --json]\n"
    "                        A_FRAME B_FRAME\n"
    "       karvelin-compare --help | --version\n"
    "\n"
    "Compares every frame of the sequence of A_FRAME with the frame at the same\n"
    "position in the sequence of B_FRAME (every file in a frame's folder whose\n"
    "name differs only in the digits before a dot belongs to its sequence), on\n"
    "the samples the files store, and writes one line per pair and a summary:\n"
    "per colour the PSNR (peak 2^bits - 1) and the largest difference, the\n"
    "samples that differ and the first pixel that differs (x, y from the\n"
    "top-left), or \"identical\". Frames of different bit depths are compared at\n"
    "the larger one, the other's samples shifted left to it.\n"
    "\n"
    "Options:\n"
    "  --offset N          pair A's frame n with B's frame n + N (default 0)\n"
    "  --first-difference  stop after the first pair that differs\n"
    "  --csv               comma-separated values, a header line first; the\n"
    "                      summary goes to standard error\n"
    "  --json              one JSON document: the pairs and the summary\n"
    "  -h, --help          show this text\n"
    "  --version           show the version\n"
    "\n"
    "Every processor core shares the work; memory stays at a few rows per core\n"
    "whatever the sequences' length. On a terminal a progress line shows the\n"
    "pair being compared.\n"
    "\n"
    "Every frame of A needs its partner in B; frames of B outside the pairs\n"
    "(a lead-in skipped with --offset, say) are named in the summary only.\n"
    "\n"
    "Exit status: 0 every pair identical, 1 a pair differs, 2 an error: bad\n"
    "arguments, a sequence that cannot be found, a frame of A without a partner\n"
    "in B, frames of two sizes, or a file that cannot be read (each named on\n"
    "standard error with the reason).\n";

enum class Format { kText, kCsv, kJson };

struct Options {
    long long offset = 0;
    bool first_difference = false;
    Format format = Format::kText;
    const char* a = nullptr;
    const char* b = nullptr;
};

/// A whole decimal number, optionally signed, no larger than a sequence can be long.
bool parse_offset(const char* text, long long* value) {
    char* end = nullptr;
    const long long v = std::strtoll(text, &end, 10);
    if (*text == '\0' || *end != '\0' || v < -100000000LL || v > 100000000LL) return false;
    *value = v;
    return true;
}

/// Fills `o`; returns -1 with a message on standard error, 1 for an answer given.
int parse_options(int argc, char** argv, Options& o) {
    bool options_done = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (!options_done && std::strcmp(arg, "--") == 0) {
            options_done = true;
        } else if (!options_done &&
                   (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0)) {
            std::fputs(kUsage, stdout);
            return 1;
        } else if (!options_done && std::strcmp(arg, "--version") == 0) {
            std::printf("karvelin-compare %s\n", KARVELIN_VERSION);
            return 1;
        } else if (!options_done && std::strcmp(arg, "--offset") == 0) {
            if (i + 1 >= argc || !parse_offset(argv[i + 1], &o.offset)) {
                std::fprintf(stderr, "karvelin-compare: --offset needs a whole number of frames\n");
                return -1;
            }
            ++i;
        } else if (!options_done && std::strcmp(arg, "--first-difference") == 0) {
            o.first_difference = true;
        } else if (!options_done && std::strcmp(arg, "--csv") == 0) {
            o.format = Format::kCsv;
        } else if (!options_done && std::strcmp(arg, "--json") == 0) {
            o.format = Format::kJson;
        } else if (!options_done && arg[0] == '-' && arg[1] == '-') {
            std::fprintf(stderr, "karvelin-compare: unknown option %s (try --help)\n", arg);
            return -1;
        } else if (!o.a) {
            o.a = arg;
        } else if (!o.b) {
            o.b = arg;
        } else {
            std::fprintf(stderr, "karvelin-compare: one A_FRAME and one B_FRAME (try --help)\n");
            return -1;
        }
    }
    if (!o.b) {
        std::fprintf(stderr, "karvelin-compare: needs A_FRAME and B_FRAME (try --help)\n");
        return -1;
    }
    return 0;
}

/// Finds the sequence of `path`; -1 after saying why.
int open_sequence_of(const char* path, Sequence& seq) {
    const std::size_t length = std::strlen(path);
    if (length == 0 || length >= static_cast<std::size_t>(kPathMax)) {
        std::fprintf(stderr, "karvelin-compare: %s: %s\n", path,
                     read_failure_text(kFailNameTooLong));
        return -1;
    }
    std::memcpy(seq.current_path, path, length + 1);
    if (discover_sequence(seq) != 0) {
        std::fprintf(stderr, "karvelin-compare: %s: %s\n", path, read_failure_text(kFailNoMatch));
        return -1;
    }
    return 0;
}

/// `text` as a JSON string, quotes included.
std::string json_string(const char* text) {
    std::string out = "\"";
    for (const char* p = text; *p; ++p) {
        const unsigned char ch = static_cast<unsigned char>(*p);
        if (ch == '"' || ch == '\\') {
            out += '\\';
            out += *p;
        } else if (ch < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", ch);
            out += escaped;
        } else {
            out += *p;
        }
    }
    return out + "\"";
}

/// `text` as one CSV field: quoted when it holds a comma, a quote or a line end.
std::string csv_field(const char* text) {
    if (!std::strpbrk(text, ",\"\r\n")) return text;
    std::string out = "\"";
    for (const char* p = text; *p; ++p) {
        if (*p == '"') out += '"';
        out += *p;
    }
    return out + "\"";
}

/// What came of one pair.
struct PairOutcome {
    std::int64_t frame = 0;
    const char* name_a = "";
    const char* name_b = "";
    bool failed = false;
    std::string error;
    FrameMetrics m;
};

std::uint64_t differing_samples(const FrameMetrics& m) {
    std::uint64_t n = 0;
    for (const ChannelMetrics& c : m.channel) n += c.differing;
    return n;
}

void write_pair(const Options& o, const PairOutcome& p, bool first_written) {
    const FrameMetrics& m = p.m;
    const bool same = !p.failed && metrics_identical(m);
    if (o.format == Format::kText) {
        std::printf("frame %lld: %s %s: ", static_cast<long long>(p.frame), p.name_a, p.name_b);
        if (p.failed) {
            std::printf("error: %s\n", p.error.c_str());
        } else if (same) {
            std::printf("identical\n");
        } else {
            std::printf("PSNR");
            for (int c = 0; c < kCompareChannels; ++c) {
                const double psnr = metrics_psnr(m, c);
                if (std::isinf(psnr))
                    std::printf(" %c inf", "RGB"[c]);
                else
                    std::printf(" %c %.2f", "RGB"[c], psnr);
            }
            const unsigned long long n = differing_samples(m);
            std::printf(" dB, max R %u G %u B %u, %llu %s, first at (%d, %d)\n",
                        m.channel[0].max_diff, m.channel[1].max_diff, m.channel[2].max_diff, n,
                        n == 1 ? "sample differs" : "samples differ", static_cast<int>(m.first_x),
                        static_cast<int>(m.first_y));
        }
        return;
    }
    if (o.format == Format::kCsv) {
        std::printf("%lld,%s,%s", static_cast<long long>(p.frame), csv_field(p.name_a).c_str(),
                    csv_field(p.name_b).c_str());
        if (p.failed) {
            std::printf(",,,,,,,,,,,,,,%s\n", csv_field(p.error.c_str()).c_str());
            return;
        }
        std::printf(",%d", static_cast<int>(m.bits));
        for (int c = 0; c < kCompareChannels; ++c) {
            const double psnr = metrics_psnr(m, c);
            if (std::isinf(psnr))
                std::printf(",inf");
            else
                std::printf(",%.4f", psnr);
        }
        for (int c = 0; c < kCompareChannels; ++c) std::printf(",%.6g", metrics_mse(m, c));
        for (int c = 0; c < kCompareChannels; ++c) std::printf(",%u", m.channel[c].max_diff);
        std::printf(",%llu,%d,%d,\n", static_cast<unsigned long long>(differing_samples(m)),
                    static_cast<int>(m.first_x), static_cast<int>(m.first_y));
        return;
    }
    std::printf("%s\n    {\"frame\": %lld, \"a\": %s, \"b\": %s", first_written ? "" : ",",
                static_cast<long long>(p.frame), json_string(p.name_a).c_str(),
                json_string(p.name_b).c_str());
    if (p.failed) {
        std::printf(", \"error\": %s}", json_string(p.error.c_str()).c_str());
        return;
    }
    std::printf(", \"bits\": %d, \"identical\": %s, \"psnr\": [", static_cast<int>(m.bits),
                same ? "true" : "false");
    for (int c = 0; c < kCompareChannels; ++c) {
        const double psnr = metrics_psnr(m, c);
        if (std::isinf(psnr))
            std::printf("%snull", c ? ", " : "");
        else
            std::printf("%s%.4f", c ? ", " : "", psnr);
    }
    std::printf("], \"mse\": [%.6g, %.6g, %.6g], \"max\": [%u, %u, %u], \"differing\": %llu",
                metrics_mse(m, 0), metrics_mse(m, 1), metrics_mse(m, 2), m.channel[0].max_diff,
                m.channel[1].max_diff, m.channel[2].max_diff,
                static_cast<unsigned long long>(differing_samples(m)));
    if (m.first_y >= 0)
        std::printf(", \"first\": [%d, %d]}", static_cast<int>(m.first_x),
                    static_cast<int>(m.first_y));
    else
        std::printf(", \"first\": null}");
}

/// Compares one pair into `p`.
void compare_pair(const Sequence& a, const Sequence& b, std::int32_t ia, std::int32_t ib,
                  int threads, CompareScratch* scratch, PairOutcome& p) {
    p.frame = ia;
    p.name_a = frame_name(a, ia);
    p.name_b = frame_name(b, ib);
    char path_a[kPathMax];
    char path_b[kPathMax];
    OpenFrame fa, fb;
    ReadFailure why = kReadOk;
    auto fail = [&](const char* name, const std::string& reason) {
        p.failed = true;
        p.error = std::string(name) + ": " + reason;
    };
    if (frame_path(a, ia, path_a) != 0) return fail(p.name_a, read_failure_text(kFailNameTooLong));
    if (frame_path(b, ib, path_b) != 0) return fail(p.name_b, read_failure_text(kFailNameTooLong));
    if (open_frame(a.source_format, path_a, 0, 0, fa, &why) != 0)
        return fail(p.name_a, read_failure_text(why));
    if (open_frame(b.source_format, path_b, fa.info.width, fa.info.height, fb, &why) != 0)
        return fail(p.name_b, read_failure_text(why));
    if (begin_metrics(fa.info, fb.info, p.m) != 0) {
        char text[160];
        std::snprintf(text, sizeof text, "%dx%d, %s is %dx%d", static_cast<int>(fb.info.width),
                      static_cast<int>(fb.info.height), p.name_a, static_cast<int>(fa.info.width),
                      static_cast<int>(fa.info.height));
        return fail(p.name_b, text);
    }
    if (compare_frames(fa, fb, threads, scratch, p.m) != 0)
        fail(p.name_a, "its rows or those of " + std::string(p.name_b) + " cannot be read");
}

/// Names the frames of `seq` from `first` to `last` that have no partner.
std::string unpaired(const char* side, const Sequence& seq, std::int64_t first, std::int64_t last) {
    char text[kPathMax * 2 + 128];
    if (first == last)
        std::snprintf(text, sizeof text, "frame %lld of %s (%s) has no partner",
                      static_cast<long long>(first), side,
                      frame_name(seq, static_cast<std::int32_t>(first)));
    else
        std::snprintf(text, sizeof text, "frames %lld to %lld of %s (%s .. %s) have no partner",
                      static_cast<long long>(first), static_cast<long long>(last), side,
                      frame_name(seq, static_cast<std::int32_t>(first)),
                      frame_name(seq, static_cast<std::int32_t>(last)));
    return text;
}

/// Clears the progress line so that a line written after it stands alone.
void clear_progress(bool progress) {
    if (!progress) return;
    std::fputs("\r                                                                      \r",
               stderr);
    std::fflush(stderr);
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    const int parsed = parse_options(argc, argv, o);
    if (parsed != 0) return parsed > 0 ? 0 : kExitError;
    Sequence a, b;
    if (open_sequence_of(o.a, a) != 0 || open_sequence_of(o.b, b) != 0) {
        release_sequence(a);
        release_sequence(b);
        return kExitError;
    }
    int threads = static_cast<int>(std::thread::hardware_concurrency());
    threads = std::clamp(threads, 1, kMaxCompareThreads);
    CompareScratch scratch[kMaxCompareThreads];
    for (int i = 0; i < threads; ++i)
        if (alloc_compare_scratch(scratch[i]) != 0) {
            // Fewer threads, as many as there is memory for.
            threads = i;
            break;
        }
    if (threads == 0) {
        std::fprintf(stderr, "karvelin-compare: not enough memory\n");
        return kExitError;
    }

    // Every frame of A is paired: one whose partner B lacks is a missing frame.
    // B's frames outside the pairs (say a lead-in an offset skips) are named only.
    const std::int64_t first = std::max<std::int64_t>(0, -o.offset);
    const std::int64_t end = std::min<std::int64_t>(a.frame_count, b.frame_count - o.offset);
    std::string missing;
    std::string unused;
    if (end <= first) {
        missing =
            "no frame of A has a partner in B (B has " + std::to_string(b.frame_count) + " frames)";
    } else {
        if (first > 0) missing = unpaired("A", a, 0, first - 1);
        if (end < a.frame_count)
            missing += (missing.empty() ? "" : "; ") + unpaired("A", a, end, a.frame_count - 1);
        if (first + o.offset > 0) unused = unpaired("B", b, 0, first + o.offset - 1);
        if (end + o.offset < b.frame_count)
            unused +=
                (unused.empty() ? "" : "; ") + unpaired("B", b, end + o.offset, b.frame_count - 1);
    }
    if (!missing.empty()) std::fprintf(stderr, "karvelin-compare: %s\n", missing.c_str());

    if (o.format == Format::kCsv)
        std::printf(
            "frame,a,b,bits,psnr_r,psnr_g,psnr_b,mse_r,mse_g,mse_b,max_r,max_g,max_b,differing,"
            "first_x,first_y,error\n");
    if (o.format == Format::kJson)
        std::printf("{\"a\": %s, \"b\": %s, \"offset\": %lld, \"pairs\": [",
                    json_string(o.a).c_str(), json_string(o.b).c_str(), o.offset);
    const bool progress = isatty(fileno(stderr)) != 0;
    const std::int64_t pairs = std::max<std::int64_t>(0, end - first);
    std::int64_t compared = 0, identical = 0, differ = 0, errors = 0;
    PairOutcome first_diff;
    bool have_first_diff = false;
    for (std::int64_t i = first; i < end; ++i) {
        if (progress) {
            std::fprintf(stderr, "\rpair %lld of %lld: %.40s",
                         static_cast<long long>(i - first + 1), static_cast<long long>(pairs),
                         frame_name(a, static_cast<std::int32_t>(i)));
            std::fflush(stderr);
        }
        PairOutcome p;
        compare_pair(a, b, static_cast<std::int32_t>(i), static_cast<std::int32_t>(i + o.offset),
                     threads, scratch, p);
        clear_progress(progress);
        write_pair(o, p, compared == 0);
        std::fflush(stdout);
        ++compared;
        if (p.failed) {
            ++errors;
            std::fprintf(stderr, "karvelin-compare: %s\n", p.error.c_str());
        } else if (metrics_identical(p.m)) {
            ++identical;
        } else {
            ++differ;
            if (!have_first_diff) {
                first_diff = p;
                have_first_diff = true;
            }
            if (o.first_difference) break;
        }
    }
    clear_progress(progress);

    // The summary: counts, then where the sequences first differ.
    char summary[kPathMax + 256];
    int used = compared < pairs
                   ? std::snprintf(summary, sizeof summary, "%lld of %lld pairs compared: ",
                                   static_cast<long long>(compared), static_cast<long long>(pairs))
                   : std::snprintf(summary, sizeof summary,
                                   "%lld pairs compared: ", static_cast<long long>(compared));
    used += std::snprintf(summary + used, sizeof summary - static_cast<std::size_t>(used),
                          "%lld identical, %lld %s", static_cast<long long>(identical),
                          static_cast<long long>(differ), differ == 1 ? "differs" : "differ");
    if (errors > 0)
        used += std::snprintf(summary + used, sizeof summary - static_cast<std::size_t>(used),
                              ", %lld could not be compared", static_cast<long long>(errors));
    auto add = [&](const char* format, const char* text) {
        if (used < static_cast<int>(sizeof summary))
            used += std::snprintf(summary + used, sizeof summary - static_cast<std::size_t>(used),
                                  format, text);
    };
    if (have_first_diff) {
        char where[128];
        std::snprintf(where, sizeof where, "first at frame %lld, pixel (%d, %d)",
                      static_cast<long long>(first_diff.frame),
                      static_cast<int>(first_diff.m.first_x),
                      static_cast<int>(first_diff.m.first_y));
        add("; these two sequences differ, %s", where);
    } else if (errors == 0 && missing.empty()) {
        add("; %s", "all identical");
    }
    if (!missing.empty()) add("; %s", missing.c_str());
    if (!unused.empty()) add("; %s (not compared)", unused.c_str());
    if (o.format == Format::kText) std::printf("%s\n", summary);
    if (o.format == Format::kCsv) std::fprintf(stderr, "%s\n", summary);
    if (o.format == Format::kJson) {
        std::printf(
            "\n  ],\n  \"summary\": {\"pairs\": %lld, \"compared\": %lld, \"identical\": "
            "%lld, \"differ\": %lld, \"errors\": %lld, \"missing\": %s, \"not_compared\": %s, "
            "\"first_difference\": ",
            static_cast<long long>(pairs), static_cast<long long>(compared),
            static_cast<long long>(identical), static_cast<long long>(differ),
            static_cast<long long>(errors),
            missing.empty() ? "null" : json_string(missing.c_str()).c_str(),
            unused.empty() ? "null" : json_string(unused.c_str()).c_str());
        if (have_first_diff)
            std::printf(
                "{\"frame\": %lld, \"x\": %d, \"y\": %d}", static_cast<long long>(first_diff.frame),
                static_cast<int>(first_diff.m.first_x), static_cast<int>(first_diff.m.first_y));
        else
            std::printf("null");
        std::printf(", \"text\": %s}\n}\n", json_string(summary).c_str());
    }
    for (int i = 0; i < threads; ++i) release_compare_scratch(scratch[i]);
    release_sequence(a);
    release_sequence(b);
    if (errors > 0 || !missing.empty()) return kExitError;
    return differ > 0 ? kExitDiffers : kExitIdentical;
}
