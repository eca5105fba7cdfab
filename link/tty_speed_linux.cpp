// Linux termios2 speed access. Kept in its own file: the kernel's termios2 header and the C
// library's termios header cannot be included together.
#include "tty_speed.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace vq31 {

bool TtySetSpeed(int fd, uint32_t baudRate) {
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0)
        return false;
    tio.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    tio.c_ispeed = baudRate;
    tio.c_ospeed = baudRate;
    return ioctl(fd, TCSETS2, &tio) == 0;
}

uint32_t TtyGetSpeed(int fd) {
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0)
        return 0;
    return tio.c_ospeed;
}

bool TtySpeedSupported(uint32_t baudRate) {
    return baudRate > 0;
}

} // namespace vq31
