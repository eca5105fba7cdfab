// The tare curve drawing.
#include "tare_plot.h"

#include <QFontMetricsF>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace vq31::report {

namespace {

const QColor CurveColour(0x20, 0x50, 0xA0);
const QColor FindingColour(0xC0, 0x20, 0x20);
const QColor LiveColour(0x80, 0x80, 0x00); // the olive of the level bar
const QColor GridColour(0xD8, 0xD8, 0xD8);

QString Number(double value, const std::string& decimalPoint) {
    QString text = QString::number(value, 'g', 7);
    text.replace(QLatin1Char('.'), QString::fromStdString(decimalPoint));
    return text;
}

} // namespace

double NiceStep(double top, int parts) {
    if (!(top > 0.0) || parts <= 0) {
        return 1.0;
    }
    const double raw = top / parts;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (const double m : {1.0, 2.0, 5.0}) {
        if (raw <= m * power) {
            return m * power;
        }
    }
    return 10.0 * power;
}

void DrawTareCurve(QPainter& painter, const QRectF& area, const std::vector<TarePoint>& points,
                   const CurveStyle& style) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(area, Qt::white);
    QFont font = painter.font();
    font.setPixelSize(std::max(8, static_cast<int>(area.height() / 28)));
    painter.setFont(font);
    const QFontMetricsF metrics(font, painter.device());

    double levelTop = std::max(style.tankHeightMm, 1.0);
    double litresTop = 1.0;
    for (const TarePoint& p : points) {
        levelTop = std::max(levelTop, p.millimetres);
        litresTop = std::max(litresTop, p.litres);
    }
    if (style.liveMm) {
        levelTop = std::max(levelTop, *style.liveMm);
    }
    const double levelStep = NiceStep(levelTop, 5);
    const double litresStep = NiceStep(litresTop, 5);
    levelTop = std::ceil(levelTop / levelStep) * levelStep;
    litresTop = std::ceil(litresTop / litresStep) * litresStep;

    const double left =
        area.left() + metrics.horizontalAdvance(Number(litresTop, ".")) + metrics.height() * 0.8;
    const double bottom = area.bottom() - metrics.height() * 2.2;
    const QRectF plot(QPointF(left, area.top() + metrics.height() * 1.8),
                      QPointF(area.right() - metrics.height(), bottom));
    auto at = [&](double mm, double litres) {
        return QPointF(plot.left() + plot.width() * mm / levelTop,
                       plot.bottom() - plot.height() * litres / litresTop);
    };

    const double pen = std::max(1.0, area.height() / 300.0);
    // Grid and tick labels.
    painter.setPen(QPen(GridColour, pen * 0.6));
    for (double x = 0; x <= levelTop + levelStep / 2; x += levelStep) {
        painter.drawLine(at(x, 0), at(x, litresTop));
    }
    for (double y = 0; y <= litresTop + litresStep / 2; y += litresStep) {
        painter.drawLine(at(0, y), at(levelTop, y));
    }
    painter.setPen(QPen(Qt::black, pen));
    painter.drawRect(plot);
    for (double x = 0; x <= levelTop + levelStep / 2; x += levelStep) {
        const QString text = Number(x, style.decimalPoint);
        const QPointF p = at(x, 0);
        painter.drawText(QRectF(p.x() - 50 * metrics.height(), p.y() + metrics.height() * 0.1,
                                100 * metrics.height(), metrics.height()),
                         Qt::AlignHCenter | Qt::AlignTop, text);
    }
    for (double y = 0; y <= litresTop + litresStep / 2; y += litresStep) {
        const QPointF p = at(0, y);
        painter.drawText(QRectF(area.left(), p.y() - metrics.height() / 2,
                                p.x() - area.left() - metrics.height() * 0.3, metrics.height()),
                         Qt::AlignRight | Qt::AlignVCenter, Number(y, style.decimalPoint));
    }
    painter.drawText(
        QRectF(plot.left(), bottom + metrics.height() * 1.1, plot.width(), metrics.height()),
        Qt::AlignHCenter, style.levelAxis);
    painter.drawText(QRectF(area.left(), area.top(), left - area.left(), metrics.height()),
                     Qt::AlignLeft | Qt::AlignTop, style.litresAxis);

    if (points.empty() && !style.emptyText.isEmpty()) {
        painter.drawText(plot, Qt::AlignCenter, style.emptyText);
    }
    // Segments, then the points over them.
    if (points.size() > 1) {
        QPainterPath path(at(points.front().millimetres, points.front().litres));
        for (size_t i = 1; i < points.size(); ++i) {
            path.lineTo(at(points[i].millimetres, points[i].litres));
        }
        painter.setPen(QPen(CurveColour, pen * 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(path);
    }
    const double radius = std::max(2.0, area.height() / 120.0);
    for (const TarePoint& p : points) {
        const bool flagged = style.flaggedRows.count(p.gridRow) > 0;
        const double r =
            style.highlightedRow && *style.highlightedRow == p.gridRow ? radius * 1.8 : radius;
        painter.setPen(QPen(flagged ? FindingColour : CurveColour, pen));
        painter.setBrush(flagged ? FindingColour : CurveColour);
        painter.drawEllipse(at(p.millimetres, p.litres), r, r);
    }
    if (style.liveMm) {
        QPen live(LiveColour, pen * 1.5, Qt::DashLine);
        painter.setPen(live);
        painter.drawLine(at(*style.liveMm, 0), at(*style.liveMm, litresTop));
        const QPointF top = at(*style.liveMm, litresTop);
        painter.drawText(QRectF(top.x() + metrics.height() * 0.2, top.y(),
                                metrics.horizontalAdvance(QStringLiteral("00000")) * 2,
                                metrics.height()),
                         Qt::AlignLeft | Qt::AlignTop, Number(*style.liveMm, style.decimalPoint));
    }
    painter.restore();
}

} // namespace vq31::report
