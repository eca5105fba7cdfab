// The tare table window's files: the table as a workbook (import and export), the level and
// litres pairs for telematics platforms, and the calibration report.
#include "exchange.h"
#include "hub_image.h"
#include "tare_editor.h"
#include "tare_editor_parts.h"
#include "tare_export.h"

#include <QComboBox>
#include <QTableWidget>

#include <algorithm>

namespace vq31 {

using namespace tare_editor;

QString TareEditor::NoPassportText() const {
    return Text(key::NoPassport, "Паспорт датчика не прочитан. Прочитайте параметры на странице "
                                 "настроек и повторите.");
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
}

void TareEditor::ExportFile(const QString& path) {
    const sheets::ExchangeResult result = sheets::ExportTareTable(
        TableTextsOf(grid_), std::string(sheets::TareSheetName), path.toStdString(), decimalPoint_);
    if (!result.ok && !result.message.empty()) {
        ShowError(Q(result.message));
    }
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
    const std::vector<TarePoint> points = TarePointsOf(grid_, decimalPoint_);
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
    report::ReportData data;
    data.device = *device;
    data.tankId = tankId_;
    data.tankHeightMm = tankHeightMm_;
    data.points = TarePointsOf(grid_, decimalPoint_);
    data.issues = CheckTareTable(data.points, tankHeightMm_);
    // The scale the table gets when it is stored.
    float largest = 0.0f;
    for (const TarePoint& p : data.points) {
        largest = std::max(largest, static_cast<float>(p.litres));
    }
    data.scaleMl = ScaleForLitres(largest);
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
    return true;
}

} // namespace vq31
