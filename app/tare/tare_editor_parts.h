// Pieces the tare table window's source files share: texts of the window's additions (keys
// and built-in texts in language_keys.cpp), file filters, and the UTF-8 conversion.
#pragma once

#include <QColor>
#include <QString>

#include <string_view>

namespace vq31::tare_editor {

namespace key {
inline constexpr const char* Column3 = "sg_tare_column3";
inline constexpr const char* Unsettled = "msg_check_unsettled";
inline constexpr const char* Settled = "str_settled";
inline constexpr const char* Settling = "str_settling";
inline constexpr const char* CsvEmpty = "msg_csv_empty";
inline constexpr const char* WriteFailed = "msg_file_write_failed";
inline constexpr const char* NoPassport = "msg_report_no_passport";
inline constexpr const char* FileWritten = "msg_tare_file_written";
inline constexpr const char* NotStored = "msg_tare_not_stored";
inline constexpr const char* NotWritten = "msg_tare_not_written";
inline constexpr const char* Imported = "msg_tare_imported";
} // namespace key

// The level gauge and the settle state, shared by the window's files.
inline constexpr int LevelBoxHeight = 328;
inline constexpr const char* NoLevelText = "No Data";
inline const QColor UnsettledText(0xC0, 0x60, 0x00);
inline const QColor SettledColour(0x20, 0x80, 0x20);
// Settle time limits of the field edit_settle, in seconds.
inline constexpr int SettleSecondsMin = 1, SettleSecondsMax = 600;

inline constexpr const char* CsvFilter = "CSV (*.csv)";
inline constexpr const char* PdfFilter = "PDF (*.pdf)";

inline QString Q(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace vq31::tare_editor
