// vq31ctl: scriptable access to a VQ31 sensor on a serial port. Global options come first
// (--port PATH, --baud N, --address N; they may also follow the command), then a command word
// and its own arguments; a word or option the command does not know is refused with its
// usage. Exit code 0 on success, 1 on a device or file failure, 2 on a usage error.
// --version prints the tool's version.
// --trace FILE (or - for standard error) appends one line per frame, silence and refused
// answer; --stats prints the link's counters after the command.
#include "ctl.h"
#include "trace.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

#ifndef VQ31_VERSION
#define VQ31_VERSION "unknown"
#endif

namespace vq31::ctl {

namespace {
// Highest speed accepted on the command line (far above any serial adapter's).
constexpr long long MaxBaud = 4000000;

struct Entry {
    const char* usage;
    CommandFn fn;
    ArgRules rules;
};
std::map<std::string, Entry>& Registry() {
    static std::map<std::string, Entry> registry;
    return registry;
}

void Usage(std::FILE* out) {
    std::fprintf(out, "usage: vq31ctl --port PATH [--baud N] [--address N] [--trace FILE|-] "
                      "[--stats] COMMAND ...\n"
                      "       vq31ctl --version\n");
    for (const auto& [name, entry] : Registry())
        std::fprintf(out, "  %s\n", entry.usage);
    std::fprintf(out,
                 "exit codes:\n"
                 "  0  done\n"
                 "  1  the device or a file failed: no answer or an error status, a write the\n"
                 "     device did not keep, a file that cannot be read, written or taken\n"
                 "  2  usage error: an unknown command, option or word, or a value out of its\n"
                 "     range; nothing was sent to the device\n");
}

bool IsGlobalOption(const std::string& word) {
    return word == "--port" || word == "--baud" || word == "--address" || word == "--trace";
}

// Opens the trace target: "-" is standard error, anything else a file appended to (an
// earlier trace in it is kept). Null with a message when the file cannot be opened.
std::FILE* OpenTrace(const std::string& target) {
    if (target == "-")
        return stderr;
    std::FILE* file = std::fopen(target.c_str(), "a");
    if (file == nullptr)
        std::fprintf(stderr, "vq31ctl: cannot open the trace file %s: %s\n", target.c_str(),
                     std::strerror(errno));
    return file;
}

// Options of any command that take a value, so their values are not taken for positional
// words.
bool TakesValue(const std::string& word) {
    if (IsGlobalOption(word))
        return true;
    for (const auto& [name, entry] : Registry())
        for (const auto& option : entry.rules.valueOptions)
            if (option == word)
                return true;
    return false;
}

bool Contains(const std::vector<std::string>& list, const std::string& word) {
    for (const auto& item : list)
        if (item == word)
            return true;
    return false;
}
} // namespace

bool Register(const char* name, const char* usage, CommandFn fn, ArgRules rules) {
    Registry()[name] = {usage, fn, std::move(rules)};
    return true;
}

std::string CheckArguments(const ArgRules& rules, const std::vector<std::string>& args) {
    size_t words = 0;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a.rfind("--", 0) == 0) {
            if (Contains(rules.flags, a))
                continue;
            if (!Contains(rules.valueOptions, a))
                return "unknown option '" + a + "'";
            if (i + 1 >= args.size())
                return a + " needs a value";
            ++i;
            continue;
        }
        ++words;
        if (words > rules.maxWords)
            return "unexpected word '" + a + "'";
    }
    if (words < rules.minWords)
        return "missing arguments";
    return {};
}

bool ParseNumber(const std::string& text, long long& value) {
    if (text.empty())
        return false;
    // Decimal, with leading zeros meaning nothing ("010" is ten); hexadecimal only after 0x.
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(text.c_str(), &end, hex ? 16 : 10);
    if (errno != 0 || end == text.c_str() || *end != '\0')
        return false;
    value = v;
    return true;
}

std::optional<std::string> OptionText(const std::vector<std::string>& args, const char* name) {
    for (size_t i = 0; i + 1 < args.size(); ++i)
        if (args[i] == name)
            return args[i + 1];
    return std::nullopt;
}

bool OptionNumber(const std::vector<std::string>& args, const char* name, long long& value) {
    const auto text = OptionText(args, name);
    if (!text)
        return true; // absent: keep the default
    if (!ParseNumber(*text, value)) {
        std::fprintf(stderr, "vq31ctl: %s needs a whole number, not '%s'\n", name, text->c_str());
        return false;
    }
    return true;
}

bool HasFlag(const std::vector<std::string>& args, const char* name) {
    for (const auto& a : args)
        if (a == name)
            return true;
    return false;
}

std::vector<std::string> Positional(const std::vector<std::string>& args) {
    std::vector<std::string> out;
    for (size_t i = 0; i < args.size(); ++i) {
        if (TakesValue(args[i])) {
            ++i;
            continue;
        }
        if (args[i].rfind("--", 0) == 0)
            continue;
        out.push_back(args[i]);
    }
    return out;
}

} // namespace vq31::ctl

int main(int argc, char** argv) {
    using namespace vq31::ctl;
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("vq31ctl %s\n", VQ31_VERSION);
        return 0;
    }
    Options options;
    std::string command;
    std::string traceTarget;
    bool stats = false;
    // The global options may stand before or after the command word.
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (IsGlobalOption(word)) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "vq31ctl: %s needs a value\n", word.c_str());
                return 2;
            }
            const std::string value = argv[++i];
            long long n = 0;
            if (word == "--port") {
                options.port = value;
            } else if (word == "--trace") {
                traceTarget = value;
            } else if (!ParseNumber(value, n) || n < 0 || (word == "--address" && n > 255) ||
                       (word == "--baud" && (n == 0 || n > MaxBaud))) {
                std::fprintf(stderr, "vq31ctl: bad value for %s: '%s'\n", word.c_str(),
                             value.c_str());
                return 2;
            } else if (word == "--baud") {
                options.baud = uint32_t(n);
            } else {
                options.address = uint8_t(n);
            }
        } else if (word == "--stats") {
            stats = true;
        } else if (command.empty()) {
            command = word;
        } else {
            options.args.push_back(word);
        }
    }
    if (command.empty() || command == "help" || command == "--help" || command == "-h") {
        Usage(command.empty() ? stderr : stdout);
        return command.empty() ? 2 : 0;
    }
    const auto it = Registry().find(command);
    if (it == Registry().end()) {
        std::fprintf(stderr, "vq31ctl: unknown command '%s'\n", command.c_str());
        Usage(stderr);
        return 2;
    }
    if (const std::string wrong = CheckArguments(it->second.rules, options.args); !wrong.empty()) {
        std::fprintf(stderr,
                     "vq31ctl %s: %s\nusage: vq31ctl --port PATH [--baud N] "
                     "[--address N] %s\n",
                     command.c_str(), wrong.c_str(), it->second.usage);
        return 2;
    }
    // The port list and the saved snapshots need no port.
    const bool noPort =
        command == "ports" || (command == "snapshot" && !options.args.empty() &&
                               (options.args[0] == "list" || options.args[0] == "show"));
    if (options.port.empty() && !noPort) {
        std::fprintf(stderr, "vq31ctl: --port PATH is required\n");
        return 2;
    }
    std::FILE* trace = nullptr;
    if (!traceTarget.empty() && (trace = OpenTrace(traceTarget)) == nullptr)
        return 2;
    if (trace || stats) {
        options.monitor = std::make_shared<vq31::LinkMonitor>();
        if (trace)
            options.monitor->SetLineSink([trace](const std::string& line) {
                std::fprintf(trace, "%s\n", line.c_str());
                std::fflush(trace);
            });
    }
    const int code = it->second.fn(options);
    if (options.monitor) {
        // Every link of the command is closed by now: nothing records any more.
        options.monitor->SetLineSink({});
        if (stats)
            std::printf("%s", vq31::FormatHealth(options.monitor->Health()).c_str());
    }
    if (trace && trace != stderr)
        std::fclose(trace);
    return code;
}
