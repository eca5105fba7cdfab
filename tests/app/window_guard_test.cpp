// The main window's guards without a worker: refused numbers, the broadcast address, the
// tare page's unwritten work and the close question, a write with nothing changed, the word
// after a write, and file suffixes that follow the chosen format.
#include "sensor_panel.h"
#include "window_actions.h"
#include "window_rig.h"
#include "worker_view.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#ifdef VQ31_HAVE_TARE_UI
#include "tare_editor.h"
#endif

namespace vq31::app::test {
namespace {

// --- numbers and addresses ---------------------------------------------------------------

TEST(WindowGuard, TypedAddressOutsideTheBusIsRefusedWithItsRange) {
    for (const char* typed : {"300", "999", "255", "-4"}) {
        WindowRig rig;
        rig.w().EditAddr->setText("17");
        rig.w().EditAddr->setText(typed);
        EXPECT_EQ(rig.w().EditAddr->text(), "17") << typed;
        EXPECT_EQ(Get(rig.params.DeviceAddress), 17) << typed;
        EXPECT_TRUE(Holds(rig.Settings(), "ADDR=17")) << typed;
        ASSERT_EQ(rig.boxes.shown.size(), 1u) << typed;
        EXPECT_TRUE(rig.boxes.shown[0].text.contains("254")) << typed;
    }
}

TEST(WindowGuard, BroadcastIsReachedOnlyThroughItsBoxAndLeftBackToTheOwnAddress) {
    WindowRig rig;
    rig.w().EditAddr->setText("17");
    rig.w().ChkAddrBroadcast->click();
    EXPECT_EQ(Get(rig.params.DeviceAddress), 255);
    EXPECT_FALSE(rig.w().EditAddr->isEnabled());
    EXPECT_TRUE(Holds(rig.Settings(), "ADDR=255"));
    rig.w().ChkAddrBroadcast->click();
    EXPECT_EQ(Get(rig.params.DeviceAddress), 17);
    EXPECT_TRUE(rig.w().EditAddr->isEnabled());
    EXPECT_TRUE(rig.boxes.shown.empty());
}

TEST(WindowGuard, SpinBoxesKeepEveryKeystrokeAndRefuseAValueOutOfRange) {
    struct Case {
        const char* name;
        const char* typed;
        const char* range;
    };
    for (const Case c : {Case{"SpinHubTankHeight", "70000", "6500"},
                         Case{"SpinAddr2", "300", "255"}, Case{"RepAutoPeriod", "999", "255"}}) {
        WindowRig rig;
        rig.window->show();
        auto* box = rig.w().findChild<QSpinBox*>(c.name);
        ASSERT_NE(box, nullptr) << c.name;
        box->setEnabled(true);
        const int before = box->value();
        auto* edit = box->findChild<QLineEdit*>();
        box->setFocus();
        box->selectAll();
        QTest::keyClicks(box, c.typed);
        EXPECT_EQ(edit->text(), c.typed) << c.name; // no key dropped
        QTest::keyClick(box, Qt::Key_Return);
        QCoreApplication::processEvents();
        EXPECT_EQ(box->value(), before) << c.name;
        ASSERT_EQ(rig.boxes.shown.size(), 1u) << c.name;
        EXPECT_TRUE(rig.boxes.shown[0].text.contains(c.typed)) << c.name;
        EXPECT_TRUE(rig.boxes.shown[0].text.contains(c.range)) << c.name;
    }
}

// --- the tare page's work and the sensor ---------------------------------------------------

// The tare page as after a read: a hub with tank 1's table, tank 1 active, height 1500 mm.
void ShowReadHub(WindowRig& rig) {
    HubBuffer& image = rig.hub->hubBuffer;
    HubMakeDefault(image);
    TankRecord tank;
    tank.Scale = 10;
    tank.RowCount = 4;
    const float litres[] = {25.25f, 40.75f, 60.55f, 80.25f};
    for (uint16_t r = 0; r < 4; ++r)
        tank.rows[r] = {uint16_t(1000 * (r + 1)), litres[r]};
    RecordToEntry(tank, image, *HubFindEntry(image, CalibratedTankId));
    HubSeal(image);
    Put(rig.params.TankId, 1);
    rig.w().CmbHubMlPerBit->setCurrentIndex(MlPerBitIndex(image.MlPerBit()));
    HubView view;
    view.valid = true;
    view.version = "3.01";
    view.tankIds = {0, 1};
    view.selectedIndex = 1;
    view.heightMm = 1500;
    view.tableLength = 4;
    view.mlPerBitIndex = rig.w().CmbHubMlPerBit->currentIndex();
    view.loadCurrentTank = [&rig] {
        EntryToRecord(rig.hub->hubBuffer, *HubFindEntry(rig.hub->hubBuffer, 1),
                      rig.hub->currentTank);
    };
    LoadCurrentTank(view);
    rig.w().ShowHubData(view);
    rig.w().UnlockControls(1);
    rig.posts.clear();
}

TEST(WindowGuard, AWriteWithNothingChangedSaysSoAndSendsNothing) {
    WindowRig rig;
    ShowReadHub(rig);
    EXPECT_TRUE(rig.w().LblHubUnwritten->isHidden());
    rig.w().BtnHubTareSet->click();
    EXPECT_TRUE(rig.posts.empty());
    ASSERT_EQ(rig.boxes.shown.size(), 1u);
    EXPECT_EQ(rig.boxes.shown[0].kind, "information");
}

TEST(WindowGuard, WorkTheSensorDoesNotHaveIsMarked) {
    struct Case {
        const char* what;
        std::function<void(WindowRig&)> change;
    };
    const Case cases[] = {
        {"height", [](WindowRig& rig) { rig.w().SpinHubTankHeight->setValue(1600); }},
        {"imported list",
         [](WindowRig& rig) {
             TankRecord preset;
             preset.Id = 7;
             preset.Scale = 1;
             preset.RowCount = 1;
             preset.rows[0] = {12000, 250.0f};
             HubAppendTank(rig.hub->hubBuffer, preset);
             rig.w().UpdateUnwrittenMark();
         }},
#ifdef VQ31_HAVE_TARE_UI
        {"table stored with OK",
         [](WindowRig& rig) {
             rig.w().onTareWindow = [](TareEditor& editor) {
                 QTimer::singleShot(0, &editor, [&editor] {
                     editor.InsertTareRow(90.5, 500);
                     editor.Accept();
                 });
             };
             rig.w().BtnHubTareTableClick();
         }},
#endif
    };
    for (const Case& c : cases) {
        WindowRig rig;
        ShowReadHub(rig);
        c.change(rig);
        EXPECT_FALSE(rig.w().LblHubUnwritten->isHidden()) << c.what;
        EXPECT_TRUE(rig.w().HubUnwritten()) << c.what;
    }
}

TEST(WindowGuard, ClosingWithUnwrittenWorkWritesDiscardsOrStaysOnTheUsersWord) {
    using Choice = Prompter::CloseChoice;
    struct Case {
        Choice choice;
        bool closes;
        std::vector<int> posts;
    };
    for (const Case& c : {Case{Choice::Stay, false, {}}, Case{Choice::Discard, true, {}},
                          Case{Choice::Write, false, {25}}}) {
        WindowRig rig;
        rig.window->show();
        ShowReadHub(rig);
        rig.w().SpinHubTankHeight->setValue(1600);
        rig.boxes.closeChoice = c.choice;
        EXPECT_EQ(rig.window->close(), c.closes) << int(c.choice);
        EXPECT_EQ(rig.posts, c.posts) << int(c.choice);
        ASSERT_FALSE(rig.boxes.shown.empty());
        EXPECT_EQ(rig.boxes.shown[0].kind, "close");
    }
}

TEST(WindowGuard, TheWindowClosesOnceTheWriteAskedForOnClosingSucceeded) {
    WindowRig rig;
    rig.window->show();
    ShowReadHub(rig);
    rig.w().SpinHubTankHeight->setValue(1600);
    rig.boxes.closeChoice = Prompter::CloseChoice::Write;
    EXPECT_FALSE(rig.window->close());
    rig.w().JobFinished(25);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !rig.window->isVisible(); }, 2000));
    EXPECT_FALSE(rig.w().HubUnwritten());
}

TEST(WindowGuard, MakingAnotherTankActiveAsksFirst) {
    for (const bool yes : {false, true}) {
        WindowRig rig;
        ShowReadHub(rig);
        Put(rig.params.TankId, 7);
        rig.boxes.answerYes = yes;
        rig.w().BtnHubTareSet->click();
        ASSERT_EQ(rig.boxes.shown.size(), 1u);
        EXPECT_EQ(rig.boxes.shown[0].kind, "question");
        EXPECT_TRUE(rig.boxes.shown[0].text.contains("7"));
        EXPECT_EQ(rig.posts, yes ? std::vector<int>{25} : std::vector<int>{});
    }
}

TEST(WindowGuard, AWriteThatEndsWithoutAnErrorGetsItsWord) {
    struct Case {
        int code;
        const char* word;
    };
    for (const Case c : {Case{20, "Настройки записаны"}, Case{9, "Частота"},
                         Case{12, "установлено"}, Case{25, "строк 4"}}) {
        WindowRig rig;
        ShowReadHub(rig);
        rig.w().PostCommand(c.code);
        rig.w().JobFinished(c.code);
        EXPECT_TRUE(rig.w().StatusResult->text().contains(c.word))
            << c.code << ": " << rig.w().StatusResult->text().toStdString();
    }
}

TEST(WindowGuard, AWriteThatShowedAnErrorGetsNoWordOfSuccess) {
    WindowRig rig;
    rig.w().PostCommand(20);
    rig.w().NoteWorkerBox();
    rig.w().JobFinished(20);
    EXPECT_TRUE(rig.w().StatusResult->text().isEmpty());
}

// --- the program page's sensor panel ----------------------------------------------------------

TEST(WindowGuard, TheProgramPageShowsTheSensorAndItsLevelInLitresOfTheActiveTable) {
    WindowRig rig;
    ShowReadHub(rig);
    rig.w().RememberPassport({0, 4711, 31, 0x12});
    EXPECT_EQ(rig.w().GbSensor->ValSerial->text(), "004711");
    EXPECT_EQ(rig.w().GbSensor->ValModel->text(), "VQ31");
    EXPECT_EQ(rig.w().GbSensor->ValFirmware->text(), "1.20");
    const QLocale locale = QLocale::system();
    struct Case {
        double mm;
        QString litres;
    };
    for (const Case& c :
         {Case{150, locale.toString(33.0, 'f', 2)}, Case{400, locale.toString(80.25, 'f', 2)},
          Case{50, "—"}, Case{401, "—"}}) {
        rig.w().ShowSensorLevel(c.mm);
        EXPECT_EQ(rig.w().GbSensor->ValLevel->text(), locale.toString(c.mm, 'f', 1));
        EXPECT_EQ(rig.w().GbSensor->ValLitres->text(), c.litres) << c.mm;
    }
}

// --- one language per window -------------------------------------------------------------------

TEST(WindowGuard, QtsOwnButtonsSpeakTheWindowsLanguage) {
    struct Case {
        std::string language;
        QString cancel;
    };
    for (const Case& c : {Case{"", "Отмена"}, Case{"[LANG]\nSELECTED=English\nLANG1=English\n"
                                                   "[English]\nqt_locale=en\n",
                                                   "Cancel"}}) {
        WindowRig rig("", c.language);
        EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), c.cancel);
    }
}

TEST(WindowGuard, LanguagesAreListedByTheirOwnNamesAndChosenBySection) {
    WindowRig rig("", "[LANG]\nSELECTED=English\nLANG1=English\nLANG2=Russian\n"
                      "[English]\nlang_name=English\n[Russian]\nlang_name=Русский\n");
    EXPECT_EQ(rig.w().CmbLang->itemText(0), "English");
    EXPECT_EQ(rig.w().CmbLang->itemText(1), "Русский");
    Choose(rig.w().CmbLang, 1);
    EXPECT_TRUE(Holds(ReadText(rig.LanguagePath()), "SELECTED=Russian"))
        << ReadText(rig.LanguagePath());
}

// --- size and place -------------------------------------------------------------------------

TEST(WindowGuard, TheWindowStartsInsideTheScreensFreeAreaWithItsStatusBarShown) {
    WindowRig rig;
    rig.window->show();
    const QRect area = rig.window->screen()->availableGeometry();
    EXPECT_TRUE(area.contains(rig.window->geometry())) << area.height();
    EXPECT_GE(rig.window->y(), area.top());
}

TEST(WindowGuard, TheWindowComesBackAtTheSizeAndPlaceItWasClosedWith) {
    QRect closedWith;
    std::string settings;
    {
        WindowRig rig;
        rig.window->show();
        rig.window->setGeometry(3, 30, 795, 500);
        closedWith = rig.window->geometry();
        rig.window->close();
        settings = rig.Settings();
    }
    WindowRig again(settings);
    again.window->show();
    EXPECT_EQ(again.window->geometry(), closedWith) << settings;
}

TEST(WindowGuard, SaveDialogsStartWithTheSensorTankAndDate) {
    struct Case {
        std::optional<uint32_t> serial;
        int tank;
        const char* suffix;
        const char* name;
    };
    const QDate day(2026, 12, 9);
    for (const Case& c : {Case{4711, 1, "xlsx", "sn004711_tank1_2026-12-09.xlsx"},
                          Case{std::nullopt, 7, "pdf", "tank7_2026-12-09.pdf"},
                          Case{123456, 0, "", "sn123456_tank0_2026-12-09"}}) {
        EXPECT_EQ(SuggestedFileName(c.serial, c.tank, day, c.suffix), c.name);
    }
    WindowRig rig;
    rig.w().RememberPassport({0, 4711, 31, 0x12});
    Put(rig.params.TankId, 1);
    rig.w().BtnTanksExp->click();
    EXPECT_TRUE(rig.boxes.suggestedName.startsWith("sn004711_tank1_"));
    EXPECT_TRUE(rig.boxes.suggestedName.endsWith(".xlsx"));
}

TEST(WindowGuard, TheImportDialogShowsEveryReadableFormatFirstInTheWindowsLanguage) {
    WindowRig rig;
    rig.w().BtnTanksImp->click();
    EXPECT_TRUE(rig.boxes.openFilter.startsWith("Все книги и таблицы (*.xlsx *.xls *.ods *.csv)"))
        << rig.boxes.openFilter.toStdString();
}

TEST(WindowGuard, ASavedFileTakesTheExtensionOfTheChosenFormat) {
    struct Case {
        const char* filter;
        const char* suffix;
    };
    for (const Case c :
         {Case{"Excel Files (*.xlsx *.xls)", "xlsx"}, Case{"CSV (*.csv)", "csv"},
          Case{"PDF (*.pdf)", "pdf"}, Case{"PNG (*.png)", "png"}, Case{"All (*)", ""}}) {
        EXPECT_EQ(DefaultSuffixOf(c.filter), c.suffix) << c.filter;
    }
}

} // namespace
} // namespace vq31::app::test
