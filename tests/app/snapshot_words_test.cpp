// The snapshot window in plain words: each snapshot says why it was taken (recorded in the
// file, or for older files told by the next snapshot of the same sensor), and the comparison
// with the device shows each differing field with the sensor's value beside the snapshot's.
#include "../hub_test_images.h"
#include "snapshot_dialog.h"
#include "snapshot_words.h"
#include "window_rig.h"

#include "language_file.h"

#include <QListWidget>
#include <QPlainTextEdit>

#include <gtest/gtest.h>

#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

namespace vq31::app::test {
namespace {

Snapshot SensorWithImage(void (*fill)(HubBuffer&)) {
    auto image = std::make_unique<HubBuffer>();
    fill(*image);
    Snapshot s;
    s.time = "2026-12-09T00:30:00Z";
    s.serialNumber = 4711;
    s.address = 1;
    s.linkFlags = 4u << 2; // 19200 bit/s
    s.fuelType = 3;
    s.tankId = 7;
    s.tankHeight = 12000;
    s.hub.assign(image->bytes().begin(),
                 image->bytes().begin() + ptrdiff_t(HubPageCount(*image) * HubPageSize));
    return s;
}

Snapshot Sensor() {
    return SensorWithImage([](HubBuffer& image) { ASSERT_TRUE(vq31::test::FivePageImage(image)); });
}

// Flips one stored volume of tank 7's first row and reseals the image.
void ChangeTankSeven(Snapshot& s) {
    auto image = std::make_unique<HubBuffer>();
    std::copy(s.hub.begin(), s.hub.end(), image->bytes().begin());
    const auto entry = HubFindEntry(*image, 7);
    ASSERT_TRUE(entry.has_value());
    image->bytes()[entry->offset + TankEntryHeadSize + 2] ^= 0x01;
    HubSeal(*image);
    std::copy_n(image->bytes().begin(), s.hub.size(), s.hub.begin());
}

class SnapshotFolder : public ::testing::Test {
protected:
    QTemporaryDir dir;
    SnapshotStore store{std::filesystem::path(dir.path().toStdString()) / "snapshots"};
    LanguageTexts texts;
    ScriptedPrompter boxes;

    void Save(const Snapshot& s) {
        std::string error;
        ASSERT_FALSE(store.Save(s, error).empty()) << error;
    }
    QStringList Lines() {
        SnapshotDialog dialog(
            store, boxes, texts, [](const std::filesystem::path&, bool) {}, [](int) {});
        QStringList lines;
        for (int i = 0; i < dialog.LstSnapshots->count(); ++i)
            lines << dialog.LstSnapshots->item(i)->text();
        return lines;
    }
};

TEST_F(SnapshotFolder, EachSnapshotSaysWhyItWasTakenInPlainWords) {
    struct Case {
        std::function<void(SnapshotReason&)> reason;
        QString words;
    };
    const Case cases[] = {
        {[](SnapshotReason& r) {
             r = {SnapshotReason::Kind::TareTable, 2, {}, {}};
         },
         "перед записью тарировочной таблицы бака 2"},
        {[](SnapshotReason& r) { r.kind = SnapshotReason::Kind::TankList; },
         "перед записью списка баков"},
        {[](SnapshotReason& r) {
             r = {SnapshotReason::Kind::ActiveTank, 3, {}, {}};
         },
         "перед выбором бака 3 рабочим"},
        {[](SnapshotReason& r) {
             r = {SnapshotReason::Kind::Settings, 0, {"address", "linkflags"}, {}};
         },
         "перед установкой параметров (Адрес, Скорость и флаги выдачи)"},
        {[](SnapshotReason& r) {
             r = {SnapshotReason::Kind::Restore, 0, {}, "2026-12-08T10:00:00Z"};
         },
         "перед восстановлением снимка от " + SnapshotTimeText("2026-12-08T10:00:00Z")},
    };
    for (const Case& c : cases) {
        std::filesystem::remove_all(store.folder());
        Snapshot s = Sensor();
        c.reason(s.reason);
        Save(s);
        const QStringList lines = Lines();
        ASSERT_EQ(lines.size(), 1);
        EXPECT_EQ(lines[0], "Датчик 004711, " + SnapshotTimeText(s.time) + ": " + c.words);
    }
}

// Files saved before the reason was recorded still load; each tells its reason by the change
// to the next snapshot of its sensor, and the newest, with none after it, says only that a
// write followed. Another sensor's snapshot in between is not taken for the next one.
TEST_F(SnapshotFolder, OlderFilesWithoutAReasonTellItFromTheNextSnapshotOfTheirSensor) {
    Snapshot first = Sensor();
    Snapshot other = Sensor();
    other.serialNumber = 99;
    other.time = "2026-12-09T00:31:00Z";
    Snapshot second = first;
    second.time = "2026-12-09T00:32:00Z";
    ChangeTankSeven(second);
    Snapshot third = second;
    third.time = "2026-12-09T00:33:00Z";
    third.address = 5;
    for (const Snapshot* s : {&first, &other, &second, &third})
        Save(*s);
    const QStringList lines = Lines();
    ASSERT_EQ(lines.size(), 4);
    EXPECT_TRUE(lines[0].endsWith(": перед записью тарировочной таблицы бака 7"))
        << lines[0].toStdString();
    EXPECT_TRUE(lines[2].endsWith(": перед установкой параметров (Адрес)"))
        << lines[2].toStdString();
    EXPECT_TRUE(lines[3].endsWith(": перед записью в датчик")) << lines[3].toStdString();
}

// A reason written by a later version, which this one does not know, loads as an unknown one
// rather than refusing the file.
TEST_F(SnapshotFolder, AReasonThisVersionDoesNotKnowStillLoads) {
    std::string text = SnapshotText(Sensor());
    text = text.substr(0, text.rfind("check = "));
    text.insert(text.find("hubsize = "), "reason = recalibrate 5\n");
    char check[16];
    std::snprintf(check, sizeof check, "%08lX",
                  crc32(0L, reinterpret_cast<const Bytef*>(text.data()), uInt(text.size())));
    std::filesystem::create_directories(store.folder());
    std::ofstream(store.folder() / "sn004711-2026-12-09T003000Z.snapshot")
        << text << "check = " << check << "\n";
    const QStringList lines = Lines();
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].endsWith(": перед записью в датчик")) << lines[0].toStdString();
}

LanguageTexts ShippedTexts(const char* language) {
    auto profile = ProfileFile::Load(VQ31_SHIPPED_LANGUAGE_FILE);
    profile.SetString("LANG", "SELECTED", language);
    LanguageTexts texts;
    LanguageFile(std::move(profile)).LoadTexts(texts);
    return texts;
}

TEST(SnapshotCompare, ShowsEachDifferenceWithTheSensorsValueBesideTheSnapshots) {
    struct Case {
        const char* language;
        std::function<void(Snapshot&)> change; // of the device
        std::string line;
    };
    const Case cases[] = {
        {"Russian", [](Snapshot& d) { d.address = 3; }, "Адрес: в датчике 3, в снимке 1"},
        {"English", [](Snapshot& d) { d.address = 3; }, "Address: sensor 3, snapshot 1"},
        {"Russian", [](Snapshot& d) { d.linkFlags = 2u << 2; },
         "Скорость, бит/с: в датчике 4800, в снимке 19200"},
        {"Russian", [](Snapshot& d) { d.linkFlags |= 1u; },
         "Автовыдача: в датчике вкл., в снимке выкл."},
        {"Russian", [](Snapshot& d) { d.fuelType = 2; },
         "Тип топлива: в датчике Бензин, в снимке Дизель"},
        {"Russian", [](Snapshot& d) { d.tankHeight = 12005; },
         "Высота бака, мм: в датчике 1200.5, в снимке 1200"},
        {"Russian", [](Snapshot& d) { d.tankId = 1; }, "Рабочий бак: в датчике 1, в снимке 7"},
        {"Russian", ChangeTankSeven,
         "Таблица бака 7: строк 90 и в датчике, и в снимке, но значения отличаются"},
        {"English",
         [](Snapshot& d) { d = SensorWithImage([](HubBuffer& image) { HubMakeDefault(image); }); },
         "Tare table of tank 7: sensor none, snapshot 90 rows"},
    };
    for (const Case& c : cases) {
        const LanguageTexts texts = ShippedTexts(c.language);
        const Snapshot saved = Sensor();
        Snapshot device = saved;
        c.change(device);
        EXPECT_EQ(CompareText(saved, device, texts),
                  texts.Text(msg::SnapshotDiffers) + "\n" + c.line);
    }
}

TEST(SnapshotCompare, SaysPlainlyWhenNothingDiffers) {
    const LanguageTexts texts = ShippedTexts("Russian");
    Snapshot device = Sensor();
    device.time = "2026-12-10T08:00:00Z"; // the time and the reason are no part of the state
    device.reason.kind = SnapshotReason::Kind::TankList;
    EXPECT_EQ(CompareText(Sensor(), device, texts),
              "Различий нет: датчик хранит то же, что и снимок.");
}

} // namespace
} // namespace vq31::app::test
