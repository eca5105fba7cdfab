// One language per window: with the shipped language file, every text the main window, the
// traffic window and the snapshot window show is in the chosen language. In Russian no text
// is Latin alone (units and names listed below aside); in English no text has a Cyrillic
// letter (the language list, which names each language in its own words, aside).
#include "apply_captions.h"
#include "echo_format.h"
#include "language_file.h"
#include "language_keys.h"
#include "qt_worker_view.h"
#include "snapshot_dialog.h"
#include "traffic_window.h"
#include "window_rig.h"

#include "hub_image.h"
#include "snapshot.h"
#include "trace.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTableWidget>

#include <gtest/gtest.h>

#include <memory>

namespace vq31::app::test {
namespace {

// Names that stay as they are in the Russian window: the product's and the device's names
// and the name of the device's hub block.
const QStringList LatinAllowedInRussian = {"vQ31 Install Service v.", "VQ31", "HUB_DATA"};

// Texts of a window that are data rather than words: port names and the protocol trace.
const QStringList DataWidgets = {"CmbCom", "MemoTraffic"};

bool HasCyrillic(const QString& text) {
    static const QRegularExpression cyrillic(QStringLiteral("[\\x{0400}-\\x{04FF}]"));
    return text.contains(cyrillic);
}

bool LatinOnly(QString text) {
    for (const QString& allowed : LatinAllowedInRussian)
        text.remove(allowed);
    static const QRegularExpression latin(QStringLiteral("[A-Za-z]"));
    return text.contains(latin) && !HasCyrillic(text);
}

// Every text a widget shows, line by line, each with the widget's name.
void Collect(QWidget* root, QStringList& out) {
    QList<QWidget*> widgets = root->findChildren<QWidget*>();
    widgets.prepend(root);
    const auto add = [&out](const QWidget* w, const QString& text) {
        for (const QString& line : text.split('\n'))
            if (!line.trimmed().isEmpty())
                out << w->objectName() + ": " + line;
    };
    for (QWidget* w : widgets) {
        if (DataWidgets.contains(w->objectName()))
            continue;
        if (w->isWindow())
            add(w, w->windowTitle());
        if (auto* label = qobject_cast<QLabel*>(w))
            add(w, label->text());
        else if (auto* button = qobject_cast<QAbstractButton*>(w))
            add(w, button->text());
        else if (auto* group = qobject_cast<QGroupBox*>(w))
            add(w, group->title());
        else if (auto* edit = qobject_cast<QLineEdit*>(w))
            add(w, edit->text() + "\n" + edit->placeholderText());
        else if (auto* memo = qobject_cast<QPlainTextEdit*>(w))
            add(w, memo->toPlainText());
        if (auto* tabs = qobject_cast<QTabWidget*>(w))
            for (int i = 0; i < tabs->count(); ++i)
                add(w, tabs->tabText(i));
        if (auto* list = qobject_cast<QComboBox*>(w); list && w->objectName() != "CmbLang")
            for (int i = 0; i < list->count(); ++i)
                add(w, list->itemText(i));
        if (auto* list = qobject_cast<QListWidget*>(w))
            for (int i = 0; i < list->count(); ++i)
                add(w, list->item(i)->text());
        if (auto* table = qobject_cast<QTableWidget*>(w))
            for (int i = 0; i < table->columnCount(); ++i)
                if (table->horizontalHeaderItem(i))
                    add(w, table->horizontalHeaderItem(i)->text());
    }
}

std::string ShippedFile(const char* language) {
    QFile file(VQ31_SHIPPED_LANGUAGE_FILE);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QString text = QString::fromUtf8(file.readAll());
    text.replace(QRegularExpression("SELECTED=[^\\r\\n]*"), QString("SELECTED=") + language);
    return text.toStdString();
}

// Two snapshots of one sensor: the first saved without a reason (as older files are), the
// second with one, so the window shows a derived and a recorded reason.
void SaveSnapshots(const SnapshotStore& store) {
    auto image = std::make_unique<HubBuffer>();
    HubMakeDefault(*image);
    Snapshot s;
    s.time = "2026-12-09T00:30:00Z";
    s.serialNumber = 4711;
    s.address = 1;
    s.linkFlags = 0x1C;
    s.hub.assign(image->bytes().begin(),
                 image->bytes().begin() + ptrdiff_t(HubPageCount(*image) * HubPageSize));
    std::string error;
    ASSERT_FALSE(store.Save(s, error).empty()) << error;
    s.time = "2026-12-09T00:40:00Z";
    s.address = 3;
    s.reason.kind = SnapshotReason::Kind::Restore;
    s.reason.from = "2026-12-09T00:30:00Z";
    ASSERT_FALSE(store.Save(s, error).empty()) << error;
}

enum class Window { Main, Traffic, Snapshots };

struct LanguageCase {
    const char* language;
    Window window;
};

class OneLanguagePerWindow : public ::testing::TestWithParam<LanguageCase> {};

TEST_P(OneLanguagePerWindow, ShowsNoTextOfTheOtherScript) {
    const LanguageCase c = GetParam();
    WindowRig rig("", ShippedFile(c.language));
    ASSERT_EQ(rig.w().CmbLang->currentData().toString().toStdString(), c.language);
    QWidget* root = rig.window.get();
    std::unique_ptr<SnapshotDialog> snapshots;
    QtWorkerView view(*rig.window);
    if (c.window == Window::Main) {
        // The live values as an echo with the wide-band filter and an echo error shows them.
        EchoStatusRecord status{};
        status[echo::Filter] = 450;
        status[echo::ErrorCode] = 7;
        EchoFrame frame;
        frame.mode = 1;
        frame.labels = FormatEchoLabels(status, rig.texts);
        frame.fields = FormatEchoFields(status, rig.texts);
        frame.dataInst = rig.texts.Text(msg::Inactive);
        view.ShowEcho(frame);
        ASSERT_EQ(rig.w().LblFiltr->text().toStdString(), rig.texts.Text(msg::Wide));
    } else if (c.window == Window::Traffic) {
        auto monitor = std::make_shared<LinkMonitor>();
        monitor->CountExchange(StatusOk);
        monitor->CountExchange(StatusNoAnswer);
        rig.w().SetTrafficMonitor(monitor);
        TrafficWindow* traffic = rig.w().OpenTrafficWindow();
        ASSERT_NE(traffic, nullptr);
        traffic->Refresh();
        root = traffic;
    } else if (c.window == Window::Snapshots) {
        const SnapshotStore store(
            std::filesystem::path(rig.dir.filePath("snapshots").toStdString()));
        SaveSnapshots(store);
        snapshots = std::make_unique<SnapshotDialog>(
            store, rig.boxes, rig.texts, [](const std::filesystem::path&, bool) {}, [](int) {});
        const LanguageFile language = LanguageFile::Load(rig.LanguagePath().toStdString());
        ApplyCaptions(snapshots.get(), language, CaptionSet::SubWindow);
        ApplyWindowCaption(snapshots.get(), language, SnapshotWindowKey);
        ASSERT_EQ(snapshots->LstSnapshots->count(), 2);
        root = snapshots.get();
    }
    QStringList texts;
    Collect(root, texts);
    ASSERT_FALSE(texts.isEmpty());
    const bool russian = std::string(c.language) == "Russian";
    QStringList wrong;
    for (const QString& text : texts) {
        const QString shown = text.section(": ", 1);
        if (russian ? LatinOnly(shown) : HasCyrillic(shown))
            wrong << text;
    }
    EXPECT_TRUE(wrong.isEmpty()) << wrong.join('\n').toStdString();
}

const LanguageCase Cases[] = {
    {"Russian", Window::Main}, {"Russian", Window::Traffic}, {"Russian", Window::Snapshots},
    {"English", Window::Main}, {"English", Window::Traffic}, {"English", Window::Snapshots},
};

std::string CaseName(const ::testing::TestParamInfo<LanguageCase>& info) {
    static const char* const names[] = {"Main", "Traffic", "Snapshots"};
    return std::string(info.param.language) + names[int(info.param.window)];
}

INSTANTIATE_TEST_SUITE_P(ShippedFile, OneLanguagePerWindow, ::testing::ValuesIn(Cases), CaseName);

} // namespace
} // namespace vq31::app::test
