// The main window's settings file and language file steps: remembering the serial link,
// loading the texts and captions, rebuilding the fixed lists, and choosing a language.
#include "main_window.h"

#include "apply_captions.h"
#include "command_parameters.h"
#include "language_file.h"
#include "language_texts.h"

#include "settings_file.h"
#include "window_words.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QLabel>

#include <QComboBox>
#include <QLineEdit>
#include <QTableWidget>

namespace vq31::app {

void MainWindow::LoadSettings() {
    const LinkSettings s = SettingsFile(setup_.settingsPath.toStdString()).Load();
    portNumber_ = s.portNumber;
    baudRate_ = s.baudRate;
    address_ = s.address;
    if (address_ < 0 || address_ > 255) {
        // Not a bus address: the default one is taken, and the user is told.
        const int32_t refused = address_;
        address_ = LinkSettings{}.address;
        prompter_->Error(
            Word(word::StartAddress.key, word::StartAddress.text).arg(refused).arg(address_));
    }
    SyncBroadcastBox();
    portName_ = QString::fromStdString(s.portName);
    Put(params_.PortNumber, portNumber_);
    Put(params_.BaudRate, baudRate_);
    Put(params_.DeviceAddress, address_);
    params_.SetPortName(s.portName);
}

void MainWindow::SaveSettings() {
    LinkSettings s;
    s.portNumber = portNumber_;
    s.baudRate = baudRate_;
    s.address = address_;
    s.portName = portName_.toStdString();
    std::string error;
    // A settings file that cannot be written loses nothing the window holds; the choice
    // stays in effect for this run, so the failure is not put in the user's way.
    SettingsFile(setup_.settingsPath.toStdString()).Save(s, &error);
}

void MainWindow::ApplyFoundLink() {
    baudRate_ = Get(params_.BaudRate);
    address_ = Get(params_.DeviceAddress);
    SyncBroadcastBox();
    SaveSettings();
    CmbBaud->setCurrentIndex(CmbBaud->findText(QString::number(baudRate_)));
    EditAddr->setText(QString::number(uint32_t(address_)));
}

void MainWindow::ApplyFoundLink(int baudRate, int address) {
    Put(params_.BaudRate, baudRate);
    Put(params_.DeviceAddress, address);
    ApplyFoundLink();
}

void MainWindow::LoadLanguage() {
    language_ =
        std::make_unique<LanguageFile>(LanguageFile::Load(setup_.languagePath.toStdString()));
    currentLanguage_ = QString::fromStdString(language_->Selected());
    InstallQtTranslation();

    CmbLang->clear();
    // Each language by its own name (its section's "lang_name"), the section name kept as
    // the item's data for the choice.
    for (const std::string& name : language_->Languages()) {
        const std::string own = language_->Profile().Find(name, "lang_name").value_or(name);
        CmbLang->addItem(QString::fromStdString(own.empty() ? name : own),
                         QString::fromStdString(name));
    }
    CmbLang->setCurrentIndex(language_->SelectedIndex());

    ApplyCaptions(this, *language_, CaptionSet::MainWindow);
    language_->LoadTexts(texts_);
    RebuildLists();
    GridCensus->setHorizontalHeaderLabels(Text(msg::CensusColumns).split(';'));

    // Without its file the window runs on the built-in texts and an empty language list: say
    // so once, with the places that were searched.
    if (!QFileInfo(setup_.languagePath).isFile()) {
        const QStringList places = setup_.languagePlaces.isEmpty()
                                       ? QStringList{setup_.languagePath}
                                       : setup_.languagePlaces;
        StatusNotice->setText(Text(msg::LanguageMissing).arg(places.join(QStringLiteral("; "))));
        StatusNotice->show();
    } else {
        StatusNotice->hide();
    }
}

void MainWindow::RebuildLists() {
    const auto refill = [this](QComboBox* list, const char* prefix, int count) {
        list->clear();
        for (int i = 0; i < count; ++i)
            list->addItem(Text(QString("%1%2").arg(prefix).arg(i).toUtf8().constData()));
        list->setCurrentIndex(-1);
    };
    refill(CmbBits, "str_cmb_bits", 2);
    refill(CmbHubMlPerBit, "str_cmb_MlPerBit", 5);
    refill(CmbFuelType, "str_cmb_FuelType", 4);
    refill(Cmb255Ans, "str_cmb_255Ans", 2);
    refill(CmbOscillMode, "str_cmb_OscillMode", 3);
    refill(CmbAtten, "str_cmb_Atten", 2);
    CmbOscillMode->setCurrentIndex(0);
    // Only the last gain items have words; the numbers stay.
    constexpr int WordItem = 25;
    CmbKu->setItemText(WordItem, Text("str_cmb_Ku"));
    CmbKuMax->setItemText(WordItem, Text("str_cmb_KuMax"));
    CmbFiltr->setItemText(0, Text("str_cmb_Filtr0"));
}

void MainWindow::CmbLangChange() {
    std::string error;
    const bool written = ChooseLanguage(
        setup_.languagePath.toStdString(),
        (CmbLang->currentData().isValid() ? CmbLang->currentData().toString()
                                          : CmbLang->currentText())
            .toStdString(),
        texts_.Text(msg::ChangeLanguage),
        [this](const std::string& text) { prompter_->Information(QString::fromStdString(text)); },
        &error);
    if (!written)
        prompter_->Error(QString::fromStdString(error));
}

} // namespace vq31::app
