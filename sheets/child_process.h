// Running work in a child process and collecting what it writes back, so that a fault of the
// work (a memory fault, a failed assertion, a hang) ends the child only. POSIX forks and the
// child runs the task's body as it is; Windows has no fork, so it starts this program again
// with the task's name and argument on the command line, and the new process runs the body
// registered under that name (RunChildTaskIfAsked, first thing in main).
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace vq31::sheets {

// Writes bytes to the parent; false when they could not all be written.
using ChildWrite = std::function<bool(std::string_view)>;
// The work: its exit code is the child's.
using ChildBody = std::function<int(const std::string& argument, const ChildWrite& write)>;

struct ChildTask {
    std::string name;     // registered name, for a child that is a new process (Windows)
    std::string argument; // handed to the body
    ChildBody body;       // run as it is in a forked child (POSIX)
};

struct ChildOutcome {
    enum class End { Exited, Crashed, TimedOut, TooLarge, NotStarted };
    End end = End::NotStarted;
    int exitCode = -1; // when Exited
    std::string output;
};

// Runs the task in a child and collects its output; a child that does not end within limit,
// or writes more than maxBytes, is killed.
ChildOutcome RunInChild(const ChildTask& task, std::chrono::milliseconds limit,
                        std::size_t maxBytes);

// The tasks a new child process can run, by name (Windows; POSIX children need none).
void RegisterChildTask(const std::string& name, ChildBody body);
// In a child process started by RunInChild: runs the task named on the command line and
// returns its exit code. Otherwise returns -1 and the program goes on.
int RunChildTaskIfAsked(int argc, char** argv);

} // namespace vq31::sheets
