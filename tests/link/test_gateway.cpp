// The link through a real network gateway: Debian's ser2net in front of the simulator's
// pseudo-terminal, with an RFC 2217 accepter and a raw accepter on 127.0.0.1, and a proxy
// of the test's own that delays each direction. vq31ctl runs as its own process for the
// commands an engineer uses; the link is driven in-process where its own record is checked.
#include "../run_command.h"
#include "commands.h"
#include "gateway_rig.h"
#include "hub_image.h"
#include "link.h"
#include "sim_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace vq31::test {
namespace {

using namespace std::chrono_literals;

constexpr uint32_t GatewaySpeed = 19200;

class Gateway : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(sim_.Start(&error)) << error;
        gateway_ = std::make_unique<Ser2net>(sim_.path(), GatewaySpeed);
        ASSERT_TRUE(gateway_->Start(&error)) << error;
        char pattern[] = "/tmp/vq31-gateway-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        gateway_.reset();
        std::system(("rm -rf " + dir_).c_str());
    }
    // vq31ctl with its snapshots kept in the test's own folder.
    std::string Line(const std::string& port, const std::string& words) const {
        return "XDG_DATA_HOME=" + dir_ + " timeout 120 " + std::string(VQ31CTL_PATH) + " --port " +
               port + " " + words;
    }
    CommandRun Ctl(const std::string& port, const std::string& words) const {
        return RunCommand(Line(port, words));
    }
    std::future<CommandRun> CtlAsync(const std::string& port, const std::string& words) const {
        return std::async(std::launch::async,
                          [line = Line(port, words)] { return RunCommand(line); });
    }
    void Control(const std::string& line) {
        const std::string reply = sim_.Control(line);
        EXPECT_EQ(reply.rfind("error:", 0), std::string::npos) << line << " -> " << reply;
    }
    void WaitForRecords(uint64_t records) {
        for (int i = 0; i < 3000 && sim_.State().counters.records < records; ++i)
            std::this_thread::sleep_for(10ms);
    }

    sim::SimServer sim_;
    std::unique_ptr<Ser2net> gateway_;
    std::string dir_;
};

bool Has(const CommandRun& run, const std::string& text) {
    return run.output.find(text) != std::string::npos;
}

TEST_F(Gateway, InfoAndOneEchoRecordComeThroughEitherAccepter) {
    for (const std::string& port : {gateway_->Rfc2217Name(), gateway_->RawName()}) {
        const CommandRun info = Ctl(port, "info");
        EXPECT_EQ(info.exitCode, 0) << port << "\n" << info.output;
        EXPECT_TRUE(Has(info, "model code: VQ31")) << info.output;
        EXPECT_TRUE(Has(info, "firmware: 0.90")) << info.output;
        const CommandRun echo = Ctl(port, "echo --mode 1");
        EXPECT_EQ(echo.exitCode, 0) << port << "\n" << echo.output;
        EXPECT_TRUE(Has(echo, "samples")) << echo.output;
    }
}

// The search over RFC 2217 sets every speed from 115200 down through the gateway and finds a
// device at the slowest one; a raw gateway is searched at its own speed only, and says so.
TEST_F(Gateway, SearchTriesEverySpeedOverRfc2217AndOnlyTheGatewaysOverRawTcp) {
    Control("baud 2400");
    const CommandRun rfc = Ctl(gateway_->Rfc2217Name(), "search");
    EXPECT_EQ(rfc.exitCode, 0) << rfc.output;
    for (const char* speed : {"115200", "57600", "38400", "19200", "9600", "4800"})
        EXPECT_TRUE(Has(rfc, std::string(speed) + " bit/s: ")) << speed << "\n" << rfc.output;
    EXPECT_TRUE(Has(rfc, "found: speed 2400 address 1")) << rfc.output;

    // The raw gateway runs at 19200: a device there is found, one at 9600 is not, and no
    // other speed is tried for it.
    struct Case {
        const char* deviceSpeed;
        int exitCode;
        bool found;
    };
    for (const Case& c : {Case{"19200", 0, true}, Case{"9600", 1, false}}) {
        Control(std::string("baud ") + c.deviceSpeed);
        const CommandRun raw = Ctl(gateway_->RawName(), "--baud 19200 search");
        EXPECT_EQ(raw.exitCode, c.exitCode) << raw.output;
        EXPECT_TRUE(Has(raw, "searching at 19200 bit/s only")) << raw.output;
        EXPECT_FALSE(Has(raw, "9600 bit/s:")) << raw.output;
        EXPECT_EQ(Has(raw, "found: speed 19200 address 1"), c.found) << raw.output;
    }
}

TEST_F(Gateway, ACensusOverRawTcpAsksTheGatewaysSpeedOnly) {
    const CommandRun raw =
        Ctl(gateway_->RawName(), "--baud 19200 census --speeds all --from 0 --to 3");
    EXPECT_EQ(raw.exitCode, 0) << raw.output;
    EXPECT_TRUE(Has(raw, "only 19200 bit/s is asked")) << raw.output;
    EXPECT_TRUE(Has(raw, "address 1 speed 19200 serial")) << raw.output;
    EXPECT_FALSE(Has(raw, "speed 9600")) << raw.output;
}

// Every speed the device knows is set through the option and confirmed by the gateway: the
// device, which answers only at its own speed, answers at each.
TEST_F(Gateway, TheLinkSpeedFollowsTheOpenThroughRfc2217) {
    DeviceLink link;
    for (const uint32_t speed : {2400u, 4800u, 9600u, 19200u, 38400u, 57600u, 115200u}) {
        Control("baud " + std::to_string(speed));
        ASSERT_EQ(link.UartOpen(gateway_->Rfc2217Name(), speed), 0) << link.OpenError();
        EXPECT_TRUE(link.Abilities().changeSpeed);
        uint8_t address = 0;
        EXPECT_EQ(FindDevice(link, address), StatusOk) << speed;
        EXPECT_EQ(address, 1) << speed;
    }
    EXPECT_EQ(sim_.State().counters.ignoredSpeed, 0u);
}

TEST_F(Gateway, PollingGoesOnThroughRfc2217AndSpeedChangesAreRefusedOverRawTcp) {
    const CommandRun rfc = Ctl(gateway_->Rfc2217Name(), "poll --seconds 2");
    EXPECT_EQ(rfc.exitCode, 0) << rfc.output;
    EXPECT_FALSE(Has(rfc, "polls: 0 refreshes")) << rfc.output;

    // The fast mode, or a new speed written to the device, would move the device out of the
    // raw gateway's reach: both are refused with the cause, and the device keeps its speed.
    struct Case {
        const char* words;
        const char* speed;
    };
    for (const Case& c :
         {Case{"poll --seconds 2", "115200"}, Case{"params set baud 9600", "9600"}}) {
        const CommandRun raw = Ctl(gateway_->RawName(), c.words);
        EXPECT_EQ(raw.exitCode, 1) << c.words << "\n" << raw.output;
        EXPECT_TRUE(Has(raw, c.speed)) << raw.output;
        EXPECT_TRUE(Has(raw, "rfc2217://")) << raw.output;
        EXPECT_EQ(sim_.State().speed, GatewaySpeed) << c.words;
        EXPECT_EQ(sim_.State().baud, GatewaySpeed) << c.words;
    }
}

TEST_F(Gateway, AHubWriteThroughRfc2217KeepsASnapshotAndReadsTheImageBack) {
    auto image = std::make_unique<HubBuffer>();
    HubMakeDefault(*image);
    TankRecord preset;
    preset.Id = 4;
    preset.Scale = 1;
    preset.RowCount = 2;
    preset.rows[0] = {100, 1.5f};
    preset.rows[1] = {900, 40.0f};
    ASSERT_TRUE(HubAppendTank(*image, preset));
    const std::vector<uint8_t> good(image->bytes().begin(),
                                    image->bytes().begin() + std::ptrdiff_t(image->TotalSize()));
    const std::string file = dir_ + "/image.bin";
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(good.data()), std::streamsize(good.size()));

    const CommandRun written = Ctl(gateway_->Rfc2217Name(), "hub write " + file);
    EXPECT_EQ(written.exitCode, 0) << written.output;
    EXPECT_TRUE(Has(written, "snapshot before the write: " + dir_)) << written.output;
    EXPECT_TRUE(Has(written, "read them back")) << written.output;
    const std::vector<uint8_t> store = sim_.HubStore();
    EXPECT_TRUE(std::equal(good.begin(), good.end(), store.begin()));

    const CommandRun read = Ctl(gateway_->Rfc2217Name(), "hub read " + dir_ + "/back.bin");
    EXPECT_EQ(read.exitCode, 0) << read.output;
    std::ifstream back(dir_ + "/back.bin", std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(back)), {});
    ASSERT_GE(bytes.size(), good.size());
    EXPECT_TRUE(std::equal(good.begin(), good.end(), bytes.begin()));
}

// The gateway stopped mid-poll is one "unplugged" message with the port closed; --reopen
// connects again once the gateway takes connections, and the refreshes go on.
TEST_F(Gateway, AGatewayStoppedMidPollIsReportedAsUnpluggedAndReconnected) {
    auto run = CtlAsync(gateway_->Rfc2217Name(), "poll --seconds 10 --reopen");
    WaitForRecords(5);
    gateway_->Stop();
    std::this_thread::sleep_for(1s);
    std::string error;
    ASSERT_TRUE(gateway_->Start(&error)) << error;
    const uint64_t before = sim_.State().counters.records;
    const CommandRun r = run.get();
    EXPECT_EQ(r.output.find("was unplugged at"), r.output.rfind("was unplugged at")) << r.output;
    EXPECT_TRUE(Has(r, "was unplugged at")) << r.output;
    EXPECT_TRUE(Has(r, "is back at")) << r.output;
    EXPECT_GT(sim_.State().counters.records, before + 5) << r.output;
}

TEST_F(Gateway, ARefusedOrMisconfiguredGatewayIsNamedInTheOpenError) {
    const uint16_t nobody = FreeLocalPort();
    struct Case {
        std::string port;
        std::string cause;
    };
    const std::vector<Case> cases = {
        {"tcp://127.0.0.1:" + std::to_string(nobody), "refused the connection"},
        {"rfc2217://127.0.0.1:" + std::to_string(nobody), "refused the connection"},
        {"rfc2217://" + gateway_->RawName().substr(6), "COM-PORT option"},
        {"tcp://127.0.0.1", "needs a port number"},
    };
    for (const Case& c : cases) {
        const CommandRun r = Ctl(c.port, "info");
        EXPECT_EQ(r.exitCode, 1) << c.port << "\n" << r.output;
        EXPECT_TRUE(Has(r, c.cause)) << c.port << "\n" << r.output;
    }
}

// 100 ms added each way: the round trip is measured by the identity read at connect and the
// answers still come within their budgets.
TEST_F(Gateway, ADelayedLinkMeasuresItsRoundTripAndStillGetsEveryAnswer) {
    DelayProxy proxy(gateway_->rfc2217Port(), 100ms);
    std::string error;
    ASSERT_TRUE(proxy.Start(&error)) << error;
    DeviceLink link;
    ASSERT_EQ(link.UartOpen("rfc2217://127.0.0.1:" + std::to_string(proxy.port()), GatewaySpeed), 0)
        << link.OpenError() << "\n"
        << gateway_->Log();
    // The proxy answers the TCP handshake itself; the identity read crosses it both ways.
    uint32_t model = 0;
    ASSERT_EQ(ReadValue(link, cmd::ReadModelCode, 1, model), StatusOk);
    // 200 ms less the wire time the link deducts (about 6 ms at 19200 bit/s), which the
    // pseudo-terminal behind the gateway does not take.
    EXPECT_GE(link.RoundTrip(), 190ms) << "the proxy holds each direction 100 ms";
    for (int i = 0; i < 3; ++i) {
        uint32_t mode = 0;
        EXPECT_EQ(ReadValue(link, cmd::ReadMode, 1, mode), StatusOk) << i;
    }
    EchoStatusRecord status{};
    SampleBuffer samples{};
    EXPECT_EQ(ReadOscillogram(link, 1, 1, status, samples), StatusOk);
}

} // namespace
} // namespace vq31::test
