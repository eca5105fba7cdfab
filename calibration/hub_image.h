// The sensor's hub configuration image: a 16-byte header followed by tank entries, each with
// a tare table of (level code, scaled volume) rows. This file holds the image buffer, its
// checksum and validity rules, the default configuration, the walk over entries, appending a
// tank, and the conversions between a stored entry and the working copy of one tank.
//
// Every read follows the image's own sizes only as far as they stay inside the image and the
// buffer, so an image from the device or from a file can be walked whatever its bytes say.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace vq31 {

inline constexpr std::size_t HubBufferSize = 65536;
inline constexpr std::size_t HubHeaderSize = 16;
inline constexpr std::size_t TankEntryHeadSize = 10;
inline constexpr std::size_t EntryRowSize = 4;
inline constexpr std::size_t HubPageSize = 128;
// Pages a block command can address: the block index travels in one byte, and pages past
// 255 would wrap onto the image's first blocks.
inline constexpr std::size_t MaxTransferPages = 256;
// Largest image the device keeps.
inline constexpr std::size_t HubMaxImageSize = 4096;
inline constexpr uint16_t HubFormatVersion = 0x0301;
inline constexpr uint8_t HubFormatMajor = 0x03;
// Rows a TankRecord holds, and the rows the tare editor uses of them.
inline constexpr std::size_t TankRecordRows = 100;
inline constexpr std::size_t TareTableRows = 50;
// Ids of the two entries of the default configuration; preset tanks start at 2.
inline constexpr uint16_t DefaultTankId0 = 0;
inline constexpr uint16_t CalibratedTankId = 1;
inline constexpr uint16_t FirstPresetTankId = 2;
// The device keeps the height of tanks 0 and 1 apart from the image (its tank-height value);
// the presets carry their own in their entries.
inline constexpr bool OwnsHeight(int32_t tankId) {
    return tankId == DefaultTankId0 || tankId == CalibratedTankId;
}

// Header field offsets.
inline constexpr std::size_t HubTotalSizeOffset = 0;
inline constexpr std::size_t HubChecksumOffset = 2;
inline constexpr std::size_t HubVersionOffset = 4;
inline constexpr std::size_t HubEntryCountOffset = 6;
inline constexpr std::size_t HubMlPerBitOffset = 8;
inline constexpr std::size_t HubReservedOffset = 10;

// Entry field offsets, relative to the entry's start.
inline constexpr std::size_t EntrySizeOffset = 0;
inline constexpr std::size_t EntryIdOffset = 2;
inline constexpr std::size_t EntryHeightOffset = 4;
inline constexpr std::size_t EntryRowCountOffset = 6;
inline constexpr std::size_t EntryScaleOffset = 8;

// The one image buffer of the program. Words are little-endian; reads outside the buffer
// give 0 and writes outside it are dropped, so no image content can reach past it.
class HubBuffer {
public:
    HubBuffer() = default;

    std::array<uint8_t, HubBufferSize>& bytes() { return bytes_; }
    const std::array<uint8_t, HubBufferSize>& bytes() const { return bytes_; }

    uint16_t Word(std::size_t offset) const;
    void SetWord(std::size_t offset, uint16_t value);

    uint16_t TotalSize() const { return Word(HubTotalSizeOffset); }
    uint16_t Checksum() const { return Word(HubChecksumOffset); }
    uint16_t Version() const { return Word(HubVersionOffset); }
    uint16_t EntryCount() const { return Word(HubEntryCountOffset); }
    uint16_t MlPerBit() const { return Word(HubMlPerBitOffset); }
    void SetTotalSize(uint16_t v) { SetWord(HubTotalSizeOffset, v); }
    void SetVersion(uint16_t v) { SetWord(HubVersionOffset, v); }
    void SetEntryCount(uint16_t v) { SetWord(HubEntryCountOffset, v); }
    void SetMlPerBit(uint16_t v) { SetWord(HubMlPerBitOffset, v); }

    // Page k of the transfer: bytes 128k .. 128k + 127 (k below 512).
    std::span<uint8_t, HubPageSize> Page(std::size_t k);
    std::span<const uint8_t, HubPageSize> Page(std::size_t k) const;

private:
    std::array<uint8_t, HubBufferSize> bytes_{};
};

// Position of a tank entry inside the image.
struct HubEntry {
    std::size_t offset = 0;
    bool operator==(const HubEntry&) const = default;
};

// The 10-byte head of an entry, also the head of a TankRecord.
struct TankEntryHead {
    uint16_t EntrySize = 0;
    uint16_t Id = 0;
    uint16_t Height = 0; // tenths of a millimetre
    uint16_t RowCount = 0;
    uint16_t Scale = 0; // millilitres per unit of a stored row value
};

// One stored row: level in tenths of a millimetre, volume in units of Scale millilitres.
struct EntryRow {
    uint16_t Code = 0;
    uint16_t Value = 0;
};

struct RecordRow {
    uint16_t Code = 0; // tenths of a millimetre
    float Litres = 0.0f;
};

// Working copy of one tank. EntrySize is not this record's own size: it is carried along
// and the tank-list import sets it to 0.
struct TankRecord {
    uint16_t EntrySize = 0;
    uint16_t Id = 0;
    uint16_t Height = 0;
    uint16_t RowCount = 0;
    uint16_t Scale = 0;
    std::array<RecordRow, TankRecordRows> rows{};
};

// The two records the program keeps for the whole run: the image and the selected tank's
// working copy (CurrentTank). Create once, pass by reference.
struct HubRecords {
    HubBuffer hubBuffer;
    TankRecord currentTank;
};

// 0xFFFF minus the wrapping 16-bit sum of the first TotalSize / 2 words.
uint16_t HubChecksum(const HubBuffer& image);
// Version 0x0301 and a word sum of 0.
bool HubIsValid(const HubBuffer& image);
// Sets Checksum so that the word sum of the image is 0.
void HubSeal(HubBuffer& image);
// The 236-byte default configuration: entry 0 without rows, entry 1 with room for 50 rows.
// Reserved header bytes and the heights of both entries are set to 0.
void HubMakeDefault(HubBuffer& image);

// The walk. The first entry is at offset 16 when TotalSize is above 16; the next one starts
// EntrySize bytes on and exists when that start lies before TotalSize. An entry of size 0
// ends the walk. An entry may run past TotalSize: only its rows inside the image are read.
std::optional<HubEntry> HubFirstEntry(const HubBuffer& image);
std::optional<HubEntry> HubNextEntry(const HubBuffer& image, HubEntry entry);
// The first entry (in image order) whose Id is id.
std::optional<HubEntry> HubFindEntry(const HubBuffer& image, uint16_t id);

TankEntryHead HubEntryHead(const HubBuffer& image, HubEntry entry);
// Row i of an entry as stored (no bounds interpretation beyond the buffer).
EntryRow HubEntryRow(const HubBuffer& image, HubEntry entry, std::size_t i);
// Rows of the entry that lie inside it: RowCount, cut to the entry's declared size and to
// TotalSize.
std::size_t HubStoredRows(const HubBuffer& image, HubEntry entry);
// The stored rows that fit a record: HubStoredRows cut to 100.
std::size_t HubReadableRows(const HubBuffer& image, HubEntry entry);

// Appends the record as a new entry of exactly RowCount rows and seals. False (image
// unchanged) when the image is shorter than its header, the record has more rows than it
// holds, or the image would grow past 4096 bytes.
bool HubAppendTank(HubBuffer& image, const TankRecord& record);

// Scale (10^n millilitres per unit, 1 to 10000) that fits the largest volume into 16 bits.
uint16_t ScaleForLitres(float largestLitres);

// Stored value of a volume: trunc(litres * 1000 / scale + 0.5), kept in 16 bits; a scale of
// 0 counts as 1.
uint16_t ValueForLitres(float litres, uint16_t scale);
// Volume of a stored value: value x scale / 1000 litres in double precision, the decimal the
// stored count stands for (at most three decimals).
double StoredLitres(uint16_t value, uint16_t scale);
// The same rounded once to single precision, so 12500 at scale 1 reads back as 12.5.
float LitresForValue(uint16_t value, uint16_t scale);

// Entry to record: RowCount (cut to the readable rows), Scale and the rows are copied and
// converted; EntrySize, Id and Height of the record stay. Rows past the copied ones stay.
void EntryToRecord(const HubBuffer& image, HubEntry entry, TankRecord& record);
// Record to entry, in place: rows, RowCount and Scale (0 taken as 1) are written; EntrySize,
// Id and Height of the entry stay. Refused (false, nothing changed) when the entry has no
// room for RowCount rows or the record has more rows than it holds. Does not seal.
bool RecordToEntry(const TankRecord& record, HubBuffer& image, HubEntry entry);

// Pages a transfer of the image covers: ceil(TotalSize / 128).
std::size_t HubPageCount(const HubBuffer& image);
// After page 0 has been read: the other pages are read only for a major version of 3.
bool HubWantsMorePages(const HubBuffer& image);

// Shown forms.
// "3.01" for 0x0301: major byte in decimal, point, minor byte as two upper-case hex digits.
std::string HubVersionText(uint16_t version);
// Index into the 1 ml .. 10 l per bit list (truncated log10), or -1 for 0.
int MlPerBitIndex(uint16_t mlPerBit);
// 10^index for index 0..4; any other index (no selection) gives 0.
uint16_t MlPerBitForIndex(int index);
// Whole millimetres of a level code, rounded half up.
uint16_t LevelMillimetres(uint16_t code);
// Level code of a level in millimetres: rounded to whole millimetres, times 10.
uint16_t LevelCodeForMillimetres(double millimetres);

} // namespace vq31
