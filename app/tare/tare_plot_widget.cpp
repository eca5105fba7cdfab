// The tare window's curve widget.
#include "tare_plot_widget.h"

#include <QPainter>

namespace vq31 {

TarePlotWidget::TarePlotWidget(QWidget* parent) : QWidget(parent) {
    setMinimumSize(240, 200);
}

void TarePlotWidget::SetPoints(std::vector<TarePoint> points) {
    points_ = std::move(points);
    update();
}

void TarePlotWidget::SetStyle(report::CurveStyle style) {
    style_ = std::move(style);
    update();
}

void TarePlotWidget::SetLiveLevel(std::optional<double> millimetres) {
    if (style_.liveMm != millimetres) {
        style_.liveMm = millimetres;
        update();
    }
}

void TarePlotWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setFont(font());
    report::DrawTareCurve(painter, QRectF(rect()).adjusted(2, 2, -2, -2), points_, style_);
}

} // namespace vq31
