// The traffic window fed from a link monitor: lines as they come, pause, errors-only filter,
// clear, save (and a save that fails), the ring's bound, and opening it from the main window.
#include "traffic_window.h"
#include "window_rig.h"

#include <QCheckBox>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>

#include <gtest/gtest.h>

namespace vq31::app::test {
namespace {

void Request(LinkMonitor& m) {
    const uint8_t frame[] = {0x31, 0x01, 0x71, 0x00};
    m.RecordFrame(TraceKind::Request, StatusOk, frame, sizeof frame);
}

void GoodAnswer(LinkMonitor& m) {
    const uint8_t frame[] = {0x3E, 0x01, 0x71, 0x00, 0x00};
    m.RecordFrame(TraceKind::Answer, StatusOk, frame, sizeof frame);
}

int Lines(const QString& text) {
    return text.isEmpty() ? 0 : int(text.count('\n')) + 1;
}

} // namespace

TEST(TrafficWindow, ShowsNewLinesPausesAndFiltersErrors) {
    auto monitor = std::make_shared<LinkMonitor>();
    ScriptedPrompter boxes;
    Request(*monitor); // before the window opens: shown once it does
    const LanguageTexts texts;
    TrafficWindow w(monitor, boxes, texts);
    EXPECT_EQ(Lines(w.Text()), 1);
    GoodAnswer(*monitor);
    monitor->RecordSilence(0x71, 1, 500);
    w.Refresh();
    EXPECT_EQ(Lines(w.Text()), 3);
    EXPECT_TRUE(w.Text().contains("ReadMode addr 1, no answer byte for 500 ms"));
    const int redraws = w.Redraws();
    w.Refresh(); // nothing new: no redraw
    EXPECT_EQ(w.Redraws(), redraws);

    w.SetPaused(true);
    Request(*monitor);
    w.Refresh();
    EXPECT_EQ(Lines(w.Text()), 3);
    w.SetPaused(false);
    w.Refresh();
    EXPECT_EQ(Lines(w.Text()), 4); // what came meanwhile follows

    w.findChild<QCheckBox*>("ChkTrafficErrors")->click();
    EXPECT_EQ(Lines(w.Text()), 1);
    EXPECT_TRUE(w.Text().contains("no answer"));
    Request(*monitor);
    GoodAnswer(*monitor);
    w.Refresh();
    EXPECT_EQ(Lines(w.Text()), 1);
    w.SetErrorsOnly(false);
    EXPECT_EQ(Lines(w.Text()), 6);

    w.findChild<QPushButton*>("BtnTrafficClear")->click();
    EXPECT_EQ(w.Text(), "");
    EXPECT_EQ(monitor->Health().requests, 0u);
    Request(*monitor);
    w.Refresh();
    EXPECT_EQ(Lines(w.Text()), 1);
}

TEST(TrafficWindow, SavesTheShownLinesAndReportsAFailedSave) {
    auto monitor = std::make_shared<LinkMonitor>();
    ScriptedPrompter boxes;
    const LanguageTexts texts;
    TrafficWindow w(monitor, boxes, texts);
    Request(*monitor);
    monitor->RecordSilence(0x71, 1, 500);
    w.Refresh();
    QTemporaryDir dir;
    boxes.saveFile = dir.filePath("trace.txt");
    w.findChild<QPushButton*>("BtnTrafficSave")->click();
    QFile saved(boxes.saveFile);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(saved.readAll()), w.Text() + "\n");
    EXPECT_TRUE(boxes.shown.empty());

    EXPECT_FALSE(w.SaveTo(dir.filePath("no-such-folder/trace.txt")));
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].kind, "error");
    EXPECT_TRUE(boxes.shown[0].text.contains("no-such-folder/trace.txt"));
    EXPECT_EQ(Lines(w.Text()), 2); // nothing lost
}

TEST(TrafficWindow, HoldsNoMoreLinesThanTheRing) {
    auto monitor = std::make_shared<LinkMonitor>(100);
    ScriptedPrompter boxes;
    const LanguageTexts texts;
    TrafficWindow w(monitor, boxes, texts);
    for (int round = 0; round < 5; ++round) {
        for (int i = 0; i < 60; ++i)
            Request(*monitor);
        w.Refresh();
    }
    EXPECT_EQ(Lines(w.Text()), 100);
    w.SetPaused(true);
    for (int i = 0; i < 500; ++i)
        Request(*monitor);
    w.SetPaused(false);
    w.Refresh();
    EXPECT_EQ(Lines(w.Text()), 100);
}

TEST(TrafficWindow, OpensFromTheMainWindowOnce) {
    WindowRig rig;
    auto* button = rig.w().findChild<QToolButton*>("BtnTraffic");
    ASSERT_NE(button, nullptr);
    button->click(); // no monitor: nothing opens
    EXPECT_EQ(rig.w().findChild<TrafficWindow*>(), nullptr);
    rig.w().SetTrafficMonitor(std::make_shared<LinkMonitor>());
    button->click();
    button->click();
    const auto windows = rig.w().findChildren<TrafficWindow*>();
    ASSERT_EQ(windows.size(), 1);
    EXPECT_TRUE(windows[0]->isVisible());
}

} // namespace vq31::app::test
