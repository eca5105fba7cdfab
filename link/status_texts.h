// Status-bar texts of the link: 256 device status texts indexed by status code and the
// three port status texts, with their language keys and built-in Russian defaults. The
// language file may replace any of them.
#pragma once

#include <array>
#include <string>

namespace vq31 {

struct StatusTexts {
    std::array<std::string, 256> device; // DeviceStatusTexts
    std::array<std::string, 3> port;     // PortStatusTexts: opened, closed, open error

    // The built-in Russian texts.
    static StatusTexts Defaults();
    // Language key of a device status code ("sta_device0" ...), empty when it has none.
    static std::string DeviceKey(int code);
    static const std::array<const char*, 3>& PortKeys();
};

// Port status indices.
inline constexpr int PortOpened = 0;
inline constexpr int PortClosed = 1;
inline constexpr int PortOpenError = 2;

} // namespace vq31
