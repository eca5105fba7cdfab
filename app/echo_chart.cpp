// The echo chart: three line series on shared axes, a second (scatter) series that marks
// the envelope's high values, and the legend check boxes.
#include "echo_chart.h"

#include "tare_export.h"

#include <QBuffer>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QImage>
#include <QLineSeries>
#include <QPushButton>
#include <QScatterSeries>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>
#include <cstdio>

namespace vq31::app {

namespace {
constexpr double EnvelopeStep = 10.0;
constexpr double InitialLeftMax = 32000.0;
constexpr double EmptyBottomMax = 100.0;
constexpr int AfcMarkSize = 2;
const char* const SeriesTitles[3] = {"Oscill", "AFC", "Integrator"};
} // namespace

EchoChart::EchoChart(QWidget* parent) : QWidget(parent) {
    setObjectName("Chart1");
    chart_ = new QChart();
    chart_->legend()->hide(); // the check boxes beside the plot are the legend
    chart_->setMargins(QMargins(4, 4, 4, 4));
    view_ = new QChartView(chart_, this);
    view_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    view_->setRenderHint(QPainter::Antialiasing, false);

    axisX_ = new QValueAxis(chart_);
    axisY_ = new QValueAxis(chart_);
    axisX_->setLabelFormat("%.0f");
    axisY_->setLabelFormat("%.0f");
    axisY_->setRange(0, InitialLeftMax);
    axisX_->setRange(0, EmptyBottomMax);
    chart_->addAxis(axisX_, Qt::AlignBottom);
    chart_->addAxis(axisY_, Qt::AlignLeft);

    auto* legendPanel = new QWidget(this);
    legendPanel->setObjectName("Chart1Legend");
    legendPanel->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    auto* legend = new QVBoxLayout(legendPanel);
    for (int i = 0; i < 3; ++i) {
        auto* s = new QLineSeries(chart_);
        s->setName(SeriesTitles[i]);
        series_[i] = s;
        chart_->addSeries(s);
        s->attachAxis(axisX_);
        s->attachAxis(axisY_);
        auto* box = new QCheckBox(SeriesTitles[i], legendPanel);
        box->setObjectName(QString("Chart1Legend%1").arg(SeriesTitles[i]));
        box->setChecked(true);
        legend_[i] = box;
        legend->addWidget(box);
        connect(box, &QCheckBox::toggled, this, [this, i](bool on) {
            series_[i]->setVisible(on);
            if (i == Integrator)
                high_->setVisible(on);
            UpdateBottomRange();
        });
    }
    legend->addStretch(1);
    pictureButton_ = new QPushButton(QStringLiteral("Сохранить PNG"), legendPanel);
    pictureButton_->setObjectName("BtnChartPng");
    pointsButton_ = new QPushButton(QStringLiteral("Сохранить CSV"), legendPanel);
    pointsButton_->setObjectName("BtnChartCsv");
    legend->addWidget(pictureButton_);
    legend->addWidget(pointsButton_);
    QPen oscillPen(QColor(Qt::red));
    oscillPen.setWidth(2);
    series_[Oscill]->setPen(oscillPen);
    const QColor afcColour(0, 128, 0);
    series_[Afc]->setPen(QPen(afcColour));
    // Square 2 x 2 marks on every sweep point.
    QImage mark(AfcMarkSize, AfcMarkSize, QImage::Format_ARGB32);
    mark.fill(afcColour);
    series_[Afc]->setLightMarker(mark);
    series_[Afc]->setMarkerSize(AfcMarkSize);
    series_[Integrator]->setPen(QPen(QColor(Qt::blue)));

    high_ = new QScatterSeries(chart_);
    high_->setName("Integrator");
    high_->setMarkerShape(QScatterSeries::MarkerShapeRectangle);
    high_->setMarkerSize(3);
    high_->setColor(QColor(Qt::magenta));
    high_->setBorderColor(QColor(Qt::magenta));
    chart_->addSeries(high_);
    high_->attachAxis(axisX_);
    high_->attachAxis(axisY_);

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(view_, 1);
    row->addWidget(legendPanel);
}

void EchoChart::SetSeriesActive(SeriesId id, bool active) {
    legend_[id]->setChecked(active);
}

bool EchoChart::IsSeriesActive(SeriesId id) const {
    return legend_[id]->isChecked();
}

void EchoChart::SetOscillogram(std::span<const int16_t> samples, int step) {
    oscillPoints_.resize(qsizetype(samples.size()));
    for (size_t i = 0; i < samples.size(); ++i)
        oscillPoints_[qsizetype(i)] = QPointF(double(step) * double(i), samples[i]);
    series_[Oscill]->replace(oscillPoints_);
    UpdateBottomRange();
}

void EchoChart::SetIntegrator(std::span<const uint32_t> values, std::span<const uint8_t> high) {
    integratorPoints_.resize(qsizetype(values.size()));
    highPoints_.clear();
    for (size_t i = 0; i < values.size(); ++i) {
        const QPointF p(EnvelopeStep * double(i), double(values[i]));
        integratorPoints_[qsizetype(i)] = p;
        if (i < high.size() && high[i])
            highPoints_.append(p);
    }
    series_[Integrator]->replace(integratorPoints_);
    high_->replace(highPoints_);
    UpdateBottomRange();
}

void EchoChart::ClearAfc() {
    afcPoints_.clear();
    series_[Afc]->clear();
    UpdateBottomRange();
}

void EchoChart::AddAfcPoint(double x, double y) {
    afcPoints_.append(QPointF(x, y));
    series_[Afc]->append(x, y);
    UpdateBottomRange();
}

void EchoChart::SetLeftRange(double min, double max) {
    axisY_->setRange(min, max);
}

void EchoChart::UpdateBottomRange() {
    // The bottom axis scales itself to the active series (all have ascending X values).
    bool any = false;
    double lo = 0, hi = 1;
    const QList<QPointF>* lists[3] = {&oscillPoints_, &afcPoints_, &integratorPoints_};
    for (int i = 0; i < 3; ++i) {
        if (!legend_[i]->isChecked() || lists[i]->isEmpty())
            continue;
        const double first = lists[i]->front().x();
        const double last = lists[i]->back().x();
        lo = any ? std::min(lo, first) : first;
        hi = any ? std::max(hi, last) : last;
        any = true;
    }
    if (!any)
        hi = EmptyBottomMax; // whole-number ticks on an empty chart
    else if (hi <= lo)
        hi = lo + 1;
    if (axisX_->min() != lo || axisX_->max() != hi)
        axisX_->setRange(lo, hi);
}

QImage EchoChart::Picture() const {
    return view_->grab().toImage();
}

std::string EchoChart::PointsCsv() const {
    std::string text = "series,index,x,y\n";
    char line[96];
    for (int id = 0; id < 3; ++id) {
        if (!legend_[id]->isChecked()) {
            continue;
        }
        const QLineSeries* series = series_[id];
        for (qsizetype i = 0; i < series->count(); ++i) {
            const QPointF p = series->at(i);
            // %g keeps whole sample values whole; the C library's numbers use ".".
            std::snprintf(line, sizeof line, "%s,%lld,%.10g,%.10g\n", SeriesTitles[id],
                          static_cast<long long>(i), p.x(), p.y());
            text += line;
        }
    }
    return text;
}

bool EchoChart::SavePicture(const QString& path, std::string& error) const {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!Picture().save(&buffer, "PNG")) {
        error = "cannot encode the picture";
        return false;
    }
    return WriteFileReplacing(path.toStdString(), bytes.toStdString(), error);
}

bool EchoChart::SavePoints(const QString& path, std::string& error) const {
    return WriteFileReplacing(path.toStdString(), PointsCsv(), error);
}

int EchoChart::PointCount(SeriesId id) const {
    return int(series_[id]->count());
}

QPointF EchoChart::Point(SeriesId id, int i) const {
    return series_[id]->at(i);
}

int EchoChart::HighPointCount() const {
    return int(high_->count());
}

double EchoChart::LeftMin() const {
    return axisY_->min();
}
double EchoChart::LeftMax() const {
    return axisY_->max();
}
double EchoChart::BottomMin() const {
    return axisX_->min();
}
double EchoChart::BottomMax() const {
    return axisX_->max();
}

} // namespace vq31::app
