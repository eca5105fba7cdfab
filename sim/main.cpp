// vq31-sim: the simulated VQ31 sensor as a program. It prints the pseudo-terminal path for
// the tool to open, then reads control lines from standard input, answering each line on
// standard output, until "quit" or SIGINT/SIGTERM. When standard input ends (a program
// started in the background reads from /dev/null) the device keeps serving without a
// control channel until a signal ends it.
#include "sim_server.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <poll.h>
#include <string>
#include <unistd.h>
#include <vector>

#ifndef VQ31_VERSION
#define VQ31_VERSION "unknown"
#endif

namespace {

volatile std::sig_atomic_t stopSignal = 0;

void OnSignal(int) {
    stopSignal = 1;
}

void Usage(std::FILE* to) {
    std::fputs("usage: vq31-sim [--address N[,N...]] [--baud N] [--realtime] [--link PATH]\n"
               "       vq31-sim --help | --version\n"
               "  --address N   bus address 0..254 (default 1); a list puts one sensor per\n"
               "                address on the line, serial numbers counting up\n"
               "  --baud N      link speed 2400..115200 (default 19200)\n"
               "  --realtime    pace answers at the link speed, 10 bit times per byte\n"
               "  --link PATH   make PATH a symbolic link to the pseudo-terminal\n"
               "Control lines are read from standard input; type 'help' for the list.\n",
               to);
}

// "1,2,7": the addresses of the sensors on the line, each 0..254.
bool AddressList(const char* text, std::vector<uint8_t>& addresses) {
    addresses.clear();
    std::string item;
    const std::string all = std::string(text) + ",";
    for (const char c : all) {
        if (c != ',') {
            item += c;
            continue;
        }
        char* end = nullptr;
        const long v = std::strtol(item.c_str(), &end, 0);
        if (item.empty() || *end || v < 0 || v > 254)
            return false;
        addresses.push_back(uint8_t(v));
        item.clear();
    }
    return !addresses.empty();
}

bool Number(const char* text, long low, long high, long& value) {
    char* end = nullptr;
    const long v = std::strtol(text, &end, 0);
    if (!*text || *end || v < low || v > high)
        return false;
    value = v;
    return true;
}

// Reads one line from standard input, waking now and then to notice a signal. False at the
// end of input or on a signal.
bool ReadLine(std::string& line) {
    line.clear();
    for (;;) {
        if (stopSignal)
            return false;
        pollfd p{STDIN_FILENO, POLLIN, 0};
        if (::poll(&p, 1, 200) <= 0)
            continue;
        char c;
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n <= 0)
            return !line.empty();
        if (c == '\n')
            return true;
        line += c;
    }
}

} // namespace

int main(int argc, char** argv) {
    vq31::sim::SimOptions options;
    std::vector<uint8_t> addresses;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        long v = 0;
        const bool hasValue = i + 1 < argc;
        if (a == "--help" || a == "-h") {
            Usage(stdout);
            return 0;
        } else if (a == "--version") {
            std::printf("vq31-sim %s\n", VQ31_VERSION);
            return 0;
        } else if (a == "--realtime") {
            options.realtime = true;
        } else if (a == "--address" && hasValue && AddressList(argv[i + 1], addresses)) {
            options.address = addresses.front();
            options.moreAddresses.assign(addresses.begin() + 1, addresses.end());
            ++i;
        } else if (a == "--baud" && hasValue && Number(argv[i + 1], 1, 115200, v)) {
            options.baud = uint32_t(v);
            ++i;
        } else if (a == "--link" && hasValue) {
            options.linkPath = argv[++i];
        } else {
            std::fprintf(stderr, "vq31-sim: bad argument '%s'\n", a.c_str());
            Usage(stderr);
            return 2;
        }
    }

    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGPIPE, SIG_IGN);
    // Started in the background of a terminal, a read of the terminal fails instead of
    // stopping the whole simulator; that ends only the control input.
    std::signal(SIGTTIN, SIG_IGN);

    vq31::sim::SimServer server(options);
    std::string error;
    if (!server.Start(&error)) {
        std::fprintf(stderr, "vq31-sim: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s\n", server.path().c_str());
    if (!options.linkPath.empty())
        std::printf("linked as %s\n", options.linkPath.c_str());
    std::string list = std::to_string(options.address);
    for (const uint8_t more : options.moreAddresses)
        list += "," + std::to_string(more);
    std::printf("VQ31 at address%s %s, %u bit/s%s; type 'help' for commands\n",
                options.moreAddresses.empty() ? "" : "es", list.c_str(), options.baud,
                options.realtime ? ", real-time pacing" : "");
    std::fflush(stdout);

    std::string line;
    while (ReadLine(line)) {
        const std::string reply = server.Control(line);
        if (!reply.empty()) {
            std::printf("%s\n", reply.c_str());
            std::fflush(stdout);
        }
        if (server.QuitRequested())
            break;
    }
    if (!server.QuitRequested() && !stopSignal) {
        std::fprintf(stderr, "vq31-sim: no more control input; serving until interrupted\n");
        while (!stopSignal)
            ::poll(nullptr, 0, 200);
    }
    server.Stop();
    return 0;
}
