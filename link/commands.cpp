// Exchange operations of the command set, with the budget sizes fixed per command.
#include "commands.h"

#include <bit>
#include <cstdio>
#include <cstring>

namespace vq31 {

namespace {
// Budget sizes (request bytes, answer bytes) passed to the wait.
struct Budget {
    uint32_t request;
    uint32_t answer;
};
constexpr Budget ReadValueBudget{4, 8};
constexpr Budget WriteValueBudget{8, 5};
constexpr Budget WakeUpBudget{4, 10};
constexpr Budget IdentityBudget{4, 20};
constexpr Budget FindBudget{8, 8};
constexpr Budget PassportBudget{4, 20};
constexpr Budget OutputSettingsBudget{4, 20};
constexpr Budget OscillogramBudget{5, 32000};
constexpr Budget SweepBudget{12, 5};
constexpr Budget HubReadBudget{5, 128};
constexpr Budget HubWriteBudget{128, 5};
constexpr Budget FuelReadBudget{4, 13};
constexpr Budget FuelWriteBudget{13, 5};

Status Run(DeviceLink& link, const RequestFields& request, Budget budget, AnswerFields& answer) {
    return link.Exchange(request, budget.request, budget.answer, answer);
}
} // namespace

Status ReadValue(DeviceLink& link, uint8_t code, uint8_t address, uint32_t& value) {
    AnswerFields answer;
    const Status s = Run(link, {code, address}, ReadValueBudget, answer);
    if (s == StatusOk)
        value = answer.values[0];
    return s;
}

Status WriteValue(DeviceLink& link, uint8_t code, uint8_t address, uint32_t value) {
    AnswerFields answer;
    return Run(link, {code, address, value}, WriteValueBudget, answer);
}

Status WakeUp(DeviceLink& link, uint8_t address, std::array<uint32_t, 3>* values) {
    AnswerFields answer;
    const Status s = Run(link, {cmd::WakeUp, address}, WakeUpBudget, answer);
    if (s == StatusOk && values)
        *values = {answer.values[0], answer.values[1], answer.values[2]};
    return s;
}

static void TakeIdentity(const AnswerFields& a, Identity& identity) {
    identity.date = a.values[0];
    identity.serialNumber = a.values[1];
    identity.model = a.values[2];
    identity.firmwareVersion = a.values[3];
}

Status ReadIdentity(DeviceLink& link, uint8_t address, Identity& identity) {
    AnswerFields answer;
    const Status s = Run(link, {cmd::ReadIdentity, address}, IdentityBudget, answer);
    if (s == StatusOk)
        TakeIdentity(answer, identity);
    return s;
}

Status FindDevice(DeviceLink& link, uint8_t& foundAddress, Identity* identity) {
    AnswerFields answer;
    // A broadcast request accepts an answer from any address; only the code is checked.
    const Status s = Run(link, {cmd::ReadIdentity, BroadcastAddress}, FindBudget, answer);
    if (s == StatusOk) {
        foundAddress = answer.address;
        if (identity)
            TakeIdentity(answer, *identity);
    }
    return s;
}

Status ReadPassport(DeviceLink& link, uint8_t address, Passport& p) {
    AnswerFields a;
    const Status s = Run(link, {cmd::ReadPassport, address}, PassportBudget, a);
    if (s == StatusOk)
        p = {a.values[0], a.values[1], a.values[2], a.values[3],
             a.values[4], a.values[5], a.values[6]};
    return s;
}

Status ReadOutputSettings(DeviceLink& link, uint8_t address, OutputSettings& o) {
    AnswerFields a;
    const Status s = Run(link, {cmd::ReadOutputSettings, address}, OutputSettingsBudget, a);
    if (s == StatusOk)
        o = {a.values[0], a.values[1], a.values[2], a.values[3]};
    return s;
}

Status ReadOscillogram(DeviceLink& link, uint8_t address, uint8_t mode, EchoStatusRecord& status,
                       SampleBuffer& samples, uint32_t* blocks) {
    AnswerFields answer;
    const auto copy = [&](const uint8_t* frame) {
        // Block 0 data into the status record, blocks 1..249 one after another into the
        // samples; all little-endian words.
        for (size_t w = 0; w < EchoStatusWords; ++w)
            status[w] = uint16_t(GetU16(frame + OscBlockHead + 2 * w));
        for (size_t b = 1; b <= SampleBlocks; ++b) {
            const uint8_t* data = frame + OscBlockSize * b + OscBlockHead;
            uint16_t* out = samples.data() + (b - 1) * OscWordsPerBlock;
            for (size_t w = 0; w < OscWordsPerBlock; ++w)
                out[w] = uint16_t(GetU16(data + 2 * w));
        }
    };
    const Status s = link.Exchange({cmd::ReadOscillogram, address, mode}, OscillogramBudget.request,
                                   OscillogramBudget.answer, answer, copy);
    if (s == StatusOk && blocks)
        *blocks = answer.values[0];
    return s;
}

Status SetSweep(DeviceLink& link, uint8_t address, uint8_t on, uint16_t step) {
    AnswerFields answer;
    return Run(link, {cmd::SetSweep, address, on, step}, SweepBudget, answer);
}

Status ReadHubBlock(DeviceLink& link, uint8_t address, uint8_t index,
                    std::array<uint8_t, HubBlockSize>& block) {
    AnswerFields answer;
    const Status s = Run(link, {cmd::ReadHubBlock, address, index}, HubReadBudget, answer);
    if (s == StatusOk)
        block = answer.block;
    return s;
}

Status WriteHubBlock(DeviceLink& link, uint8_t address, uint8_t index,
                     const std::array<uint8_t, HubBlockSize>& block) {
    AnswerFields answer;
    RequestFields request{cmd::WriteHubBlock, address, index};
    request.block = block.data();
    return Run(link, request, HubWriteBudget, answer);
}

Status ReadFuelSettings(DeviceLink& link, uint8_t address, FuelSettings& f) {
    AnswerFields a;
    const Status s = Run(link, {cmd::ReadFuelSettings, address}, FuelReadBudget, a);
    if (s == StatusOk)
        f = {a.values[0], a.values[1], a.values[2]};
    return s;
}

Status WriteFuelSettings(DeviceLink& link, uint8_t address, uint8_t fuelType, float tempCoef,
                         float soundSpeed) {
    AnswerFields answer;
    return Run(
        link,
        {cmd::WriteFuelSettings, address, fuelType, FloatBits(tempCoef), FloatBits(soundSpeed)},
        FuelWriteBudget, answer);
}

uint32_t FloatBits(float value) {
    return std::bit_cast<uint32_t>(value);
}
float FloatFromBits(uint32_t bits) {
    return std::bit_cast<float>(bits);
}

std::string PassportDateText(uint32_t date) {
    char text[16];
    std::snprintf(text, sizeof text, "%02u%02u%02u", ((date >> 16) & 0xFF) + 1,
                  ((date >> 8) & 0xFF) + 1, date & 0xFF);
    return text;
}

std::string FirmwareText(uint32_t version) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%02X", (version >> 4) & 0xF, (version & 0xF) << 4);
    return text;
}

std::string HexText(const uint8_t* bytes, size_t count, char separator) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(count * 3);
    for (size_t i = 0; i < count; ++i) {
        if (i > 0 && separator != '\0')
            text += separator;
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0x0F];
    }
    return text;
}

} // namespace vq31
