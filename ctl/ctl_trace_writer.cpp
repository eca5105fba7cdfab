// The trace file's own writer thread.
#include "ctl_trace_writer.h"

#include <cerrno>
#include <cstring>

namespace vq31::ctl {

TraceWriter::~TraceWriter() {
    std::string ignored;
    Finish(ignored);
}

bool TraceWriter::Open(const std::string& target, std::string& error) {
    if (target == "-") {
        file_ = stderr;
    } else {
        file_ = std::fopen(target.c_str(), "a");
        if (file_ == nullptr) {
            error = "cannot open the trace file " + target + ": " + std::strerror(errno);
            return false;
        }
        ownsFile_ = true;
    }
    thread_ = std::thread([this] { Run(); });
    return true;
}

void TraceWriter::Add(const std::string& line) {
    {
        std::lock_guard guard(lock_);
        if (queue_.size() >= QueueLimit) {
            ++dropped_;
            return;
        }
        queue_.push_back(line);
    }
    wake_.notify_one();
}

void TraceWriter::Run() {
    std::unique_lock guard(lock_);
    for (;;) {
        wake_.wait(guard, [this] { return ending_ || !queue_.empty(); });
        if (queue_.empty() && ending_)
            return;
        std::deque<std::string> lines;
        lines.swap(queue_);
        guard.unlock();
        for (const std::string& line : lines) {
            if (!writeError_.empty())
                break;
            if (std::fprintf(file_, "%s\n", line.c_str()) < 0)
                writeError_ = std::strerror(errno);
        }
        if (writeError_.empty() && std::fflush(file_) != 0)
            writeError_ = std::strerror(errno);
        guard.lock();
    }
}

bool TraceWriter::Finish(std::string& error) {
    if (!thread_.joinable())
        return true;
    {
        std::lock_guard guard(lock_);
        ending_ = true;
    }
    wake_.notify_one();
    thread_.join();
    if (ownsFile_ && std::fclose(file_) != 0 && writeError_.empty())
        writeError_ = std::strerror(errno);
    file_ = nullptr;
    if (!writeError_.empty())
        error = "the trace could not be written: " + writeError_;
    else if (dropped_ > 0)
        error = "the trace dropped " + std::to_string(dropped_) +
                " lines (it could not be written as fast as the link ran)";
    return error.empty();
}

} // namespace vq31::ctl
