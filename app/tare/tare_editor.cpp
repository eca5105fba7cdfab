// The tare table window: controls, language texts, and the handlers that run the grid rules
// of the calibration library against the grid shown here.
#include "tare_editor.h"

#include "add_row_dialog.h"
#include "apply_captions.h"
#include "command_worker.h"
#include "exchange.h"
#include "hub_image.h"
#include "language_file.h"
#include "language_keys.h"
#include "language_texts.h"
#include "tare_record.h"

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QShowEvent>
#include <QTableWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace vq31 {

namespace {

constexpr int LevelBoxHeight = 328;
constexpr int LevelBoxWidth = 40;
constexpr int LevelAreaWidth = 64;
constexpr int LevelBoxTop = 20;
const QColor FuelColour(0x80, 0x80, 0x00); // olive

const char* const ExcelFilter = "Excel Files (*.xls *.xlsx)";
// Reading also takes OpenDocument and csv files.
const char* const OpenFilter = "Excel Files (*.xls *.xlsx);;Workbooks (*.xls *.xlsx *.ods *.csv)";
const char* const NoLevelText = "No Data";

template <typename W> W* Named(W* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

QString Q(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Small drawn pictures for the four table buttons.
enum class Picture { Import, Export, Add, Delete };

QIcon DrawPicture(Picture picture) {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(
        QPen(picture == Picture::Delete ? QColor(0xB0, 0x20, 0x20) : QColor(0x20, 0x60, 0x20), 2));
    switch (picture) {
    case Picture::Import: // arrow down into a tray
        painter.drawLine(8, 1, 8, 10);
        painter.drawLine(4, 6, 8, 10);
        painter.drawLine(12, 6, 8, 10);
        painter.drawLine(2, 14, 14, 14);
        break;
    case Picture::Export: // arrow up out of a tray
        painter.drawLine(8, 11, 8, 2);
        painter.drawLine(4, 6, 8, 2);
        painter.drawLine(12, 6, 8, 2);
        painter.drawLine(2, 14, 14, 14);
        break;
    case Picture::Add:
        painter.drawLine(8, 3, 8, 13);
        painter.drawLine(3, 8, 13, 8);
        break;
    case Picture::Delete:
        painter.drawLine(3, 8, 13, 8);
        break;
    }
    return QIcon(pixmap);
}

} // namespace

TareEditor::TareEditor(TankRecord& tank, const LanguageTexts& texts, bool readOnlyTable,
                       std::function<void(int)> postCommand, QWidget* parent)
    : QDialog(parent), tank_(tank), texts_(texts), readOnlyTable_(readOnlyTable),
      postCommand_(std::move(postCommand)),
      decimalPoint_(QLocale::system().decimalPoint().toStdString()) {
    setObjectName(QString::fromLatin1(TareWindowKey));
    setWindowTitle(QStringLiteral("Тарировочная таблица"));
    errorBox_ = [this](const QString& text) {
        QMessageBox::critical(this, QApplication::applicationDisplayName(), text, QMessageBox::Ok);
    };
    question_ = [this](const QString& text) {
        return QMessageBox::critical(this, QApplication::applicationDisplayName(), text,
                                     QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
    };
    fileChooser_ = [this](bool forSaving) {
        return forSaving ? QFileDialog::getSaveFileName(this, QString(), QString(),
                                                        QString::fromLatin1(ExcelFilter))
                         : QFileDialog::getOpenFileName(this, QString(), QString(),
                                                        QString::fromLatin1(OpenFilter));
    };
    BuildControls();
    ShowLevelCode(std::nullopt);
}

TareEditor::~TareEditor() = default;

void TareEditor::BuildControls() {
    // Calibration group: sensitivity, portion, and the step button.
    gbTare_ = Named(new QGroupBox(QStringLiteral("Тарирование"), this), "gb_tare");
    auto* lblAccuracy = Named(new QLabel(QStringLiteral("Чувствит, мм:"), gbTare_), "lbl_accuracy");
    editAccuracy_ = Named(new QLineEdit(QStringLiteral("1"), gbTare_), "edit_accuracy");
    auto* lblPortion = Named(new QLabel(QStringLiteral("Порция, л:"), gbTare_), "lbl_portion");
    editPortion_ = Named(new QLineEdit(QStringLiteral("10"), gbTare_), "edit_portion");
    btnAdd_ = Named(new QPushButton(QStringLiteral("Добавить"), gbTare_), "btn_add");
    btnAdd_->setAutoDefault(false);
    auto* tareLayout = new QVBoxLayout(gbTare_);
    tareLayout->addWidget(lblAccuracy);
    tareLayout->addWidget(editAccuracy_);
    tareLayout->addWidget(lblPortion);
    tareLayout->addWidget(editPortion_);
    tareLayout->addWidget(btnAdd_);
    tareLayout->addStretch();
    connect(btnAdd_, &QPushButton::clicked, this, [this] { AddCalibrationPoint(); });

    // Table group: four picture buttons above the grid, and the grid's context menu.
    auto* gbTable = Named(new QGroupBox(QStringLiteral("Таблица"), this), "gb_table1");
    auto picture = [gbTable](const char* name, Picture kind) {
        auto* button = Named(new QToolButton(gbTable), name);
        button->setIcon(DrawPicture(kind));
        button->setAutoRaise(true);
        return button;
    };
    auto* spdImp = picture("spd_imp", Picture::Import);
    auto* spdExp = picture("spd_exp", Picture::Export);
    auto* spdAdd = picture("spd_add", Picture::Add);
    auto* spdDel = picture("spd_del", Picture::Delete);

    table_ = Named(new QTableWidget(gbTable), "sg_tare1");
    table_->setColumnCount(TareGrid::kColumns);
    table_->verticalHeader()->hide();
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::ContiguousSelection);
    table_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    table_->setColumnWidth(0, 40);
    table_->setColumnWidth(1, 100);
    table_->setColumnWidth(2, 70);
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->setContextMenuPolicy(Qt::ActionsContextMenu);
    auto action = [this](const char* name, const QString& text) {
        auto* item = Named(new QAction(text, this), name);
        table_->addAction(item);
        return item;
    };
    auto* menuAdd = action("Menu_Add", QStringLiteral("Добавить строку"));
    auto* menuRem = action("Menu_Rem", QStringLiteral("Удалить строку"));
    auto* separator = action("N1", QString());
    separator->setSeparator(true);
    auto* menuImp = action("Menu_Excel_Imp", QStringLiteral("Импорт из Excel"));
    auto* menuExp = action("Menu_Excel_Exp", QStringLiteral("Экспорт в Excel"));
    for (auto [trigger, handler] : {std::pair{menuAdd, &TareEditor::OpenAddRowDialog},
                                    std::pair{menuRem, &TareEditor::DeleteSelectedRows},
                                    std::pair{menuImp, &TareEditor::ImportFromWorkbook},
                                    std::pair{menuExp, &TareEditor::ExportToWorkbook}}) {
        connect(trigger, &QAction::triggered, this,
                [this, handler = handler] { (this->*handler)(); });
    }
    connect(spdImp, &QToolButton::clicked, this, [this] { ImportFromWorkbook(); });
    connect(spdExp, &QToolButton::clicked, this, [this] { ExportToWorkbook(); });
    connect(spdAdd, &QToolButton::clicked, this, [this] { OpenAddRowDialog(); });
    connect(spdDel, &QToolButton::clicked, this, [this] { DeleteSelectedRows(); });

    auto* buttonsRow = new QHBoxLayout;
    for (auto* button : {spdImp, spdExp, spdAdd, spdDel}) {
        buttonsRow->addWidget(button);
    }
    buttonsRow->addStretch();
    auto* tableLayout = new QVBoxLayout(gbTable);
    tableLayout->addLayout(buttonsRow);
    tableLayout->addWidget(table_);

    // Level group: a framed box with the fuel bar standing on its bottom. The bar and the
    // labels are placed by hand so that one pixel of bar is always 20 mm.
    auto* gbLevel = Named(new QGroupBox(QStringLiteral("Уровень, мм"), this), "gb_level1");
    auto* levelArea = new QWidget(gbLevel);
    levelArea->setFixedSize(LevelAreaWidth, LevelBoxTop + LevelBoxHeight + 20);
    const int boxLeft = (LevelAreaWidth - LevelBoxWidth) / 2;
    lblMax_ = Named(new QLabel(QStringLiteral("6500"), levelArea), "lbl_max");
    lblMax_->setGeometry(0, 0, LevelAreaWidth, LevelBoxTop);
    lblMax_->setAlignment(Qt::AlignCenter);
    shapeBox_ = Named(new QFrame(levelArea), "shape_box");
    shapeBox_->setFrameShape(QFrame::Box);
    shapeBox_->setGeometry(boxLeft, LevelBoxTop, LevelBoxWidth, LevelBoxHeight);
    shapeFuel_ = Named(new QFrame(levelArea), "shape_fuel");
    shapeFuel_->setAutoFillBackground(true);
    QPalette fuel = shapeFuel_->palette();
    fuel.setColor(QPalette::Window, FuelColour);
    shapeFuel_->setPalette(fuel);
    lblMin_ = Named(new QLabel(QStringLiteral("0"), levelArea), "lbl_min");
    lblMin_->setGeometry(0, LevelBoxTop + LevelBoxHeight, LevelAreaWidth, 20);
    lblMin_->setAlignment(Qt::AlignCenter);
    lblFuel_ = Named(new QLabel(levelArea), "lbl_fuel");
    lblFuel_->setGeometry(0, LevelBoxTop + LevelBoxHeight / 2 - 10, LevelAreaWidth, 20);
    lblFuel_->setAlignment(Qt::AlignCenter);
    lblFuel_->raise();
    auto* levelLayout = new QVBoxLayout(gbLevel);
    levelLayout->addWidget(levelArea, 0, Qt::AlignHCenter);

    btnOk_ = Named(new QPushButton(QStringLiteral("OK"), this), "btn_OK");
    btnOk_->setDefault(true);
    btnCancel_ = Named(new QPushButton(QStringLiteral("Отмена"), this), "btn_Cancel");
    btnCancel_->setAutoDefault(false);
    connect(btnOk_, &QPushButton::clicked, this, [this] { Accept(); });
    connect(btnCancel_, &QPushButton::clicked, this, &QDialog::reject);

    auto* left = new QVBoxLayout;
    left->addWidget(gbTare_);
    auto* closeButtons = new QVBoxLayout;
    closeButtons->addWidget(btnOk_);
    closeButtons->addWidget(btnCancel_);
    left->addLayout(closeButtons);
    auto* main = new QHBoxLayout(this);
    main->addLayout(left);
    main->addWidget(gbTable, 1);
    main->addWidget(gbLevel);
    resize(560, 440);
}

void TareEditor::SetLanguageFile(const LanguageFile* language) {
    language_ = language;
}

QString TareEditor::Text(std::string_view key, std::string_view builtIn) const {
    if (language_ != nullptr) {
        return Q(language_->Text(key, builtIn));
    }
    const std::string& loaded = texts_.Text(key);
    return Q(loaded.empty() ? builtIn : std::string_view(loaded));
}

void TareEditor::ApplyLanguage() {
    if (language_ != nullptr) {
        ApplyCaptions(this, *language_, CaptionSet::SubWindow);
        ApplyWindowCaption(this, *language_, TareWindowKey);
    }
    lblMax_->setText(QStringLiteral("6500"));
    grid_.SetHeaders(Text(tare_msg::Column0, "№").toStdString(),
                     Text(tare_msg::Column1, "Литры").toStdString(),
                     Text(tare_msg::Column2, "мм").toStdString());
}

void TareEditor::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        ApplyLanguage();
        LoadFromTank();
        btnOk_->setEnabled(!readOnlyTable_);
    }
    QDialog::showEvent(event);
}

void TareEditor::LoadFromTank() {
    FillTareGrid(tank_, grid_, decimalPoint_);
    RefreshTable();
}

void TareEditor::RefreshTable() {
    QStringList headers;
    for (int c = 0; c < TareGrid::kColumns; ++c) {
        headers << Q(grid_.Cell(c, 0));
    }
    table_->setHorizontalHeaderLabels(headers);
    table_->setRowCount(grid_.RowCount() - 1);
    for (int r = 1; r < grid_.RowCount(); ++r) {
        for (int c = 0; c < TareGrid::kColumns; ++c) {
            QTableWidgetItem* item = table_->item(r - 1, c);
            if (item == nullptr) {
                item = new QTableWidgetItem;
                if (c == TareGrid::kNumberColumn) {
                    item->setBackground(palette().button());
                    item->setTextAlignment(Qt::AlignCenter);
                }
                table_->setItem(r - 1, c, item);
            }
            item->setText(Q(grid_.Cell(c, r)));
        }
    }
}

void TareEditor::SelectRow(int gridRow) {
    const int row = std::clamp(gridRow, 1, grid_.RowCount() - 1) - 1;
    table_->clearSelection();
    table_->setCurrentCell(row, TareGrid::kLitresColumn);
    table_->selectRow(row);
}

void TareEditor::ShowError(const QString& text) const {
    if (errorBox_) {
        errorBox_(text);
    }
}

bool TareEditor::Report(const TareOutcome& outcome) {
    if (outcome.Ok()) {
        return true;
    }
    QString text = Text(TareMessageKey(outcome.message), TareMessageDefault(outcome.message));
    if (outcome.message == TareMessage::NotAnInteger) {
        text.replace(QStringLiteral("%s"), Q(outcome.detail));
    }
    ShowError(text);
    return false;
}

bool TareEditor::InsertTareRow(double litres, int millimetres) {
    const bool taken = Report(vq31::InsertTareRow(grid_, litres, millimetres, decimalPoint_));
    if (taken) {
        RefreshTable();
    }
    return taken;
}

void TareEditor::AddCalibrationPoint() {
    const TareOutcome outcome =
        CalibrationStep(grid_, lblFuel_->text().toStdString(), editAccuracy_->text().toStdString(),
                        editPortion_->text().toStdString(), decimalPoint_);
    if (Report(outcome)) {
        RefreshTable();
    }
}

void TareEditor::DeleteSelectedRows() {
    int top = table_->currentRow();
    int bottom = top;
    const auto ranges = table_->selectedRanges();
    if (!ranges.isEmpty()) {
        top = ranges.front().topRow();
        bottom = ranges.front().bottomRow();
    }
    if (top < 0) {
        return;
    }
    DeleteTareRows(grid_, top + 1, bottom + 1);
    RefreshTable();
    SelectRow(top + 1);
}

void TareEditor::OpenAddRowDialog() {
    AddRowDialog dialog(*this);
    dialog.exec();
}

void TareEditor::ImportFromWorkbook() {
    const QString path = fileChooser_ ? fileChooser_(false) : QString();
    if (!path.isEmpty()) {
        ImportFile(path);
    }
}

void TareEditor::ExportToWorkbook() {
    const QString path = fileChooser_ ? fileChooser_(true) : QString();
    if (!path.isEmpty()) {
        ExportFile(path);
    }
}

void TareEditor::ImportFile(const QString& path) {
    // The file is read first: a file that cannot be read leaves the table being built as it
    // is, instead of an emptied grid.
    sheets::TareRows rows;
    const sheets::ExchangeResult result =
        sheets::ImportTareTable(path.toStdString(), decimalPoint_, rows);
    if (!result.ok) {
        if (!result.message.empty()) {
            ShowError(Q(result.message));
        }
        return;
    }
    grid_.Reset();
    PutTableTexts(grid_, rows);
    RenumberRows(grid_);
    RefreshTable();
    table_->scrollToTop();
    SelectRow(1);
}

void TareEditor::ExportFile(const QString& path) {
    const sheets::ExchangeResult result = sheets::ExportTareTable(
        TableTextsOf(grid_), std::string(sheets::TareSheetName), path.toStdString(), decimalPoint_);
    if (!result.ok && !result.message.empty()) {
        ShowError(Q(result.message));
    }
}

void TareEditor::Accept() {
    if (readOnlyTable_) {
        return; // a preset tank's table is viewed, never stored
    }
    const TareOutcome outcome = StoreTareGrid(grid_, decimalPoint_, tank_, [this] {
        return question_ && question_(Text(TareMessageKey(TareMessage::TableWillTruncate),
                                           TareMessageDefault(TareMessage::TableWillTruncate)));
    });
    if (outcome.message == TareMessage::TableWillTruncate) {
        return; // the user chose to go on editing
    }
    if (Report(outcome)) {
        accept();
    }
}

int TareEditor::RunModal(const std::function<void(int32_t)>& setTareWindowOpen) {
    if (setTareWindowOpen) {
        setTareWindowOpen(1);
    }
    if (postCommand_) {
        postCommand_(job::SetTareMode);
    }
    const int result = exec();
    if (setTareWindowOpen) {
        setTareWindowOpen(0);
    }
    if (postCommand_) {
        postCommand_(job::SetTareMode);
    }
    return result;
}

void TareEditor::ShowLevel(bool hasLevel, const std::string& text, uint32_t barHeight) {
    lblFuel_->setText(Q(text));
    const int height =
        hasLevel ? static_cast<int>(std::min<uint32_t>(barHeight, LevelBoxHeight)) : 0;
    const QRect box = shapeBox_->geometry();
    shapeFuel_->setGeometry(box.left() + 1, box.top() + box.height() - height, box.width() - 2,
                            height);
    shapeFuel_->setVisible(height > 0);
}

void TareEditor::ShowLevelCode(std::optional<uint16_t> levelCode) {
    if (!levelCode) {
        ShowLevel(false, NoLevelText, 0);
        return;
    }
    ShowLevel(true, std::to_string(LevelMillimetres(*levelCode)), *levelCode / 200u);
}

} // namespace vq31
