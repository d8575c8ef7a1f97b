// Small frames and folders the tests make for themselves.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/frame_files.h"

/// A fresh empty folder under the system's temporary folder, removed with its
/// contents when the object goes away.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    /// The folder's path, without a trailing separator.
    const std::string& path() const { return path_; }
    /// path() + the separator ("/", or "\\" on Windows) + name.
    std::string file(const std::string& name) const;

  private:
    std::string path_;
};

/// width x height x 3 16-bit samples whose values differ for every pixel,
/// channel and `seed`, so that a misplaced sample shows.
std::vector<std::uint16_t> test_pattern(int width, int height, int seed = 0);

/// Writes a DPX whose header says width x height but that holds only the header:
/// the reader shows black for the missing rows, so a 3840x2160 frame stays tiny.
/// Returns 0 or -1.
int write_header_only_dpx(const std::string& path, int width, int height);

/// Makes the folder `path` (its parent must exist). Returns 0 or -1.
int make_folder(const std::string& path);

/// Reads a whole file; empty when it cannot be read.
std::vector<std::uint8_t> read_whole_file(const std::string& path);
