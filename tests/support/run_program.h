// Running a built command-line program from a test and keeping what it wrote
// (POSIX only: the tools' tests run where the tools are installed).
#pragma once

#include <string>

#include "support/test_files.h"

struct RunResult {
    int status = -1;  // exit code, or -1 when the program did not exit normally
    std::string out, err;
};

/// Runs `program` with `args` (already shell-quoted where needed) in the folder
/// `dir`; with `terminal` its output goes to a pseudo-terminal (through
/// script(1)), and both streams end up in `out`.
RunResult run_program(const TempDir& dir, const std::string& program, const std::string& args,
                      bool terminal = false);

/// A whole file as text; empty when it cannot be read.
std::string text_of(const std::string& path);
