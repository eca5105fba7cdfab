// The command-line tool's command registry and shared helpers. Each source file of the tool
// registers the commands of one family (link, worker, hub, workbooks) at start-up.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vq31 {
class DeviceLink;
class LinkMonitor;
} // namespace vq31

namespace vq31::ctl {

// Global options and the words after the command name.
struct Options {
    std::string port;
    uint32_t baud = 19200;
    uint8_t address = 1;
    std::vector<std::string> args;
    // Set by --trace or --stats: every link the command opens reports its traffic here.
    std::shared_ptr<LinkMonitor> monitor;
};

using CommandFn = int (*)(const Options&);

// The words a command takes after its name: options without a value, options with one,
// and how many other (positional) words. Anything else is refused with the command's usage
// and exit code 2 before the command runs.
struct ArgRules {
    std::vector<std::string> flags;
    std::vector<std::string> valueOptions;
    size_t minWords = 0;
    size_t maxWords = 0;

    ArgRules& Flags(std::vector<std::string> names) {
        flags = std::move(names);
        return *this;
    }
    ArgRules& Values(std::vector<std::string> names) {
        valueOptions = std::move(names);
        return *this;
    }
    ArgRules& Words(size_t lowest, size_t highest) {
        minWords = lowest;
        maxWords = highest;
        return *this;
    }
};

// Registers a command word; returns true so it can initialise a static.
bool Register(const char* name, const char* usage, CommandFn fn, ArgRules rules = {});

// "--name VALUE" among the arguments.
std::optional<std::string> OptionText(const std::vector<std::string>& args, const char* name);
// The same as a whole number; fails (with a message on stderr) when it is not one.
bool OptionNumber(const std::vector<std::string>& args, const char* name, long long& value);
bool HasFlag(const std::vector<std::string>& args, const char* name);
// Positional words (those not starting with "--" and not an option's value).
std::vector<std::string> Positional(const std::vector<std::string>& args);
// Parses a whole number (decimal or 0x hex); false when the text is not one.
bool ParseNumber(const std::string& text, long long& value);

// Opens the link on --port at --baud; on failure prints the cause and returns false.
bool OpenLink(DeviceLink& link, const Options& options);
// Prints the status text of a failed exchange and returns the exit code 1.
int ReportStatus(int32_t status);

} // namespace vq31::ctl
