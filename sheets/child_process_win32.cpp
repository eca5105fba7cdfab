// Windows children: this program started again with "--vq31-child-task NAME HEX" (the
// argument hex-encoded, so no file name needs command-line quoting); the child writes to its
// standard output, which is the write end of an anonymous pipe the parent reads with a
// deadline, and a child that overruns is ended with TerminateProcess.
#include "child_process.h"

#include <windows.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <vector>

namespace vq31::sheets {

namespace {

constexpr const char* ChildSwitch = "--vq31-child-task";
// An exit code in the range of exception codes means the child died of a fault.
constexpr DWORD FirstFaultCode = 0xC0000000u;

struct Tasks {
    std::mutex mutex;
    std::map<std::string, ChildBody> bodies;
};
Tasks& Registry() {
    static Tasks tasks;
    return tasks;
}

ChildBody Find(const std::string& name) {
    Tasks& tasks = Registry();
    std::lock_guard lock(tasks.mutex);
    const auto it = tasks.bodies.find(name);
    return it == tasks.bodies.end() ? ChildBody{} : it->second;
}

// The argument as "x" and two hex digits a byte: never empty, so it is always one word.
std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out = "x";
    for (const unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

bool Unhex(std::string text, std::string& bytes) {
    if (text.empty() || text[0] != 'x' || text.size() % 2 != 1) {
        return false;
    }
    text.erase(0, 1);
    auto value = [](char c) {
        return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    };
    bytes.clear();
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int hi = value(text[i]), lo = value(text[i + 1]);
        if (hi < 0 || lo < 0) {
            return false;
        }
        bytes += static_cast<char>(hi * 16 + lo);
    }
    return true;
}

std::wstring Widen(const std::string& ascii) {
    return std::wstring(ascii.begin(), ascii.end());
}

bool WriteAll(HANDLE out, std::string_view bytes) {
    while (!bytes.empty()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 20));
        if (!WriteFile(out, bytes.data(), chunk, &written, nullptr) || written == 0) {
            return false;
        }
        bytes.remove_prefix(written);
    }
    return true;
}

} // namespace

ChildOutcome RunInChild(const ChildTask& task, std::chrono::milliseconds limit,
                        std::size_t maxBytes) {
    ChildOutcome outcome;
    if (!Find(task.name)) {
        return outcome; // nothing this program could run in a new process
    }
    std::vector<wchar_t> self(32768);
    const DWORD length = GetModuleFileNameW(nullptr, self.data(), DWORD(self.size()));
    if (length == 0 || length >= self.size()) {
        return outcome;
    }
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
        return outcome;
    }
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    std::wstring command = L"\"" + std::wstring(self.data(), length) + L"\" " + Widen(ChildSwitch) +
                           L" " + Widen(task.name) + L" " + Widen(Hex(task.argument));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = INVALID_HANDLE_VALUE;
    startup.hStdOutput = writeEnd;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessW(self.data(), command.data(), nullptr, nullptr, TRUE,
                                        CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process);
    CloseHandle(writeEnd); // the child holds its own copy; the pipe breaks when it ends
    if (!started) {
        CloseHandle(readEnd);
        return outcome;
    }
    CloseHandle(process.hThread);

    const auto deadline = std::chrono::steady_clock::now() + limit;
    bool timedOut = false;
    bool tooLarge = false;
    std::vector<char> buffer(65536);
    while (true) {
        if (std::chrono::steady_clock::now() >= deadline) {
            timedOut = true;
            break;
        }
        DWORD available = 0;
        if (!PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr)) {
            break; // the child has ended and everything it wrote was read
        }
        if (available == 0) {
            WaitForSingleObject(process.hProcess, 5);
            continue;
        }
        DWORD got = 0;
        const DWORD want = std::min<DWORD>(available, DWORD(buffer.size()));
        if (!ReadFile(readEnd, buffer.data(), want, &got, nullptr) || got == 0) {
            break;
        }
        outcome.output.append(buffer.data(), got);
        if (outcome.output.size() > maxBytes) {
            tooLarge = true;
            break;
        }
    }
    CloseHandle(readEnd);
    if (timedOut || tooLarge) {
        TerminateProcess(process.hProcess, 1);
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    const BOOL known = GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    if (timedOut) {
        outcome.end = ChildOutcome::End::TimedOut;
    } else if (tooLarge) {
        outcome.end = ChildOutcome::End::TooLarge;
    } else if (!known || code >= FirstFaultCode) {
        outcome.end = ChildOutcome::End::Crashed;
    } else {
        outcome.end = ChildOutcome::End::Exited;
        outcome.exitCode = int(code);
    }
    return outcome;
}

void RegisterChildTask(const std::string& name, ChildBody body) {
    Tasks& tasks = Registry();
    std::lock_guard lock(tasks.mutex);
    tasks.bodies[name] = std::move(body);
}

int RunChildTaskIfAsked(int argc, char** argv) {
    if (argc < 2 || std::string(argv[1]) != ChildSwitch) {
        return -1;
    }
    // A child never goes on into the program itself, whatever its command line holds.
    if (argc != 4) {
        return 2;
    }
    // A fault in the child ends it quietly; the parent reports the failed read.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    std::string argument;
    const ChildBody body = Find(argv[2]);
    if (!body || !Unhex(argv[3], argument)) {
        return 2;
    }
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    const int code = body(argument, [out](std::string_view bytes) { return WriteAll(out, bytes); });
    CloseHandle(out);
    return code;
}

} // namespace vq31::sheets
