// The tare table window: controls, language texts, and the handlers that run the grid rules
// of the calibration library against the grid shown here (its files: tare_editor_files.cpp).
#include "tare_editor.h"
#include "tare_editor_parts.h"

#include "add_row_dialog.h"
#include "apply_captions.h"
#include "command_worker.h"
#include "exchange.h"
#include "hub_image.h"
#include "language_file.h"
#include "language_keys.h"
#include "language_texts.h"
#include "report_dialog.h"
#include "tare_export.h"
#include "tare_plot_widget.h"
#include "tare_record.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
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
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <chrono>

namespace vq31 {

using namespace tare_editor;

namespace {

constexpr int LevelBoxWidth = 40;
constexpr int LevelAreaWidth = 64;
constexpr int LevelBoxTop = 20;
const QColor FuelColour(0x80, 0x80, 0x00); // olive

const char* const ExcelFilter = "Excel Files (*.xls *.xlsx)";
// Reading also takes OpenDocument and csv files.
const char* const OpenFilter = "Excel Files (*.xls *.xlsx);;Workbooks (*.xls *.xlsx *.ods *.csv)";

// The checks' column beside the grid's three.
constexpr int CheckColumn = TareGrid::kColumns;
const QColor FindingBackground(0xFF, 0xE4, 0xE1);
// How often the add button's settle state is refreshed between level readings.
constexpr int SettleRefreshMs = 500;

template <typename W> W* Named(W* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

// Small drawn pictures for the four table buttons.
enum class Picture { Import, Export, Add, Delete, Pairs };

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
    case Picture::Pairs: // two columns of dots
        for (int y = 3; y <= 13; y += 5) {
            painter.drawPoint(4, y);
            painter.drawLine(8, y, 13, y);
        }
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
    saveChooser_ = [this](const QString& filter) {
        return QFileDialog::getSaveFileName(this, QString(), QString(), filter);
    };
    reportAsker_ = [this](const ReportFields& values) -> std::optional<ReportFields> {
        ReportDialog dialog(
            values,
            [this](std::string_view key, std::string_view builtIn) { return Text(key, builtIn); },
            this);
        if (dialog.exec() != QDialog::Accepted) {
            return std::nullopt;
        }
        return dialog.Values();
    };
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
    auto* lblSettle = Named(new QLabel(QStringLiteral("Успокоение, с:"), gbTare_), "lbl_settle");
    editSettle_ = Named(new QLineEdit(QStringLiteral("30"), gbTare_), "edit_settle");
    btnAdd_ = Named(new QPushButton(QStringLiteral("Добавить"), gbTare_), "btn_add");
    btnAdd_->setAutoDefault(false);
    btnAdd_->setMinimumWidth(150);
    auto* tareLayout = new QVBoxLayout(gbTare_);
    tareLayout->addWidget(lblAccuracy);
    tareLayout->addWidget(editAccuracy_);
    tareLayout->addWidget(lblPortion);
    tareLayout->addWidget(editPortion_);
    tareLayout->addWidget(lblSettle);
    tareLayout->addWidget(editSettle_);
    tareLayout->addWidget(btnAdd_);
    tareLayout->addStretch();
    connect(btnAdd_, &QPushButton::clicked, this, [this] { AddCalibrationPoint(); });
    connect(editSettle_, &QLineEdit::textChanged, this, [this] {
        ReadSettleWindow();
        UpdateSettleState();
    });
    settleTimer_ = new QTimer(this);
    settleTimer_->setInterval(SettleRefreshMs);
    connect(settleTimer_, &QTimer::timeout, this, [this] { UpdateSettleState(); });

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
    auto* spdCsv = picture("spd_csv", Picture::Pairs);
    spdCsv->setToolTip(QStringLiteral("Экспорт для телематики (CSV)"));
    auto* lblSeparator =
        Named(new QLabel(QStringLiteral("Разделитель:"), gbTable), "lbl_csv_separator");
    cmbSeparator_ = Named(new QComboBox(gbTable), "cmb_csv_separator");
    cmbSeparator_->addItem(QStringLiteral(";"));
    cmbSeparator_->addItem(QStringLiteral(","));
    btnReport_ = Named(new QPushButton(QStringLiteral("Протокол..."), gbTable), "btn_report");
    btnReport_->setAutoDefault(false);

    table_ = Named(new QTableWidget(gbTable), "sg_tare1");
    table_->setColumnCount(TareGrid::kColumns + 1);
    table_->verticalHeader()->hide();
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::ContiguousSelection);
    table_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    table_->setColumnWidth(0, 40);
    table_->setColumnWidth(1, 100);
    table_->setColumnWidth(2, 70);
    table_->setColumnWidth(CheckColumn, 220);
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
    auto* separator2 = action("N2", QString());
    separator2->setSeparator(true);
    auto* menuCsv = action("Menu_Csv_Exp", QStringLiteral("Экспорт для телематики (CSV)"));
    auto* menuReport = action("Menu_Report", QStringLiteral("Протокол тарировки (PDF)"));
    for (auto [trigger, handler] : {std::pair{menuAdd, &TareEditor::OpenAddRowDialog},
                                    std::pair{menuRem, &TareEditor::DeleteSelectedRows},
                                    std::pair{menuImp, &TareEditor::ImportFromWorkbook},
                                    std::pair{menuExp, &TareEditor::ExportToWorkbook},
                                    std::pair{menuCsv, &TareEditor::ExportTelematics},
                                    std::pair{menuReport, &TareEditor::OpenReportDialog}}) {
        connect(trigger, &QAction::triggered, this,
                [this, handler = handler] { (this->*handler)(); });
    }
    connect(spdImp, &QToolButton::clicked, this, [this] { ImportFromWorkbook(); });
    connect(spdExp, &QToolButton::clicked, this, [this] { ExportToWorkbook(); });
    connect(spdAdd, &QToolButton::clicked, this, [this] { OpenAddRowDialog(); });
    connect(spdDel, &QToolButton::clicked, this, [this] { DeleteSelectedRows(); });
    connect(spdCsv, &QToolButton::clicked, this, [this] { ExportTelematics(); });
    connect(btnReport_, &QPushButton::clicked, this, [this] { OpenReportDialog(); });
    connect(table_, &QTableWidget::currentCellChanged, this, [this](int row) {
        report::CurveStyle style = plot_->Style();
        style.highlightedRow = row >= 0 ? std::optional<int>(row + 1) : std::nullopt;
        plot_->SetStyle(std::move(style));
    });

    auto* buttonsRow = new QHBoxLayout;
    for (auto* button : {spdImp, spdExp, spdAdd, spdDel, spdCsv}) {
        buttonsRow->addWidget(button);
    }
    buttonsRow->addWidget(lblSeparator);
    buttonsRow->addWidget(cmbSeparator_);
    buttonsRow->addWidget(AddShapeButton(gbTable));
    buttonsRow->addStretch();
    buttonsRow->addWidget(btnReport_);
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
    // Enter in the grid or a field never closes the window: OK takes a click.
    btnOk_->setAutoDefault(false);
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
    // The curve beside the grid.
    auto* gbPlot = Named(new QGroupBox(QStringLiteral("График"), this), "gb_plot");
    plot_ = Named(new TarePlotWidget(gbPlot), "plot_tare");
    auto* plotLayout = new QVBoxLayout(gbPlot);
    plotLayout->addWidget(plot_);

    auto* main = new QHBoxLayout(this);
    main->addLayout(left);
    main->addWidget(gbTable, 3);
    main->addWidget(gbPlot, 2);
    main->addWidget(gbLevel);
    resize(1180, 500);
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
    // The gauge spans the tank's own height when it is known.
    lblMax_->setText(QString::number(tankHeightMm_ > 0 ? qRound(tankHeightMm_) : 6500));
    grid_.SetHeaders(Text(tare_msg::Column0, "№").toStdString(),
                     Text(tare_msg::Column1, "Литры").toStdString(),
                     Text(tare_msg::Column2, "мм").toStdString());
    report::CurveStyle style = plot_->Style();
    style.levelAxis = Text(tare_msg::Column2, "мм");
    style.litresAxis = Text(tare_msg::Column1, "Литры");
    style.decimalPoint = decimalPoint_;
    plot_->SetStyle(std::move(style));
}

void TareEditor::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        ApplyLanguage();
        LoadFromTank();
        btnOk_->setEnabled(!readOnlyTable_);
        ReadSettleWindow();
        UpdateSettleState();
        settleTimer_->start();
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
    headers << Text(key::Column3, "Проверка");
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
    RefreshChecks();
}

void TareEditor::RefreshChecks() {
    points_ = TarePointsOf(grid_, decimalPoint_);
    issues_ = CheckTareTable(points_, tankHeightMm_);
    std::map<int, QStringList> notes;
    for (const TareIssue& issue : issues_) {
        notes[issue.gridRow] << Q(FormatTareIssue(
            issue, Text(TareIssueKey(issue.kind), TareIssueDefault(issue.kind)).toStdString(),
            decimalPoint_));
    }
    // Before the first showing the table has no rows yet; the showing refreshes it.
    for (int r = 1; r < grid_.RowCount() && r <= table_->rowCount(); ++r) {
        const bool unsettled = TakenUnsettled(r);
        QStringList lines = notes[r];
        if (unsettled) {
            lines << Text(key::Unsettled, "Точка взята до успокоения уровня");
        }
        QTableWidgetItem* check = table_->item(r - 1, CheckColumn);
        if (check == nullptr) {
            check = new QTableWidgetItem;
            table_->setItem(r - 1, CheckColumn, check);
        }
        check->setText(lines.join(QStringLiteral("; ")));
        check->setToolTip(lines.join(QLatin1Char('\n')));
        const bool finding = notes.count(r) > 0 && !notes[r].isEmpty();
        for (int c = TareGrid::kLitresColumn; c <= CheckColumn; ++c) {
            QTableWidgetItem* item = table_->item(r - 1, c);
            if (item == nullptr) {
                continue;
            }
            item->setBackground(finding ? QBrush(FindingBackground) : QBrush());
            item->setForeground(c == TareGrid::kLevelColumn && unsettled ? QBrush(UnsettledText)
                                                                         : QBrush());
        }
    }
    plot_->SetPoints(points_);
    report::CurveStyle style = plot_->Style();
    style.tankHeightMm = tankHeightMm_;
    style.flaggedRows.clear();
    for (const TareIssue& issue : issues_) {
        style.flaggedRows.insert(issue.gridRow);
    }
    plot_->SetStyle(std::move(style));
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
    const bool settled = LevelSettled();
    const std::string level = lblFuel_->text().toStdString();
    const TareOutcome outcome = CalibrationStep(grid_, level, editAccuracy_->text().toStdString(),
                                                editPortion_->text().toStdString(), decimalPoint_);
    if (!Report(outcome)) {
        return;
    }
    // The step wrote the shown level into exactly one row (levels rise strictly); a point
    // taken before the level settled is remembered by its texts, so it stays marked when
    // other rows move around it.
    if (!settled) {
        for (int r = 1; r < grid_.RowCount(); ++r) {
            if (grid_.Cell(TareGrid::kLevelColumn, r) == level) {
                unsettled_.insert({grid_.Cell(TareGrid::kLitresColumn, r), level});
            }
        }
    }
    RefreshTable();
}

void TareEditor::DeleteSelectedRows() {
    int top = table_->currentRow();
    int bottom = top;
    // The rows of every selected range: a selection made of a whole row (4 columns, from
    // a click) and a range over the three table columns still means one block of rows.
    const auto ranges = table_->selectedRanges();
    if (!ranges.isEmpty()) {
        top = ranges.front().topRow();
        bottom = ranges.front().bottomRow();
        for (const QTableWidgetSelectionRange& range : ranges) {
            top = std::min(top, range.topRow());
            bottom = std::max(bottom, range.bottomRow());
        }
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

} // namespace vq31
