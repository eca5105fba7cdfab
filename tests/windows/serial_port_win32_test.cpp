// The Win32 port layer under Wine: names outside the COM range are refused before anything
// is opened; a device that refuses the serial settings fails the open with the system's
// message and is closed again; Wake ends a wakeable read on a real port. The real port is
// the simulator's pseudo-terminal mapped to the COM port named in VQ31_TEST_COM, the device
// that is no serial port /dev/null mapped to VQ31_TEST_NOT_SERIAL (scripts/test-windows.sh).
// The simulator stays silent, as it only ever answers requests. A read that Wake failed to
// end would wait its whole ten minutes, past the script's bound on the test run.
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
