// The Win32 port layer under Wine: names outside the COM range are refused before anything
// is opened; a device that refuses the serial settings fails the open with the system's
// message and is closed again; Wake ends a wakeable read on a real port. The real port is
// the simulator's pseudo-terminal mapped to the COM port named in VQ31_TEST_COM, the device
// that is no serial port /dev/null mapped to VQ31_TEST_NOT_SERIAL (scripts/test-windows.sh).
// The simulator stays silent but for the answers to the requests written here. A read that
// Wake failed to end would wait its whole ten minutes, past the script's bound on the test run.
#include "receiver.h"
#include "serial_port.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace vq31 {
namespace {

using namespace std::chrono_literals;

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST(Win32SerialPort, NamesOutsideTheComRangeAreRefusedBeforeAnyOpen) {
    // COM4294967299 once wrapped round to COM3.
    for (const char* name : {"COM0", "COM4097", "COM4294967299", "COM99999999999999999999", "COM",
                             "COMX", "COM3 ", "LPT1", "\\\\.\\COM-1", "/dev/ttyS0"}) {
        const auto port = MakeSerialPort();
        EXPECT_FALSE(port->Open(name, 9600)) << name;
        EXPECT_FALSE(port->IsOpen()) << name;
        EXPECT_TRUE(Has(port->error(), "is not a COM port name")) << name << ": " << port->error();
    }
}

// Opened twice: a handle left open by the first failure would make the second one fail as
// "in use" (the port is opened for exclusive use).
TEST(Win32SerialPort, ADeviceThatRefusesTheSettingsIsClosedWithTheSystemsMessage) {
    const char* name = std::getenv("VQ31_TEST_NOT_SERIAL");
    if (!name || !*name)
        GTEST_SKIP() << "VQ31_TEST_NOT_SERIAL names no COM port mapped to a device";
    const auto port = MakeSerialPort();
    for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_FALSE(port->Open(name, 9600));
        EXPECT_FALSE(port->IsOpen());
        EXPECT_TRUE(Has(port->error(), std::string(name) + ": cannot set")) << port->error();
        EXPECT_TRUE(Has(port->error(), "(error ")) << port->error();
        EXPECT_NE(port->errorNumber(), 0);
    }
}

class Win32SerialPortOnSimulator : public ::testing::Test {
protected:
    void SetUp() override {
        const char* name = std::getenv("VQ31_TEST_COM");
        if (!name || !*name)
            GTEST_SKIP() << "VQ31_TEST_COM names no COM port mapped to the simulator";
        ASSERT_TRUE(port_->Open(name, 9600)) << port_->error();
    }
    std::unique_ptr<SerialPort> port_ = MakeSerialPort();
};

// Answers are read byte by byte as the link reads them: the runs the driver hands over come
// whole and in order (a byte taken twice or lost breaks the frame), and the line reads silent
// after the answer. A short answer and the long echo frame.
TEST_F(Win32SerialPortOnSimulator, AnAnswerComesWholeAndTheLineIsSilentAfterIt) {
    const struct {
        const char* name;
        RequestFields request;
    } cases[] = {
        {"identity", {cmd::ReadIdentity, BroadcastAddress}},
        {"echo frame", {cmd::ReadOscillogram, 1, 1}},
    };
    const auto idle = IdleTimeout(9600);
    for (const auto& c : cases) {
        uint8_t frame[MaxRequestLength];
        const size_t length = BuildRequest(c.request, frame);
        port_->Purge();
        ASSERT_TRUE(port_->Write(frame, length, 1s)) << c.name;
        Receiver receiver;
        Receiver::Event event = Receiver::Event::More;
        uint8_t byte = 0;
        while (event == Receiver::Event::More) {
            const auto wait = receiver.count() == 0 ? AnswerByteWindow : idle;
            event = port_->ReadByte(byte, wait, false) == SerialPort::Read::Byte
                        ? receiver.Feed(byte)
                        : receiver.Silence();
        }
        EXPECT_EQ(event, Receiver::Event::Report) << c.name;
        EXPECT_TRUE(receiver.accepted()) << c.name;
        EXPECT_EQ(receiver.status(), StatusOk) << c.name;
        EXPECT_EQ(port_->ReadByte(byte, idle, false), SerialPort::Read::Timeout) << c.name;
    }
}

TEST_F(Win32SerialPortOnSimulator, WakeEndsTheWakeableReadThatWaits) {
    uint8_t byte = 0;
    port_->Wake();
    EXPECT_EQ(port_->ReadByte(byte, 10min, true), SerialPort::Read::Timeout);
}

TEST_F(Win32SerialPortOnSimulator, AWakeWaitsThroughReadsThatAreNotWakeable) {
    uint8_t byte = 0;
    port_->Wake();
    EXPECT_EQ(port_->ReadByte(byte, 20ms, false), SerialPort::Read::Timeout);
    EXPECT_EQ(port_->ReadByte(byte, 10min, true), SerialPort::Read::Timeout);
}

} // namespace
} // namespace vq31
