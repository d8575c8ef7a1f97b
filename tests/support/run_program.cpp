#include "support/run_program.h"

#include <sys/wait.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <vector>

std::string text_of(const std::string& path) {
    const std::vector<std::uint8_t> b = read_whole_file(path);
    return std::string(b.begin(), b.end());
}

RunResult run_program(const TempDir& dir, const std::string& program, const std::string& args,
                      bool terminal) {
    const std::string out = dir.file("stdout.txt"), err = dir.file("stderr.txt");
    std::string command = "'" + program + "' " + args;
    if (terminal) command = "script -qec \"" + command + "\" /dev/null";
    const std::string cmd =
        "cd '" + dir.path() + "' && " + command + " >'" + out + "' 2>'" + err + "'";
    const int raw = std::system(cmd.c_str());
    RunResult r;
    if (raw != -1 && WIFEXITED(raw)) r.status = WEXITSTATUS(raw);
    r.out = text_of(out);
    r.err = text_of(err);
    std::filesystem::remove(out);
    std::filesystem::remove(err);
    return r;
}
