// The texts and masks the worker hands to the window: echo labels and fields, the display
// test walk and manual masks, the tuning bar, and the built-in texts.
#include "echo_format.h"
#include "language_texts.h"
#include "worker_view.h"

#include <gtest/gtest.h>

namespace vq31 {
namespace {

EchoStatusRecord Record(std::initializer_list<std::pair<size_t, uint16_t>> words) {
    EchoStatusRecord r{};
    for (const auto& [index, value] : words)
        r[index] = value;
    return r;
}

TEST(EchoTexts, FilterLabelShowsWideOnlyForTheWideBandValue) {
    const LanguageTexts texts;
    EXPECT_EQ(FormatEchoLabels(Record({{echo::Filter, 450}}), texts).filter, "Wide");
    EXPECT_EQ(FormatEchoLabels(Record({{echo::Filter, 451}}), texts).filter, "451");
}

TEST(EchoTexts, EchoErrorShowsOkOrTheErrorNumber) {
    const LanguageTexts texts;
    EXPECT_EQ(FormatEchoFields(Record({{echo::ErrorCode, 0}}), texts).auth, "OK");
    EXPECT_EQ(FormatEchoFields(Record({{echo::ErrorCode, 7}}), texts).auth, "Ошибка Е7");
}

TEST(EchoTexts, SignedTemperatureRoundedLevelAndPosition) {
    const LanguageTexts texts;
    const auto f = FormatEchoFields(Record({{echo::Temperature, uint16_t(-1280)},
                                            {echo::Level, 12345},
                                            {echo::Position, 812},
                                            {echo::Divider, 4}}),
                                    texts);
    EXPECT_EQ(f.temp, "-5.0");
    EXPECT_EQ(f.mm, "1235");
    EXPECT_EQ(f.pos, "812/4");
}

TEST(EchoTexts, PulseWidthInTenthsAndReplacedTexts) {
    LanguageTexts texts;
    texts.Set(msg::Wide, "ШП");
    const auto l = FormatEchoLabels(Record({{echo::PulseWidth, 57}, {echo::Filter, 450}}), texts);
    EXPECT_EQ(l.pulse, "5.7");
    EXPECT_EQ(l.filter, "ШП");
}

TEST(DisplayPattern, AutomaticWalkVisitsEverySegmentOnceAndWraps) {
    std::vector<uint32_t> sent;
    uint32_t mask = 256; // the window's start value
    for (int i = 0; i < 17; ++i)
        sent.push_back(mask = AdvanceDisplayPattern(mask));
    const std::vector<uint32_t> expected = {512, 1024, 2048, 4096, 8192,   16384, 1,   2,   4,
                                            8,   16,   32,   64,   131072, 256,   512, 1024};
    EXPECT_EQ(sent, expected);
    EXPECT_EQ(AdvanceDisplayPattern(0), 256u);
}

TEST(DisplayPattern, ManualMaskFollowsTheBoxTable) {
    std::array<bool, 17> boxes{};
    boxes[16] = true;
    EXPECT_EQ(DisplayPatternFromBoxes(boxes), 131072u);
    boxes.fill(true); // boxes 7 and 15 do not exist and add nothing
    EXPECT_EQ(DisplayPatternFromBoxes(boxes), 163711u);
    boxes.fill(false);
    boxes[0] = boxes[8] = true;
    EXPECT_EQ(DisplayPatternFromBoxes(boxes), 0x101u);
}

TEST(TuneBar, AdvancesAtMostOncePerSecondAndWrapsAtTheTop) {
    uint32_t advance = 0; // a step button was just clicked
    int32_t bar = 0;
    bar = StepTuneBar(bar, advance, 5000);
    EXPECT_EQ(bar, 1);
    EXPECT_EQ(advance, 5000u);
    bar = StepTuneBar(bar, advance, 5900);
    EXPECT_EQ(bar, 1);
    bar = StepTuneBar(bar, advance, 6000); // exactly one second is not more than one
    EXPECT_EQ(bar, 1);
    for (uint32_t now = 6001; bar != TuneBarMax; now += 1001)
        bar = StepTuneBar(bar, advance, now);
    bar = StepTuneBar(bar, advance, advance + 1001);
    EXPECT_EQ(bar, 0);
}

TEST(LanguageTextsTable, DefaultsCoverEveryKeyAndReplacementKeepsOthers) {
    LanguageTexts texts;
    for (const auto& e : LanguageTexts::MessageDefaults())
        EXPECT_EQ(texts.Text(e.key), e.text);
    for (const auto& e : LanguageTexts::ListDefaults())
        EXPECT_EQ(texts.Text(e.key), e.text);
    EXPECT_EQ(LanguageTexts::ListDefaults().size(), 20u);
    texts.Set(msg::Ok, "");
    EXPECT_EQ(texts.Text(msg::Ok), ""); // a present empty value gives an empty text
    EXPECT_EQ(texts.Text(msg::ErrorE), "Ошибка Е");
    EXPECT_EQ(texts.Text("no_such_key"), "");
    EXPECT_EQ(texts.DeviceStatus(6), "Статус устройства: Устройство не отвечает");
    EXPECT_EQ(texts.DeviceStatus(300), "");
    EXPECT_EQ(texts.PortStatus(PortClosed), "Статус порта: Порт закрыт");
}

} // namespace
} // namespace vq31
