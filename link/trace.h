// Traffic trace and link health. The link hands every request it writes, every answer frame
// it judges (good or broken), and every exchange that ended in silence or was refused after a
// good frame to a LinkMonitor. The monitor keeps the last records in a bounded ring, counts
// them, and can pass each record's text line to a sink (a file, standard error) as it comes.
// Records hold a fixed number of bytes inline, so the ring's memory is fixed at its creation
// whatever the traffic.
#pragma once

#include "protocol.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace vq31 {

enum class TraceKind : uint8_t {
    Request,    // a request frame written to the port
    Answer,     // an answer frame with a good check value
    Broken,     // an answer frame rejected by its start byte, length or check value
    Silence,    // the exchange ended without an answer
    Rejected,   // a good frame that does not answer the request (address or code)
    WriteError, // the request could not be written whole
};

// Frame bytes kept per record: every frame but the long oscillogram answer fits whole.
inline constexpr size_t TraceBytesKept = 140;
inline constexpr size_t TraceRingCapacity = 10000;

struct TraceRecord {
    uint64_t sequence = 0; // 1, 2, 3 ... in the order recorded
    std::chrono::system_clock::time_point time;
    TraceKind kind = TraceKind::Request;
    Status status = StatusOk;
    uint8_t code = 0;          // command code of the request (Silence, Rejected) or frame
    uint8_t address = 0;       // request address (Silence, Rejected, WriteError)
    uint32_t length = 0;       // whole frame length in bytes
    uint32_t waitedMs = 0;     // Silence: how long the exchange waited for its answer
    uint8_t answerAddress = 0; // Rejected: where the frame came from
    uint8_t answerCode = 0;    // Rejected: what the frame answered
    uint16_t kept = 0;         // bytes of the frame held in bytes
    std::array<uint8_t, TraceBytesKept> bytes{};
};

// Health of the link since the monitor was made (or cleared).
struct LinkHealth {
    uint64_t requests = 0;
    uint64_t answers = 0; // good answer frames
    uint64_t broken = 0;  // broken answer frames
    uint64_t silences = 0;
    uint64_t rejected = 0;
    std::array<uint64_t, 10> statuses{}; // exchanges ended with each status code (9: other)
    double requestsPerSecond = 0;        // over the last few seconds of traffic
    Status lastError = StatusOk;         // status of the last failed exchange
    std::string lastErrorLine;           // its trace line, empty when none failed
    std::chrono::system_clock::time_point lastErrorTime;
    uint64_t exchanges() const;
};

// Name of a device command code ("ReadModelCode"), or "code 0xNN" for an unknown one.
std::string CommandName(uint8_t code);
// Short status text of a status code ("OK", "CRC error", ...).
const char* StatusName(Status status);
// "HH:MM:SS.mmm" of a wall-clock time in the local time zone.
std::string ClockText(std::chrono::system_clock::time_point time);
// One trace line: time, direction, hex bytes, decoded text.
std::string FormatTraceLine(const TraceRecord& record);
// Whether a record shows a fault (broken frame, silence, refused answer, write error, or an
// acknowledgement other than OK).
bool IsErrorRecord(const TraceRecord& record);
// Several lines of counters, rate and last error.
std::string FormatHealth(const LinkHealth& health);

class LinkMonitor {
public:
    using LineSink = std::function<void(const std::string&)>;

    explicit LinkMonitor(size_t capacity = TraceRingCapacity);
    LinkMonitor(const LinkMonitor&) = delete;
    LinkMonitor& operator=(const LinkMonitor&) = delete;

    // Every record's line is handed to the sink as it is recorded, on the recording thread
    // and under the monitor's lock (one line at a time, in order). An empty sink stops it.
    void SetLineSink(LineSink sink);

    // Called by the link.
    void RecordFrame(TraceKind kind, Status status, const uint8_t* frame, size_t length);
    void RecordSilence(uint8_t code, uint8_t address, uint32_t waitedMs);
    void RecordRejected(uint8_t code, uint8_t address, uint8_t answerCode, uint8_t answerAddress);
    void RecordWriteError(uint8_t code, uint8_t address);
    void CountExchange(Status status);

    // Records with a sequence above after, oldest first, at most max of them (the newest
    // ones when more are waiting). Records pushed out of the ring are gone.
    std::vector<TraceRecord> Since(uint64_t after, size_t max = TraceRingCapacity) const;
    uint64_t LastSequence() const;
    size_t size() const;
    size_t capacity() const { return ring_.size(); }
    // Bytes held by the ring (fixed from creation).
    size_t MemoryBytes() const { return ring_.capacity() * sizeof(TraceRecord); }
    LinkHealth Health() const;
    // Empties the ring and zeroes the counters; sequence numbers keep counting.
    void Clear();

private:
    void Push(TraceRecord& record); // under lock_

    mutable std::mutex lock_;
    std::vector<TraceRecord> ring_;
    size_t head_ = 0; // next slot to write
    size_t count_ = 0;
    uint64_t sequence_ = 0;
    LinkHealth health_;
    LineSink sink_;
    // Times of the latest requests, for the rate over the last RateWindow.
    static constexpr size_t RateSamples = 1024;
    static constexpr std::chrono::seconds RateWindow{5};
    std::array<std::chrono::steady_clock::time_point, RateSamples> requestTimes_{};
    size_t requestTimesHead_ = 0;
    size_t requestTimesCount_ = 0;
    std::chrono::steady_clock::time_point firstRequest_{};
};

} // namespace vq31
