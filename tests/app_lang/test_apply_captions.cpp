// Captions from the language file put onto a small widget tree, by objectName.
#include "apply_captions.h"
#include "language_file.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <clocale>

namespace vq31 {
namespace {

template <typename W, typename... Args> W* Named(QWidget* parent, const char* name, Args... args) {
    auto* w = new W(args..., parent);
    w->setObjectName(name);
    if (parent && parent->layout()) {
        parent->layout()->addWidget(w);
    }
    return w;
}

class Captions : public ::testing::Test {
protected:
    Captions() {
        window.setObjectName("Form1");
        window.setWindowTitle("main");
        auto* layout = new QVBoxLayout(&window);
        (void)layout;
        tabs = Named<QTabWidget>(&window, "PcMain");
        page = new QWidget;
        page->setObjectName("TsProgram");
        page->setLayout(new QVBoxLayout);
        tabs->addTab(page, "Программа");
        auto* other = new QWidget;
        other->setObjectName("TsOscill");
        tabs->addTab(other, "Осциллограф");
        group = Named<QGroupBox>(page, "GbCom", QString("Настройки порта"));
        group->setLayout(new QVBoxLayout);
        label = Named<QLabel>(group, "LblCom", QString("Номер порта:"));
        button = Named<QPushButton>(group, "BtnPortOpen", QString("Открыть"));
        check = Named<QCheckBox>(group, "RepAutoOn", QString("Автовыдача"));
        radio = Named<QRadioButton>(group, "RbMode", QString("Режим"));
        tool = Named<QToolButton>(group, "SbPre");
        tool->setText("Шаг 1");
        edit = Named<QLineEdit>(group, "EditAddr", QString("5"));
        combo = Named<QComboBox>(group, "CmbBaud");
        combo->addItem("19200");
        menu = new QMenu(&window);
        action = menu->addAction("Добавить строку");
        action->setObjectName("Menu_Add");
        unnamed = Named<QLabel>(group, "", QString("keep"));
    }

    static LanguageFile Lang(std::string_view section) {
        return LanguageFile(ProfileFile::FromBytes(std::string("[LANG]\nSELECTED=English\n") +
                                                   std::string(section)));
    }

    QWidget window;
    QTabWidget* tabs = nullptr;
    QWidget* page = nullptr;
    QGroupBox* group = nullptr;
    QLabel* label = nullptr;
    QPushButton* button = nullptr;
    QCheckBox* check = nullptr;
    QRadioButton* radio = nullptr;
    QToolButton* tool = nullptr;
    QLineEdit* edit = nullptr;
    QComboBox* combo = nullptr;
    QMenu* menu = nullptr;
    QAction* action = nullptr;
    QLabel* unnamed = nullptr;
};

TEST_F(Captions, MainWindowSetCaptionsEveryCaptionedKind) {
    const auto lang = Lang("[English]\nTsProgram=Program\nGbCom=Port settings\nLblCom=Port:\n"
                           "BtnPortOpen=Open\nRepAutoOn=Auto report\nRbMode=Mode\nSbPre=Step 1\n"
                           "Menu_Add=Add row\nEditAddr=99\nCmbBaud=x\nForm1=Title\n");
    EXPECT_EQ(ApplyCaptions(&window, lang, CaptionSet::MainWindow), 8);
    EXPECT_EQ(tabs->tabText(0), "Program");
    EXPECT_EQ(tabs->tabText(1), "Осциллограф");
    EXPECT_EQ(group->title(), "Port settings");
    EXPECT_EQ(label->text(), "Port:");
    EXPECT_EQ(button->text(), "Open");
    EXPECT_EQ(check->text(), "Auto report");
    EXPECT_EQ(radio->text(), "Mode");
    EXPECT_EQ(tool->text(), "Step 1");
    EXPECT_EQ(action->text(), "Add row");
    // Edit boxes, lists and the window itself are not captions.
    EXPECT_EQ(edit->text(), "5");
    EXPECT_EQ(combo->itemText(0), "19200");
    EXPECT_EQ(window.windowTitle(), "main");
    EXPECT_EQ(unnamed->text(), "keep");
}

TEST_F(Captions, SubWindowSetLeavesRadioAndToolButtons) {
    const auto lang = Lang("[English]\nRbMode=Mode\nSbPre=Step\nBtnPortOpen=Open\n");
    EXPECT_EQ(ApplyCaptions(&window, lang, CaptionSet::SubWindow), 1);
    EXPECT_EQ(radio->text(), "Режим");
    EXPECT_EQ(tool->text(), "Шаг 1");
    EXPECT_EQ(button->text(), "Open");
}

TEST_F(Captions, EmptyOrMissingKeysKeepTheBuiltInCaptions) {
    const auto lang = Lang("[English]\nBtnPortOpen=\nTsProgram=\n");
    EXPECT_EQ(ApplyCaptions(&window, lang, CaptionSet::MainWindow), 0);
    EXPECT_EQ(button->text(), "Открыть");
    EXPECT_EQ(tabs->tabText(0), "Программа");
    EXPECT_EQ(ApplyCaptions(&window, LanguageFile(), CaptionSet::MainWindow), 0);
}

TEST_F(Captions, WindowCaptionComesFromTheFormKey) {
    EXPECT_TRUE(
        ApplyWindowCaption(&window, Lang("[English]\nForm_Tare1=Tare table\n"), "Form_Tare1"));
    EXPECT_EQ(window.windowTitle(), "Tare table");
    EXPECT_FALSE(ApplyWindowCaption(&window, Lang("[English]\nForm_Tare1=\n"), "Form_Tare1"));
    EXPECT_EQ(window.windowTitle(), "Tare table");
}

} // namespace
} // namespace vq31

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C"); // the application object took it from the environment
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
