// Chart1 of the oscilloscope page: the echo oscillogram ("Oscill"), the frequency response
// ("AFC") and the normalised envelope ("Integrator"), with a legend of check boxes that
// switch each series on and off. Series are refilled in one call per refresh. The chart as
// shown can be saved as a PNG picture and its points as CSV (buttons under the legend).
#pragma once

#include <QList>
#include <QPointF>
#include <QWidget>

#include <array>
#include <cstdint>
#include <span>
#include <string>

class QImage;

class QCheckBox;
class QChart;
class QPushButton;
class QChartView;
class QLineSeries;
class QScatterSeries;
class QValueAxis;

namespace vq31::app {

class EchoChart : public QWidget {
    Q_OBJECT
public:
    enum SeriesId { Oscill = 0, Afc = 1, Integrator = 2 };

    explicit EchoChart(QWidget* parent = nullptr);

    // Legend check box of a series: an inactive series is hidden but keeps its points.
    void SetSeriesActive(SeriesId id, bool active);
    bool IsSeriesActive(SeriesId id) const;
    QCheckBox* LegendBox(SeriesId id) const { return legend_[id]; }

    // Oscillogram: point i at x = step * i, y = samples[i].
    void SetOscillogram(std::span<const int16_t> samples, int step);
    // Envelope: point i at x = 10 * i; points with high[i] set are drawn in magenta.
    void SetIntegrator(std::span<const uint32_t> values, std::span<const uint8_t> high);
    void ClearAfc();
    void AddAfcPoint(double x, double y);
    // The left axis range (not automatic); the bottom axis follows the active series.
    void SetLeftRange(double min, double max);

    // The chart area as drawn now, at its size on the screen.
    QImage Picture() const;
    // The points of the active series that hold any: "series,index,x,y" after a header line,
    // one line per point, "." as the decimal point.
    std::string PointsCsv() const;
    // Each written through a temporary file (an existing file survives a failure); false with
    // the reason in error.
    bool SavePicture(const QString& path, std::string& error) const;
    bool SavePoints(const QString& path, std::string& error) const;
    QPushButton* PictureButton() const { return pictureButton_; }
    QPushButton* PointsButton() const { return pointsButton_; }

    int PointCount(SeriesId id) const;
    QPointF Point(SeriesId id, int i) const;
    // Points of the envelope drawn in the high colour.
    int HighPointCount() const;
    double LeftMin() const;
    double LeftMax() const;
    double BottomMin() const;
    double BottomMax() const;

private:
    void UpdateBottomRange();

    QChart* chart_ = nullptr;
    QChartView* view_ = nullptr;
    std::array<QLineSeries*, 3> series_{};
    QScatterSeries* high_ = nullptr; // magenta marks over the envelope
    std::array<QCheckBox*, 3> legend_{};
    QPushButton* pictureButton_ = nullptr;
    QPushButton* pointsButton_ = nullptr;
    QValueAxis* axisX_ = nullptr;
    QValueAxis* axisY_ = nullptr;
    // Reused point buffers, so that a refresh does not allocate.
    QList<QPointF> oscillPoints_;
    QList<QPointF> integratorPoints_;
    QList<QPointF> highPoints_;
    QList<QPointF> afcPoints_;
};

} // namespace vq31::app
