// The tare window's curve beside the grid: the drawing of the report library in a widget,
// refreshed whenever the table, its findings or the live level change.
#pragma once

#include "tare_plot.h"

#include <QWidget>

namespace vq31 {

class TarePlotWidget : public QWidget {
public:
    explicit TarePlotWidget(QWidget* parent = nullptr);

    void SetPoints(std::vector<TarePoint> points);
    void SetStyle(report::CurveStyle style);
    const report::CurveStyle& Style() const { return style_; }
    const std::vector<TarePoint>& Points() const { return points_; }
    void SetLiveLevel(std::optional<double> millimetres);

    QSize sizeHint() const override { return {360, 320}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<TarePoint> points_;
    report::CurveStyle style_;
};

} // namespace vq31
