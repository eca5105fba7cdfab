// The bus census: every address of a range asked for its identity, at one speed or several,
// so that all the sensors on a line are found, and addresses where two or more sensors
// answer at once are named. Progress with an estimate of the time left goes to a callback;
// a cancel callback is asked before every request.
//
// Time per silent address: the request's wire time, then a wait for the first answer byte,
// then (already covered by that wait) the idle time-out that must pass before the next
// request. The wait is derived from the answer delay measured on the sensors that answered
// at that speed (a broadcast identity request opens every speed and gives the first
// measurement): twice the longest delay seen, never below the idle time-out (the silence a
// sensor may leave before it counts as not answering) and never above the whole answer
// window. A speed where nothing has answered yet starts from the sensors' turnaround seen
// at the other speeds (or, before any answer, from twice the idle time-out). An answer that
// turns up after the wait lengthens it and is asked again.
#pragma once

#include "commands.h"
#include "link.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vq31 {

// The seven speeds of the line, in the order a census of all of them asks them.
inline constexpr std::array<uint32_t, 7> CensusSpeeds = {19200, 9600, 115200, 57600,
                                                         38400, 4800, 2400};

// Tries at an address whose answers came back garbled before it counts as a collision.
inline constexpr int CensusGarbledTries = 3;
// More garbled addresses than this at one speed, and more than the clean ones, is a noisy
// line (or a line at a speed its sensors do not use), not a row of collisions.
inline constexpr size_t CensusNoiseLimit = 8;

struct CensusOptions {
    std::vector<uint32_t> speeds{19200};
    uint8_t from = 0;
    uint8_t to = 254;
    // Reopen the port at this speed when the census ends (0: leave it at the last one).
    uint32_t restoreSpeed = 0;
};

struct CensusSensor {
    uint8_t address = 0;
    uint32_t speed = 0;
    Identity identity;
};

struct CensusCollision {
    uint8_t address = 0;
    uint32_t speed = 0;
};

struct CensusProgress {
    size_t done = 0; // addresses asked, over every speed
    size_t total = 0;
    uint32_t speed = 0;
    uint8_t address = 0; // the address just asked
    std::chrono::milliseconds left{0};
    size_t sensors = 0;
    size_t collisions = 0;
};

// How one speed went: the first-byte wait it ended with and the time its silent addresses
// took (for the benchmark's ratio against the floor).
struct CensusSpeedTiming {
    uint32_t speed = 0;
    std::chrono::milliseconds firstByteWait{0};
    std::chrono::microseconds longestDelay{0}; // longest answer delay measured, 0 if none
    size_t silentAddresses = 0;
    std::chrono::microseconds silentTime{0};
    bool noisy = false; // garbled everywhere: no collisions are named at this speed
};

struct CensusResult {
    std::vector<CensusSensor> sensors;
    std::vector<CensusCollision> collisions;
    std::vector<CensusSpeedTiming> timing;
    bool cancelled = false;
    bool portFailed = false; // the port could not be opened, or went away
    std::string portError;
    std::chrono::milliseconds elapsed{0};
    // The census ran to its end, whatever it found.
    bool Complete() const { return !cancelled && !portFailed; }
};

using CensusProgressFn = std::function<void(const CensusProgress&)>;
using CensusCancelFn = std::function<bool()>;

// The first-byte wait for a speed from the longest answer delay measured there (none yet:
// zero), within the idle time-out and the whole answer window.
std::chrono::milliseconds CensusFirstByteWait(uint32_t speed,
                                              std::chrono::microseconds longestDelay);
// Floor of a silent address: idle time-out plus the identity request's wire time.
std::chrono::microseconds CensusSilentFloor(uint32_t speed);

// Opens portName at each speed in turn (closing whatever the link had open) and asks every
// address from options.from to options.to. The link's first-byte wait is put back when the
// census ends.
CensusResult RunCensus(DeviceLink& link, const std::string& portName, const CensusOptions& options,
                       const CensusProgressFn& progress = {}, const CensusCancelFn& cancel = {});

} // namespace vq31
