// A worker talking to the simulated sensor over a real pseudo-terminal, with the recording
// view and the job log. The link settings point at the simulator's port.
#pragma once

#include "fake_view.h"
#include "job_log.h"
#include "sim_server.h"

#include <gtest/gtest.h>

#include <memory>

namespace vq31::test {

struct SimRig {
    explicit SimRig(sim::SimOptions options = {}, WorkerTiming timing = {}) : server(options) {
        std::string error;
        started = server.Start(&error);
        EXPECT_TRUE(started) << error;
        params.SetPortName(server.path());
        Put(params.BaudRate, int32_t(options.baud));
        Put(params.DeviceAddress, options.address);
        worker = std::make_unique<CommandWorker>(link, params, view, texts, hub, timing);
        view.worker = worker.get();
        log.Attach(*worker);
    }
    ~SimRig() {
        worker->Stop();
        link.UartClose();
    }
    // Sends a control line and checks the simulator took it.
    void Control(const std::string& line) {
        const std::string reply = server.Control(line);
        EXPECT_EQ(reply.rfind("error:", 0), std::string::npos) << line << ": " << reply;
    }
    // Opens the link as the connection job would, without running it.
    void OpenLink(uint32_t baud) { ASSERT_EQ(link.UartOpen(server.path(), baud), 0); }
    // Runs a code and waits until the worker has taken follow, count times in all.
    bool RunUntil(int32_t code, int32_t follow, size_t count = 1) {
        worker->PostCommand(code);
        return log.WaitFor(follow, count);
    }
    void Stop() {
        worker->PostCommand(job::None);
        worker->Stop();
    }

    sim::SimServer server;
    bool started = false;
    DeviceLink link;
    CommandParameters params;
    LanguageTexts texts;
    HubRecords hub;
    FakeView view;
    std::unique_ptr<CommandWorker> worker;
    JobLog log;
};

} // namespace vq31::test
