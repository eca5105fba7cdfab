// Formatting of the echo status words.
#include "echo_format.h"
#include "hub_image.h"

#include <cstdio>
#include <string>

namespace vq31 {

namespace {
std::string Fixed1(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}
std::string Word(const EchoStatusRecord& s, size_t index) {
    return std::to_string(s[index]);
}
} // namespace

EchoLabels FormatEchoLabels(const EchoStatusRecord& s, const LanguageTexts& texts) {
    EchoLabels l;
    l.freq = Word(s, echo::Frequency);
    l.filter =
        s[echo::Filter] == echo::WideBandFilter ? texts.Text(msg::Wide) : Word(s, echo::Filter);
    l.ku = Word(s, echo::Gain);
    l.atten = Word(s, echo::Attenuator);
    l.pulse = Fixed1(s[echo::PulseWidth] * 0.1);
    return l;
}

EchoFields FormatEchoFields(const EchoStatusRecord& s, const LanguageTexts& texts) {
    EchoFields f;
    f.auth = s[echo::ErrorCode] == 0 ? texts.Text(msg::Ok)
                                     : texts.Text(msg::ErrorE) + Word(s, echo::ErrorCode);
    f.pos = Word(s, echo::Position) + "/" + Word(s, echo::Divider);
    f.corr = Word(s, echo::Corrected);
    f.uncorr = Word(s, echo::Uncorrected);
    f.frame = Word(s, echo::FrameCounter);
    f.temp = Fixed1(int16_t(s[echo::Temperature]) * 0.00390625);
    f.mm = std::to_string(LevelMillimetres(s[echo::Level]));
    return f;
}

EchoFields DashEchoFields() {
    return {"-", "-", "-", "-", "-", "-", "-"};
}

} // namespace vq31
