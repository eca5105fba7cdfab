// Trace records, their text lines, and the bounded ring with the link's health counters.
#include "trace.h"

#include "commands.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace vq31 {

namespace {

struct NamedCode {
    uint8_t code;
    const char* name;
};
constexpr NamedCode CommandNames[] = {
    {cmd::WakeUp, "WakeUp"},
    {cmd::WriteIntegrator, "WriteIntegrator"},
    {cmd::ReadIntegrator, "ReadIntegrator"},
    {cmd::ReadOscillogram, "ReadOscillogram"},
    {cmd::WriteGain, "WriteGain"},
    {cmd::ReadGain, "ReadGain"},
    {cmd::WriteFrequency, "WriteFrequency"},
    {cmd::ReadFrequency, "ReadFrequency"},
    {cmd::WritePulseWidth, "WritePulseWidth"},
    {cmd::ReadPulseWidth, "ReadPulseWidth"},
    {cmd::WriteAttenuator, "WriteAttenuator"},
    {cmd::ReadAttenuator, "ReadAttenuator"},
    {cmd::WriteFilter, "WriteFilter"},
    {cmd::ReadFilter, "ReadFilter"},
    {cmd::SetSweep, "SetSweep"},
    {cmd::WritePostFilter, "WritePostFilter"},
    {cmd::ReadPostFilter, "ReadPostFilter"},
    {cmd::EnterFastMode, "EnterFastMode"},
    {cmd::WriteDisplayTest, "WriteDisplayTest"},
    {cmd::ReadTankHeight, "ReadTankHeight"},
    {cmd::WriteTankHeight, "WriteTankHeight"},
    {cmd::ReadPassport, "ReadPassport"},
    {cmd::ReadIdentity, "ReadIdentity"},
    {cmd::WriteAutoPeriod, "WriteAutoPeriod"},
    {cmd::WriteLinkFlags, "WriteLinkFlags"},
    {cmd::WriteAddress, "WriteAddress"},
    {cmd::WriteTareMode, "WriteTareMode"},
    {cmd::ReadOutputSettings, "ReadOutputSettings"},
    {cmd::ReadHubBlock, "ReadHubBlock"},
    {cmd::WriteHubBlock, "WriteHubBlock"},
    {cmd::ReadTankId, "ReadTankId"},
    {cmd::WriteTankId, "WriteTankId"},
    {cmd::ReadMode, "ReadMode"},
    {cmd::WriteMode, "WriteMode"},
    {cmd::ReadTuneProgress, "ReadTuneProgress"},
    {cmd::ReadModelCode, "ReadModelCode"},
    {cmd::WriteFuelSettings, "WriteFuelSettings"},
    {cmd::ReadFuelSettings, "ReadFuelSettings"},
};

std::string Hex(const uint8_t* bytes, size_t count) {
    return HexText(bytes, count, ' ');
}

std::string Number(uint32_t value) {
    return std::to_string(value);
}

std::string Values(std::initializer_list<uint32_t> values) {
    std::string text = values.size() == 1 ? "value " : "values ";
    bool first = true;
    for (uint32_t v : values) {
        if (!first)
            text += ", ";
        text += Number(v);
        first = false;
    }
    return text;
}

// Fields of a request frame by its layout, as far as the kept bytes reach.
std::string RequestFieldsText(const uint8_t* b, size_t n) {
    const RequestLayout layout = RequestLayoutOf(b[2]);
    if (n < RequestLength(layout))
        return {};
    switch (layout) {
    case RequestLayout::Byte:
        return Values({b[3]});
    case RequestLayout::Word:
        return Values({GetU16(b + 3)});
    case RequestLayout::Long:
        return Values({GetU32(b + 3)});
    case RequestLayout::ByteWord:
        return Values({b[3], GetU16(b + 4)});
    case RequestLayout::ThreePart:
        return Values({GetU24(b + 3), GetU24(b + 6), b[9]});
    case RequestLayout::ByteBlock:
        return "block " + Number(b[3]) + ", " + Number(HubBlockSize) + " bytes";
    case RequestLayout::ByteTwoLongs:
        return Values({b[3], GetU32(b + 4), GetU32(b + 8)});
    case RequestLayout::None:
    case RequestLayout::Bare:
        break;
    }
    return {};
}

// Fields of a good answer frame by its kind.
std::string AnswerFieldsText(const uint8_t* b, size_t n) {
    const AnswerKind kind = AnswerKindOf(b[2]);
    if (kind == AnswerKind::Oscillogram)
        return n > 3 ? Number(b[3]) + " blocks" : std::string();
    if (n < AnswerLength(kind))
        return {};
    switch (kind) {
    case AnswerKind::Acknowledgement:
        return "acknowledgement " + Number(b[3]);
    case AnswerKind::Byte:
        return Values({b[3]});
    case AnswerKind::Word:
        return Values({GetU16(b + 3)});
    case AnswerKind::ByteWord:
        return Values({b[3], GetU16(b + 4)});
    case AnswerKind::Long:
        return Values({GetU32(b + 3)});
    case AnswerKind::ByteTwoWords:
        return Values({b[3], GetU16(b + 4), GetU16(b + 6)});
    case AnswerKind::Identity:
        return "date " + Number(GetU24(b + 3)) + ", serial " + Number(GetU24(b + 6)) + ", model " +
               Number(b[9]) + ", firmware " + Number(b[10]);
    case AnswerKind::WordAt6:
        return Values({GetU16(b + 6)});
    case AnswerKind::FourBytes:
        return Values({b[3], b[4], b[9], b[10]});
    case AnswerKind::TwoLongs:
        return Values({GetU32(b + 3), GetU32(b + 7)});
    case AnswerKind::ByteTwoLongs:
        return Values({b[3], GetU32(b + 4), GetU32(b + 8)});
    case AnswerKind::Passport:
        return "date " + Number(GetU24(b + 3)) + ", serial " + Number(GetU24(b + 6)) + ", model " +
               Number(b[9]) + ", firmware " + Number(b[10]) + ", address " + Number(b[17]) +
               ", period " + Number(b[19]) + ", flags " + Number(b[20]);
    case AnswerKind::Block:
        return Number(HubBlockSize) + " bytes";
    case AnswerKind::None:
    case AnswerKind::Oscillogram:
        break;
    }
    return {};
}

std::string Subject(uint8_t code, uint8_t address) {
    return CommandName(code) + " addr " + Number(address);
}

} // namespace

std::string CommandName(uint8_t code) {
    for (const NamedCode& c : CommandNames)
        if (c.code == code)
            return c.name;
    char text[16];
    std::snprintf(text, sizeof text, "code 0x%02X", code);
    return text;
}

const char* StatusName(Status status) {
    switch (status) {
    case StatusOk:
        return "OK";
    case StatusNotExecuted:
        return "not executed";
    case StatusBadParameter:
        return "bad parameter";
    case StatusCrcError:
        return "CRC error";
    case StatusBadLength:
        return "bad length";
    case StatusBadAnswer:
        return "bad answer";
    case StatusNoAnswer:
        return "no answer";
    case StatusWriteError:
        return "port write error";
    case StatusPortError:
        return "port error";
    default:
        return "unknown status";
    }
}

std::string ClockText(std::chrono::system_clock::time_point time) {
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(time.time_since_epoch()).count() % 1000;
    const std::time_t seconds = system_clock::to_time_t(time);
    // std::localtime shares one result buffer; the lock keeps this module's callers apart.
    static std::mutex clockLock;
    int h = 0, m = 0, s = 0;
    {
        std::lock_guard lock(clockLock);
        if (const std::tm* t = std::localtime(&seconds)) {
            h = t->tm_hour;
            m = t->tm_min;
            s = t->tm_sec;
        }
    }
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", h, m, s, int(ms < 0 ? ms + 1000 : ms));
    return text;
}

std::string FormatTraceLine(const TraceRecord& r) {
    std::string line = ClockText(r.time);
    const uint8_t* b = r.bytes.data();
    const size_t n = r.kept;
    auto bytesText = [&] {
        std::string text = Hex(b, n);
        if (r.length > n)
            text += " ... (" + Number(r.length) + " bytes)";
        return text;
    };
    switch (r.kind) {
    case TraceKind::Request: {
        line += " -> " + bytesText() + " | ";
        line += n >= 3 ? Subject(b[2], b[1]) : std::string("request");
        if (n >= 3)
            if (const std::string fields = RequestFieldsText(b, n); !fields.empty())
                line += ", " + fields;
        return line;
    }
    case TraceKind::Answer: {
        line += " <- " + bytesText() + " | ";
        line += n >= 3 ? Subject(b[2], b[1]) : std::string("answer");
        if (n >= 3)
            if (const std::string fields = AnswerFieldsText(b, n); !fields.empty())
                line += ", " + fields;
        return line + " | " + StatusName(r.status);
    }
    case TraceKind::Broken: {
        line += " <! " + bytesText() + " | ";
        if (n >= 3 && b[0] == AnswerStart)
            line += "broken answer " + Subject(b[2], b[1]);
        else
            line += "broken answer";
        return line + " | " + StatusName(r.status);
    }
    case TraceKind::Silence:
        return line + " -- | " + Subject(r.code, r.address) + ", no answer byte for " +
               Number(r.waitedMs) + " ms | " + StatusName(r.status);
    case TraceKind::Rejected:
        return line + " !! | " + Subject(r.code, r.address) + ", answered by " +
               Subject(r.answerCode, r.answerAddress) + " | " + StatusName(r.status);
    case TraceKind::WriteError:
        return line + " !! | " + Subject(r.code, r.address) + ", request not written | " +
               StatusName(r.status);
    }
    return line;
}

bool IsErrorRecord(const TraceRecord& r) {
    switch (r.kind) {
    case TraceKind::Request:
        return false;
    case TraceKind::Answer:
        return r.status != StatusOk;
    default:
        return true;
    }
}

uint64_t LinkHealth::exchanges() const {
    uint64_t total = 0;
    for (uint64_t n : statuses)
        total += n;
    return total;
}

std::string FormatHealth(const LinkHealth& h) {
    char text[160];
    std::string out;
    std::snprintf(text, sizeof text,
                  "requests %llu, answers %llu, broken %llu, silent %llu, refused %llu, "
                  "%.1f requests/s\n",
                  (unsigned long long)h.requests, (unsigned long long)h.answers,
                  (unsigned long long)h.broken, (unsigned long long)h.silences,
                  (unsigned long long)h.rejected, h.requestsPerSecond);
    out += text;
    out.append("exchanges ").append(std::to_string(h.exchanges())).append(":");
    for (size_t i = 0; i < h.statuses.size(); ++i) {
        if (h.statuses[i] == 0)
            continue;
        out.append(" ").append(i < 9 ? StatusName(Status(i)) : "other");
        out.append(" ").append(std::to_string(h.statuses[i])).append(",");
    }
    if (out.back() == ',')
        out.pop_back();
    out += "\nlast error: ";
    out += h.lastErrorLine.empty() ? std::string("none") : h.lastErrorLine;
    out += "\n";
    return out;
}

LinkMonitor::LinkMonitor(size_t capacity) : ring_(std::max<size_t>(capacity, 1)) {}

void LinkMonitor::SetLineSink(LineSink sink) {
    std::lock_guard lock(lock_);
    sink_ = std::move(sink);
}

void LinkMonitor::Push(TraceRecord& r) {
    r.sequence = ++sequence_;
    if (IsErrorRecord(r)) {
        health_.lastError = r.status;
        health_.lastErrorTime = r.time;
        health_.lastErrorLine = FormatTraceLine(r);
    }
    ring_[head_] = r;
    head_ = (head_ + 1) % ring_.size();
    count_ = std::min(count_ + 1, ring_.size());
    if (sink_)
        sink_(FormatTraceLine(r));
}

void LinkMonitor::RecordFrame(TraceKind kind, Status status, const uint8_t* frame, size_t length) {
    TraceRecord r;
    r.time = std::chrono::system_clock::now();
    r.kind = kind;
    r.status = status;
    r.length = uint32_t(length);
    r.kept = uint16_t(std::min(length, TraceBytesKept));
    std::copy(frame, frame + r.kept, r.bytes.begin());
    if (length >= 3) {
        r.address = frame[1];
        r.code = frame[2];
    }
    std::lock_guard lock(lock_);
    if (kind == TraceKind::Request) {
        ++health_.requests;
        const auto now = std::chrono::steady_clock::now();
        if (requestTimesCount_ == 0)
            firstRequest_ = now;
        requestTimes_[requestTimesHead_] = now;
        requestTimesHead_ = (requestTimesHead_ + 1) % RateSamples;
        requestTimesCount_ = std::min(requestTimesCount_ + 1, RateSamples);
    } else if (kind == TraceKind::Answer) {
        ++health_.answers;
    } else if (kind == TraceKind::Broken) {
        ++health_.broken;
    }
    Push(r);
}

void LinkMonitor::RecordSilence(uint8_t code, uint8_t address, uint32_t waitedMs) {
    TraceRecord r;
    r.time = std::chrono::system_clock::now();
    r.kind = TraceKind::Silence;
    r.status = StatusNoAnswer;
    r.code = code;
    r.address = address;
    r.waitedMs = waitedMs;
    std::lock_guard lock(lock_);
    ++health_.silences;
    Push(r);
}

void LinkMonitor::RecordRejected(uint8_t code, uint8_t address, uint8_t answerCode,
                                 uint8_t answerAddress) {
    TraceRecord r;
    r.time = std::chrono::system_clock::now();
    r.kind = TraceKind::Rejected;
    r.status = StatusBadAnswer;
    r.code = code;
    r.address = address;
    r.answerCode = answerCode;
    r.answerAddress = answerAddress;
    std::lock_guard lock(lock_);
    ++health_.rejected;
    Push(r);
}

void LinkMonitor::RecordWriteError(uint8_t code, uint8_t address) {
    TraceRecord r;
    r.time = std::chrono::system_clock::now();
    r.kind = TraceKind::WriteError;
    r.status = StatusWriteError;
    r.code = code;
    r.address = address;
    std::lock_guard lock(lock_);
    Push(r);
}

void LinkMonitor::CountExchange(Status status) {
    std::lock_guard lock(lock_);
    ++health_.statuses[status >= 0 && status < 9 ? size_t(status) : 9];
    // Exchanges that fail before any traffic (no port) still name the last error.
    if (status == StatusPortError) {
        health_.lastError = status;
        health_.lastErrorTime = std::chrono::system_clock::now();
        health_.lastErrorLine =
            ClockText(health_.lastErrorTime) + " !! | no port open | " + StatusName(status);
    }
}

std::vector<TraceRecord> LinkMonitor::Since(uint64_t after, size_t max) const {
    std::lock_guard lock(lock_);
    const uint64_t oldest = sequence_ - count_ + 1; // sequence of the oldest record held
    const uint64_t from = std::max(after + 1, oldest);
    uint64_t available = sequence_ >= from ? sequence_ - from + 1 : 0;
    uint64_t start = from;
    if (available > max) {
        start = sequence_ - max + 1;
        available = max;
    }
    std::vector<TraceRecord> out;
    out.reserve(size_t(available));
    for (uint64_t s = start; s <= sequence_; ++s) {
        // The newest record sits just before head_; sequence_ - s steps back from it.
        const size_t back = size_t(sequence_ - s) + 1;
        out.push_back(ring_[(head_ + ring_.size() - back) % ring_.size()]);
    }
    return out;
}

uint64_t LinkMonitor::LastSequence() const {
    std::lock_guard lock(lock_);
    return sequence_;
}

size_t LinkMonitor::size() const {
    std::lock_guard lock(lock_);
    return count_;
}

LinkHealth LinkMonitor::Health() const {
    std::lock_guard lock(lock_);
    LinkHealth h = health_;
    const auto now = std::chrono::steady_clock::now();
    size_t recent = 0;
    for (size_t i = 0; i < requestTimesCount_; ++i) {
        const size_t slot = (requestTimesHead_ + RateSamples - 1 - i) % RateSamples;
        if (now - requestTimes_[slot] > RateWindow)
            break;
        ++recent;
    }
    // Over the window, or over the time since the first request when that is shorter (but
    // at least one second, so a single request does not read as a huge rate).
    const double span = std::clamp(std::chrono::duration<double>(now - firstRequest_).count(), 1.0,
                                   std::chrono::duration<double>(RateWindow).count());
    h.requestsPerSecond = requestTimesCount_ ? double(recent) / span : 0.0;
    return h;
}

void LinkMonitor::Clear() {
    std::lock_guard lock(lock_);
    head_ = 0;
    count_ = 0;
    health_ = {};
    requestTimesHead_ = 0;
    requestTimesCount_ = 0;
}

} // namespace vq31
