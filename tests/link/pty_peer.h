// A scripted device on a pseudo-terminal for link tests: the test reads the request frames
// the link writes and answers with exactly the bytes it wants, including broken ones.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace vq31::test {

class PtyPeer {
public:
    PtyPeer();
    ~PtyPeer();
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    const std::string& path() const { return path_; }
    // Reads one request frame (start byte, address, code, payload by layout, CRC) within the
    // time-out; empty on time-out. Bytes before a start byte are skipped.
    std::vector<uint8_t> ReadRequest(std::chrono::milliseconds timeout);
    void Write(const std::vector<uint8_t>& bytes);
    // The speed the tool set on the line.
    uint32_t Speed() const;
    std::chrono::steady_clock::time_point lastWrite() const { return lastWrite_; }

private:
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
    std::chrono::steady_clock::time_point lastWrite_{};
};

// An answer frame with its CRC-8 appended.
std::vector<uint8_t> Answer(std::vector<uint8_t> bytes);

} // namespace vq31::test
