// Writers for the two frame formats the viewer reads, shared by the sequence
// generator, the tests and the benchmarks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

/// Bytes before the pixels in the DPX files written here.
constexpr std::uint32_t kDpxDataOffset = 2048;

/// Builds a complete SMPTE 268M version 2.0 DPX file: one RGB image element of
/// 16 bits, packing 0, descriptor 50, big-endian. `rgb` holds width x height x 3
/// samples (red, green, blue), top row first.
std::vector<std::uint8_t> make_dpx_file(int width, int height, const std::uint16_t* rgb);

/// The first kDpxDataOffset bytes of the file make_dpx_file builds: everything
/// but the pixels, for writers that stream the rows themselves.
std::vector<std::uint8_t> make_dpx_header(int width, int height);

/// Writes `bytes` to `path`, replacing it. Returns 0 or -1.
int write_file(const std::string& path, const std::vector<std::uint8_t>& bytes);

/// Writes a DPX file built by make_dpx_file. Returns 0 or -1.
int write_dpx_file(const std::string& path, int width, int height, const std::uint16_t* rgb);

/// Writes the three headerless plane files `base` + "r"/"g"/"b" (`base` ends with
/// the dot, e.g. "clip0001.4K."): 12-bit samples in big-endian 16-bit words, top
/// row first. `rgb` is as for make_dpx_file; each sample's low 12 bits are kept.
/// `letters` may be "RGB" for upper-case plane names. Returns 0 or -1.
int write_planar_files(const std::string& base, int width, int height, const std::uint16_t* rgb,
                       const char* letters = "rgb");
