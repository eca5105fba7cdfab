// The tare curve: litres against level, the table's points joined by segments, points with a
// finding drawn in red, and optionally the live level as a vertical marker. Drawn with a
// plain QPainter so that the tare window and the PDF report show the same picture.
#pragma once

#include "tare_check.h"

#include <QPainter>
#include <QRectF>
#include <QString>

#include <optional>
#include <set>
#include <vector>

namespace vq31::report {

struct CurveStyle {
    QString levelAxis = QStringLiteral("мм");
    QString litresAxis = QStringLiteral("л");
    QString emptyText;                 // shown when the table has no point
    double tankHeightMm = 0.0;         // the level axis reaches at least this far
    std::optional<double> liveMm;      // the live level marker, when a level is shown
    std::set<int> flaggedRows;         // grid rows drawn as findings
    std::optional<int> highlightedRow; // grid row drawn larger (the row selected in the grid)
    std::string decimalPoint = ".";
};

// Draws into area; fonts scale with the area's height so the same call serves a window and
// a printed page.
void DrawTareCurve(QPainter& painter, const QRectF& area, const std::vector<TarePoint>& points,
                   const CurveStyle& style);

// Axis steps of 1, 2 or 5 times a power of ten that split 0..top into about `parts` parts.
double NiceStep(double top, int parts);

} // namespace vq31::report
