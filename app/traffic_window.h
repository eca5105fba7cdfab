// The traffic window: the link's trace lines as they come, with pause, clear, an
// errors-only filter, saving to a text file, and the link's health. It reads the link
// monitor's ring on a timer, so however fast the frames arrive it redraws at most 25 times
// a second and never makes the port thread wait for the window.
#pragma once

#include "language_texts.h"
#include "trace.h"

#include <QWidget>

#include <cstdint>
#include <memory>

class QCheckBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTimer;

namespace vq31::app {

class Prompter;

class TrafficWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int RedrawIntervalMs = 40; // 25 redraws a second at most

    TrafficWindow(std::shared_ptr<LinkMonitor> monitor, Prompter& boxes, const LanguageTexts& texts,
                  QWidget* parent = nullptr);

    // One refresh: the records that came since the last one (none while paused) and the
    // health counters. The timer runs it; tests call it directly.
    void Refresh();
    void SetPaused(bool paused);
    bool Paused() const;
    void SetErrorsOnly(bool on);
    // Empties the window, the ring and the counters.
    void Clear();
    // Writes the lines the window shows (after the filter) to a text file; false with an
    // error box when the file cannot be written.
    bool SaveTo(const QString& path);
    QString Text() const;
    int Redraws() const { return redraws_; }

private:
    void Rebuild(); // all lines still in the ring, through the filter
    void Append(const std::vector<TraceRecord>& records);

    std::shared_ptr<LinkMonitor> monitor_;
    Prompter& boxes_;
    const LanguageTexts& texts_;
    QPlainTextEdit* lines_ = nullptr;
    QLabel* health_ = nullptr;
    QPushButton* pause_ = nullptr;
    QCheckBox* errorsOnly_ = nullptr;
    QTimer* timer_ = nullptr;
    uint64_t shown_ = 0; // last sequence taken from the ring
    int redraws_ = 0;
};

// The link's health in the window's language: counters and rate, exchanges by outcome, and
// the last failed exchange's trace line.
QString HealthText(const LinkHealth& health, const LanguageTexts& texts);

} // namespace vq31::app
