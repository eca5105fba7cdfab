// Workbooks as other applications write them: LibreOffice's .ods, .xlsx and .xls in both date
// systems, and packages rewritten from them (Strict Open XML, UTF-16 parts, part names in
// another letter case, formulas the reader cannot parse, old OpenDocument formula syntax, a
// named range). Dates and booleans are never numbers, formulas give their stored values, and
// every form reads as the transitional one does. The files come from make_workbooks.py.
#include "cell_text.h"
#include "exchange.h"
#include "package_parts.h"
#include "package_prepare.h"
#include "sheet_test_util.h"
#include "workbook.h"
#include "xml_scan.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

namespace vq31::sheets {
namespace {

using testing::TempDir;

class ProducerWorkbooks : public ::testing::Test {
protected:
    // The workbooks are made once in the build tree and shared by the test processes (making
    // them takes LibreOffice half a minute); a change of the script makes them again.
    static void SetUpTestSuite() {
        if (!testing::HaveSoffice() || access(testing::SystemPython, X_OK) != 0) {
            return;
        }
        namespace fs = std::filesystem;
        scratch_ = std::make_unique<TempDir>();
        const fs::path stamp = fs::path(PRODUCER_WORKBOOKS) / "made";
        const auto fresh = [&stamp] {
            std::error_code ec;
            return fs::exists(stamp, ec) &&
                   fs::last_write_time(stamp, ec) >= fs::last_write_time(MAKE_WORKBOOKS, ec);
        };
        if (fresh()) {
            made_ = true;
            return;
        }
        // Made aside and moved in place whole: a process beside this one never sees a
        // folder half made.
        std::error_code ec;
        const std::string aside = std::string(PRODUCER_WORKBOOKS) + "." + std::to_string(getpid());
        const std::string cmd = std::string(testing::SystemPython) + " " MAKE_WORKBOOKS " " +
                                aside + " >/dev/null 2>&1";
        if (std::system(cmd.c_str()) == 0) {
            std::ofstream(fs::path(aside) / "made") << "made by make_workbooks.py\n";
            fs::rename(aside, PRODUCER_WORKBOOKS, ec);
            if (ec && !fresh()) {
                fs::remove_all(PRODUCER_WORKBOOKS, ec); // a set made by an older script
                fs::rename(aside, PRODUCER_WORKBOOKS, ec);
            }
        }
        fs::remove_all(aside, ec);
        made_ = fresh();
    }
    static void TearDownTestSuite() { scratch_.reset(); }
    void SetUp() override {
        if (!made_) {
            GTEST_SKIP() << "soffice or the system python not installed";
        }
    }
    static std::string File(const std::string& name) {
        return std::string(PRODUCER_WORKBOOKS) + "/" + name;
    }

    static inline std::unique_ptr<TempDir> scratch_;
    static inline bool made_ = false;
};

// The cell as a short text: numbers as "n:20", texts as "t:FALSE", empty as "".
std::string Show(const Cell& cell) {
    if (cell.kind == Cell::Kind::Number) {
        return "n:" + FormatCellNumber(cell.number, ".");
    }
    return cell.kind == Cell::Kind::Text ? "t:" + cell.text : "";
}

struct FormCase {
    const char* file;
    const char* a9; // a formula saved without its value reads as an empty cell
};

TEST_F(ProducerWorkbooks, EveryFormGivesDatesAndBooleansAsTextsAndFormulasTheirStoredValues) {
    const FormCase cases[] = {
        {"book1900.ods", "n:80"},  {"book1904.ods", "n:80"}, {"book1900.xlsx", "n:80"},
        {"book1904.xlsx", "n:80"}, {"strict.xlsx", "n:80"},  {"utf16le.xlsx", "n:80"},
        {"utf16be.xlsx", "n:80"},  {"case.xlsx", "n:80"},    {"formula.xlsx", ""},
        {"oooc.ods", ""},          {"book1900.xls", "n:80"}, {"book1904.xls", "n:80"},
        {"named.ods", "n:80"},
    };
    for (const FormCase& c : cases) {
        Workbook book;
        const FileResult read = ReadWorkbook(File(c.file), book);
        ASSERT_TRUE(read.ok) << c.file << ": " << read.error;
        ASSERT_EQ(book.sheets.size(), 1u) << c.file;
        const Sheet& s = book.sheets[0];
        EXPECT_EQ(s.name(), "TankID 3") << c.file;
        const std::map<std::string, std::string> expected = {
            {"A3", "n:20"},         {"B3", "n:200"}, {"A4", "t:2016-12-31"},
            {"B5", "t:FALSE"},      {"A6", "n:50"},  {"A7", "t:TRUE"},
            {"A8", "t:2017-01-02"}, {"B8", "n:700"}, {"A9", std::string(c.a9)}};
        for (uint32_t row = 3; row <= 9; ++row) {
            for (uint32_t column = 1; column <= 2; ++column) {
                const auto want = expected.find(CellName(row, column));
                if (want != expected.end()) {
                    EXPECT_EQ(Show(s.At(row, column)), want->second)
                        << c.file << " " << want->first;
                }
            }
        }
    }
}

// openpyxl reads the Open XML files of LibreOffice independently; every cell must agree, in
// both date systems.
TEST_F(ProducerWorkbooks, OpenXmlCellsAgreeWithOpenpyxl) {
    if (!testing::HaveOpenpyxl()) {
        GTEST_SKIP() << "python3-openpyxl not installed";
    }
    for (const char* file : {"book1900.xlsx", "book1904.xlsx"}) {
        int status = 0;
        const std::string out = testing::RunPython(*scratch_, std::string(R"PY(
import datetime, openpyxl
wb = openpyxl.load_workbook(')PY") + File(file) + R"PY(', data_only=True)
for row in wb.worksheets[0].iter_rows():
    for c in row:
        v = c.value
        if v is None:
            continue
        if isinstance(v, bool):
            v = 't:' + ('TRUE' if v else 'FALSE')
        elif isinstance(v, datetime.datetime):
            v = 't:' + v.date().isoformat()
        elif isinstance(v, (int, float)):
            v = 'n:%g' % v
        else:
            v = 't:' + v
        print('%s=%s' % (c.coordinate, v))
)PY",
                                                   status);
        ASSERT_EQ(status, 0) << out;
        Workbook book;
        ASSERT_TRUE(ReadWorkbook(File(file), book).ok) << file;
        std::ostringstream ours;
        for (const auto& [pos, cell] : book.sheets[0].cells()) {
            ours << CellName(pos.first, pos.second) << "=" << Show(cell) << "\n";
        }
        EXPECT_EQ(ours.str(), out) << file;
    }
}

// A row whose litres or level cell holds a date or a boolean is left out of the tank's table
// and counted; the rows with numbers, formula results among them, are taken.
TEST_F(ProducerWorkbooks, TankListLeavesOutDateAndBooleanRowsAndCountsThem) {
    const struct {
        const char* file;
        std::size_t rows;
        const char* leftOut;
    } cases[] = {
        {"book1900.ods", 4,
         "sheet 'TankID 3': 4 rows without a number for litres or level left out"},
        {"book1904.xlsx", 4,
         "sheet 'TankID 3': 4 rows without a number for litres or level left out"},
        {"strict.xlsx", 4,
         "sheet 'TankID 3': 4 rows without a number for litres or level left out"},
        {"oooc.ods", 3, "sheet 'TankID 3': 5 rows without a number for litres or level left out"},
        {"book1904.xls", 4,
         "sheet 'TankID 3': 4 rows without a number for litres or level left out"},
    };
    for (const auto& c : cases) {
        auto image = std::make_unique<HubBuffer>();
        auto scratch = std::make_unique<TankRecord>();
        HubMakeDefault(*image);
        const ExchangeResult r = ImportTankList(*image, *scratch, File(c.file), ".");
        ASSERT_TRUE(r.ok) << c.file << ": " << r.detail;
        ASSERT_EQ(r.leftOut.size(), 1u) << c.file;
        EXPECT_EQ(r.leftOut[0], c.leftOut) << c.file;
        const auto entry = HubFindEntry(*image, 3);
        ASSERT_TRUE(entry) << c.file;
        const TankEntryHead head = HubEntryHead(*image, *entry);
        EXPECT_EQ(head.RowCount, c.rows) << c.file;
        EXPECT_EQ(LevelMillimetres(HubEntryRow(*image, *entry, 2).Code), 500u) << c.file;
    }
}

// The tare table takes the first sheet's cells as texts: a date or a boolean is a text that
// does not parse as litres or millimetres.
TEST_F(ProducerWorkbooks, TareTableTakesDatesAndBooleansAsTextsThatAreNoNumbers) {
    for (const char* file : {"book1904.ods", "book1900.xlsx", "utf16le.xlsx", "named.ods"}) {
        TareRows rows;
        const ExchangeResult r = ImportTareTable(File(file), ",", rows);
        ASSERT_TRUE(r.ok) << file << ": " << r.detail;
        ASSERT_GE(rows.size(), 7u) << file;
        EXPECT_EQ(rows[2][1], "200") << file;
        EXPECT_EQ(rows[3][0], "2016-12-31") << file;
        EXPECT_EQ(rows[4][1], "FALSE") << file;
        EXPECT_EQ(rows[6][0], "TRUE") << file;
        for (const std::string& text : {rows[3][0], rows[4][1], rows[6][0]}) {
            EXPECT_FALSE(ParseCellNumber(text, ",")) << file << " " << text;
        }
        // The title row, the two dates and the two booleans.
        ASSERT_EQ(r.leftOut.size(), 1u) << file;
        EXPECT_EQ(r.leftOut[0],
                  "sheet 'TankID 3': 5 rows without a number for litres or level left out")
            << file;
    }
}

TEST(DateTexts, SerialNumbersInBothDateSystems) {
    const struct {
        double serial;
        bool date1904;
        const char* text;
    } cases[] = {
        {1, false, "1900-01-01"},     {59, false, "1900-02-28"},
        {60, false, "1900-02-29"},    {61, false, "1900-03-01"},
        {42735, false, "2016-12-31"}, {42735.5, false, "2016-12-31 12:00:00"},
        {0.25, false, "06:00:00"},    {0, true, "1904-01-01"},
        {41273, true, "2016-12-31"},  {43100.99999999, false, "2018-01-01"},
        {-1, false, "#DATE"},         {3e6, true, "#DATE"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SerialDateText(c.serial, c.date1904), c.text) << c.serial;
    }
}

TEST(DateTexts, NumberFormatsThatShowDates) {
    const struct {
        int id;
        const char* code;
        bool date;
    } cases[] = {
        {14, "", true},
        {22, "", true},
        {2, "", false},
        {49, "", false},
        {165, "yyyy\\-mm\\-dd", true},
        {166, "[$-419]DD.MM.YYYY", true},
        {167, "[h]:mm", true},
        {168, "\"TRUE\";\"TRUE\";\"FALSE\"", false},
        {169, "0.00E+00", false},
        {170, "General", false},
        {171, "#,##0\\ \"mm\"", false},
        {172, "[Red]0.0", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsDateFormat(c.id, c.code), c.date) << c.id << " " << c.code;
    }
}

// A file that cannot be imported says why, besides the fixed first line.
TEST(ReadReasons, EachFailedImportNamesItsReason) {
    TempDir dir;
    const auto package = [](std::vector<PackagePart> parts) { return *WritePackage(parts); };
    const struct {
        const char* name;
        std::string bytes;
        ReadReason reason;
    } cases[] = {
        {"zip-garbage.xlsx", std::string("PK\x03\x04garbage", 11), ReadReason::Damaged},
        {"text.xlsx", "hello", ReadReason::NotWorkbook},
        {"other.zip", package({{"a.txt", "x"}}), ReadReason::NotWorkbook},
        {"odd-utf16.xlsx", package({{"[Content_Types].xml", std::string("\xFF\xFE<\0?", 5)}}),
         ReadReason::Encoding},
        {"one-cell.csv", "7\n", ReadReason::SingleCell},
        {"words.csv", "a,b\nc,d\n", ReadReason::NoPairs},
    };
    for (const auto& c : cases) {
        std::ofstream(dir.File(c.name), std::ios::binary) << c.bytes;
        TareRows rows;
        const ExchangeResult r = ImportTareTable(dir.File(c.name), ".", rows);
        EXPECT_FALSE(r.ok) << c.name;
        EXPECT_EQ(r.message, ReadErrorMessage) << c.name;
        EXPECT_EQ(r.reason, c.reason) << c.name << ": " << r.detail;
        EXPECT_FALSE(ReadReasonText(r.reason).builtIn.empty()) << c.name;
    }
    auto image = std::make_unique<HubBuffer>();
    auto scratch = std::make_unique<TankRecord>();
    const ExchangeResult missing = ImportTankList(*image, *scratch, dir.File("absent.ods"), ".");
    EXPECT_EQ(missing.reason, ReadReason::CannotOpen) << missing.detail;
}

// Parts in UTF-8 or UTF-16, with or without a byte-order mark, become UTF-8 with a
// declaration that says so; UTF-16 that does not convert is refused.
TEST(PartEncodings, Utf8AndUtf16PartsBecomeUtf8) {
    using namespace std::string_literals;
    const struct {
        std::string in;
        bool ok;
        std::string out;
    } cases[] = {
        {"<a>\xD0\x96</a>", true, "<a>\xD0\x96</a>"},
        {"\xEF\xBB\xBF<a/>", true, "<a/>"},
        {"\xFF\xFE<\0a\0/\0>\0\x16\x04"s, true, "<a/>\xD0\x96"},
        {"<\0a\0/\0>\0"s, true, "<a/>"},
        {"\xFE\xFF\0<\0?\0x\0m\0l\0 \0e\0n\0c\0o\0d\0i\0n\0g\0=\0'\0U\0T\0F\0-\0001\0006\0'\0?\0>"s,
         true, "<?xml encoding='UTF-8'?>"},
        {"\0<\0a\xD8\x3D\xDE\x00"s, true, "<a\xF0\x9F\x98\x80"},
        {"\xFF\xFE<\0a"s, false, "\xFF\xFE<\0a"s},
        {"\xFF\xFE<\0\x00\xDC"s, false, "\xFF\xFE<\0\x00\xDC"s},
    };
    for (const auto& c : cases) {
        std::string text = c.in;
        EXPECT_EQ(XmlAsUtf8(text), c.ok) << c.out;
        EXPECT_EQ(text, c.out);
    }
}

} // namespace
} // namespace vq31::sheets
