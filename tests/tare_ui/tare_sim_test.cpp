// A calibration run with the tare table window against the simulated sensor through the real
// worker: read the hub, open the window (tare mode on), pour portions into the simulated
// tank and press "Добавить" at each new level, OK, write the hub, read it back.
#include "command_worker.h"
#include "quiet_view.h"
#include "sim_server.h"
#include "tare_ui_fixture.h"

#include <QApplication>
#include <QTimer>
#include <QtTest/QTest>

#include <atomic>
#include <mutex>

namespace vq31::test {
namespace {

using namespace std::chrono_literals;

// The window side of the worker for this test: every call runs on the window thread while
// the worker waits, as the program's own view does. Only the tare page's calls do anything.
class TareTestView : public QuietView {
public:
    TareEditor* editor = nullptr; // set while the tare window is open
    std::atomic<bool> shutdown{false};
    std::atomic<int> hubViews{0};
    std::atomic<int> levels{0};
    std::atomic<int> prepared{0};
    std::mutex lock;
    std::vector<std::string> errors;

    void ShowHubData(const HubView& view) override {
        OnWindowThread([&] { LoadCurrentTank(view); });
        ++hubViews;
    }
    HubChoice PrepareHubData() override {
        ++prepared;
        return {1000, 0};
    }
    void ShowLevel(const LevelView& view) override {
        OnWindowThread([&] {
            if (editor != nullptr) {
                editor->ShowLevel(view.hasLevel, view.text, view.barHeight,
                                  view.hasLevel ? std::optional<uint16_t>(view.code)
                                                : std::nullopt);
            }
            ++levels;
        });
    }
    void ShowError(const std::string& text) override {
        std::lock_guard guard(lock);
        errors.push_back(text);
    }
    bool AskYesNo(const std::string& text) override {
        ShowError("question: " + text);
        return false;
    }

private:
    template <typename F> void OnWindowThread(F&& step) {
        if (shutdown) {
            return;
        }
        QMetaObject::invokeMethod(qApp, std::forward<F>(step), Qt::BlockingQueuedConnection);
    }
};

class TareCalibrationRun : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(server.Start(&error)) << error;
        HubBuffer image;
        HubMakeDefault(image);
        ASSERT_TRUE(server.SetHubStore({image.bytes().begin(), image.bytes().begin() + 236}));
        params.SetPortName(server.path());
        Put(params.BaudRate, 19200);
        Put(params.DeviceAddress, 1);
        WorkerTiming timing;
        timing.slowRepeat = 30ms;
        worker = std::make_unique<CommandWorker>(link, params, view, texts, hub, timing);
        worker->SetJobObserver([this](int32_t code) {
            std::lock_guard guard(codesLock);
            codes.push_back(code);
        });
        ASSERT_EQ(link.UartOpen(server.path(), 19200), 0);
        worker->Start();
    }

    void TearDown() override {
        // Stop the level poll, let a call already on its way reach the window, then stop.
        view.shutdown = true;
        worker->PostCommand(job::None);
        QTest::qWait(100);
        worker->Stop();
        link.UartClose();
    }

    size_t Count(int32_t code) {
        std::lock_guard guard(codesLock);
        return size_t(std::count(codes.begin(), codes.end(), code));
    }

    // Posts a code and waits, serving the window thread, until the worker has run its job.
    bool Run(int32_t code) {
        const size_t before = Count(code);
        worker->PostCommand(code);
        return QTest::qWaitFor([&] { return Count(code) > before; }, 20000);
    }

    // Level shown in the window once the worker has polled the simulator's new level.
    QString SettledLevel(QLabel* label, const QString& previous) {
        const int start = view.levels;
        const bool changed = QTest::qWaitFor(
            [&] { return view.levels > start + 2 && label->text() != previous; }, 20000);
        return changed ? label->text() : QString();
    }

    sim::SimServer server;
    DeviceLink link;
    CommandParameters params;
    LanguageTexts texts;
    HubRecords hub;
    TareTestView view;
    std::unique_ptr<CommandWorker> worker;
    std::mutex codesLock;
    std::vector<int32_t> codes;
};

TEST_F(TareCalibrationRun, PouredPortionsReachTheDeviceTable) {
    ASSERT_TRUE(Run(job::ReadHubData));
    ASSERT_EQ(view.hubViews, 1);
    // Choose tank 1, the tank the window may store, as the tank list would.
    Put(params.TankId, CalibratedTankId);
    ASSERT_TRUE(Run(job::RefreshHubView));
    ASSERT_EQ(hub.currentTank.RowCount, 0);
    ASSERT_EQ(server.Control("level 0").rfind("error:", 0), std::string::npos);

    TareEditor editor(hub.currentTank, texts, /*readOnlyTable=*/false,
                      [this](int code) { worker->PostCommand(code); });
    std::vector<QString> boxes;
    editor.SetErrorBox([&](const QString& text) { boxes.push_back(text); });
    std::vector<QString> levels;
    int tareModeWhileOpen = -1;
    // Closes the window even if a step below fails, so the modal loop always ends.
    QTimer::singleShot(60000, &editor, [&] { editor.reject(); });
    QTimer::singleShot(0, &editor, [&] {
        if (!QTest::qWaitFor([&] { return server.State().tareMode == 1; }, 20000)) {
            return;
        }
        tareModeWhileOpen = server.State().tareMode;
        auto* label = editor.findChild<QLabel*>("lbl_fuel");
        QString shown = SettledLevel(label, "No Data");
        for (int portion = 0; portion < 3; ++portion) {
            server.Control("pour 10");
            shown = SettledLevel(label, shown);
            levels.push_back(shown);
            editor.findChild<QPushButton*>("btn_add")->click();
        }
        editor.findChild<QPushButton*>("btn_OK")->click();
    });
    view.editor = &editor;
    editor.RunModal([this](int32_t open) { Put(params.TareWindowOpen, open); });
    view.editor = nullptr;

    ASSERT_EQ(editor.result(), QDialog::Accepted) << "the run did not finish";
    EXPECT_TRUE(boxes.empty()) << boxes.front().toStdString();
    EXPECT_EQ(tareModeWhileOpen, 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Count(job::SetTareMode) == 2; }, 20000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.State().tareMode == 0; }, 20000));

    // The window stored three rows of 10, 20 and 30 l at the levels it showed.
    ASSERT_EQ(levels.size(), 3u);
    ASSERT_EQ(hub.currentTank.RowCount, 3);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(hub.currentTank.rows[i].Code, levels[i].toInt() * 10) << i;
        EXPECT_FLOAT_EQ(hub.currentTank.rows[i].Litres, 10.0f * float(i + 1)) << i;
    }
    EXPECT_LT(levels[0].toInt(), levels[1].toInt());
    EXPECT_LT(levels[1].toInt(), levels[2].toInt());

    ASSERT_TRUE(Run(job::WriteHubData));
    EXPECT_EQ(view.prepared, 1);
    {
        std::lock_guard guard(view.lock);
        EXPECT_TRUE(view.errors.empty()) << view.errors.front();
    }

    // The table is in the device's store, scaled to 16-bit values.
    HubBuffer stored;
    const std::vector<uint8_t> store = server.HubStore();
    std::copy(store.begin(), store.begin() + 4096, stored.bytes().begin());
    ASSERT_TRUE(HubIsValid(stored));
    const auto entry = HubFindEntry(stored, CalibratedTankId);
    ASSERT_TRUE(entry);
    const TankEntryHead head = HubEntryHead(stored, *entry);
    EXPECT_EQ(head.RowCount, 3);
    EXPECT_EQ(head.Scale, 1);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(HubEntryRow(stored, *entry, i).Code, hub.currentTank.rows[i].Code);
        EXPECT_EQ(HubEntryRow(stored, *entry, i).Value, 10000 * (i + 1));
    }

    // Read back into a cleared tank: the same table.
    const TankRecord written = hub.currentTank;
    hub.currentTank = TankRecord{};
    ASSERT_TRUE(Run(job::ReadHubData));
    EXPECT_EQ(Get(params.TankId), CalibratedTankId);
    ASSERT_EQ(hub.currentTank.RowCount, 3);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(hub.currentTank.rows[i].Code, written.rows[i].Code);
        EXPECT_FLOAT_EQ(hub.currentTank.rows[i].Litres, written.rows[i].Litres);
    }
}

// Settle detection driven by the simulator's level: the add button tells when the level has
// kept still for the settle time, and a point taken before that is marked in the grid.
TEST_F(TareCalibrationRun, TheAddButtonTellsWhetherTheLevelHasSettled) {
    ASSERT_TRUE(Run(job::ReadHubData));
    Put(params.TankId, CalibratedTankId);
    ASSERT_TRUE(Run(job::RefreshHubView));
    ASSERT_EQ(server.Control("level 100").rfind("error:", 0), std::string::npos);

    TareEditor editor(hub.currentTank, texts, /*readOnlyTable=*/false,
                      [this](int code) { worker->PostCommand(code); });
    std::vector<QString> boxes;
    editor.SetErrorBox([&](const QString& text) { boxes.push_back(text); });
    bool firstSettled = false, settledAtOnce = true, wobbleKeptIt = false, secondSettled = false;
    QString waiting, settledText;
    QTimer::singleShot(60000, &editor, [&] { editor.reject(); });
    QTimer::singleShot(0, &editor, [&] {
        if (!QTest::qWaitFor([&] { return server.State().tareMode == 1; }, 20000)) {
            return;
        }
        editor.findChild<QLineEdit*>("edit_settle")->setText("2");
        auto* label = editor.findChild<QLabel*>("lbl_fuel");
        auto* add = editor.findChild<QPushButton*>("btn_add");
        QString shown = SettledLevel(label, "No Data");
        firstSettled = QTest::qWaitFor([&] { return editor.LevelSettled(); }, 10000);
        add->click(); // row 1, taken after the level settled
        server.Control("level 120");
        shown = SettledLevel(label, shown);
        settledAtOnce = editor.LevelSettled();
        waiting = add->text();
        add->click(); // row 2, taken at once
        // The button itself turns to settled (it is refreshed with every level reading).
        secondSettled = QTest::qWaitFor([&] { return add->property("settled").toBool(); }, 10000);
        settledText = add->text();
        // A ripple within half a millimetre keeps the level settled.
        server.Control("level 120.4");
        const int seen = view.levels;
        wobbleKeptIt =
            QTest::qWaitFor([&] { return view.levels > seen + 3; }, 10000) && editor.LevelSettled();
        editor.reject();
    });
    view.editor = &editor;
    editor.RunModal([this](int32_t open) { Put(params.TareWindowOpen, open); });
    view.editor = nullptr;

    EXPECT_TRUE(boxes.empty()) << boxes.front().toStdString();
    EXPECT_TRUE(firstSettled);
    EXPECT_FALSE(settledAtOnce);
    EXPECT_TRUE(waiting.startsWith(QStringLiteral("Добавить (ждать "))) << waiting.toStdString();
    EXPECT_TRUE(secondSettled);
    EXPECT_EQ(settledText, QStringLiteral("Добавить (уровень стабилен)"));
    EXPECT_TRUE(wobbleKeptIt);
    ASSERT_EQ(editor.Grid().RowCount(), 3);
    EXPECT_FALSE(editor.TakenUnsettled(1));
    EXPECT_TRUE(editor.TakenUnsettled(2));
    auto* table = editor.findChild<QTableWidget*>("sg_tare1");
    EXPECT_TRUE(table->item(0, 3)->text().isEmpty());
    EXPECT_EQ(table->item(1, 3)->text(), QStringLiteral("Точка взята до успокоения уровня"));
}

} // namespace
} // namespace vq31::test
