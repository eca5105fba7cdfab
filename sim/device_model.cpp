// Command handling of the simulated sensor: validation of written values (a value the
// device cannot take is acknowledged with status 2 and not stored), the answers of the
// read commands, and the oscillogram record built from the echo model.
#include "device_model.h"

#include "protocol.h"
#include "sim_hub_image.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace vq31::sim {

namespace {

constexpr uint8_t AckOk = 0;
constexpr uint8_t AckBadParameter = 2;

// Limits of the written values.
constexpr uint32_t FrequencyMin = 500, FrequencyMax = 4000;
constexpr uint32_t FilterMin = 450, FilterMax = 4000;
constexpr uint32_t FilterStep = 50;
constexpr uint32_t PulseWidthMax = 200;
constexpr uint32_t AttenuatorOn = 30;
constexpr uint32_t PostFilterMax = 8;
constexpr uint32_t FuelTypeMax = 3;
constexpr uint32_t SweepOn = 1, SweepOff = 0;

// Link flag bits.
constexpr uint8_t SpeedCodeShift = 2;
constexpr uint8_t SpeedCodeMask = 0x07;
constexpr uint8_t FlagOwnAddressAnswer = 0x20;
constexpr uint8_t FlagTwelveBits = 0x80;

// Sample blocks after the status block, by oscillogram mode.
constexpr uint8_t OscEnvelope = 1, OscRaw = 2, OscFiltered = 3;
constexpr size_t EnvelopeBlocks = 23;
constexpr size_t WaveformBlocks = 31;

// Status words of the echo record.
enum StatusWord : size_t {
    WordMode = 0,
    WordFrequency = 1,
    WordGainWord = 2,
    WordFilter = 3,
    WordGain = 4,
    WordAttenuator = 5,
    WordPulseWidth = 6,
    WordEchoError = 8,
    WordPosition = 9,
    WordAmplitude = 10,
    WordDivider = 11,
    WordCorrected = 14,
    WordUncorrected = 15,
    WordFrame = 16,
    WordTemperature = 21,
    WordLevel = 31,
    WordNoLevel = 33,
};

// Fixed passport values of the simulated unit.
constexpr uint32_t PassportDate = 26u | 2u << 8 | 8u << 16; // 9 March 2026
constexpr uint32_t PassportSerial = 4711;
constexpr uint8_t PassportModel = 31;
constexpr uint8_t Revision = 2;
constexpr uint16_t DefaultTankHeight = 10000; // tenths of a millimetre
constexpr uint16_t DefaultTankId = 1;
constexpr double DefaultLevelMm = 600;
constexpr double DefaultDiameterMm = 1000, DefaultLengthMm = 2000;
constexpr uint32_t TuneFailedBit = 0x80000000u;
constexpr uint32_t TuneFinished = 1;

void Seal(std::vector<uint8_t>& frame) {
    frame.back() = Crc8(uint8_t(frame.size() - 1), frame.data());
}

bool Finite(uint32_t bits) {
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return std::isfinite(f);
}

uint32_t FloatBitsOf(float f) {
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    return bits;
}

} // namespace

uint32_t SpeedOfCode(uint32_t code) {
    return code >= 1 && code <= 7 ? DeviceSpeeds[code - 1] : 0;
}

uint8_t SpeedCodeOf(uint32_t baud) {
    for (uint8_t i = 0; i < 7; ++i)
        if (DeviceSpeeds[i] == baud)
            return uint8_t(i + 1);
    return 0;
}

uint8_t LinkFlagsFor(uint32_t baud, uint8_t keep) {
    const uint8_t code = SpeedCodeOf(baud);
    return uint8_t((keep & ~(SpeedCodeMask << SpeedCodeShift)) | code << SpeedCodeShift);
}

DeviceModel::DeviceModel(uint8_t address, uint32_t baud)
    : tank_(DefaultDiameterMm, DefaultLengthMm), hub_(MakePresetHubImage(HubStoreSize)) {
    state_.address = address;
    state_.baud = baud;
    state_.linkFlags = LinkFlagsFor(baud, FlagOwnAddressAnswer | FlagTwelveBits);
    state_.modelCode = SupportedModelCode;
    state_.firmwareVersion = 9;
    state_.date = PassportDate;
    state_.serialNumber = PassportSerial;
    state_.modelByte = PassportModel;
    state_.revision = Revision;
    state_.postFilter = 3;
    state_.fuelType = 3;
    state_.fuelTempCoef = 0.00083f;
    state_.fuelSoundSpeed = 1360.0f;
    state_.tankId = DefaultTankId;
    state_.tankHeight = DefaultTankHeight;
    state_.levelMm = DefaultLevelMm;
    state_.litres = tank_.LitresAt(DefaultLevelMm);
    lastLevelTenths_ = uint16_t(std::lround(DefaultLevelMm * 10));
}

uint32_t DeviceModel::CurrentSpeed() const {
    return state_.fastMode ? FastModeSpeed : state_.baud;
}

uint8_t DeviceModel::AnswerAddress(uint8_t requestAddress) const {
    if (requestAddress == BroadcastAddress && !(state_.linkFlags & FlagOwnAddressAnswer))
        return BroadcastAddress;
    return state_.address;
}

Admission DeviceModel::Admit(const std::vector<uint8_t>& request, uint32_t lineSpeed,
                             Clock::time_point now) {
    if (state_.fastMode && fastIdle_.count() > 0 && now - lastRequest_ > fastIdle_)
        state_.fastMode = false;
    bool leaveFastMode = false;
    if (lineSpeed != CurrentSpeed()) {
        // The tool came back at the configured speed: the fast mode is over.
        if (!(state_.fastMode && lineSpeed == state_.baud)) {
            ++state_.counters.ignoredSpeed;
            return Admission::WrongSpeed;
        }
        leaveFastMode = true;
    }
    if (request[1] != state_.address && request[1] != BroadcastAddress) {
        ++state_.counters.ignoredAddress;
        return Admission::OtherAddress;
    }
    if (leaveFastMode)
        state_.fastMode = false;
    lastRequest_ = now;
    return Admission::Accept;
}

Answer DeviceModel::Execute(const std::vector<uint8_t>& request, std::optional<uint8_t> forcedAck,
                            Clock::time_point now, bool dropWrite) {
    const uint8_t code = request[2];
    const uint8_t address = AnswerAddress(request[1]);
    const AnswerKind kind = AnswerKindOf(code);
    Answer answer;
    if (kind == AnswerKind::Acknowledgement) {
        uint8_t status = forcedAck.value_or(AckOk);
        if (status == AckOk && !dropWrite)
            status = Write(code, request.data() + 3, answer.followUp, now);
        answer.bytes = Frame(address, code, 1);
        answer.bytes[3] = status;
        Seal(answer.bytes);
    } else if (kind == AnswerKind::Oscillogram) {
        answer.bytes = Oscillogram(address, request[3]);
    } else if (kind != AnswerKind::None) {
        answer.bytes = Frame(address, code, AnswerLength(kind) - 4);
        Read(code, request.data(), answer.bytes, now);
        Seal(answer.bytes);
    }
    return answer;
}

void DeviceModel::Apply(const FollowUp& followUp) {
    if (followUp.address)
        state_.address = *followUp.address;
    if (followUp.linkFlags) {
        state_.linkFlags = *followUp.linkFlags;
        state_.baud = SpeedOfCode((*followUp.linkFlags >> SpeedCodeShift) & SpeedCodeMask);
        state_.fastMode = false;
    }
    if (followUp.enterFastMode) {
        state_.fastMode = true;
        lastRequest_ = Clock::now();
    }
}

std::vector<uint8_t> DeviceModel::Frame(uint8_t address, uint8_t code, size_t payloadBytes) const {
    std::vector<uint8_t> frame(4 + payloadBytes, 0);
    frame[0] = AnswerStart;
    frame[1] = address;
    frame[2] = code;
    return frame;
}

uint8_t DeviceModel::Write(uint8_t code, const uint8_t* p, FollowUp& followUp,
                           Clock::time_point now) {
    SignalSettings& s = state_.signal;
    switch (code) {
    case cmd::WriteIntegrator:
        s.integratorWord = GetU32(p);
        return AckOk;
    case cmd::WriteGain:
        if ((p[0]) > GainAuto || p[1] > GainAuto)
            return AckBadParameter;
        s.gainWord = uint16_t(GetU16(p));
        return AckOk;
    case cmd::WriteFrequency: {
        const uint32_t f = GetU16(p);
        if (f < FrequencyMin || f > FrequencyMax)
            return AckBadParameter;
        s.frequency = uint16_t(f);
        return AckOk;
    }
    case cmd::WritePulseWidth:
        if (p[0] > PulseWidthMax)
            return AckBadParameter;
        s.pulseWidth = p[0];
        return AckOk;
    case cmd::WriteAttenuator:
        if (p[0] != 0 && p[0] != AttenuatorOn)
            return AckBadParameter;
        s.attenuation = p[0];
        return AckOk;
    case cmd::WriteFilter: {
        const uint32_t f = GetU16(p);
        if (f < FilterMin || f > FilterMax)
            return AckBadParameter;
        s.filter = uint16_t(f);
        return AckOk;
    }
    case cmd::SetSweep: {
        const uint32_t step = GetU16(p + 1);
        // A zero step would never wrap, so the sweep could not end.
        if (p[0] == SweepOn && step > 0) {
            state_.sweeping = true;
            state_.sweepStep = uint16_t(step);
            return AckOk;
        }
        if (p[0] == SweepOff) {
            state_.sweeping = false;
            state_.sweepStep = 0;
            return AckOk;
        }
        return AckBadParameter;
    }
    case cmd::WritePostFilter:
        if (p[0] > PostFilterMax)
            return AckBadParameter;
        state_.postFilter = p[0];
        return AckOk;
    case cmd::EnterFastMode:
        followUp.enterFastMode = true;
        return AckOk;
    case cmd::WriteDisplayTest:
        state_.displayMask = GetU32(p);
        return AckOk;
    case cmd::WriteTankHeight:
        state_.tankHeight = uint16_t(GetU16(p));
        return AckOk;
    case cmd::WriteAutoPeriod:
        state_.autoPeriod = p[0];
        return AckOk;
    case cmd::WriteLinkFlags:
        if (SpeedOfCode((p[0] >> SpeedCodeShift) & SpeedCodeMask) == 0)
            return AckBadParameter;
        followUp.linkFlags = p[0];
        return AckOk;
    case cmd::WriteAddress:
        if (p[0] == BroadcastAddress)
            return AckBadParameter;
        followUp.address = p[0];
        return AckOk;
    case cmd::WriteTareMode:
        if (p[0] > 1)
            return AckBadParameter;
        state_.tareMode = p[0];
        return AckOk;
    case cmd::WriteHubBlock:
        std::memcpy(hub_.data() + size_t(p[0]) * HubBlockSize, p + 1, HubBlockSize);
        return AckOk;
    case cmd::WriteTankId:
        state_.tankId = uint16_t(GetU16(p));
        return AckOk;
    case cmd::WriteMode:
        if (p[0] != ModeNormal && p[0] != ModeTuneLevel && p[0] != ModeTuneSearch)
            return AckBadParameter;
        state_.mode = p[0];
        state_.tuneProgress = 0;
        if (p[0] == ModeTuneSearch) {
            tuneStart_ = now;
            tuneApplied_ = false;
        }
        return AckOk;
    case cmd::WriteFuelSettings:
        if (p[0] > FuelTypeMax || !Finite(GetU32(p + 1)) || !Finite(GetU32(p + 5)))
            return AckBadParameter;
        state_.fuelType = p[0];
        std::memcpy(&state_.fuelTempCoef, p + 1, 4);
        std::memcpy(&state_.fuelSoundSpeed, p + 5, 4);
        return AckOk;
    default:
        // Writes the device knows but whose meaning is open: taken and acknowledged.
        return AckOk;
    }
}

uint32_t DeviceModel::TuneProgress(Clock::time_point now) {
    if (state_.mode == ModeTuneLevel)
        return AnalyseEcho(Conditions()).signalLevel;
    if (state_.mode != ModeTuneSearch)
        return 0;
    if (now - tuneStart_ < tuneTime_)
        return 0;
    if (tuneError_ != 0)
        return TuneFailedBit | (tuneError_ & ~TuneFailedBit);
    if (!tuneApplied_) {
        // The search settles on the transducer's resonance.
        state_.signal.frequency = ResonanceFrequency;
        state_.signal.filter =
            uint16_t((ResonanceFrequency + FilterStep / 2) / FilterStep * FilterStep);
        tuneApplied_ = true;
    }
    return TuneFinished;
}

void DeviceModel::Read(uint8_t code, const uint8_t* request, std::vector<uint8_t>& f,
                       Clock::time_point now) {
    const SignalSettings& s = state_.signal;
    uint8_t* p = f.data() + 3;
    switch (code) {
    case cmd::WakeUp:
    case cmd::ReadLike06_74:
        p[0] = state_.mode;
        PutU16(p + 1, s.frequency);
        PutU16(p + 3, lastLevelTenths_);
        break;
    case cmd::ReadIntegrator:
        PutU32(p, s.integratorWord);
        break;
    case cmd::ReadGain:
        PutU16(p, s.gainWord);
        break;
    case cmd::ReadFrequency:
        PutU16(p, s.frequency);
        break;
    case cmd::ReadPulseWidth:
        p[0] = s.pulseWidth;
        break;
    case cmd::ReadAttenuator:
        p[0] = s.attenuation;
        break;
    case cmd::ReadFilter:
        PutU16(p, s.filter);
        break;
    case cmd::ReadPostFilter:
        p[0] = state_.postFilter;
        break;
    case cmd::ReadTankHeight:
        PutU16(p, state_.tankHeight);
        break;
    case cmd::ReadPassport:
    case cmd::ReadIdentity:
        PutU24(p, state_.date);
        PutU24(p + 3, state_.serialNumber);
        p[6] = state_.modelByte;
        p[7] = state_.firmwareVersion;
        if (code == cmd::ReadPassport) {
            p[14] = state_.address;
            p[16] = state_.autoPeriod;
            p[17] = state_.linkFlags;
        }
        break;
    case cmd::ReadOutputSettings:
        p[0] = state_.revision;
        p[1] = state_.flags2;
        p[6] = state_.postFilter;
        p[7] = state_.fuelType;
        break;
    case cmd::ReadHubBlock:
        std::memcpy(p, hub_.data() + size_t(request[3]) * HubBlockSize, HubBlockSize);
        break;
    case cmd::ReadTankId:
        PutU16(p, state_.tankId);
        break;
    case cmd::ReadMode:
        p[0] = state_.mode;
        break;
    case cmd::ReadTuneProgress:
        state_.tuneProgress = TuneProgress(now);
        PutU32(p, state_.tuneProgress);
        break;
    case cmd::ReadModelCode:
        PutU32(p, state_.modelCode);
        break;
    case cmd::ReadFuelSettings:
        p[0] = state_.fuelType;
        PutU32(p + 1, FloatBitsOf(state_.fuelTempCoef));
        PutU32(p + 5, FloatBitsOf(state_.fuelSoundSpeed));
        break;
    default:
        break; // reads whose meaning is open answer zeros
    }
}

EchoConditions DeviceModel::Conditions() const {
    EchoConditions c;
    const SignalSettings& s = state_.signal;
    c.frequency = s.frequency;
    c.filter = s.filter;
    c.gainIndex = uint8_t(s.gainWord & 0xFF);
    c.gainMax = uint8_t(s.gainWord >> 8);
    c.attenuation = s.attenuation;
    c.pulseWidth = s.pulseWidth;
    c.integratorWord = s.integratorWord;
    c.levelMm = state_.levelMm;
    c.noLevel = state_.noLevel;
    return c;
}

std::vector<uint8_t> DeviceModel::Oscillogram(uint8_t address, uint8_t mode) {
    const EchoConditions c = Conditions();
    const EchoFigures e = AnalyseEcho(c);
    const size_t sampleBlocks = mode == OscEnvelope                       ? EnvelopeBlocks
                                : (mode == OscRaw || mode == OscFiltered) ? WaveformBlocks
                                                                          : 0;
    const size_t blocks = 1 + sampleBlocks;
    ++state_.frameCounter;
    ++state_.counters.records;

    std::vector<uint16_t> words((1 + sampleBlocks) * OscWordsPerBlock, 0);
    uint16_t* w = words.data();
    const SignalSettings& s = state_.signal;
    if (e.error == EchoOk)
        lastLevelTenths_ = uint16_t(std::clamp(std::lround(state_.levelMm * 10), 0L, 65535L));
    const uint32_t maxCode = (state_.linkFlags & FlagTwelveBits) ? 4095 : 1023;
    const double share =
        state_.tankHeight ? std::min(1.0, lastLevelTenths_ / double(state_.tankHeight)) : 0.0;
    const double uncorrected = share * maxCode;
    const double correction = 1 + state_.fuelTempCoef * (state_.temperatureC - 20);
    w[WordMode] = mode;
    w[WordFrequency] = s.frequency;
    w[WordGainWord] = s.gainWord;
    w[WordFilter] = s.filter;
    w[WordGain] = e.gain;
    w[WordAttenuator] = s.attenuation;
    w[WordPulseWidth] = s.pulseWidth;
    w[WordEchoError] = e.error;
    w[WordPosition] = uint16_t(std::min<uint32_t>(e.position, 65535));
    w[WordAmplitude] = uint16_t(std::min(e.amplitude, 32000.0));
    w[WordDivider] = SamplesPerMm;
    w[WordUncorrected] = uint16_t(std::lround(uncorrected));
    w[WordCorrected] = uint16_t(std::lround(
        std::clamp(correction > 0 ? uncorrected / correction : 0.0, 0.0, double(maxCode))));
    w[WordFrame] = state_.frameCounter;
    w[WordTemperature] = uint16_t(int16_t(std::lround(state_.temperatureC * 256)));
    w[WordLevel] = lastLevelTenths_;
    w[WordNoLevel] = e.error == EchoOk ? 0 : 1;

    uint16_t* samples = w + OscWordsPerBlock;
    const size_t sampleCount = sampleBlocks * OscWordsPerBlock;
    if (mode == OscEnvelope)
        FillEnvelope(c, e, noise_, samples, sampleCount);
    else if (sampleCount > 0)
        FillWaveform(c, e, mode == OscFiltered, noise_, samples, sampleCount);

    std::vector<uint8_t> frame(blocks * OscBlockSize, 0);
    for (size_t b = 0; b < blocks; ++b) {
        uint8_t* block = frame.data() + b * OscBlockSize;
        const uint16_t* data = w + b * OscWordsPerBlock;
        if (b == 0) {
            block[0] = AnswerStart;
            block[1] = address;
            block[2] = cmd::ReadOscillogram;
            block[3] = uint8_t(blocks);
            block[4] = mode;
            PutU16(block + 6, state_.frameCounter);
        } else {
            block[0] = uint8_t(b);
        }
        for (size_t i = 0; i < OscWordsPerBlock; ++i)
            PutU16(block + OscBlockHead + 2 * i, data[i]);
        PutU32(block + OscCheckOffset, Sum16(data, OscWordsPerBlock));
    }

    if (state_.sweeping) {
        // The sweep moves on by one step per record and starts over past the top.
        const uint32_t next = uint32_t(s.frequency) + state_.sweepStep;
        state_.signal.frequency = uint16_t(next > FrequencyMax ? FrequencyMin : next);
    }
    return frame;
}

DeviceState DeviceModel::Snapshot() const {
    DeviceState s = state_;
    s.speed = CurrentSpeed();
    s.effectiveGain = AnalyseEcho(Conditions()).gain;
    s.capacityLitres = tank_.CapacityLitres();
    return s;
}

} // namespace vq31::sim
