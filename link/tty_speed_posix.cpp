// Speed access for POSIX systems without an arbitrary-speed interface: standard constants
// only, so a speed without a constant (14400) fails the open.
#include "tty_speed.h"

#include <termios.h>

namespace vq31 {

namespace {
speed_t ToConstant(uint32_t baud) {
    switch (baud) {
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    case 230400:
        return B230400;
    default:
        return B0;
    }
}
uint32_t FromConstant(speed_t s) {
    for (uint32_t b : {1200u, 2400u, 4800u, 9600u, 19200u, 38400u, 57600u, 115200u, 230400u})
        if (ToConstant(b) == s)
            return b;
    return 0;
}
} // namespace

bool TtySetSpeed(int fd, uint32_t baudRate) {
    const speed_t s = ToConstant(baudRate);
    termios tio{};
    if (s == B0 || tcgetattr(fd, &tio) != 0)
        return false;
    cfsetispeed(&tio, s);
    cfsetospeed(&tio, s);
    return tcsetattr(fd, TCSANOW, &tio) == 0;
}

uint32_t TtyGetSpeed(int fd) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0)
        return 0;
    return FromConstant(cfgetospeed(&tio));
}

bool TtySpeedSupported(uint32_t baudRate) {
    return ToConstant(baudRate) != B0;
}

} // namespace vq31
