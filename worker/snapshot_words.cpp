// Snapshots in plain words: reasons and the comparison with the device.
#include "snapshot_words.h"

#include "hub_image.h"
#include "parameter_format.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

namespace vq31 {

namespace {

std::string FieldLabel(const LanguageTexts& texts, const char* fileKey) {
    return texts.Text(std::string("str_field_") + fileKey);
}

std::string Number(uint32_t v) {
    return std::to_string(v);
}

std::string HexByte(uint32_t v) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", v & 0xFFu);
    return text;
}

// Tenths of a millimetre as millimetres, with the tenth only when there is one.
std::string Millimetres(uint32_t tenths) {
    std::string text = std::to_string(tenths / 10);
    if (tenths % 10)
        text += "." + std::to_string(tenths % 10);
    return text;
}

std::string ListItem(const LanguageTexts& texts, const std::string& prefix, uint32_t index,
                     uint32_t items) {
    return index < items ? texts.Text(prefix + std::to_string(index)) : Number(index);
}

std::string OnOff(const LanguageTexts& texts, bool on) {
    return texts.Text(on ? msg::DiffOn : msg::DiffOff);
}

struct Line {
    const LanguageTexts& texts;
    std::vector<std::string>& out;
    void operator()(const std::string& label, const std::string& device,
                    const std::string& saved) const {
        out.push_back(WithArguments(texts.Text(msg::DiffLine), {label, device, saved}));
    }
};

// The link flags split into what the settings page shows of them.
void LinkFlagLines(const Line& line, uint32_t device, uint32_t saved) {
    const LanguageTexts& t = line.texts;
    const auto speed = [](uint32_t f) {
        const auto s = SpeedOfLinkFlags(f);
        return s ? Number(*s) : std::string("-");
    };
    const auto bit = [](uint32_t f, int b) { return (f >> b) & 1u; };
    if ((device & flags::SpeedMask) != (saved & flags::SpeedMask))
        line(FieldLabel(t, "speed"), speed(device), speed(saved));
    if (bit(device, 0) != bit(saved, 0))
        line(FieldLabel(t, "auto"), OnOff(t, bit(device, 0)), OnOff(t, bit(saved, 0)));
    if (bit(device, flags::Answer255Bit) != bit(saved, flags::Answer255Bit))
        line(FieldLabel(t, "answer255"),
             ListItem(t, "str_cmb_255Ans", bit(device, flags::Answer255Bit), 2),
             ListItem(t, "str_cmb_255Ans", bit(saved, flags::Answer255Bit), 2));
    if (bit(device, flags::DataWidthBit) != bit(saved, flags::DataWidthBit))
        line(FieldLabel(t, "bits"),
             ListItem(t, "str_cmb_bits", bit(device, flags::DataWidthBit), 2),
             ListItem(t, "str_cmb_bits", bit(saved, flags::DataWidthBit), 2));
    constexpr uint32_t Shown = flags::AutoOutput | flags::SpeedMask | (1u << flags::Answer255Bit) |
                               (1u << flags::DataWidthBit);
    if ((device & ~Shown) != (saved & ~Shown))
        line(FieldLabel(t, "otherflags"), HexByte(device), HexByte(saved));
}

std::string FieldValue(const LanguageTexts& t, const char* key, uint32_t v) {
    if (!std::strcmp(key, "fueltype"))
        return ListItem(t, "str_cmb_FuelType", v, 4);
    if (!std::strcmp(key, "tempcoef") || !std::strcmp(key, "soundspeed"))
        return FuelNumberText(FloatFromBits(v));
    if (!std::strcmp(key, "tankheight"))
        return Millimetres(v);
    return Number(v);
}

std::unique_ptr<HubBuffer> ImageOf(const std::vector<uint8_t>& bytes) {
    auto image = std::make_unique<HubBuffer>();
    std::copy_n(bytes.begin(), std::min(bytes.size(), HubBufferSize), image->bytes().begin());
    return image;
}

// Rows of a tank's table in an image, none when the image holds no such tank.
std::optional<uint32_t> RowsOf(const HubBuffer& image, uint32_t id) {
    const auto entry = HubFindEntry(image, uint16_t(id));
    if (!entry)
        return std::nullopt;
    return uint32_t(HubEntryHead(image, *entry).RowCount);
}

void HubLines(const Line& line, const Snapshot& saved, const Snapshot& device) {
    const LanguageTexts& t = line.texts;
    bool header = false;
    const auto tanks = TanksThatDiffer(device.hub, saved.hub, header);
    const auto d = ImageOf(device.hub);
    const auto s = ImageOf(saved.hub);
    if (!HubIsValid(*d) || !HubIsValid(*s)) {
        if (header)
            line.out.push_back(
                WithArguments(t.Text(msg::DiffHubBytes), {Number(uint32_t(device.hub.size())),
                                                          Number(uint32_t(saved.hub.size()))}));
        return;
    }
    if (d->Version() != s->Version())
        line(FieldLabel(t, "hubversion"), HubVersionText(d->Version()),
             HubVersionText(s->Version()));
    if (d->MlPerBit() != s->MlPerBit()) {
        const auto words = [&](const HubBuffer& image) {
            const int index = MlPerBitIndex(image.MlPerBit());
            return index >= 0 ? ListItem(t, "str_cmb_MlPerBit", uint32_t(index), 5)
                              : Number(image.MlPerBit());
        };
        line(FieldLabel(t, "mlperbit"), words(*d), words(*s));
    }
    for (const uint32_t id : tanks) {
        const auto rows = [&](const HubBuffer& image) {
            const auto n = RowsOf(image, id);
            return n ? WithArguments(t.Text(msg::DiffRows), {Number(*n)}) : t.Text(msg::DiffAbsent);
        };
        const std::string label = WithArguments(t.Text(msg::DiffTable), {Number(id)});
        const auto dr = RowsOf(*d, id), sr = RowsOf(*s, id);
        if (dr && sr && *dr == *sr)
            line.out.push_back(WithArguments(t.Text(msg::DiffTableValues), {label, Number(*dr)}));
        else
            line(label, rows(*d), rows(*s));
    }
}

} // namespace

std::string ReasonWords(const SnapshotReason& r, const LanguageTexts& texts,
                        const std::string& from) {
    using Kind = SnapshotReason::Kind;
    switch (r.kind) {
    case Kind::TareTable:
        return WithArguments(texts.Text(msg::ReasonTable), {Number(r.tank)});
    case Kind::TankList:
        return texts.Text(msg::ReasonTanks);
    case Kind::ActiveTank:
        return WithArguments(texts.Text(msg::ReasonActive), {Number(r.tank)});
    case Kind::TankHeight:
        return texts.Text(msg::ReasonHeight);
    case Kind::Settings: {
        std::string names;
        for (const std::string& f : r.fields)
            names += (names.empty() ? "" : ", ") + FieldLabel(texts, f.c_str());
        return WithArguments(texts.Text(msg::ReasonSettings), {names});
    }
    case Kind::Restore:
        return WithArguments(texts.Text(msg::ReasonRestore), {from});
    case Kind::Unknown:
        break;
    }
    return texts.Text(msg::ReasonUnknown);
}

std::vector<std::string> DifferenceLines(const Snapshot& saved, const Snapshot& device,
                                         const LanguageTexts& texts) {
    std::vector<std::string> out;
    const Line line{texts, out};
    for (const FieldDifference& f : FieldDifferences(device, saved)) {
        if (!std::strcmp(f.key, "linkflags"))
            LinkFlagLines(line, f.a, f.b);
        else
            line(FieldLabel(texts, f.key), FieldValue(texts, f.key, f.a),
                 FieldValue(texts, f.key, f.b));
    }
    HubLines(line, saved, device);
    return out;
}

std::string CompareText(const Snapshot& saved, const Snapshot& device, const LanguageTexts& texts) {
    const auto lines = DifferenceLines(saved, device, texts);
    if (lines.empty())
        return texts.Text(msg::SnapshotSame);
    std::string text = texts.Text(msg::SnapshotDiffers);
    for (const std::string& l : lines)
        text += "\n" + l;
    return text;
}

std::string FieldWords(const std::vector<std::string>& names, const LanguageTexts& texts) {
    static const std::pair<const char*, const char*> Known[] = {
        {"address", "address"},        {"output period", "period"},
        {"link flags", "linkflags"},   {"post-filter", "postfilter"},
        {"fuel type", "fueltype"},     {"temperature coefficient", "tempcoef"},
        {"sound speed", "soundspeed"}, {"fuel settings", "fuel"},
        {"tank id", "tankid"},         {"tank height", "tankheight"},
    };
    std::vector<std::string> words;
    for (const std::string& name : names) {
        std::string word = name;
        for (const auto& [english, key] : Known)
            if (name == english)
                word = FieldLabel(texts, key);
        // "hub image (page 3 4)" and "hub image size (A and B bytes)": the image, then the
        // numbers as they stand.
        const std::string pages = "hub image (page ";
        if (name.rfind(pages, 0) == 0)
            word = WithArguments(texts.Text(msg::FieldHubPages),
                                 {name.substr(pages.size(), name.size() - pages.size() - 1)});
        else if (name.rfind("hub image size (", 0) == 0)
            word = texts.Text(msg::FieldHubSize);
        words.push_back(word);
    }
    return JoinFields(words);
}

} // namespace vq31
