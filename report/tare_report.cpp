// The calibration report as a PDF document: a page cursor that starts a new page when the
// next block does not fit, blocks for the heading, passport, particulars, tank, curve, table,
// check results and signature.
#include "tare_report.h"

#include "commands.h"
#include "file_io.h"
#include "tare_grid.h"
#include "tare_plot.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDateTime>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <set>

namespace vq31::report {

namespace {

constexpr int Resolution = 300; // dots per inch of the page's coordinates
constexpr double MarginMm = 15.0;
constexpr double CurveHeightMm = 85.0;
constexpr int TableGroups = 3; // table columns side by side

const std::vector<ReportText> Texts = {
    {"rep_title", "Протокол тарировки датчика уровня топлива"},
    {"rep_made", "Дата и время"},
    {"rep_device", "Датчик"},
    {"rep_model", "Модель"},
    {"rep_serial", "Серийный номер"},
    {"rep_firmware", "Версия ПО"},
    {"rep_passport_date", "Дата паспорта"},
    {"rep_job", "Сведения о работе"},
    {"rep_organisation", "Организация"},
    {"rep_client", "Заказчик"},
    {"rep_vehicle", "Транспортное средство"},
    {"rep_plate", "Гос. номер"},
    {"rep_tank", "Бак"},
    {"rep_technician", "Техник"},
    {"rep_notes", "Примечания"},
    {"rep_tank_data", "Бак в датчике"},
    {"rep_tank_id", "Номер бака"},
    {"rep_tank_height", "Высота бака, мм"},
    {"rep_scale", "Масштаб, мл"},
    {"rep_rows", "Строк в таблице"},
    {"rep_curve", "Тарировочная кривая"},
    {"rep_table", "Тарировочная таблица"},
    {"rep_checks", "Проверка таблицы"},
    {"rep_no_findings", "Замечаний нет"},
    {"rep_row", "Строка"},
    {"rep_signature", "Подпись"},
    {"rep_page", "Стр. %1 из %2"},
    {"rep_state_not_written", "Таблица не записана в датчик"},
    {"rep_state_not_stored",
     "Таблица окна не сохранена кнопкой OK и не записана в датчик; в отчёте она такой, какой "
     "будет сохранена"},
    {"rep_method", "Способ тарировки"},
    {"rep_method_pours", "Проливка бака порциями"},
    {"rep_method_geometry", "Расчёт по размерам бака"},
    {"rep_method_corrected", "Расчёт по размерам бака, уточнённый проливками"},
    {"rep_shape", "Форма бака"},
    {"rep_shape_cylinder", "Горизонтальный цилиндр"},
    {"rep_shape_box", "Прямоугольный"},
    {"rep_shape_oval", "Овальный"},
    {"rep_shape_vertical", "Вертикальный цилиндр"},
    {"rep_dimensions", "Размеры, мм"},
    {"rep_heads", "Днища"},
    {"rep_heads_flat", "плоские"},
    {"rep_heads_ellipsoidal", "эллиптические"},
    {"rep_heads_hemispherical", "полусферические"},
    {"rep_offset", "Ноль датчика над дном, мм"},
    {"rep_tilt", "Наклон, ° / датчик от торца, мм"},
    {"rep_dead", "Ниже зоны датчика, л"},
    {"rep_factor", "Поправка объёма по проливкам"},
    {"rep_max_error", "Наибольшая ошибка интерполяции, л (доля ёмкости)"},
    {"rep_pour", "Проливка %1: %2 л при %3 мм, отклонение %4 л (%5 %)"},
    {"rep_pour_far", "более 2 %: утечка, неверный размер или ошибка отсчёта?"},
    {"sg_tare_column0", "№"},
    {"sg_tare_column1", "Литры"},
    {"sg_tare_column2", "мм"},
};

QString Q(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Lays the report out on the writer's pages from top to bottom.
class Pages {
public:
    // pageCount: the number of pages the report takes, printed in each footer ("1 of 2");
    // 0 on the first of the two layout passes, which only counts them.
    Pages(QPdfWriter& writer, QPainter& painter, const ReportData& data, int pageCount)
        : writer_(writer), painter_(painter), data_(data), pageCount_(pageCount) {
        const QRect page = painter.viewport();
        width_ = page.width();
        height_ = page.height();
        body_ = QFont(QStringLiteral("DejaVu Sans"));
        body_.setPointSizeF(10);
        painter_.setFont(body_);
        line_ = QFontMetricsF(body_, &writer_).height() * 1.25;
    }

    QString Text(std::string_view key) const {
        const std::string_view builtIn = ReportBuiltIn(key);
        return Q(data_.text ? data_.text(key, builtIn) : std::string(builtIn));
    }

    double Millimetres(double mm) const { return mm * Resolution / 25.4; }

    // Starts a new page when `height` does not fit below the cursor.
    void Need(double height) {
        if (y_ + height > height_ - line_ * 1.5) {
            NewPage();
        }
    }

    void NewPage() {
        Footer();
        writer_.newPage();
        ++page_;
        y_ = 0;
    }

    void Footer() {
        painter_.setFont(body_);
        painter_.setPen(Qt::gray);
        QString number = Text("rep_page");
        number.replace(QStringLiteral("%1"), QString::number(page_))
            .replace(QStringLiteral("%2"), QString::number(std::max(pageCount_, page_)));
        painter_.drawText(QRectF(0, height_ - line_, width_, line_), Qt::AlignRight, number);
        painter_.setPen(Qt::black);
    }

    void Heading(const QString& text, double size = 12) {
        QFont font = body_;
        font.setBold(true);
        font.setPointSizeF(size);
        const double h = QFontMetricsF(font, &writer_).height() * 1.4;
        Need(h + line_ * 2);
        y_ += line_ * 0.4;
        painter_.setFont(font);
        painter_.drawText(QRectF(0, y_, width_, h), Qt::AlignLeft | Qt::AlignVCenter, text);
        painter_.setFont(body_);
        y_ += h;
    }

    // "Caption: value" with the value wrapped under its column.
    void Pair(const QString& caption, const QString& value) {
        const double column = width_ * 0.32;
        const QRectF valueRect(column, y_, width_ - column, 1e6);
        const QRectF needed =
            painter_.boundingRect(valueRect, Qt::AlignLeft | Qt::TextWordWrap, value);
        const double h = std::max(line_, needed.height() + line_ * 0.25);
        Need(h);
        painter_.drawText(QRectF(0, y_, column, line_), Qt::AlignLeft, caption + ':');
        painter_.drawText(QRectF(column, y_, width_ - column, h), Qt::AlignLeft | Qt::TextWordWrap,
                          value);
        if (value.isEmpty()) {
            // A field left empty gets a line to fill in by hand.
            painter_.drawLine(QPointF(column, y_ + line_ * 0.9), QPointF(width_, y_ + line_ * 0.9));
        }
        y_ += h;
    }

    void Line(const QString& text) {
        const QRectF rect(0, y_, width_, 1e6);
        const QRectF needed = painter_.boundingRect(rect, Qt::AlignLeft | Qt::TextWordWrap, text);
        const double h = std::max(line_, needed.height());
        Need(h);
        painter_.drawText(QRectF(0, y_, width_, h), Qt::AlignLeft | Qt::TextWordWrap, text);
        y_ += h;
    }

    void Curve() {
        const double h = Millimetres(CurveHeightMm);
        Need(h);
        CurveStyle style;
        style.levelAxis = Text("sg_tare_column2");
        style.litresAxis = Text("sg_tare_column1");
        // The level axis spans the table's own levels: a table that stops at 210 mm of a
        // 1000 mm tank fills the picture instead of its first fifth.
        style.tankHeightMm = 0.0;
        style.decimalPoint = data_.decimalPoint;
        for (const TareIssue& issue : data_.issues) {
            style.flaggedRows.insert(issue.gridRow);
        }
        DrawTareCurve(painter_, QRectF(0, y_, width_, h), data_.points, style);
        painter_.setFont(body_);
        y_ += h + line_ * 0.5;
    }

    // The table in groups side by side; rows run down a group, then on to the next group and
    // the next page.
    void Table() {
        const double groupWidth = width_ / TableGroups;
        const double columns[3] = {0.18, 0.50, 0.80}; // right edges within a group
        size_t next = 0;
        while (next < data_.points.size()) {
            Need(line_ * 3);
            const size_t rowsHere = static_cast<size_t>((height_ - line_ * 1.5 - y_) / line_) - 1;
            const size_t inPage = std::min(data_.points.size() - next, rowsHere * TableGroups);
            const size_t perGroup = (inPage + TableGroups - 1) / TableGroups;
            double bottom = y_;
            for (int g = 0; g < TableGroups && next < data_.points.size(); ++g) {
                const double left = g * groupWidth;
                double y = y_;
                QFont bold = body_;
                bold.setBold(true);
                painter_.setFont(bold);
                const QString heads[3] = {Text("sg_tare_column0"), Text("sg_tare_column1"),
                                          Text("sg_tare_column2")};
                double from = left;
                for (int c = 0; c < 3; ++c) {
                    const double to = left + groupWidth * columns[c];
                    painter_.drawText(QRectF(from, y, to - from, line_), Qt::AlignRight, heads[c]);
                    from = to;
                }
                painter_.setFont(body_);
                painter_.drawLine(QPointF(left, y + line_),
                                  QPointF(left + groupWidth * 0.85, y + line_));
                y += line_ * 1.1;
                for (size_t i = 0; i < perGroup && next < data_.points.size(); ++i, ++next) {
                    const TarePoint& p = data_.points[next];
                    const bool flagged = std::any_of(
                        data_.issues.begin(), data_.issues.end(),
                        [&p](const TareIssue& issue) { return issue.gridRow == p.gridRow; });
                    painter_.setPen(flagged ? QColor(0xC0, 0x20, 0x20) : QColor(Qt::black));
                    const QString cells[3] = {
                        QString::number(p.gridRow),
                        Q(FormatTareLitres(p.litres, data_.decimalPoint)),
                        QString::number(p.millimetres, 'g', 7)
                            .replace(QLatin1Char('.'), Q(data_.decimalPoint))};
                    from = left;
                    for (int c = 0; c < 3; ++c) {
                        const double to = left + groupWidth * columns[c];
                        painter_.drawText(QRectF(from, y, to - from, line_), Qt::AlignRight,
                                          cells[c]);
                        from = to;
                    }
                    painter_.setPen(Qt::black);
                    y += line_;
                }
                bottom = std::max(bottom, y);
            }
            y_ = bottom;
            if (next < data_.points.size()) {
                NewPage();
            }
        }
    }

    void Signature() {
        Need(line_ * 4);
        y_ += line_ * 2;
        QString technician;
        for (const auto& [name, value] : data_.fields) {
            if (name == "technician") {
                technician = Q(value);
            }
        }
        const double x = width_ * 0.45;
        painter_.drawText(QRectF(0, y_, x, line_), Qt::AlignLeft,
                          Text("rep_technician") + QStringLiteral(": ") + technician);
        painter_.drawLine(QPointF(x + width_ * 0.15, y_ + line_ * 0.9),
                          QPointF(width_, y_ + line_ * 0.9));
        painter_.drawText(QRectF(x, y_, width_ * 0.15, line_), Qt::AlignLeft,
                          Text("rep_signature") + ':');
        y_ += line_ * 1.5;
    }

    void Finish() { Footer(); }
    int PageCount() const { return page_; }

private:
    QPdfWriter& writer_;
    QPainter& painter_;
    const ReportData& data_;
    QFont body_;
    double width_ = 0;
    double height_ = 0;
    double line_ = 0;
    double y_ = 0;
    int page_ = 1;
    int pageCount_ = 0;
};

// Numbers in the report's decimal format.
QString Number(double value, int decimals, const std::string& decimalPoint) {
    return QString::number(value, 'f', decimals).replace(QLatin1Char('.'), Q(decimalPoint));
}

QString ShapeDimensions(const TankShape& s, const std::string& point) {
    const auto n = [&point](double v) { return Number(v, 0, point); };
    switch (s.kind) {
    case TankShapeKind::Cylinder:
        return QStringLiteral("\u00D8 %1 \u00D7 %2").arg(n(s.diameterMm), n(s.lengthMm));
    case TankShapeKind::Box:
        return QStringLiteral("%1 \u00D7 %2 \u00D7 %3, R %4")
            .arg(n(s.widthMm), n(s.heightMm), n(s.lengthMm), n(s.cornerRadiusMm));
    case TankShapeKind::Oval:
        return QStringLiteral("%1 \u00D7 %2 \u00D7 %3")
            .arg(n(s.widthMm), n(s.heightMm), n(s.lengthMm));
    case TankShapeKind::Vertical:
        return QStringLiteral("\u00D8 %1 \u00D7 %2").arg(n(s.diameterMm), n(s.heightMm));
    }
    return {};
}

// The method, and for a computed table its shape, dimensions and pour deviations.
void Method(Pages& pages, const ReportData& data) {
    if (data.method == TableMethod::Unknown) {
        return;
    }
    const std::string& point = data.decimalPoint;
    pages.Heading(pages.Text("rep_method"));
    if (data.method == TableMethod::Pours || !data.shape) {
        pages.Line(pages.Text("rep_method_pours"));
        return;
    }
    const ShapeCalculation& c = *data.shape;
    pages.Line(pages.Text(c.CorrectedByPours() ? "rep_method_corrected" : "rep_method_geometry"));
    static const char* const shapeKeys[] = {"rep_shape_cylinder", "rep_shape_box", "rep_shape_oval",
                                            "rep_shape_vertical"};
    pages.Pair(pages.Text("rep_shape"), pages.Text(shapeKeys[static_cast<int>(c.shape.kind)]));
    pages.Pair(pages.Text("rep_dimensions"), ShapeDimensions(c.shape, point));
    if (c.shape.kind == TankShapeKind::Cylinder) {
        static const char* const headKeys[] = {"rep_heads_flat", "rep_heads_ellipsoidal",
                                               "rep_heads_hemispherical"};
        QString heads = pages.Text(headKeys[static_cast<int>(c.shape.heads)]);
        if (c.shape.heads != TankHeads::Flat) {
            heads += QStringLiteral(", %1").arg(Number(c.shape.headDepthMm, 0, point));
        }
        pages.Pair(pages.Text("rep_heads"), heads);
    }
    pages.Pair(pages.Text("rep_offset"), Number(c.placement.offsetMm, 1, point));
    if (c.placement.tiltDeg != 0.0) {
        pages.Pair(pages.Text("rep_tilt"), Number(c.placement.tiltDeg, 2, point) +
                                               QStringLiteral(" / ") +
                                               Number(c.placement.sensorAtMm, 0, point));
    }
    pages.Pair(pages.Text("rep_dead"), Number(c.table.deadLitres, 1, point));
    pages.Pair(pages.Text("rep_max_error"),
               Number(c.table.maxErrorLitres, 2, point) + QStringLiteral(" (") +
                   Number(c.table.ErrorShare() * 100, 3, point) + QStringLiteral(" %)"));
    if (!c.CorrectedByPours()) {
        return;
    }
    pages.Pair(pages.Text("rep_factor"), Number(c.factor, 4, point));
    for (std::size_t i = 0; i < c.pours.size(); ++i) {
        const PourDeviation& d = c.pours[i];
        QString line = pages.Text("rep_pour")
                           .replace(QStringLiteral("%1"), QString::number(i + 1))
                           .replace(QStringLiteral("%2"), Number(d.point.litres, 1, point))
                           .replace(QStringLiteral("%3"), Number(d.point.levelMm, 1, point))
                           .replace(QStringLiteral("%4"), Number(d.litres, 2, point))
                           .replace(QStringLiteral("%5"), Number(d.share * 100, 2, point));
        if (d.tooFar) {
            line += QStringLiteral(": ") + pages.Text("rep_pour_far");
        }
        pages.Line(line);
    }
}

void Compose(Pages& pages, const ReportData& data) {
    pages.Heading(pages.Text("rep_title"), 15);
    const QString made =
        data.madeAt.empty()
            ? QDateTime::currentDateTime().toString(QStringLiteral("dd.MM.yyyy HH:mm"))
            : Q(data.madeAt);
    pages.Pair(pages.Text("rep_made"), made);

    pages.Heading(pages.Text("rep_device"));
    pages.Pair(pages.Text("rep_model"), Q(data.device.model));
    pages.Pair(pages.Text("rep_serial"), Q(data.device.serial));
    pages.Pair(pages.Text("rep_firmware"), Q(data.device.firmware));
    pages.Pair(pages.Text("rep_passport_date"), Q(data.device.passportDate));

    pages.Heading(pages.Text("rep_job"));
    for (const char* name : FieldNames) {
        std::string value;
        for (const auto& [field, text] : data.fields) {
            if (field == name) {
                value = text;
            }
        }
        pages.Pair(pages.Text(std::string("rep_") + name), Q(value));
    }

    pages.Heading(pages.Text("rep_tank_data"));
    pages.Pair(pages.Text("rep_tank_id"), QString::number(data.tankId));
    pages.Pair(pages.Text("rep_tank_height"), QString::number(data.tankHeightMm, 'g', 7));
    pages.Pair(pages.Text("rep_scale"), QString::number(data.scaleMl));
    pages.Pair(pages.Text("rep_rows"), QString::number(data.points.size()));
    if (data.state != TableState::OnSensor) {
        pages.Line(pages.Text(data.state == TableState::NotStored ? "rep_state_not_stored"
                                                                  : "rep_state_not_written"));
    }
    Method(pages, data);

    pages.Heading(pages.Text("rep_curve"));
    pages.Curve();
    pages.Heading(pages.Text("rep_table"));
    pages.Table();

    pages.Heading(pages.Text("rep_checks"));
    if (data.issues.empty()) {
        pages.Line(pages.Text("rep_no_findings"));
    }
    for (const TareIssue& issue : data.issues) {
        const std::string_view key = TareIssueKey(issue.kind);
        const std::string pattern = data.text ? data.text(key, TareIssueDefault(issue.kind))
                                              : std::string(TareIssueDefault(issue.kind));
        pages.Line(pages.Text("rep_row") + QStringLiteral(" %1: ").arg(issue.gridRow) +
                   Q(FormatTareIssue(issue, pattern, data.decimalPoint)));
    }
    pages.Signature();
    pages.Finish();
}

} // namespace

bool IsFieldName(std::string_view name) {
    return std::any_of(std::begin(FieldNames), std::end(FieldNames),
                       [name](const char* field) { return name == field; });
}

const std::vector<ReportText>& ReportTexts() {
    return Texts;
}

std::string_view ReportBuiltIn(std::string_view key) {
    for (const ReportText& text : Texts) {
        if (key == text.key) {
            return text.builtIn;
        }
    }
    return {};
}

ReportDevice DeviceFromPassport(uint32_t date, uint32_t serialNumber, uint32_t model,
                                uint32_t firmwareVersion) {
    char text[32];
    ReportDevice device;
    device.model = std::to_string(model);
    std::snprintf(text, sizeof text, "%06u", serialNumber);
    device.serial = text;
    device.firmware = FirmwareText(firmwareVersion);
    std::snprintf(text, sizeof text, "%02u.%02u.20%02u", (date >> 16 & 0xFF) + 1,
                  (date >> 8 & 0xFF) + 1, date & 0xFF);
    device.passportDate = text;
    return device;
}

namespace {

// Lays the report out into bytes; pagesTaken gets the number of pages it took.
bool Render(const ReportData& data, int pageCount, QByteArray& bytes, int& pagesTaken) {
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter writer(&buffer);
    writer.setResolution(Resolution);
    writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                     QMarginsF(MarginMm, MarginMm, MarginMm, MarginMm),
                                     QPageLayout::Millimeter));
    writer.setTitle(QStringLiteral("VQ31 %1").arg(Q(data.device.serial)));
    writer.setCreator(QStringLiteral("vQ31 Install Service"));
    QPainter painter;
    if (!painter.begin(&writer)) {
        return false;
    }
    Pages pages(writer, painter, data, pageCount);
    Compose(pages, data);
    pagesTaken = pages.PageCount();
    return painter.end();
}

} // namespace

bool WriteReportPdf(const ReportData& data, const std::string& path, std::string& error) {
    // The command-line tool has no application object: fonts and the PDF engine need one.
    std::unique_ptr<QGuiApplication> ownApp;
    if (QCoreApplication::instance() == nullptr) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
        }
        static int argc = 1;
        static char name[] = "vq31-report";
        static char* argv[] = {name, nullptr};
        ownApp = std::make_unique<QGuiApplication>(argc, argv);
    }
    // The PDF is made in memory and then replaces the file only once it is whole on disk; a
    // target that is not a regular file (a device) is refused and left alone. It is laid out
    // twice: the first pass counts the pages that each footer names ("1 of 2").
    ReportData fixed = data;
    if (fixed.madeAt.empty()) {
        fixed.madeAt =
            QDateTime::currentDateTime().toString(QStringLiteral("dd.MM.yyyy HH:mm")).toStdString();
    }
    QByteArray bytes;
    int pageCount = 0;
    for (int pass = 0; pass < 2; ++pass) {
        bytes.clear();
        if (!Render(fixed, pageCount, bytes, pageCount)) {
            error = "cannot make the report for " + path;
            return false;
        }
    }
    const fileio::FileResult written =
        fileio::WriteFileReplacing(path, std::string_view(bytes.constData(), size_t(bytes.size())));
    if (!written.ok)
        error = written.error;
    return written.ok;
}

} // namespace vq31::report
