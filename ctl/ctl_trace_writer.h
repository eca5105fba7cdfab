// The trace file of --trace: lines are queued by the link's threads and written by a thread
// of its own, so a slow or blocked target (a pipe into a pager) never stalls the link. When
// the queue is full, lines are dropped and counted; every write is checked, and a trace that
// could not be written is reported at the end.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace vq31::ctl {

class TraceWriter {
public:
    static constexpr size_t QueueLimit = 20000; // lines waiting to be written

    TraceWriter() = default;
    ~TraceWriter();
    TraceWriter(const TraceWriter&) = delete;
    TraceWriter& operator=(const TraceWriter&) = delete;

    // "-" is standard error; anything else a file appended to. False with the reason.
    bool Open(const std::string& target, std::string& error);
    // Queues one line; safe from any thread.
    void Add(const std::string& line);
    // Writes what is queued, ends the thread and closes the file. False with the reason when
    // any line was lost (not written, or dropped from a full queue).
    bool Finish(std::string& error);

private:
    void Run();

    std::FILE* file_ = nullptr;
    bool ownsFile_ = false;
    std::mutex lock_;
    std::condition_variable wake_;
    std::deque<std::string> queue_; // guarded by lock_
    bool ending_ = false;           // guarded by lock_
    uint64_t dropped_ = 0;          // guarded by lock_
    std::string writeError_;        // set by the writer thread, read after it ended
    std::thread thread_;
};

} // namespace vq31::ctl
