// Whether the shipped Russian section's text stands for a built-in text.
#pragma once

#include <optional>
#include <string>

namespace vq31 {

// The Russian section holds the built-in text, except where that text is Latin alone (the
// captions "Auth:", "Set" and the like): there it gives Russian words (Cyrillic letters, UTF-8
// lead bytes 0xD0 and 0xD1), so that the Russian window shows no English.
inline bool RussianTextFits(const std::optional<std::string>& russian, const std::string& builtIn) {
    if (!russian)
        return false;
    if (*russian == builtIn)
        return true;
    const bool latinOnly =
        builtIn.find_first_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") !=
            std::string::npos &&
        builtIn.find_first_of("\xD0\xD1") == std::string::npos;
    return latinOnly && russian->find_first_of("\xD0\xD1") != std::string::npos;
}

} // namespace vq31
