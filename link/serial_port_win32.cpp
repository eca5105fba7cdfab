// Win32 serial port: "COM<n>" opened as "\\.\COM<n>" for overlapped I/O, the line settings
// read from the driver and set field by field, driver queues of 5000 bytes. Every setting
// the driver refuses fails the open with the system's message and closes the port.
// Reading keeps one overlapped one-byte read waiting in the driver; a call waits for it at
// most its own time-out (a wakeable call also until Wake, so a request leaves as soon as it
// is made once the line is known idle) and leaves it waiting when the time runs out, so an
// idle line costs no cancelling. Once a byte has come, whatever else the driver holds is
// fetched in one read and handed out byte by byte. The time-out of the first read after such
// a run is a silence counted from the moment the run was known to be in the driver, not from
// the call: fetching the run and judging it cost the caller time that the line was already
// silent (under Wine each read is several round trips to its server), and counting it again
// would lengthen every pause before the next request. Writes are bounded by the caller's
// limit as well as by the driver's write time-outs. The ports present come from the
// registry's serial device map.
#include "doctor.h"
#include "serial_port.h"

#include "protocol.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <windows.h>

namespace vq31 {

namespace {

constexpr DWORD DriverQueueBytes = 5000;
// The last part of a read's wait that is slept and polled rather than waited on (see
// WaitForByte).
constexpr std::chrono::milliseconds FinalPollWindow{5};
// The highest COM number the system's port database hands out.
constexpr unsigned long HighestComNumber = 4096;
constexpr const wchar_t* SerialDeviceMap = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";

std::string Utf8(const wchar_t* text, size_t length) {
    if (length == 0)
        return {};
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, text, int(length), nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        return {};
    std::string out(size_t(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, int(length), out.data(), size, nullptr, nullptr);
    return out;
}

// The system's message for an error code, without its line end.
std::string SystemMessage(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string message = length ? Utf8(text, length) : std::string();
    if (text)
        LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.'))
        message.pop_back();
    return (message.empty() ? "system error" : message) + " (error " + std::to_string(code) + ")";
}

// The number of "COM3", "com3", "\\.\COM3" or "//./COM3"; 0 when the name is not a COM
// port name or the number lies outside 1..HighestComNumber.
unsigned long ComNumber(const std::string& name) {
    std::string n = name;
    for (const char* prefix : {"\\\\.\\", "//./"})
        if (n.rfind(prefix, 0) == 0)
            n = n.substr(4);
    if (n.size() < 4 || n.size() > 7 || std::toupper(static_cast<unsigned char>(n[0])) != 'C' ||
        std::toupper(static_cast<unsigned char>(n[1])) != 'O' ||
        std::toupper(static_cast<unsigned char>(n[2])) != 'M')
        return 0;
    unsigned long number = 0;
    for (size_t i = 3; i < n.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(n[i])))
            return 0;
        number = number * 10 + unsigned(n[i] - '0'); // at most 4 digits: no overflow
    }
    return number <= HighestComNumber ? number : 0;
}

bool PortListed(unsigned long number) {
    for (const PortInfo& p : ListSerialPorts())
        if (ComNumber(p.device) == number)
            return true;
    return false;
}

class Win32SerialPort final : public SerialPort {
public:
    Win32SerialPort()
        : wake_(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
          readEvent_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          writeEvent_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

    ~Win32SerialPort() override {
        Close();
        for (HANDLE e : {wake_, readEvent_, writeEvent_})
            if (e)
                CloseHandle(e);
    }

    bool Open(const std::string& name, uint32_t baudRate) override {
        Close();
        error_.clear();
        errorNumber_ = 0;
        const unsigned long number = ComNumber(name);
        if (number == 0) {
            error_ = name + " is not a COM port name (COM1 to COM" +
                     std::to_string(HighestComNumber) + ")";
            return false;
        }
        if (!wake_ || !readEvent_ || !writeEvent_) {
            error_ = name + ": cannot create the port's events: " + SystemMessage(GetLastError());
            return false;
        }
        const std::wstring path = L"\\\\.\\COM" + std::to_wstring(number);
        const HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            const DWORD e = GetLastError();
            errorNumber_ = int(e);
            error_ = e == ERROR_ACCESS_DENIED ? name + " is in use by another program"
                     : e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND
                         ? name + " does not exist"
                         : name + ": " + SystemMessage(e);
            return false;
        }
        if (!SetupComm(h, DriverQueueBytes, DriverQueueBytes))
            return Refused(h, name, "cannot set the driver queues");
        // The driver's own settings fill the fields not set here; a driver that cannot tell
        // them (Wine on a pseudo-terminal) gets the usual flow control characters.
        DCB dcb{};
        dcb.DCBlength = sizeof(DCB);
        if (!GetCommState(h, &dcb)) {
            dcb = DCB{};
            dcb.DCBlength = sizeof(DCB);
            dcb.XonChar = 0x11;
            dcb.XoffChar = 0x13;
        }
        dcb.BaudRate = baudRate;
        dcb.fBinary = 1;
        dcb.fParity = 0;
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
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        if (!SetCommState(h, &dcb))
            return Refused(h, name, "cannot set " + std::to_string(baudRate) + " bit/s, 8N1");
        // Reads without a driver time-out: a read ends when its buffer is full, and reads here
        // ask for one byte or for what is already queued; the wait for the one byte is bounded
        // by each call. Writes: the wire time of each byte plus 500 ms.
        COMMTIMEOUTS t{};
        t.WriteTotalTimeoutMultiplier = 10000 / (baudRate ? baudRate : 1) + 1;
        t.WriteTotalTimeoutConstant = DWORD(AnswerByteWindow.count());
        if (!SetCommTimeouts(h, &t))
            return Refused(h, name, "cannot set the time-outs");
        if (!PurgeComm(h, PURGE_TXCLEAR | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_RXABORT))
            return Refused(h, name, "cannot clear the driver queues");
        handle_ = h;
        number_ = number;
        vanished_ = false;
        pending_ = false;
        head_ = tail_ = 0;
        runHandedOut_ = false;
        return true;
    }

    void Close() override {
        if (handle_ != nullptr) {
            EndPendingRead();
            CloseHandle(handle_);
        }
        handle_ = nullptr;
        vanished_ = false;
        head_ = tail_ = 0;
        runHandedOut_ = false;
    }

    bool IsOpen() const override { return handle_ != nullptr; }

    Read ReadByte(uint8_t& byte, std::chrono::milliseconds timeout, bool wakeable) override {
        if (head_ < tail_) {
            byte = buffer_[head_++];
            return Read::Byte;
        }
        // Every byte of the last run had come by arrivedBy_, so the line has been silent since
        // then at least; only the first read after the run counts from there.
        const auto now = std::chrono::steady_clock::now();
        const auto deadline = (runHandedOut_ ? std::min(now, arrivedBy_) : now) + timeout;
        runHandedOut_ = false;
        if (handle_ == nullptr)
            return SleepUntil(deadline);
        DWORD got = 0;
        if (!pending_) {
            // Bytes already queued are taken at once, without a wait.
            if (const DWORD queued = Queued(); queued > 0) {
                const auto seen = std::chrono::steady_clock::now();
                got = ReadQueued(0, std::min<DWORD>(queued, sizeof buffer_));
                if (got > 0) {
                    HandOutRun(got, seen);
                    byte = buffer_[0];
                    return Read::Byte;
                }
            }
            readOv_ = OVERLAPPED{}; // the read resets its event as it starts
            readOv_.hEvent = readEvent_;
            if (ReadFile(handle_, buffer_, 1, &got, &readOv_)) {
                if (got == 0)
                    return SleepUntil(deadline); // a driver that ends reads early
            } else if (GetLastError() == ERROR_IO_PENDING) {
                pending_ = true;
            } else {
                return SleepUntil(deadline); // a vanished adapter
            }
        }
        if (pending_) {
            const Waited w = WaitForByte(deadline, wakeable);
            if (w == Waited::Timeout || w == Waited::Woken)
                return Read::Timeout; // the read stays waiting for the next call
            if (w == Waited::Failed)
                return SleepUntil(deadline);
            pending_ = false;
            if (!GetOverlappedResult(handle_, &readOv_, &got, FALSE) || got == 0)
                return SleepUntil(deadline);
        }
        // The rest of an answer is usually queued already: fetch it in one read. The bytes
        // counted here had all come when the count returned.
        const DWORD queued = Queued();
        const auto seen = std::chrono::steady_clock::now();
        DWORD run = 1;
        if (queued > 0)
            run += ReadQueued(1, std::min<DWORD>(queued, sizeof buffer_ - 1));
        HandOutRun(run, seen);
        byte = buffer_[0];
        return Read::Byte;
    }

    void Wake() override {
        woken_ = true;
        if (wake_)
            SetEvent(wake_);
    }

    bool Write(const uint8_t* data, size_t length, std::chrono::milliseconds limit) override {
        if (handle_ == nullptr)
            return false;
        OVERLAPPED ov{};
        // Reset by the write as it starts. The low bit set keeps the write's end from being
        // posted to a completion port: the port has none, and under Wine the posting is one
        // more round trip to its server between the request and the wait for the answer.
        ov.hEvent = reinterpret_cast<HANDLE>(reinterpret_cast<ULONG_PTR>(writeEvent_) | 1);
        DWORD written = 0;
        if (!WriteFile(handle_, data, DWORD(length), &written, &ov)) {
            if (GetLastError() != ERROR_IO_PENDING)
                return false;
            if (WaitForSingleObject(writeEvent_, DWORD(limit.count())) != WAIT_OBJECT_0)
                CancelIoEx(handle_, &ov);
            if (!GetOverlappedResult(handle_, &ov, &written, TRUE))
                return false;
        }
        return written == length;
    }

    void Purge() override {
        if (handle_ != nullptr) {
            PurgeComm(handle_, PURGE_TXCLEAR | PURGE_RXCLEAR);
            runHandedOut_ = false;
            // A byte the waiting read took before the purge is a leftover too (nothing new
            // comes before the next request); a read still waiting stays for the answer.
            DWORD got = 0;
            if (pending_ && HasOverlappedIoCompleted(&readOv_)) {
                pending_ = false;
                GetOverlappedResult(handle_, &readOv_, &got, FALSE);
            }
        }
        head_ = tail_ = 0;
    }

    const std::string& error() const override { return error_; }
    bool Vanished() const override { return vanished_; }
    int errorNumber() const override { return errorNumber_; }

private:
    // Closes a port whose driver refused a setting; the open fails with the system's reason.
    bool Refused(HANDLE h, const std::string& name, const std::string& what) {
        const DWORD e = GetLastError();
        CloseHandle(h);
        handle_ = nullptr;
        errorNumber_ = int(e);
        error_ = name + ": " + what + ": " + SystemMessage(e);
        return false;
    }

    enum class Waited { Byte, Timeout, Woken, Failed };

    // Waits for the waiting read to end, for Wake when wakeable, or until deadline. The
    // system's timed wait covers all but the last FinalPollWindow; that last part is slept in
    // 1 ms steps, looking at the read, the driver queue and Wake between them. The last
    // fraction of a millisecond of a read that is not wakeable (the silence after an answer)
    // is yielded away rather than slept, since a sleep cannot be shorter than 1 ms and would
    // overrun the deadline by most of one; a wakeable read ends by Wake when it matters, so
    // it sleeps rather than keep the processor busy while the link waits. A timed wait can
    // overrun by several milliseconds on a busy machine (under Wine by most) while a sleep
    // keeps time, and a silent line must be found silent on time: the idle time-out before
    // every request is the floor of each exchange.
    Waited WaitForByte(std::chrono::steady_clock::time_point deadline, bool wakeable) {
        const HANDLE events[2] = {readEvent_, wake_};
        for (;;) {
            if (wakeable && woken_.exchange(false)) {
                ResetEvent(wake_);
                return Waited::Woken;
            }
            // A byte taken while the caller was busy (an answer that came during the write)
            // needs no wait, which under Wine is a round trip to its server.
            if (HasOverlappedIoCompleted(&readOv_))
                return Waited::Byte;
            const auto exact = deadline - std::chrono::steady_clock::now();
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(exact);
            if (left > FinalPollWindow) {
                const DWORD w = WaitForMultipleObjects(wakeable ? 2 : 1, events, FALSE,
                                                       DWORD((left - FinalPollWindow).count()));
                if (w == WAIT_OBJECT_0)
                    return Waited::Byte;
                if (w == WAIT_OBJECT_0 + 1) {
                    woken_ = false; // the event was the wake; a later Wake sets both again
                    return Waited::Woken;
                }
                if (w != WAIT_TIMEOUT)
                    return Waited::Failed;
                continue;
            }
            if (HasOverlappedIoCompleted(&readOv_))
                return Waited::Byte;
            // A byte is queued but the read has not taken it yet (Wine hands it over only
            // within a wait): the wait ends at once.
            if (Queued() > 0)
                return WaitForSingleObject(readEvent_, DWORD(AnswerByteWindow.count())) ==
                               WAIT_OBJECT_0
                           ? Waited::Byte
                           : Waited::Failed;
            if (left.count() <= 0)
                return Waited::Timeout;
            if (exact >= std::chrono::milliseconds(1) || wakeable)
                Sleep(1);
            else
                SwitchToThread();
        }
    }

    // The number of bytes the driver holds, 0 also when it cannot tell.
    DWORD Queued() {
        DWORD errors = 0;
        COMSTAT status{};
        return ClearCommError(handle_, &errors, &status) ? status.cbInQue : 0;
    }

    // Reads count bytes the driver already holds into the buffer at offset; the number read.
    // No read waits in the driver meanwhile, so the port's own handle signals the end (no
    // event to set and reset for a read that ends at once).
    DWORD ReadQueued(DWORD offset, DWORD count) {
        OVERLAPPED ov{};
        DWORD got = 0;
        if (ReadFile(handle_, buffer_ + offset, count, &got, &ov))
            return got;
        if (GetLastError() != ERROR_IO_PENDING)
            return 0;
        // Queued bytes come at once (under Wine the read has often ended by the time the call
        // returns); the bound only guards against a driver that lied.
        if (!HasOverlappedIoCompleted(&ov) &&
            WaitForSingleObject(handle_, DWORD(AnswerByteWindow.count())) != WAIT_OBJECT_0)
            CancelIoEx(handle_, &ov);
        // A cancelled read still reports the bytes it had taken.
        GetOverlappedResult(handle_, &ov, &got, TRUE);
        return got;
    }

    // Hands out a run of count bytes from the buffer's start, all of which had come by seen.
    void HandOutRun(DWORD count, std::chrono::steady_clock::time_point seen) {
        head_ = 1;
        tail_ = count;
        arrivedBy_ = seen;
        runHandedOut_ = true;
    }

    // Cancels the waiting read and waits until the driver has let go of its buffer.
    void EndPendingRead() {
        if (!pending_)
            return;
        CancelIoEx(handle_, &readOv_);
        DWORD got = 0;
        GetOverlappedResult(handle_, &readOv_, &got, TRUE);
        pending_ = false;
    }

    // A failed read (a vanished adapter) returns at once; wait the time-out as a silent
    // read would, so the port thread does not spin. A failed read on a port that the
    // registry's serial device map no longer lists is an unplugged adapter.
    Read SleepUntil(std::chrono::steady_clock::time_point deadline) {
        if (handle_ != nullptr && !vanished_ && !PortListed(number_))
            vanished_ = true;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() > 0)
            Sleep(DWORD(left.count()));
        return Read::Error;
    }

    HANDLE handle_ = nullptr;
    HANDLE wake_ = nullptr; // auto-reset: one Wake ends one wakeable read
    HANDLE readEvent_ = nullptr;
    HANDLE writeEvent_ = nullptr;
    OVERLAPPED readOv_{};               // of the read waiting in the driver, while pending_
    bool pending_ = false;              // a one-byte read into buffer_[0] waits in the driver
    std::atomic<bool> woken_{false};    // set by Wake with the event, for the sleeping part
    unsigned long number_ = 0;          // the COM number, set at open
    std::atomic<bool> vanished_{false}; // written by the port thread, read by any
    std::string error_;
    int errorNumber_ = 0;
    uint8_t buffer_[4096];
    DWORD head_ = 0;
    DWORD tail_ = 0;
    // When the run in the buffer was known to have come whole, and whether no read with an
    // empty buffer has been made since it was fetched.
    std::chrono::steady_clock::time_point arrivedBy_{};
    bool runHandedOut_ = false;
};

} // namespace

std::unique_ptr<SerialPort> MakeSerialPort() {
    return std::make_unique<Win32SerialPort>();
}

bool SpeedSupported(uint32_t baudRate) {
    return baudRate > 0;
}

// The COM ports the drivers have registered, by number: "COM3" with the driver's device
// name ("\Device\Serial0", "\Device\VCP0") as its description. COM names are already kept
// per adapter by the system, so there is no separate stable name.
std::vector<PortInfo> ListSerialPorts(const DoctorRoots&) {
    std::vector<PortInfo> ports;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, SerialDeviceMap, 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS)
        return ports;
    for (DWORD i = 0;; ++i) {
        wchar_t device[256];
        DWORD deviceLength = 256;
        wchar_t port[64] = {};
        DWORD portBytes = sizeof port - sizeof(wchar_t); // room for an added end
        DWORD type = 0;
        const LONG r = RegEnumValueW(key, i, device, &deviceLength, nullptr, &type,
                                     reinterpret_cast<BYTE*>(port), &portBytes);
        if (r == ERROR_NO_MORE_ITEMS)
            break;
        if (r != ERROR_SUCCESS || type != REG_SZ)
            continue; // a name too long for a COM port, or not text
        size_t length = portBytes / sizeof(wchar_t);
        while (length > 0 && port[length - 1] == L'\0')
            --length;
        PortInfo info;
        info.device = Utf8(port, length);
        info.description = Utf8(device, deviceLength);
        if (ComNumber(info.device) != 0)
            ports.push_back(std::move(info));
    }
    RegCloseKey(key);
    std::sort(ports.begin(), ports.end(), [](const PortInfo& a, const PortInfo& b) {
        return ComNumber(a.device) < ComNumber(b.device);
    });
    return ports;
}

} // namespace vq31
