// POSIX children: fork, the body writes to a pipe, the parent reads it with a deadline and
// kills a child that overruns.
#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace vq31::sheets {

namespace {

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

} // namespace

ChildOutcome RunInChild(const ChildTask& task, std::chrono::milliseconds limit,
                        std::size_t maxBytes) {
    ChildOutcome outcome;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        return outcome;
    }
    const pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        return outcome;
    }
    if (pid == 0) {
        close(fds[0]);
        const int out = fds[1];
        const int code = task.body(task.argument,
                                   [out](std::string_view bytes) { return WriteAll(out, bytes); });
        close(out);
        _exit(code);
    }
    close(fds[1]);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    bool timedOut = false;
    bool tooLarge = false;
    char buffer[65536];
    while (true) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            timedOut = true;
            break;
        }
        pollfd p{fds[0], POLLIN, 0};
        const int ready = poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            timedOut = ready == 0;
            break;
        }
        const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        outcome.output.append(buffer, static_cast<std::size_t>(n));
        if (outcome.output.size() > maxBytes) {
            tooLarge = true;
            break;
        }
    }
    close(fds[0]);
    if (timedOut || tooLarge) {
        kill(pid, SIGKILL);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (timedOut) {
        outcome.end = ChildOutcome::End::TimedOut;
    } else if (tooLarge) {
        outcome.end = ChildOutcome::End::TooLarge;
    } else if (WIFEXITED(status)) {
        outcome.end = ChildOutcome::End::Exited;
        outcome.exitCode = WEXITSTATUS(status);
    } else {
        outcome.end = ChildOutcome::End::Crashed;
    }
    return outcome;
}

void RegisterChildTask(const std::string&, ChildBody) {}

int RunChildTaskIfAsked(int, char**) {
    return -1;
}

} // namespace vq31::sheets
