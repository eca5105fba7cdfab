// The tare window's additions offscreen: the checks beside the rows and on the curve, the
// curve's points and live marker, telematics pairs from the window, the report dialog's
// remembered values and the report read back with pdftotext, and the language file's report
// texts.
#include "../run_command.h"
#include "exchange.h"
#include "language_file.h"
#include "profile_file.h"
#include "report_dialog.h"
#include "tare_plot_widget.h"
#include "tare_ui_fixture.h"

#include <QComboBox>
#include <QDir>
#include <QImage>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QToolButton>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

namespace vq31::test {
namespace {

class TareOutputs : public TareWindowTest {
protected:
    // 10 l per 10 mm from 100 mm, with 40 l noted between rows 3 and 4 and a step of 200 mm
    // (at the same litres per mm) after row 5.
    void FillTank() {
        const float litres[] = {10, 20, 30, 70, 80, 280};
        const uint16_t codes[] = {1000, 1100, 1200, 1300, 1400, 3400};
        tank.RowCount = 6;
        for (size_t i = 0; i < 6; ++i) {
            tank.rows[i] = {codes[i], litres[i] + 0.3f};
        }
    }
    static std::string Read(const QString& file) {
        std::ifstream in(file.toStdString(), std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    QTemporaryDir dir;
};

TEST_F(TareOutputs, ChecksStandBesideTheirRowsAndRedrawTheCurve) {
    FillTank();
    auto editor = Open();
    editor->SetTankHeight(1000);
    auto* table = Child<QTableWidget>(editor.get(), "sg_tare1");
    ASSERT_EQ(table->columnCount(), 4);
    EXPECT_EQ(table->horizontalHeaderItem(3)->text(), QStringLiteral("Проверка"));
    EXPECT_EQ(table->item(3, 3)->text(),
              QStringLiteral("Литры на мм от строки 3: ×4,0 к соседним участкам (пропущена или "
                             "двойная порция?)"));
    EXPECT_EQ(table->item(5, 3)->text(),
              QStringLiteral("Промежуток от строки 5: 200,0 мм, больше 10 % высоты бака"));
    EXPECT_TRUE(table->item(0, 3)->text().isEmpty());
    auto* plot = Child<TarePlotWidget>(editor.get(), "plot_tare");
    EXPECT_EQ(plot->Points().size(), 6u);
    EXPECT_EQ(plot->Style().flaggedRows, (std::set<int>{4, 6}));
    // An unknown height drops the gap finding; deleting the odd row clears the slope one.
    editor->SetTankHeight(0);
    EXPECT_TRUE(table->item(5, 3)->text().isEmpty());
    table->selectRow(3);
    editor->DeleteSelectedRows();
    EXPECT_TRUE(editor->Issues().empty()) << table->item(2, 3)->text().toStdString();
    EXPECT_TRUE(plot->Style().flaggedRows.empty());
    // The live level moves the marker; no level removes it.
    editor->ShowLevelCode(1234);
    ASSERT_TRUE(plot->Style().liveMm);
    EXPECT_DOUBLE_EQ(*plot->Style().liveMm, 123.4);
    editor->ShowLevelCode(std::nullopt);
    EXPECT_FALSE(plot->Style().liveMm);
    // The curve is drawn at the widget's size.
    const QImage image = plot->grab().toImage();
    EXPECT_EQ(image.size(), plot->size());
}

TEST_F(TareOutputs, TelematicsPairsFromTheWindowReadBack) {
    FillTank();
    auto editor = Open();
    QString asked;
    const QString file = dir.filePath("pairs.csv");
    editor->SetSaveChooser([&](const QString& filter) {
        asked = filter;
        return file;
    });
    Child<QComboBox>(editor.get(), "cmb_csv_separator")->setCurrentIndex(1);
    editor->findChild<QAction*>("Menu_Csv_Exp")->trigger();
    EXPECT_TRUE(asked.contains(QStringLiteral("*.csv")));
    EXPECT_EQ(Read(file), "100,10.3\n110,20.3\n120,30.3\n130,70.3\n140,80.3\n340,280.3\n");
    Child<QComboBox>(editor.get(), "cmb_csv_separator")->setCurrentIndex(0);
    Child<QToolButton>(editor.get(), "spd_csv")->click();
    EXPECT_EQ(Read(file).substr(0, 9), "100;10.3\n");
    EXPECT_TRUE(errors.empty());

    // An empty table writes nothing; an unwritable place is reported and keeps nothing.
    tank = TankRecord{};
    auto empty = Open();
    EXPECT_FALSE(empty->ExportTelematicsFile(dir.filePath("empty.csv"), ';'));
    EXPECT_FALSE(QFile::exists(dir.filePath("empty.csv")));
    EXPECT_FALSE(editor->ExportTelematicsFile(dir.filePath("none/pairs.csv"), ';'));
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_TRUE(errors[1].startsWith(QStringLiteral("Не удалось записать файл: ")));
}

// The telematics pairs and the report are made from the table as OK stores it (at most 50
// rows, values at the tank's scale, refused values refused) and say where that table stands.
TEST_F(TareOutputs, FilesAreMadeFromTheTableAsOkStoresIt) {
    using Sheet = std::vector<std::vector<std::string>>;
    Sheet sixty;
    for (int i = 1; i <= 60; ++i) {
        sixty.push_back({std::to_string(i), std::to_string(100 + i)});
    }
    struct Case {
        const char* what;
        Sheet sheet; // empty: the tank's own table, untouched
        bool sensorHolds;
        bool cut;             // the answer to cutting the table to 50 rows
        const char* csvStart; // nullptr: no file is written
        size_t csvLines;
        const char* note; // in the word after the file; nullptr: the word names the file only
    };
    const Case cases[] = {
        {"stored and on the sensor", {}, true, false, "100;10.3\n200;20.5\n", 2, nullptr},
        {"stored, not written", {}, false, false, "100;10.3\n", 2, "не записана в датчик"},
        {"edited: litres at the new scale of 1000 ml",
         {{"10,632", "100"}, {"7000", "200"}},
         true,
         false,
         "100;11.0\n200;7000.0\n",
         2,
         "не сохранена кнопкой OK"},
        {"a volume the store refuses", {{"700000", "100"}}, true, false, nullptr, 0, nullptr},
        {"sixty rows kept whole", sixty, true, false, nullptr, 0, nullptr},
        {"sixty rows cut to fifty", sixty, true, true, "101;1.0\n", 50, "не сохранена"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        tank = TankRecord{};
        tank.RowCount = 2;
        tank.Scale = 10;
        tank.rows[0] = {1000, 10.3f};
        tank.rows[1] = {2000, 20.5f};
        errors.clear();
        answers = {c.cut};
        auto editor = Open();
        std::vector<QString> words;
        editor->SetInfoBox([&](const QString& text) { words.push_back(text); });
        editor->SetSensorHoldsRecord([&] { return c.sensorHolds; });
        if (!c.sheet.empty()) {
            const QString book = dir.filePath("sheet.xlsx");
            ASSERT_TRUE(sheets::ExportTareTable(c.sheet, "Tank", book.toStdString(), ",").ok);
            editor->ImportFile(book);
            words.clear();
        }
        const QString csv = dir.filePath("pairs.csv");
        QFile::remove(csv);
        const bool written = editor->ExportTelematicsFile(csv, ';');
        EXPECT_EQ(written, c.csvStart != nullptr);
        EXPECT_EQ(QFile::exists(csv), c.csvStart != nullptr);
        if (!c.csvStart) {
            EXPECT_TRUE(words.empty());
            EXPECT_EQ(errors.size(), c.sheet.size() == 1 ? 1u : 0u) << "a refused value says why";
            continue;
        }
        const std::string text = Read(csv);
        EXPECT_EQ(text.rfind(c.csvStart, 0), 0u) << text;
        EXPECT_EQ(size_t(std::count(text.begin(), text.end(), '\n')), c.csvLines);
        ASSERT_EQ(words.size(), 1u);
        EXPECT_TRUE(words[0].contains(csv));
        EXPECT_EQ(c.note ? words[0].contains(QString::fromUtf8(c.note)) : !words[0].contains('\n'),
                  true)
            << words[0].toStdString();
        EXPECT_EQ(tank.Scale, 10) << "making a file never stores the table";
    }
}

TEST_F(TareOutputs, TheReportNeedsThePassportRemembersTheFieldsAndHoldsEveryRow) {
    FillTank();
    auto editor = Open();
    editor->SetTankHeight(1000);
    const QString pdf = dir.filePath("report.pdf");
    editor->SetSaveChooser([&](const QString&) { return dir.filePath("report"); });
    TareEditor::ReportFields stored = {{"client", "Парк №3"}, {"notes", "до\nпосле"}};
    std::vector<TareEditor::ReportFields> offered;
    editor->SetReportStore([&] { return stored; },
                           [&](const TareEditor::ReportFields& f) { stored = f; });
    editor->SetReportAsker([&](const TareEditor::ReportFields& last) {
        offered.push_back(last);
        TareEditor::ReportFields typed = last;
        typed["plate"] = "К777КК";
        return std::optional(typed);
    });

    // Without a passport read from the device nothing is asked or written.
    Child<QPushButton>(editor.get(), "btn_report")->click();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(errors[0].startsWith(QStringLiteral("Паспорт датчика не прочитан")));
    EXPECT_TRUE(offered.empty());

    editor->SetDeviceInfo([] { return report::DeviceFromPassport(0x000A0318, 765432, 31, 0x12); });
    editor->findChild<QAction*>("Menu_Report")->trigger();
    ASSERT_EQ(offered.size(), 1u);
    EXPECT_EQ(offered[0].at("client"), "Парк №3");
    EXPECT_EQ(stored.at("plate"), "К777КК") << "the typed values are remembered";
    ASSERT_TRUE(QFile::exists(pdf)) << "the .pdf ending is added";
    EXPECT_EQ(errors.size(), 1u);

    const CommandRun text = RunCommand("pdftotext -layout '" + pdf.toStdString() + "' -");
    ASSERT_EQ(text.exitCode, 0) << "pdftotext (poppler-utils) is needed: " << text.output;
    const std::string& t = text.output;
    EXPECT_NE(t.find("765432"), std::string::npos) << t;
    EXPECT_NE(t.find("11.04.2024"), std::string::npos) << t;
    EXPECT_NE(t.find("К777КК"), std::string::npos);
    EXPECT_NE(t.find("Парк №3"), std::string::npos);
    const char* rows[] = {"1 +10,3 +100", "2 +20,3 +110", "3 +30,3 +120",
                          "4 +70,3 +130", "5 +80,3 +140", "6 +280,3 +340"};
    for (const char* row : rows) {
        EXPECT_TRUE(std::regex_search(t, std::regex(std::string("(^|\\s)") + row + "(\\s|$)")))
            << row << "\n"
            << t;
    }
    EXPECT_NE(t.find("Строка 4: Литры на мм"), std::string::npos) << t;
    EXPECT_NE(t.find("Строка 6: Промежуток"), std::string::npos) << t;
    // The tank's rows were never stored with OK at a scale: the report says so.
    EXPECT_NE(t.find("Таблица окна не сохранена"), std::string::npos) << t;
}

// A preset's table of 100 rows runs over several pages; every row and every finding is on
// one of them, and a report that cannot be written keeps the file that was there.
TEST_F(TareOutputs, ALongTableRunsOverPagesWithoutLosingARow) {
    report::ReportData data;
    data.device = report::DeviceFromPassport(0, 42, 31, 0x12);
    data.tankId = 3;
    data.tankHeightMm = 6000;
    for (int r = 1; r <= 100; ++r) {
        data.points.push_back({r, r * 5.0, r * 50.0});
    }
    data.points[40].millimetres = data.points[39].millimetres; // a repeated level at row 41
    data.issues = CheckTareTable(data.points, data.tankHeightMm);
    ASSERT_FALSE(data.issues.empty());
    const QString pdf = dir.filePath("long.pdf");
    std::string error;
    ASSERT_TRUE(report::WriteReportPdf(data, pdf.toStdString(), error)) << error;
    const CommandRun text = RunCommand("pdftotext -layout '" + pdf.toStdString() + "' -");
    ASSERT_EQ(text.exitCode, 0) << text.output;
    for (const TarePoint& p : data.points) {
        char row[64];
        std::snprintf(row, sizeof row, "(^|\\s)%d +%.1f +%g(\\s|$)", p.gridRow, p.litres,
                      p.millimetres);
        EXPECT_TRUE(std::regex_search(text.output, std::regex(row))) << row;
    }
    EXPECT_NE(text.output.find("Строка 41: Уровень повторяет строку 40"), std::string::npos);
    const CommandRun info = RunCommand("pdfinfo '" + pdf.toStdString() + "'");
    std::smatch pages;
    ASSERT_TRUE(std::regex_search(info.output, pages, std::regex("Pages: +([2-9])")))
        << info.output;
    // Every page names itself out of the whole: "Стр. 1 из 3" ... "Стр. 3 из 3".
    for (int page = 1; page <= std::stoi(pages[1]); ++page) {
        const std::string footer = "Стр. " + std::to_string(page) + " из " + pages[1].str();
        EXPECT_NE(text.output.find(footer), std::string::npos) << footer;
    }

    // A target that is no regular file (here a link to a device) is refused and left alone.
    const std::string device = dir.filePath("device.pdf").toStdString();
    std::filesystem::create_symlink("/dev/null", device);
    error.clear();
    EXPECT_FALSE(report::WriteReportPdf(data, device, error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(std::filesystem::is_symlink(device)) << "what was there stays";
    EXPECT_FALSE(report::WriteReportPdf(data, dir.filePath("none/r.pdf").toStdString(), error));
}

TEST_F(TareOutputs, TheReportDialogShowsAndHandsBackTheValues) {
    ReportDialog dialog({{"vehicle", "КамАЗ"}, {"notes", "a\nb"}},
                        [](std::string_view, std::string_view builtIn) {
                            return QString::fromUtf8(builtIn.data(), qsizetype(builtIn.size()));
                        });
    auto* vehicle = dialog.findChild<QLineEdit*>("edit_rep_vehicle");
    ASSERT_NE(vehicle, nullptr);
    EXPECT_EQ(vehicle->text(), QStringLiteral("КамАЗ"));
    dialog.findChild<QLineEdit*>("edit_rep_technician")->setText("  Иванов ");
    const auto values = dialog.Values();
    EXPECT_EQ(values.at("technician"), "Иванов");
    EXPECT_EQ(values.at("notes"), "a\nb");
    EXPECT_EQ(values.size(), std::size(report::FieldNames));
}

TEST(ShippedReportTexts, BothLanguagesHoldTheReportAndCheckTexts) {
    const ProfileFile file = ProfileFile::Load(VQ31_SHIPPED_LANGUAGE_FILE);
    ASSERT_TRUE(file.Exists());
    std::vector<std::pair<std::string, std::string>> keys;
    for (const report::ReportText& text : report::ReportTexts()) {
        keys.emplace_back(text.key, text.builtIn);
    }
    for (TareIssueKind kind :
         {TareIssueKind::LevelNotRising, TareIssueKind::VolumeNotRising,
          TareIssueKind::DuplicateLevel, TareIssueKind::SlopeOutlier, TareIssueKind::LevelGap}) {
        keys.emplace_back(TareIssueKey(kind), TareIssueDefault(kind));
    }
    for (const auto& [key, builtIn] : keys) {
        EXPECT_EQ(file.Find("Russian", key), builtIn) << key;
        EXPECT_NE(file.Find("English", key).value_or(""), "") << key;
    }
}

} // namespace
} // namespace vq31::test
