// The hub configuration image: checksum, validity, default configuration, entry walk,
// append, and the conversions between stored entries and tank records.
#include "hub_image.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace vq31 {

namespace {

// Sizes of the default configuration.
constexpr uint16_t DefaultImageSize = 236;
constexpr uint16_t DefaultEntryCount = 2;
constexpr uint16_t DefaultMlPerBit = 1;
constexpr uint16_t DefaultEntry0Scale = 1;
constexpr uint16_t DefaultEntry1Scale = 1000;
constexpr std::size_t DefaultEntry0Offset = HubHeaderSize;
constexpr std::size_t DefaultEntry1Offset = HubHeaderSize + TankEntryHeadSize;

constexpr uint16_t LargestScale = 10000;
// Largest volume a 16-bit row value holds at one millilitre per unit, in millilitres.
constexpr long double RowValueRange = 65535.0L;

// Converts a truncated double into 16 bits with wrap-around, as the stored tables keep
// only the low 16 bits of a value; values that no integer holds become 0.
uint16_t Wrap16(double truncated) {
    if (!std::isfinite(truncated) || std::fabs(truncated) >= 9.0e18) {
        return 0;
    }
    return static_cast<uint16_t>(static_cast<int64_t>(truncated));
}

std::size_t EntryLength(std::size_t rows) {
    return TankEntryHeadSize + EntryRowSize * rows;
}

// True when an entry may start at offset: the start lies before the end of the image. An
// entry that runs past TotalSize is still found; its rows are read only as far as they lie
// inside the image (HubStoredRows).
bool EntryStartsInside(const HubBuffer& image, std::size_t offset) {
    return offset < image.TotalSize();
}

// Writes the record's RowCount and Scale into the entry's head and its rows, converted, into
// the entry's row area.
void WriteRows(const TankRecord& record, uint16_t scale, HubBuffer& image, HubEntry entry) {
    image.SetWord(entry.offset + EntryRowCountOffset, record.RowCount);
    image.SetWord(entry.offset + EntryScaleOffset, scale);
    for (std::size_t i = 0; i < record.RowCount; ++i) {
        const std::size_t row = entry.offset + TankEntryHeadSize + EntryRowSize * i;
        image.SetWord(row, record.rows[i].Code);
        image.SetWord(row + 2, ValueForLitres(record.rows[i].Litres, scale));
    }
}

} // namespace

uint16_t HubBuffer::Word(std::size_t offset) const {
    if (offset + 1 >= bytes_.size()) {
        return 0;
    }
    return static_cast<uint16_t>(bytes_[offset] | (bytes_[offset + 1] << 8));
}

void HubBuffer::SetWord(std::size_t offset, uint16_t value) {
    if (offset + 1 >= bytes_.size()) {
        return;
    }
    bytes_[offset] = static_cast<uint8_t>(value & 0xFF);
    bytes_[offset + 1] = static_cast<uint8_t>(value >> 8);
}

std::span<uint8_t, HubPageSize> HubBuffer::Page(std::size_t k) {
    const std::size_t last = bytes_.size() / HubPageSize - 1;
    return std::span<uint8_t, HubPageSize>(bytes_.data() + HubPageSize * std::min(k, last),
                                           HubPageSize);
}

std::span<const uint8_t, HubPageSize> HubBuffer::Page(std::size_t k) const {
    const std::size_t last = bytes_.size() / HubPageSize - 1;
    return std::span<const uint8_t, HubPageSize>(bytes_.data() + HubPageSize * std::min(k, last),
                                                 HubPageSize);
}

uint16_t HubChecksum(const HubBuffer& image) {
    const std::size_t words = image.TotalSize() / 2;
    uint16_t sum = 0;
    for (std::size_t i = 0; i < words; ++i) {
        sum = static_cast<uint16_t>(sum + image.Word(2 * i));
    }
    return static_cast<uint16_t>(0xFFFF - sum);
}

bool HubIsValid(const HubBuffer& image) {
    return image.Version() == HubFormatVersion && HubChecksum(image) == 0xFFFF;
}

void HubSeal(HubBuffer& image) {
    image.SetWord(HubChecksumOffset, 0xFFFF);
    image.SetWord(HubChecksumOffset, HubChecksum(image));
}

void HubMakeDefault(HubBuffer& image) {
    image.SetTotalSize(DefaultImageSize);
    image.SetVersion(HubFormatVersion);
    image.SetEntryCount(DefaultEntryCount);
    image.SetMlPerBit(DefaultMlPerBit);
    for (std::size_t off = HubReservedOffset; off < HubHeaderSize; off += 2) {
        image.SetWord(off, 0);
    }

    image.SetWord(DefaultEntry0Offset + EntrySizeOffset, TankEntryHeadSize);
    image.SetWord(DefaultEntry0Offset + EntryIdOffset, DefaultTankId0);
    image.SetWord(DefaultEntry0Offset + EntryHeightOffset, 0);
    image.SetWord(DefaultEntry0Offset + EntryRowCountOffset, 0);
    image.SetWord(DefaultEntry0Offset + EntryScaleOffset, DefaultEntry0Scale);

    image.SetWord(DefaultEntry1Offset + EntrySizeOffset,
                  static_cast<uint16_t>(EntryLength(TareTableRows)));
    image.SetWord(DefaultEntry1Offset + EntryIdOffset, CalibratedTankId);
    image.SetWord(DefaultEntry1Offset + EntryHeightOffset, 0);
    image.SetWord(DefaultEntry1Offset + EntryRowCountOffset, 0);
    image.SetWord(DefaultEntry1Offset + EntryScaleOffset, DefaultEntry1Scale);
    for (std::size_t r = 0; r < TareTableRows; ++r) {
        const std::size_t row = DefaultEntry1Offset + TankEntryHeadSize + EntryRowSize * r;
        image.SetWord(row, 0);
        image.SetWord(row + 2, 0);
    }
    HubSeal(image);
}

std::optional<HubEntry> HubFirstEntry(const HubBuffer& image) {
    if (!EntryStartsInside(image, HubHeaderSize)) {
        return std::nullopt;
    }
    return HubEntry{HubHeaderSize};
}

std::optional<HubEntry> HubNextEntry(const HubBuffer& image, HubEntry entry) {
    const std::size_t size = image.Word(entry.offset + EntrySizeOffset);
    if (size == 0) {
        return std::nullopt;
    }
    const std::size_t next = entry.offset + size;
    if (!EntryStartsInside(image, next)) {
        return std::nullopt;
    }
    return HubEntry{next};
}

std::optional<HubEntry> HubFindEntry(const HubBuffer& image, uint16_t id) {
    for (auto e = HubFirstEntry(image); e; e = HubNextEntry(image, *e)) {
        if (image.Word(e->offset + EntryIdOffset) == id) {
            return e;
        }
    }
    return std::nullopt;
}

TankEntryHead HubEntryHead(const HubBuffer& image, HubEntry entry) {
    TankEntryHead head;
    head.EntrySize = image.Word(entry.offset + EntrySizeOffset);
    head.Id = image.Word(entry.offset + EntryIdOffset);
    head.Height = image.Word(entry.offset + EntryHeightOffset);
    head.RowCount = image.Word(entry.offset + EntryRowCountOffset);
    head.Scale = image.Word(entry.offset + EntryScaleOffset);
    return head;
}

EntryRow HubEntryRow(const HubBuffer& image, HubEntry entry, std::size_t i) {
    const std::size_t row = entry.offset + TankEntryHeadSize + EntryRowSize * i;
    return EntryRow{image.Word(row), image.Word(row + 2)};
}

std::size_t HubStoredRows(const HubBuffer& image, HubEntry entry) {
    const std::size_t total = image.TotalSize();
    if (entry.offset + TankEntryHeadSize > total) {
        return 0;
    }
    const std::size_t size = image.Word(entry.offset + EntrySizeOffset);
    const std::size_t inEntry = size >= TankEntryHeadSize ? (size - TankEntryHeadSize) / 4 : 0;
    const std::size_t inImage = (total - entry.offset - TankEntryHeadSize) / EntryRowSize;
    const std::size_t rows = image.Word(entry.offset + EntryRowCountOffset);
    return std::min({rows, inEntry, inImage});
}

std::size_t HubReadableRows(const HubBuffer& image, HubEntry entry) {
    return std::min(HubStoredRows(image, entry), TankRecordRows);
}

bool HubAppendTank(HubBuffer& image, const TankRecord& record) {
    const std::size_t total = image.TotalSize();
    if (total < HubHeaderSize || record.RowCount > TankRecordRows) {
        return false;
    }
    const std::size_t length = EntryLength(record.RowCount);
    // The new entry's own length counts, so the image never grows past the device's limit.
    if (total + length > HubMaxImageSize) {
        return false;
    }
    const uint16_t scale = record.Scale == 0 ? 1 : record.Scale;
    const HubEntry entry{total};
    image.SetWord(entry.offset + EntrySizeOffset, static_cast<uint16_t>(length));
    image.SetWord(entry.offset + EntryIdOffset, record.Id);
    image.SetWord(entry.offset + EntryHeightOffset, record.Height);
    WriteRows(record, scale, image, entry);
    image.SetTotalSize(static_cast<uint16_t>(total + length));
    image.SetEntryCount(static_cast<uint16_t>(image.EntryCount() + 1));
    HubSeal(image);
    return true;
}

uint16_t ScaleForLitres(float largestLitres) {
    // The exponent is the smallest n with a <= 10^n, found by comparing a with the powers
    // themselves: a logarithm's last bit differs between processors (log10 of 1000 came out
    // a shade above 3 on one), and the step must fall at the same volume everywhere.
    const long double a = static_cast<long double>(largestLitres) * 1000.0L / RowValueRange;
    if (!(a > 1.0L)) { // also a <= 0 and NaN
        return 1;
    }
    uint16_t scale = 10;
    for (long double power = 10.0L; a > power && scale < LargestScale; power *= 10.0L) {
        scale = static_cast<uint16_t>(scale * 10);
    }
    return scale;
}

uint16_t ValueForLitres(float litres, uint16_t scale) {
    const double s = scale == 0 ? 1.0 : static_cast<double>(scale);
    return Wrap16(std::trunc(static_cast<double>(litres) * 1000.0 / s + 0.5));
}

double StoredLitres(uint16_t value, uint16_t scale) {
    // value x scale is a whole number of millilitres; one division gives the nearest double
    // to the decimal it stands for.
    return static_cast<double>(uint32_t{value} * scale) / 1000.0;
}

float LitresForValue(uint16_t value, uint16_t scale) {
    return static_cast<float>(StoredLitres(value, scale));
}

void EntryToRecord(const HubBuffer& image, HubEntry entry, TankRecord& record) {
    const std::size_t rows = HubReadableRows(image, entry);
    const TankEntryHead head = HubEntryHead(image, entry);
    record.RowCount = static_cast<uint16_t>(rows);
    record.Scale = head.Scale;
    for (std::size_t i = 0; i < rows; ++i) {
        const EntryRow row = HubEntryRow(image, entry, i);
        record.rows[i].Code = row.Code;
        record.rows[i].Litres = LitresForValue(row.Value, head.Scale);
    }
}

bool RecordToEntry(const TankRecord& record, HubBuffer& image, HubEntry entry) {
    if (record.RowCount > TankRecordRows) {
        return false;
    }
    const std::size_t needed = EntryLength(record.RowCount);
    const std::size_t size = image.Word(entry.offset + EntrySizeOffset);
    if (size < needed || entry.offset + needed > image.TotalSize()) {
        return false;
    }
    const uint16_t scale = record.Scale == 0 ? 1 : record.Scale;
    WriteRows(record, scale, image, entry);
    return true;
}

std::size_t HubPageCount(const HubBuffer& image) {
    return (static_cast<std::size_t>(image.TotalSize()) + HubPageSize - 1) / HubPageSize;
}

bool HubWantsMorePages(const HubBuffer& image) {
    return (image.Version() >> 8) == HubFormatMajor;
}

std::string HubVersionText(uint16_t version) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%02X", static_cast<unsigned>(version >> 8),
                  static_cast<unsigned>(version & 0xFF));
    return text;
}

int MlPerBitIndex(uint16_t mlPerBit) {
    if (mlPerBit == 0) {
        return -1;
    }
    // The truncated logarithm, counted exactly: the number of powers of ten above 1 that do
    // not exceed the value.
    int index = 0;
    for (uint32_t power = 10; power <= mlPerBit; power *= 10) {
        ++index;
    }
    return index;
}

uint16_t MlPerBitForIndex(int index) {
    static constexpr std::array<uint16_t, 5> powers = {1, 10, 100, 1000, 10000};
    if (index < 0 || index >= static_cast<int>(powers.size())) {
        return 0;
    }
    return powers[static_cast<std::size_t>(index)];
}

uint16_t LevelMillimetres(uint16_t code) {
    return static_cast<uint16_t>(std::trunc(code * 0.1 + 0.5));
}

uint16_t LevelCodeForMillimetres(double millimetres) {
    return static_cast<uint16_t>(Wrap16(std::trunc(millimetres + 0.5)) * 10);
}

} // namespace vq31
