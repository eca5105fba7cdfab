// The tare table window's files: the table as a workbook (import and export), the level and
// litres pairs for telematics platforms, and the calibration report.
#include "exchange.h"
#include "hub_image.h"
#include "tare_editor.h"
#include "tare_editor_parts.h"
#include "tare_export.h"
#include "tare_record.h"

#include <QComboBox>
#include <QTableWidget>

#include <algorithm>

namespace vq31 {

using namespace tare_editor;

QString TareEditor::NoPassportText() const {
    return Text(key::NoPassport, "Паспорт датчика не прочитан. Прочитайте параметры на странице "
                                 "настроек и повторите.");
}

namespace {

// The texts of a table's state, after a file was made from it.
constexpr const char* NotStoredText =
    "Таблица окна не сохранена кнопкой OK и не записана в датчик: файл сделан из таблицы, "
    "какой её сохранит OK";
constexpr const char* NotWrittenText = "Таблица не записана в датчик";

bool SameStoredTable(const TankRecord& a, const TankRecord& b) {
    if (a.RowCount != b.RowCount || a.Scale != b.Scale) {
        return false;
    }
    const size_t rows = std::min<size_t>(a.RowCount, a.rows.size());
    return std::equal(a.rows.begin(), a.rows.begin() + ptrdiff_t(rows), b.rows.begin(),
                      [&a](const RecordRow& x, const RecordRow& y) {
                          return x.Code == y.Code && ValueForLitres(x.Litres, a.Scale) ==
                                                         ValueForLitres(y.Litres, a.Scale);
                      });
}

} // namespace

std::optional<TareEditor::StoredTable> TareEditor::TableAsStored() {
    StoredTable stored{tank_, report::TableState::OnSensor};
    const TareOutcome outcome = StoreTareGrid(grid_, decimalPoint_, stored.record, [this] {
        return question_ && question_(Text(TareMessageKey(TareMessage::TableWillTruncate),
                                           TareMessageDefault(TareMessage::TableWillTruncate)));
    });
    if (outcome.message == TareMessage::TableWillTruncate || !Report(outcome)) {
        return std::nullopt;
    }
    if (!SameStoredTable(stored.record, tank_)) {
        stored.state = report::TableState::NotStored;
    } else if (!sensorHolds_ || !sensorHolds_()) {
        stored.state = report::TableState::NotWritten;
    }
    return stored;
}

void TareEditor::ShowInfo(const QString& text) const {
    if (infoBox_) {
        infoBox_(text);
    }
}

void TareEditor::ShowWritten(const QString& path, report::TableState state) const {
    QString text = Text(key::FileWritten, "Файл записан: %1").replace(QStringLiteral("%1"), path);
    if (state == report::TableState::NotStored) {
        text += "\n" + Text(key::NotStored, NotStoredText);
    } else if (state == report::TableState::NotWritten) {
        text += "\n" + Text(key::NotWritten, NotWrittenText);
    }
    ShowInfo(text);
}

void TareEditor::ImportFromWorkbook() {
    const QString path = fileChooser_ ? fileChooser_(false) : QString();
    if (!path.isEmpty()) {
        ImportFile(path);
    }
}

void TareEditor::ExportToWorkbook() {
    const QString path = fileChooser_ ? fileChooser_(true) : QString();
    if (!path.isEmpty()) {
        ExportFile(path);
    }
}

void TareEditor::ImportFile(const QString& path) {
    // The file is read first: a file that cannot be read leaves the table being built as it
    // is, instead of an emptied grid.
    sheets::TareRows rows;
    const sheets::ExchangeResult result =
        sheets::ImportTareTable(path.toStdString(), decimalPoint_, rows);
    if (!result.ok) {
        if (!result.message.empty()) {
            // The fixed text first, why on the next line.
            const sheets::ReasonText why = sheets::ReadReasonText(result.reason);
            ShowError(why.key.empty() ? Q(result.message)
                                      : Q(result.message) + "\n" + Text(why.key, why.builtIn));
        }
        return;
    }
    grid_.Reset();
    PutTableTexts(grid_, rows);
    RenumberRows(grid_);
    RefreshTable();
    table_->scrollToTop();
    SelectRow(1);
    ShowInfo(Text(key::Imported, "Таблица загружена из %1: строк %2. OK сохранит её, "
                                 "запись в датчик — кнопкой «Установить»")
                 .replace(QStringLiteral("%1"), path)
                 .replace(QStringLiteral("%2"), QString::number(rows.size())));
}

void TareEditor::ExportFile(const QString& path) {
    const sheets::ExchangeResult result = sheets::ExportTareTable(
        TableTextsOf(grid_), std::string(sheets::TareSheetName), path.toStdString(), decimalPoint_);
    if (!result.ok) {
        if (!result.message.empty()) {
            ShowError(Q(result.message));
        }
        return;
    }
    ShowInfo(Text(key::FileWritten, "Файл записан: %1").replace(QStringLiteral("%1"), path));
}

void TareEditor::ExportTelematics() {
    const QString path = saveChooser_ ? saveChooser_(QString::fromLatin1(CsvFilter)) : QString();
    if (path.isEmpty()) {
        return;
    }
    const char separator = cmbSeparator_->currentIndex() == 1 ? ',' : ';';
    ExportTelematicsFile(path, separator);
}

bool TareEditor::ExportTelematicsFile(const QString& path, char separator) {
    const std::optional<StoredTable> stored = TableAsStored();
    if (!stored) {
        return false;
    }
    const std::vector<TarePoint> points = StoredTarePoints(stored->record);
    if (points.empty()) {
        ShowError(Text(key::CsvEmpty, "Таблица пуста: экспортировать нечего"));
        return false;
    }
    std::string error;
    if (!WriteFileReplacing(path.toStdString(), TelematicsCsvText(points, separator), error)) {
        ShowError(Text(key::WriteFailed, "Не удалось записать файл: %1")
                      .replace(QStringLiteral("%1"), Q(error)));
        return false;
    }
    ShowWritten(path, stored->state);
    return true;
}

report::TextLookup TareEditor::ReportText() const {
    return [this](std::string_view key, std::string_view builtIn) {
        return Text(key, builtIn).toStdString();
    };
}

void TareEditor::OpenReportDialog() {
    if (!deviceInfo_ || !deviceInfo_()) {
        ShowError(NoPassportText());
        return;
    }
    const ReportFields last = loadReportFields_ ? loadReportFields_() : ReportFields{};
    const std::optional<ReportFields> fields = reportAsker_ ? reportAsker_(last) : std::nullopt;
    if (!fields) {
        return;
    }
    if (saveReportFields_) {
        saveReportFields_(*fields);
    }
    QString path = saveChooser_ ? saveChooser_(QString::fromLatin1(PdfFilter)) : QString();
    if (path.isEmpty()) {
        return;
    }
    if (!path.endsWith(QStringLiteral(".pdf"), Qt::CaseInsensitive)) {
        path += QStringLiteral(".pdf");
    }
    WriteReportFile(path, *fields);
}

bool TareEditor::WriteReportFile(const QString& path, const ReportFields& fields) {
    const std::optional<report::ReportDevice> device = deviceInfo_ ? deviceInfo_() : std::nullopt;
    if (!device) {
        ShowError(NoPassportText());
        return false;
    }
    const std::optional<StoredTable> stored = TableAsStored();
    if (!stored) {
        return false;
    }
    report::ReportData data;
    data.device = *device;
    data.tankId = tankId_;
    data.tankHeightMm = tankHeightMm_;
    data.points = StoredTarePoints(stored->record);
    data.issues = CheckTareTable(data.points, tankHeightMm_);
    data.scaleMl = stored->record.Scale;
    data.state = stored->state;
    data.shape = ShapeSource();
    data.method = data.shape ? report::TableMethod::Geometry : report::TableMethod::Pours;
    data.fields.assign(fields.begin(), fields.end());
    data.decimalPoint = decimalPoint_;
    data.text = ReportText();
    std::string error;
    if (!report::WriteReportPdf(data, path.toStdString(), error)) {
        ShowError(Text(key::WriteFailed, "Не удалось записать файл: %1")
                      .replace(QStringLiteral("%1"), Q(error)));
        return false;
    }
    ShowWritten(path, stored->state);
    return true;
}

} // namespace vq31
