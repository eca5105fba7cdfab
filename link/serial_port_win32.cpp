// Win32 serial port: "COM<n>" opened as "//./COM<n>" for synchronous I/O, line settings
// filled field by field, driver queues of 5000 bytes, one-byte reads that return at once
// when a byte is queued and otherwise wait at most the idle time-out of the speed, and
// whole-frame writes bounded by the wire time plus 500 ms (so the port thread never blocks
// without a time-out).
#include "serial_port.h"

#include "protocol.h"

#include <cctype>
#include <cstdio>
#include <windows.h>

namespace vq31 {

namespace {

constexpr DWORD DriverQueueBytes = 5000;

// "COM3", "com3", "\\.\COM3" or "//./COM3" to the device path; empty when not a COM name.
std::string DevicePath(const std::string& name) {
    std::string n = name;
    for (const char* prefix : {"\\\\.\\", "//./"})
        if (n.rfind(prefix, 0) == 0)
            n = n.substr(4);
    if (n.size() < 4 || std::toupper(static_cast<unsigned char>(n[0])) != 'C' ||
        std::toupper(static_cast<unsigned char>(n[1])) != 'O' ||
        std::toupper(static_cast<unsigned char>(n[2])) != 'M')
        return {};
    unsigned long number = 0;
    for (size_t i = 3; i < n.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(n[i])))
            return {};
        number = number * 10 + unsigned(n[i] - '0');
    }
    char path[32];
    std::snprintf(path, sizeof path, "//./COM%lu", number);
    return path;
}

class Win32SerialPort final : public SerialPort {
public:
    ~Win32SerialPort() override { Close(); }

    bool Open(const std::string& name, uint32_t baudRate) override {
        Close();
        error_.clear();
        const std::string path = DevicePath(name);
        if (path.empty()) {
            error_ = name + " is not a COM port name";
            return false;
        }
        HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            const DWORD e = GetLastError();
            error_ = e == ERROR_ACCESS_DENIED ? name + " is in use by another program"
                     : e == ERROR_FILE_NOT_FOUND
                         ? name + " does not exist"
                         : name + ": open failed, error " + std::to_string(e);
            return false;
        }
        SetupComm(h, DriverQueueBytes, DriverQueueBytes);
        DCB dcb{};
        dcb.DCBlength = sizeof(DCB);
        dcb.BaudRate = baudRate;
        dcb.fBinary = 1;
        dcb.fParity = 1;
        dcb.fOutxCtsFlow = 0;
        dcb.fOutxDsrFlow = 0;
        dcb.fDtrControl = DTR_CONTROL_DISABLE;
        dcb.fDsrSensitivity = 0;
        dcb.fTXContinueOnXoff = 0;
        dcb.fOutX = 0;
        dcb.fInX = 0;
        dcb.fErrorChar = 0;
        dcb.fNull = 0;
        dcb.fRtsControl = RTS_CONTROL_DISABLE;
        dcb.fAbortOnError = 0;
        dcb.XonLim = 0;
        dcb.XoffLim = 0;
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        SetCommState(h, &dcb);
        SetCommMask(h, EV_RXCHAR);
        COMMTIMEOUTS t{};
        t.ReadIntervalTimeout = MAXDWORD;
        t.ReadTotalTimeoutMultiplier = MAXDWORD;
        t.ReadTotalTimeoutConstant = DWORD(IdleTimeout(baudRate).count());
        // Bounded writes: the wire time of each byte plus 500 ms.
        t.WriteTotalTimeoutMultiplier = 10000 / (baudRate ? baudRate : 1) + 1;
        t.WriteTotalTimeoutConstant = DWORD(AnswerByteWindow.count());
        SetCommTimeouts(h, &t);
        PurgeComm(h, PURGE_TXCLEAR | PURGE_RXCLEAR);
        handle_ = h;
        return true;
    }

    void Close() override {
        if (handle_ != nullptr)
            CloseHandle(handle_);
        handle_ = nullptr;
    }

    bool IsOpen() const override { return handle_ != nullptr; }

    Read ReadByte(uint8_t& byte, std::chrono::milliseconds timeout, bool) override {
        if (handle_ == nullptr) {
            Sleep(DWORD(timeout.count()));
            return Read::Error;
        }
        DWORD got = 0;
        // The time-outs set at open make this return at once when a byte is queued and
        // otherwise after the idle time-out of the speed.
        if (!ReadFile(handle_, &byte, 1, &got, nullptr)) {
            // A failed read (a vanished adapter) returns at once; wait the time-out as a
            // silent read would, so the port thread does not spin.
            Sleep(DWORD(timeout.count()));
            return Read::Error;
        }
        return got == 1 ? Read::Byte : Read::Timeout;
    }

    // Synchronous reads cannot be woken; a request then leaves after the current idle read.
    void Wake() override {}

    bool Write(const uint8_t* data, size_t length, std::chrono::milliseconds) override {
        if (handle_ == nullptr)
            return false;
        DWORD written = 0;
        return WriteFile(handle_, data, DWORD(length), &written, nullptr) && written == length;
    }

    void Purge() override {
        if (handle_ != nullptr)
            PurgeComm(handle_, PURGE_TXCLEAR | PURGE_RXCLEAR);
    }

    const std::string& error() const override { return error_; }

private:
    HANDLE handle_ = nullptr;
    std::string error_;
};

} // namespace

std::unique_ptr<SerialPort> MakeSerialPort() {
    return std::make_unique<Win32SerialPort>();
}

bool SpeedSupported(uint32_t baudRate) {
    return baudRate > 0;
}

} // namespace vq31
