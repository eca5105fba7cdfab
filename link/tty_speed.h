// Line speed of a terminal device in bit/s, through the Linux arbitrary-speed interface
// where it exists (so 14400 and other speeds without a constant work), else the standard
// constants. Used by the port layer to set the speed and by the simulated sensor to read the
// speed the tool set on a pseudo-terminal (both ends share one termios).
#pragma once

#include <cstdint>

namespace vq31 {

// Sets input and output speed; false when the speed cannot be set.
bool TtySetSpeed(int fd, uint32_t baudRate);
// The output speed in bit/s, or 0 when it cannot be read.
uint32_t TtyGetSpeed(int fd);
// Whether the speed can be set at all on this platform.
bool TtySpeedSupported(uint32_t baudRate);

} // namespace vq31
