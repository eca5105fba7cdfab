// The tank list workbook: one sheet per preset tank with titles in row 1, the tank id in C2,
// the height in whole millimetres in D2 and the table from row 2 down (litres in A,
// millimetres in B).
#include "cell_text.h"
#include "exchange.h"
#include "workbook.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <set>

namespace vq31::sheets {

namespace {

constexpr uint32_t TitleRow = 1;
constexpr uint32_t FirstTableRow = 2;
constexpr uint32_t LitresColumn = 1;
constexpr uint32_t LevelColumn = 2;
constexpr uint32_t IdColumn = 3;
constexpr uint32_t HeightColumn = 4;
constexpr uint32_t ValueRow = 2;
constexpr const char* LitresTitle = "Liters";
constexpr const char* LevelTitle = "mm";
constexpr const char* IdTitle = "Tank ID";
constexpr const char* HeightTitle = "Tank Height, mm";
constexpr const char* TankSheetPrefix = "TankID ";

void WriteTitles(Sheet& sheet) {
    sheet.SetText(TitleRow, LitresColumn, LitresTitle);
    sheet.SetText(TitleRow, LevelColumn, LevelTitle);
    sheet.SetText(TitleRow, IdColumn, IdTitle);
    sheet.SetText(TitleRow, HeightColumn, HeightTitle);
}

// Sheet names must be unique in a workbook; a second tank with the same id gets a suffix.
std::string UniqueName(std::set<std::string>& used, const std::string& name) {
    std::string candidate = name;
    for (int n = 2; !used.insert(candidate).second; ++n) {
        candidate = name + " (" + std::to_string(n) + ")";
    }
    return candidate;
}

uint16_t ToWord(double v) {
    const double r = std::nearbyint(v);
    if (!(r > 0)) {
        return 0;
    }
    return r >= 65535.0 ? 65535 : static_cast<uint16_t>(r);
}

// Rows of one sheet that were left out of its table, by reason.
struct LeftOut {
    std::size_t notNumbers = 0; // a litres or level cell that is no number
    std::size_t outOfRange = 0; // negative, over 65535 l or over 6553.5 mm
    std::size_t pastLimit = 0;  // rows after the first 100
};

std::string LeftOutText(const std::string& sheet, const LeftOut& left) {
    std::string text = "sheet '" + sheet + "': ";
    const auto part = [&text](std::size_t n, const char* why) {
        if (n == 0) {
            return;
        }
        if (text.back() != ' ') {
            text += ", ";
        }
        text += std::to_string(n) + (n == 1 ? " row " : " rows ") + why;
    };
    part(left.notNumbers, "without a number for litres or level");
    part(left.outOfRange, "outside 0..65535 l or 0..6553.5 mm");
    part(left.pastLimit, "past the first 100");
    return text + " left out";
}

// Reads one qualifying sheet into the record; false when the sheet does not qualify. Rows
// left out of the table are counted in left.
bool ReadTankSheet(const Sheet& sheet, std::string_view decimalPoint, TankRecord& record,
                   LeftOut& left) {
    const UsedArea used = sheet.Used();
    if (used.columns < HeightColumn || used.rows < ValueRow) {
        return false;
    }
    const auto id = CellNumber(sheet.At(ValueRow, IdColumn), decimalPoint);
    // Preset ids start at 2 and are 16-bit words.
    if (!id || !(*id > 1) || std::nearbyint(*id) < FirstPresetTankId ||
        std::nearbyint(*id) > 65535.0) {
        return false;
    }
    std::size_t stored = 0;
    float largest = 0.0f;
    left = {};
    for (uint32_t r = FirstTableRow; r <= used.rows; ++r) {
        const Cell& litresCell = sheet.At(r, LitresColumn);
        const Cell& levelCell = sheet.At(r, LevelColumn);
        if (litresCell.IsEmpty() && levelCell.IsEmpty()) {
            continue; // no row at all
        }
        const auto litres = CellNumber(litresCell, decimalPoint);
        const auto level = CellNumber(levelCell, decimalPoint);
        if (!litres || !level) {
            ++left.notNumbers;
            continue;
        }
        if (*litres > MaxSheetLitres || *litres < 0 || *level * 10 > MaxSheetLevelCode ||
            *level < 0) {
            ++left.outOfRange;
            continue;
        }
        if (stored == TankRecordRows) {
            ++left.pastLimit;
            continue;
        }
        record.rows[stored].Code = static_cast<uint16_t>(std::trunc(*level * 10 + 0.5));
        record.rows[stored].Litres = static_cast<float>(*litres);
        largest = std::max(largest, record.rows[stored].Litres);
        ++stored;
    }
    const auto height = CellNumber(sheet.At(ValueRow, HeightColumn), decimalPoint);
    record.EntrySize = 0;
    record.Id = static_cast<uint16_t>(std::nearbyint(*id));
    record.Height = height ? ToWord(*height * 10) : 0;
    record.RowCount = static_cast<uint16_t>(stored);
    record.Scale = ScaleForLitres(largest);
    return true;
}

// Puts the calibrated tank (id 1) of a valid current image, entry and table as they are, in
// place of the empty one of the default configuration: a tank list carries the presets only,
// and importing one must not erase the table calibrated on this tank. An entry that does not
// lie wholly inside its image, or would not fit, leaves the default one.
void KeepCalibratedTank(const HubBuffer& current, HubBuffer& fresh) {
    if (!HubIsValid(current)) {
        return;
    }
    const auto entry = HubFindEntry(current, CalibratedTankId);
    const auto target = HubFindEntry(fresh, CalibratedTankId);
    if (!entry || !target) {
        return;
    }
    const std::size_t size = HubEntryHead(current, *entry).EntrySize;
    if (size < TankEntryHeadSize || entry->offset + size > current.TotalSize() ||
        target->offset + size > HubMaxImageSize) {
        return;
    }
    std::copy_n(current.bytes().begin() + static_cast<std::ptrdiff_t>(entry->offset), size,
                fresh.bytes().begin() + static_cast<std::ptrdiff_t>(target->offset));
    // Entry 1 is the last one of the default configuration: the image ends with it.
    fresh.SetTotalSize(static_cast<uint16_t>(target->offset + size));
    HubSeal(fresh);
}

} // namespace

Workbook TankListWorkbook(const HubBuffer& image) {
    Workbook book;
    WriteTitles(XlsAddSheet(book));
    std::set<std::string> names;
    std::size_t k = 1;
    for (auto e = HubFirstEntry(image); e; e = HubNextEntry(image, *e)) {
        const TankEntryHead head = HubEntryHead(image, *e);
        if (head.Id < FirstPresetTankId) {
            continue;
        }
        if (k >= 2) {
            XlsAddSheet(book);
        }
        Sheet& sheet = book.sheets[k - 1];
        sheet.SetName(UniqueName(names, TankSheetPrefix + std::to_string(head.Id)));
        WriteTitles(sheet);
        sheet.SetNumber(ValueRow, IdColumn, head.Id);
        sheet.SetNumber(ValueRow, HeightColumn, head.Height / 10);
        ++k;
        const std::size_t rows = HubStoredRows(image, *e);
        for (std::size_t i = 0; i < rows; ++i) {
            const EntryRow row = HubEntryRow(image, *e, i);
            const auto sheetRow = static_cast<uint32_t>(i + FirstTableRow);
            // The decimal the stored count stands for, not the single-precision litres with
            // their binary tail (147.7 l, not 147.70001).
            sheet.SetNumber(sheetRow, LitresColumn, StoredLitres(row.Value, head.Scale));
            sheet.SetNumber(sheetRow, LevelColumn, LevelMillimetres(row.Code));
        }
    }
    return book;
}

ExchangeResult ExportTankList(const HubBuffer& image, const std::string& fileName) {
    if (!HubIsValid(image)) {
        return {false, std::string(WrongHubMessage), "the hub image is not valid"};
    }
    const FileResult saved = SaveWorkbook(TankListWorkbook(image), fileName);
    if (!saved.ok) {
        const bool own = saved.error == XlsNeedsLibreOfficeMessage;
        return {false, own ? saved.error : std::string(SaveErrorMessage), saved.error};
    }
    return {true, {}, {}};
}

ExchangeResult ImportTankList(HubBuffer& image, TankRecord& scratch, const std::string& fileName,
                              std::string_view decimalPoint, const ConfirmNoTanks& confirmNoTanks) {
    Workbook book;
    const FileResult read = ReadWorkbook(fileName, book);
    if (!read.ok) {
        return ReadFailed(ReasonOfReadError(read.error), read.error);
    }
    return ImportTankListFrom(book, image, scratch, decimalPoint, confirmNoTanks);
}

ExchangeResult ImportTankListFrom(const Workbook& book, HubBuffer& image, TankRecord& scratch,
                                  std::string_view decimalPoint,
                                  const ConfirmNoTanks& confirmNoTanks) {
    // The new image is built aside; the old one stays until the workbook has been read.
    auto fresh = std::make_unique<HubBuffer>(image);
    HubMakeDefault(*fresh);
    KeepCalibratedTank(image, *fresh);
    std::size_t taken = 0;
    std::size_t appended = 0;
    std::vector<std::string> leftOut;
    for (const Sheet& sheet : book.sheets) {
        LeftOut left;
        if (!ReadTankSheet(sheet, decimalPoint, scratch, left)) {
            continue;
        }
        ++taken;
        if (left.notNumbers + left.outOfRange + left.pastLimit > 0) {
            leftOut.push_back(LeftOutText(sheet.name(), left));
        }
        // A tank that no longer fits is left out, as the device could not hold it.
        if (HubAppendTank(*fresh, scratch)) {
            ++appended;
        }
    }
    // Not a single tank sheet: taking the workbook would reset every preset, which is only
    // done when asked for.
    if (taken == 0 && !(confirmNoTanks && confirmNoTanks())) {
        return {false, {}, std::string(NoTankSheetsDetail)};
    }
    image = *fresh;
    ExchangeResult result{true,
                          {},
                          std::to_string(appended) + " of " + std::to_string(taken) +
                              " tank sheets imported"};
    result.leftOut = std::move(leftOut);
    return result;
}

} // namespace vq31::sheets
