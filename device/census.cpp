// The bus census: one identity request per address and speed, with a first-byte wait that
// follows the answer delay of the sensors found.
#include "census.h"

#include "protocol.h"

#include <algorithm>
#include <cmath>
#include <set>

namespace vq31 {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::microseconds;
using std::chrono::milliseconds;

// Budget sizes of the identity request and answer.
constexpr uint32_t IdentityRequestBytes = 4;
constexpr uint32_t IdentityAnswerBytes = 20;
// Before anything answered at a speed, the wait is this many idle time-outs.
constexpr int UnmeasuredIdleTimeouts = 2;

// Wire time of the identity request, 10 bit times a byte.
microseconds RequestWire(uint32_t speed) {
    return microseconds(uint64_t(IdentityRequestBytes) * 10'000'000u / speed);
}

microseconds Since(Clock::time_point start) {
    return std::chrono::duration_cast<microseconds>(Clock::now() - start);
}

class Census {
public:
    Census(DeviceLink& link, const std::string& portName, const CensusOptions& options,
           const CensusProgressFn& progress, const CensusCancelFn& cancel)
        : link_(link), portName_(portName), options_(options), progress_(progress),
          cancel_(cancel) {}

    CensusResult Run();

private:
    bool Cancelled() const { return cancel_ && cancel_(); }
    bool PortGone(Status status);
    // Opens the port at speed; false (port failed) when it does not open.
    bool Open(uint32_t speed);
    void Probe(CensusSpeedTiming& timing);
    void NoteDelay(CensusSpeedTiming& timing);
    // An answer came after the wait: at least twice the wait from now on.
    void Lengthen(CensusSpeedTiming& timing);
    // Asks one address (again while it answers late or garbled); true to go on.
    bool Ask(uint8_t address, CensusSpeedTiming& timing, std::vector<uint8_t>& garbled,
             std::set<uint8_t>& askAgain);
    bool RunSpeed(uint32_t speed);
    void Report(uint32_t speed, uint8_t address);
    milliseconds EstimateLeft() const;

    DeviceLink& link_;
    const std::string& portName_;
    const CensusOptions& options_;
    const CensusProgressFn& progress_;
    const CensusCancelFn& cancel_;
    CensusResult result_;
    size_t done_ = 0;
    size_t total_ = 0;
    size_t speedIndex_ = 0;
    size_t doneHere_ = 0; // addresses asked at the current speed
    Clock::time_point speedStart_{};
    milliseconds lateFloor_{0}; // the wait after late answers at the current speed
    // The sensors' own turnaround (answer delay less the request's wire time), the longest
    // seen at any speed; negative before any answer. A speed where nothing has answered yet
    // starts from it.
    microseconds turnaround_{-1};
};

bool Census::PortGone(Status status) {
    if (status != StatusPortError && !link_.PortVanished())
        return false;
    result_.portFailed = true;
    result_.portError = link_.PortVanished() ? "the port went away" : "the port is not open";
    return true;
}

bool Census::Open(uint32_t speed) {
    if (link_.UartOpen(portName_, speed) == 0)
        return true;
    result_.portFailed = true;
    result_.portError = link_.OpenError();
    return false;
}

void Census::NoteDelay(CensusSpeedTiming& timing) {
    const auto delay = link_.LastAnswerDelay();
    if (!delay || *delay <= timing.longestDelay)
        return;
    timing.longestDelay = *delay;
    turnaround_ =
        std::max(turnaround_, std::max(microseconds(0), *delay - RequestWire(timing.speed)));
    timing.firstByteWait =
        std::max(lateFloor_, CensusFirstByteWait(timing.speed, timing.longestDelay));
    link_.SetFirstByteWait(timing.firstByteWait);
}

void Census::Lengthen(CensusSpeedTiming& timing) {
    NoteDelay(timing);
    lateFloor_ = std::min(milliseconds(AnswerByteWindow), timing.firstByteWait * 2);
    timing.firstByteWait = lateFloor_;
    link_.SetFirstByteWait(timing.firstByteWait);
}

void Census::Probe(CensusSpeedTiming& timing) {
    // Every sensor answers the broadcast; several at once garble it, but the first byte still
    // tells how soon the sensors of this line answer.
    link_.SetFirstByteWait(AnswerByteWindow);
    uint8_t found = 0;
    FindDevice(link_, found);
    NoteDelay(timing);
    link_.SetFirstByteWait(timing.firstByteWait);
}

bool Census::Ask(uint8_t address, CensusSpeedTiming& timing, std::vector<uint8_t>& garbled,
                 std::set<uint8_t>& askAgain) {
    int garbledTries = 0;
    for (int lateTries = 0; lateTries < CensusGarbledTries;) {
        if (Cancelled()) {
            result_.cancelled = true;
            return false;
        }
        const auto start = Clock::now();
        AnswerFields answer;
        const Status status = link_.Exchange({cmd::ReadIdentity, address}, IdentityRequestBytes,
                                             IdentityAnswerBytes, answer);
        if (PortGone(status))
            return false;
        // A sensor set to answer with the broadcast address names itself 255: the request
        // went to this address alone, so the answer is still this address's sensor.
        const bool fromBroadcast = status == StatusBadAnswer && answer.code == cmd::ReadIdentity &&
                                   answer.address == BroadcastAddress;
        if (status == StatusOk || fromBroadcast) {
            NoteDelay(timing);
            CensusSensor sensor;
            sensor.address = address;
            sensor.speed = timing.speed;
            sensor.identity = {answer.values[0], answer.values[1], answer.values[2],
                               answer.values[3]};
            result_.sensors.push_back(sensor);
            return true;
        }
        if (status == StatusNoAnswer) {
            // A byte that came after the wait gave up is an answer too late for it: wait
            // longer and ask again.
            if (link_.LastAnswerDelay()) {
                Lengthen(timing);
                ++lateTries;
                continue;
            }
            ++timing.silentAddresses;
            timing.silentTime += Since(start);
            return true;
        }
        if (status == StatusBadAnswer && answer.code == cmd::ReadIdentity &&
            answer.address != address) {
            // A clean answer from another address: one that came late for an earlier request.
            // It is asked again with the longer wait.
            askAgain.insert(answer.address);
            Lengthen(timing);
            ++lateTries;
            continue;
        }
        // Garbled: broken frame, check error, wrong length.
        if (++garbledTries >= CensusGarbledTries) {
            garbled.push_back(address);
            return true;
        }
    }
    return true;
}

void Census::Report(uint32_t speed, uint8_t address) {
    ++done_;
    ++doneHere_;
    if (!progress_)
        return;
    CensusProgress p;
    p.done = done_;
    p.total = total_;
    p.speed = speed;
    p.address = address;
    p.left = EstimateLeft();
    p.sensors = result_.sensors.size();
    p.collisions = result_.collisions.size();
    progress_(p);
}

milliseconds Census::EstimateLeft() const {
    const size_t perSpeed = size_t(options_.to - options_.from) + 1;
    // Remaining addresses at this speed at the pace seen so far; later speeds at the pace of
    // their unmeasured wait, scaled by how this speed compares with its own.
    const double here =
        doneHere_ ? std::chrono::duration<double, std::milli>(Clock::now() - speedStart_).count() /
                        double(doneHere_)
                  : 0.0;
    const uint32_t speed = options_.speeds[speedIndex_];
    const double expectedHere =
        std::chrono::duration<double, std::milli>(CensusSilentFloor(speed)).count() +
        double(CensusFirstByteWait(speed, {}).count());
    const double scale = doneHere_ && expectedHere > 0 ? here / expectedHere : 1.0;
    double left =
        double(perSpeed - std::min(perSpeed, doneHere_)) * (doneHere_ ? here : expectedHere);
    for (size_t i = speedIndex_ + 1; i < options_.speeds.size(); ++i) {
        const uint32_t s = options_.speeds[i];
        left += double(perSpeed) * scale *
                (std::chrono::duration<double, std::milli>(CensusSilentFloor(s)).count() +
                 double(CensusFirstByteWait(s, {}).count()));
    }
    return milliseconds(int64_t(std::lround(left)));
}

bool Census::RunSpeed(uint32_t speed) {
    CensusSpeedTiming timing;
    timing.speed = speed;
    timing.firstByteWait = CensusFirstByteWait(
        speed, turnaround_.count() >= 0 ? turnaround_ + RequestWire(speed) : microseconds(0));
    doneHere_ = 0;
    lateFloor_ = milliseconds(0);
    speedStart_ = Clock::now();
    if (!Open(speed))
        return false;
    if (Cancelled()) {
        result_.cancelled = true;
        return false;
    }
    Probe(timing);
    std::vector<uint8_t> garbled;
    std::set<uint8_t> askAgain;
    bool goOn = true;
    for (unsigned a = options_.from; a <= options_.to && goOn; ++a) {
        goOn = Ask(uint8_t(a), timing, garbled, askAgain);
        if (goOn)
            Report(speed, uint8_t(a));
    }
    // Addresses whose answers came late: asked again with the longer wait, unless found.
    for (const uint8_t a : askAgain) {
        if (!goOn)
            break;
        const bool known =
            std::any_of(result_.sensors.begin(), result_.sensors.end(),
                        [&](const CensusSensor& s) { return s.address == a && s.speed == speed; });
        if (!known && a >= options_.from && a <= options_.to) {
            std::erase(garbled, a);
            goOn = Ask(a, timing, garbled, askAgain);
        }
    }
    size_t clean = 0;
    for (const CensusSensor& s : result_.sensors)
        clean += s.speed == speed;
    timing.noisy = garbled.size() > CensusNoiseLimit && garbled.size() > clean;
    if (!timing.noisy)
        for (const uint8_t a : garbled)
            result_.collisions.push_back({a, speed});
    result_.timing.push_back(timing);
    return goOn;
}

CensusResult Census::Run() {
    const auto start = Clock::now();
    const milliseconds savedWait = link_.FirstByteWait();
    total_ = options_.from <= options_.to
                 ? (size_t(options_.to - options_.from) + 1) * options_.speeds.size()
                 : 0;
    for (speedIndex_ = 0; speedIndex_ < options_.speeds.size() && options_.from <= options_.to;
         ++speedIndex_)
        if (!RunSpeed(options_.speeds[speedIndex_]))
            break;
    link_.SetFirstByteWait(savedWait);
    if (options_.restoreSpeed != 0 && !result_.portFailed &&
        link_.BaudRate() != options_.restoreSpeed)
        Open(options_.restoreSpeed);
    result_.elapsed = std::chrono::duration_cast<milliseconds>(Clock::now() - start);
    return result_;
}

} // namespace

std::chrono::milliseconds CensusFirstByteWait(uint32_t speed,
                                              std::chrono::microseconds longestDelay) {
    const milliseconds idle = IdleTimeout(speed);
    if (longestDelay.count() <= 0)
        return std::min(milliseconds(AnswerByteWindow), idle * UnmeasuredIdleTimeouts);
    const milliseconds twice = std::chrono::ceil<milliseconds>(longestDelay * 2);
    return std::clamp(twice, idle, milliseconds(AnswerByteWindow));
}

std::chrono::microseconds CensusSilentFloor(uint32_t speed) {
    // 10 bit times a byte, in microseconds.
    return microseconds(IdleTimeout(speed)) + RequestWire(speed);
}

CensusResult RunCensus(DeviceLink& link, const std::string& portName, const CensusOptions& options,
                       const CensusProgressFn& progress, const CensusCancelFn& cancel) {
    return Census(link, portName, options, progress, cancel).Run();
}

} // namespace vq31
