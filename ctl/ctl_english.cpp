// English texts of the tool, read from the language file's [English] section that the build
// embeds as bytes (ctl_language_file.inc).
#include "ctl_english.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace vq31::ctl {

namespace {

constexpr unsigned char LanguageFile[] = {
#include "ctl_language_file.inc"
};

LanguageTexts LoadEnglish() {
    LanguageTexts texts;
    const std::string_view file(reinterpret_cast<const char*>(LanguageFile), sizeof LanguageFile);
    bool inSection = false;
    size_t start = 0;
    while (start < file.size()) {
        size_t end = file.find('\n', start);
        if (end == std::string_view::npos)
            end = file.size();
        std::string_view line = file.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (!line.empty() && line.front() == '[') {
            inSection = line == "[English]";
            continue;
        }
        const size_t eq = line.find('=');
        if (!inSection || eq == std::string_view::npos || eq == 0)
            continue;
        const std::string key(line.substr(0, eq));
        std::string value(line.substr(eq + 1));
        const int code = key.rfind("sta_device", 0) == 0 ? std::atoi(key.c_str() + 10) : -1;
        if (code >= 0 && code < 256 && StatusTexts::DeviceKey(code) == key) {
            texts.Status().device[size_t(code)] = value;
            continue;
        }
        const auto& portKeys = StatusTexts::PortKeys();
        bool port = false;
        for (size_t i = 0; i < portKeys.size(); ++i)
            if (key == portKeys[i]) {
                texts.Status().port[i] = value;
                port = true;
            }
        if (!port && (key.rfind("msg_", 0) == 0 || key.rfind("str_", 0) == 0))
            texts.Set(key, std::move(value));
    }
    return texts;
}

} // namespace

const LanguageTexts& EnglishTexts() {
    static const LanguageTexts texts = LoadEnglish();
    return texts;
}

const StatusTexts& EnglishStatus() {
    return EnglishTexts().Status();
}

} // namespace vq31::ctl
