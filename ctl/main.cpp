// vq31ctl: scriptable access to a VQ31 sensor on a serial port. Global options come first
// (--port PATH, --baud N, --address N; they may also follow the command), then a command word
// and its own arguments; a word or option the command does not know is refused with its
// usage. Exit code 0 on success, 1 on a device or file failure, 2 on a usage error.
// --version prints the tool's version.
// --trace FILE (or - for standard error) appends one line per frame, silence and refused
// answer; --stats prints the link's counters after the command.
#include "ctl.h"
#include "ctl_trace_writer.h"
#include "trace.h"

#include <CLI/CLI.hpp>

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

// A global number: decimal (hexadecimal only after 0x) within its range.
std::string GlobalNumber(const std::string& name, const std::string& text, long long lowest,
                         long long highest, long long& value) {
    if (!ParseNumber(text, value) || value < lowest || value > highest)
        return "bad value for " + name + ": '" + text + "' (a number from " +
               std::to_string(lowest) + " to " + std::to_string(highest) + ")";
    return {};
}

// The first word that is no option nor an option's value: the command word.
std::string CommandWord(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (IsGlobalOption(word)) {
            ++i;
            continue;
        }
        if (word.rfind("-", 0) != 0)
            return word;
    }
    return {};
}

// Parses the command line through CLI11: the global options (before or after the command),
// one subcommand per registered command with its flags, value options and words, and --help
// for each generated from its usage. Returns -1 to go on, or the exit code: 0 after help or
// the version, 2 on a usage error (with the usage).
int ParseCommandLine(int argc, char** argv, Options& options, std::string& command,
                     std::string& traceTarget, bool& stats) {
    const std::string word = CommandWord(argc, argv);
    if (word == "help") {
        Usage(stdout);
        return 0;
    }
    if (!word.empty() && Registry().count(word) == 0) {
        std::fprintf(stderr, "vq31ctl: unknown command '%s'\n", word.c_str());
        Usage(stderr);
        return 2;
    }
    CLI::App app("vq31ctl: scriptable access to a VQ31 sensor on a serial port or gateway",
                 "vq31ctl");
    app.set_version_flag("--version", std::string("vq31ctl ") + VQ31_VERSION);
    std::string port, baud, address;
    app.add_option("--port", port,
                   "the port: a device path, COMn, rfc2217://HOST:PORT or tcp://HOST:PORT");
    app.add_option("--baud", baud, "link speed in bit/s (default 19200)");
    app.add_option("--address", address, "the device's bus address, 0-255 (default 1)");
    app.add_option("--trace", traceTarget, "append one line per frame to FILE (- for stderr)");
    app.add_flag("--stats", stats, "print the link's counters after the command");
    app.footer("exit codes: 0 done; 1 the device or a file failed; 2 usage error");
    // One command: a later word that names another command ("params set") is a word.
    app.require_subcommand(0, 1);
    struct Parsed {
        CLI::App* app;
        std::vector<std::string> words;
        std::map<std::string, std::vector<std::string>> values;
        std::map<std::string, bool> flags;
    };
    std::map<std::string, Parsed> parsed;
    for (const auto& [name, entry] : Registry()) {
        Parsed& p = parsed[name];
        p.app = app.add_subcommand(name, entry.usage);
        p.app->fallthrough();
        for (const auto& flag : entry.rules.flags)
            p.app->add_flag(flag, p.flags[flag]);
        // A value option may be given more than once (--field A=1 --field B=2), one value
        // each time.
        for (const auto& option : entry.rules.valueOptions)
            p.app->add_option(option, p.values[option])
                ->expected(1)
                ->allow_extra_args(false)
                ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
        if (entry.rules.maxWords > 0)
            p.app->add_option("words", p.words, "the command's words")
                ->expected(0, int(entry.rules.maxWords));
    }
    auto usageOf = [&](const std::string& name) {
        const auto it = Registry().find(name);
        return std::string("usage: vq31ctl --port PATH [--baud N] [--address N] ") +
               (it == Registry().end() ? "COMMAND ..." : it->second.usage);
    };
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        if (word.empty()) { // the tool's own usage, with every command and the exit codes
            Usage(stdout);
            return 0;
        }
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::fprintf(stderr, "vq31ctl %s: %s\n%s\n", word.c_str(), e.what(), usageOf(word).c_str());
        return 2;
    }
    if (word.empty()) {
        Usage(stderr);
        return 2;
    }
    command = word;
    long long n = 0;
    std::string wrong;
    if (!baud.empty() && (wrong = GlobalNumber("--baud", baud, 1, MaxBaud, n)).empty())
        options.baud = uint32_t(n);
    if (wrong.empty() && !address.empty() &&
        (wrong = GlobalNumber("--address", address, 0, 255, n)).empty())
        options.address = uint8_t(n);
    const Parsed& p = parsed[word];
    if (wrong.empty() && p.words.size() < Registry()[word].rules.minWords)
        wrong = "missing arguments";
    if (!wrong.empty()) {
        std::fprintf(stderr, "vq31ctl %s: %s\n%s\n", word.c_str(), wrong.c_str(),
                     usageOf(word).c_str());
        return 2;
    }
    options.port = port;
    // The command's words as the commands read them: words first, then flags and options.
    options.args = p.words;
    for (const auto& [flag, on] : p.flags)
        if (on)
            options.args.push_back(flag);
    for (const auto& [option, values] : p.values)
        for (const auto& value : values) {
            options.args.push_back(option);
            options.args.push_back(value);
        }
    return -1;
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

} // namespace

bool Register(const char* name, const char* usage, CommandFn fn, ArgRules rules) {
    Registry()[name] = {usage, fn, std::move(rules)};
    return true;
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
    Options options;
    std::string command;
    std::string traceTarget;
    bool stats = false;
    if (const int code = ParseCommandLine(argc, argv, options, command, traceTarget, stats);
        code >= 0)
        return code;
    const auto it = Registry().find(command);
    // The port list, the saved snapshots and a table computed without writing it need no
    // port.
    const auto first = options.args.empty() ? std::string() : options.args[0];
    const bool noPort =
        command == "ports" || (command == "snapshot" && (first == "list" || first == "show")) ||
        (command == "tare" && first == "shape" && !HasFlag(options.args, "--write"));
    if (options.port.empty() && !noPort) {
        std::fprintf(stderr, "vq31ctl: --port PATH is required\n");
        return 2;
    }
    TraceWriter trace;
    if (!traceTarget.empty()) {
        std::string error;
        if (!trace.Open(traceTarget, error)) {
            std::fprintf(stderr, "vq31ctl: %s\n", error.c_str());
            return 2;
        }
    }
    if (!traceTarget.empty() || stats) {
        options.monitor = std::make_shared<vq31::LinkMonitor>();
        if (!traceTarget.empty())
            options.monitor->SetLineSink([&trace](const std::string& line) { trace.Add(line); });
    }
    int code = it->second.fn(options);
    if (options.monitor) {
        options.monitor->SetLineSink({});
        if (stats)
            std::printf("%s", vq31::FormatHealth(options.monitor->Health()).c_str());
    }
    if (std::string error; !trace.Finish(error)) {
        std::fprintf(stderr, "vq31ctl: %s\n", error.c_str());
        code = code == 0 ? 1 : code;
    }
    return code;
}
