// A simulator served from a thread and the real link opened on its pseudo-terminal.
#pragma once

#include "commands.h"
#include "link.h"
#include "sim_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace vq31::sim {

class SimLink : public ::testing::Test {
protected:
    void SetUp() override { Begin({}); }

    void Begin(SimOptions options) {
        server_ = std::make_unique<SimServer>(options);
        std::string error;
        ASSERT_TRUE(server_->Start(&error)) << error;
        ASSERT_EQ(link.UartOpen(server_->path(), options.baud), 0) << link.OpenError();
    }
    void Reopen(uint32_t baud) {
        ASSERT_EQ(link.UartOpen(server_->path(), baud), 0) << link.OpenError();
    }
    SimServer& sim() { return *server_; }
    // The device applies address and speed changes after its acknowledgement has left, which
    // may be a moment after the tool has read it: wait (bounded) for the state to follow.
    template <class Predicate> bool Eventually(Predicate predicate) {
        for (int i = 0; i < 200; ++i) {
            if (predicate(server_->State()))
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return predicate(server_->State());
    }
    std::string Control(const std::string& line) {
        const std::string reply = server_->Control(line);
        EXPECT_EQ(reply.rfind("error:", 0), std::string::npos) << line << " -> " << reply;
        return reply;
    }
    void TearDown() override { link.UartClose(); }

    std::unique_ptr<SimServer> server_;
    DeviceLink link;
};

} // namespace vq31::sim
