// The simulated sensor itself, free of any port: it decides whether a request is for it
// (address and line speed), carries the command out and builds the answer frame. Changes of
// address and speed are returned as follow-ups that take effect once the answer is sent.
// Not thread-safe: the server guards it with its own lock.
#pragma once

#include "device_state.h"
#include "echo_model.h"
#include "tank.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vq31::sim {

using Clock = std::chrono::steady_clock;

// What changes after the answer has left.
struct FollowUp {
    std::optional<uint8_t> address;
    std::optional<uint8_t> linkFlags; // a new configured speed comes with them
    bool enterFastMode = false;
};

struct Answer {
    std::vector<uint8_t> bytes; // empty: no answer
    FollowUp followUp;
};

enum class Admission { Accept, WrongSpeed, OtherAddress };

class DeviceModel {
public:
    DeviceModel(uint8_t address, uint32_t baud);

    // Whether a request (at least 3 bytes) heard at lineSpeed is for this device. A request
    // at the configured speed ends the fast mode.
    Admission Admit(const std::vector<uint8_t>& request, uint32_t lineSpeed, Clock::time_point now);
    // Carries out an admitted request. A forced status replaces the acknowledgement, and
    // the command is then carried out only when that status is 0. A dropped write is
    // acknowledged as done but changes nothing.
    Answer Execute(const std::vector<uint8_t>& request, std::optional<uint8_t> forcedAck,
                   Clock::time_point now, bool dropWrite = false);
    void Apply(const FollowUp& followUp);

    DeviceState Snapshot() const;
    DeviceCounters& counters() { return state_.counters; }
    std::vector<uint8_t>& hubStore() { return hub_; }
    const std::vector<uint8_t>& hubStore() const { return hub_; }

    // Control-channel settings; false (with the reason) leaves everything unchanged.
    bool SetLevel(double mm, std::string& why);
    bool Pour(double litres, std::string& why); // negative litres drain
    void SetNoLevel(bool on) { state_.noLevel = on; }
    bool SetTank(double diameterMm, double lengthMm, std::string& why);
    bool SetTemperature(double celsius, std::string& why);
    bool SetModel(const std::string& text, std::string& why);
    void SetFirmware(uint8_t version) { state_.firmwareVersion = version; }
    void SetPostFilter(uint8_t value) { state_.postFilter = value; }
    // Passport date as stored: year (two digits), month - 1, day - 1.
    void SetDate(uint8_t year, uint8_t monthByte, uint8_t dayByte);
    bool SetSerialNumber(long serial, std::string& why);
    // Link flags; the configured speed follows their speed code, which must be 1..7.
    bool SetLinkFlags(long flags, std::string& why);
    bool SetAddress(long address, std::string& why);
    bool SetBaud(long baud, std::string& why);
    void SetFastIdle(std::chrono::milliseconds idle) { fastIdle_ = idle; }
    void SetTuneOutcome(uint32_t errorNumber) { tuneError_ = errorNumber; } // 0 = success
    void SetTuneTime(std::chrono::milliseconds time) { tuneTime_ = time; }
    const CylinderTank& tank() const { return tank_; }

private:
    uint8_t AnswerAddress(uint8_t requestAddress) const;
    uint32_t CurrentSpeed() const;
    EchoConditions Conditions() const;
    uint32_t TuneProgress(Clock::time_point now);
    std::vector<uint8_t> Frame(uint8_t address, uint8_t code, size_t payloadBytes) const;
    std::vector<uint8_t> Oscillogram(uint8_t address, uint8_t mode);
    uint8_t Write(uint8_t code, const uint8_t* payload, FollowUp& followUp, Clock::time_point now);
    void Read(uint8_t code, const uint8_t* request, std::vector<uint8_t>& frame,
              Clock::time_point now);

    DeviceState state_;
    CylinderTank tank_;
    std::vector<uint8_t> hub_;
    Noise noise_;
    uint16_t lastLevelTenths_ = 0;
    Clock::time_point lastRequest_{};
    std::chrono::milliseconds fastIdle_{0};
    std::chrono::milliseconds tuneTime_{3000};
    Clock::time_point tuneStart_{};
    uint32_t tuneError_ = 0;
    bool tuneApplied_ = false;
};

// Speed code 1..7 of a speed, or 0 for a speed the device does not know.
uint8_t SpeedCodeOf(uint32_t baud);
// Link flags with the speed code of baud in bits 2..4 and the other bits from keep.
uint8_t LinkFlagsFor(uint32_t baud, uint8_t keep);
// The speed of a speed code 1..7, or 0.
uint32_t SpeedOfCode(uint32_t code);

} // namespace vq31::sim
