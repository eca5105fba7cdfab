// Runs a shell command line as its own process and collects its exit code and output (both
// streams), for the tests of the programs themselves.
#pragma once

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

namespace vq31::test {

struct CommandRun {
    int exitCode = -1; // -1 when the process did not end by itself
    std::string output;
};

inline CommandRun RunCommand(const std::string& line) {
    CommandRun run;
    FILE* pipe = popen((line + " 2>&1").c_str(), "r");
    if (pipe == nullptr) {
        return run;
    }
    std::array<char, 4096> buffer;
    std::size_t n;
    while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
        run.output.append(buffer.data(), n);
    }
    const int status = pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

} // namespace vq31::test
