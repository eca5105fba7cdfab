// Image rules: default configuration, checksum and sealing, append, scale choice, stored
// value conversions and shown forms.
#include "hub_image.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <tuple>

namespace vq31 {
namespace {

std::unique_ptr<HubBuffer> DefaultImage() {
    auto image = std::make_unique<HubBuffer>();
    HubMakeDefault(*image);
    return image;
}

TankRecord RecordWithRows(uint16_t id, std::initializer_list<float> litres) {
    TankRecord record;
    record.Id = id;
    record.Height = 12345;
    record.Scale = 1;
    for (float l : litres) {
        record.rows[record.RowCount] =
            RecordRow{static_cast<uint16_t>(10 * (record.RowCount + 1)), l};
        ++record.RowCount;
    }
    return record;
}

TEST(HubDefault, IsValid236BytesWithTanksZeroAndOne) {
    auto image = DefaultImage();
    EXPECT_TRUE(HubIsValid(*image));
    EXPECT_EQ(image->TotalSize(), 236);
    EXPECT_EQ(image->EntryCount(), 2);
    EXPECT_EQ(image->MlPerBit(), 1);
    EXPECT_EQ(image->Version(), 0x0301);

    auto first = HubFirstEntry(*image);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->offset, 16u);
    EXPECT_EQ(HubEntryHead(*image, *first).Id, 0);
    EXPECT_EQ(HubEntryHead(*image, *first).EntrySize, 10);
    auto second = HubNextEntry(*image, *first);
    ASSERT_TRUE(second);
    EXPECT_FALSE(HubNextEntry(*image, *second));

    auto tank1 = HubFindEntry(*image, 1);
    ASSERT_TRUE(tank1);
    EXPECT_EQ(*tank1, *second);
    EXPECT_EQ(tank1->offset, 26u);
    const TankEntryHead head = HubEntryHead(*image, *tank1);
    EXPECT_EQ(head.EntrySize, 10 + 4 * 50);
    EXPECT_EQ(head.RowCount, 0);
    EXPECT_EQ(head.Scale, 1000);
}

TEST(HubDefault, OverwritesAnyEarlierContentOfTheFirst236Bytes) {
    auto image = std::make_unique<HubBuffer>();
    image->bytes().fill(0xA5);
    HubMakeDefault(*image);
    EXPECT_TRUE(HubIsValid(*image));
    auto tank1 = HubFindEntry(*image, 1);
    ASSERT_TRUE(tank1);
    for (std::size_t i = 0; i < 50; ++i) {
        EXPECT_EQ(HubEntryRow(*image, *tank1, i).Code, 0);
        EXPECT_EQ(HubEntryRow(*image, *tank1, i).Value, 0);
    }
}

TEST(HubChecksumRules, WordSumOfSealedImageIsZero) {
    auto image = std::make_unique<HubBuffer>();
    for (std::size_t i = 0; i < 600; ++i) {
        image->bytes()[i] = static_cast<uint8_t>(i * 37 + 11);
    }
    image->SetTotalSize(599); // odd: the last byte is outside the summed words
    HubSeal(*image);
    EXPECT_EQ(HubChecksum(*image), 0xFFFF);
    uint16_t sum = 0;
    for (std::size_t i = 0; i < 599 / 2; ++i) {
        sum = static_cast<uint16_t>(sum + image->Word(2 * i));
    }
    EXPECT_EQ(sum, 0);
    image->bytes()[598] ^= 0xFF; // not covered
    EXPECT_EQ(HubChecksum(*image), 0xFFFF);
}

TEST(HubChecksumRules, VersionOtherThan0301FailsEvenWhenSealed) {
    for (uint16_t version : {0x0302, 0x0300, 0x0201, 0x0103}) {
        auto image = DefaultImage();
        image->SetVersion(version);
        HubSeal(*image);
        EXPECT_EQ(HubChecksum(*image), 0xFFFF);
        EXPECT_FALSE(HubIsValid(*image)) << version;
    }
}

TEST(HubChecksumRules, OneChangedByteInsideTheImageFailsValidation) {
    for (std::size_t at : {0u, 3u, 17u, 100u, 235u}) {
        auto image = DefaultImage();
        image->bytes()[at] ^= 0x01;
        EXPECT_FALSE(HubIsValid(*image)) << at;
    }
}

TEST(HubAppend, ThreeRowsOnDefaultGive258BytesAndA22ByteEntry) {
    auto image = DefaultImage();
    TankRecord record = RecordWithRows(7, {1.0f, 2.5f, 12.5f});
    ASSERT_TRUE(HubAppendTank(*image, record));
    EXPECT_EQ(image->TotalSize(), 258);
    EXPECT_EQ(image->EntryCount(), 3);
    EXPECT_TRUE(HubIsValid(*image));
    auto entry = HubFindEntry(*image, 7);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->offset, 236u);
    const TankEntryHead head = HubEntryHead(*image, *entry);
    EXPECT_EQ(head.EntrySize, 22);
    EXPECT_EQ(head.Height, 12345);
    EXPECT_EQ(head.RowCount, 3);
    EXPECT_EQ(HubEntryRow(*image, *entry, 2).Code, 30);
    EXPECT_EQ(HubEntryRow(*image, *entry, 2).Value, 12500);
}

TEST(HubAppend, CountsTheNewEntryLengthAgainstThe4096ByteLimit) {
    auto image = DefaultImage();
    TankRecord record = RecordWithRows(2, {});
    record.RowCount = 100; // 410 bytes each
    record.EntrySize = 0;  // as the tank-list import leaves it
    int appended = 0;
    while (HubAppendTank(*image, record)) {
        ++appended;
        ASSERT_LE(image->TotalSize(), 4096);
    }
    EXPECT_EQ(appended, (4096 - 236) / 410);
    EXPECT_TRUE(HubIsValid(*image));
    // Exactly filling up to 4096 is allowed.
    const std::size_t room = 4096 - image->TotalSize();
    TankRecord last = RecordWithRows(3, {});
    last.RowCount = static_cast<uint16_t>((room - 10) / 4);
    ASSERT_EQ(10 + 4 * last.RowCount, static_cast<int>(room)) << "choose a table that fits";
    EXPECT_TRUE(HubAppendTank(*image, last));
    EXPECT_EQ(image->TotalSize(), 4096);
}

TEST(HubAppend, RefusesRecordsAndImagesItCannotHold) {
    auto image = DefaultImage();
    TankRecord tooMany = RecordWithRows(2, {});
    tooMany.RowCount = 101;
    EXPECT_FALSE(HubAppendTank(*image, tooMany));

    auto shortImage = std::make_unique<HubBuffer>();
    shortImage->SetTotalSize(4);
    EXPECT_FALSE(HubAppendTank(*shortImage, RecordWithRows(2, {1.0f})));
    EXPECT_EQ(shortImage->TotalSize(), 4);
    EXPECT_EQ(image->TotalSize(), 236);
}

TEST(HubAppend, ScaleZeroIsStoredAsOne) {
    auto image = DefaultImage();
    TankRecord record = RecordWithRows(4, {3.25f});
    record.Scale = 0;
    ASSERT_TRUE(HubAppendTank(*image, record));
    auto entry = HubFindEntry(*image, 4);
    ASSERT_TRUE(entry);
    EXPECT_EQ(HubEntryHead(*image, *entry).Scale, 1);
    EXPECT_EQ(HubEntryRow(*image, *entry, 0).Value, 3250);
}

class ScaleTable : public ::testing::TestWithParam<std::tuple<float, uint16_t>> {};

TEST_P(ScaleTable, LargestVolumeChoosesThePowerOfTen) {
    EXPECT_EQ(ScaleForLitres(std::get<0>(GetParam())), std::get<1>(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(
    Steps, ScaleTable,
    ::testing::Values(std::tuple{0.0f, 1}, std::tuple{5.0f, 1}, std::tuple{50.0f, 1},
                      std::tuple{65.0f, 1}, std::tuple{66.0f, 10}, std::tuple{100.0f, 10},
                      std::tuple{1000.0f, 100}, std::tuple{10000.0f, 1000},
                      std::tuple{100000.0f, 10000}, std::tuple{650000.0f, 10000},
                      std::tuple{-20.0f, 1}, std::tuple{1.0e30f, 10000},
                      // The steps themselves, where a logarithm's last
                      // bit would decide: exactly 100 and 1000 ml per
                      // unit stay on the lower step.
                      std::tuple{6553.5f, 100}, std::tuple{6553.6f, 1000},
                      std::tuple{65535.0f, 1000}, std::tuple{65536.0f, 10000}));

TEST(ScaleRules, NotANumberGivesOne) {
    EXPECT_EQ(ScaleForLitres(std::nanf("")), 1);
}

TEST(ScaleRules, EveryValueOfAnEditorTableFitsSixteenBits) {
    for (float litres : {65.5f, 655.0f, 6553.0f, 65535.0f, 650000.0f}) {
        const uint16_t scale = ScaleForLitres(litres);
        const double stored = static_cast<double>(litres) * 1000.0 / scale + 0.5;
        EXPECT_LT(stored, 65536.0) << litres;
    }
}

TEST(StoredValues, TwelveAndAHalfLitresRoundTrip) {
    EXPECT_EQ(ValueForLitres(12.5f, 1), 12500);
    EXPECT_EQ(ValueForLitres(12.5f, 10), 1250);
    EXPECT_EQ(LitresForValue(12500, 1), 12.5f);
    EXPECT_EQ(LitresForValue(1250, 10), 12.5f);
    EXPECT_EQ(ValueForLitres(0.0004f, 1), 0);
    EXPECT_EQ(ValueForLitres(0.0005f, 1), 1);
    EXPECT_EQ(ValueForLitres(70.0f, 1), static_cast<uint16_t>(70000)); // kept in 16 bits
    EXPECT_EQ(ValueForLitres(std::nanf(""), 1), 0);
    EXPECT_EQ(ValueForLitres(1.0e30f, 1), 0);
}

// A stored count stands for a decimal with at most three places; read back it must be that
// decimal rounded once to single precision, without the noise of a float product (147.7 l,
// not 147.70001).
TEST(StoredValues, EveryCountReadsBackAsTheDecimalItStandsFor) {
    EXPECT_EQ(StoredLitres(1477, 100), 147.7);
    EXPECT_EQ(StoredLitres(15760, 1), 15.76);
    EXPECT_EQ(StoredLitres(65535, 10000), 655350.0);
    EXPECT_EQ(LitresForValue(1477, 100), 147.7f);
    EXPECT_EQ(LitresForValue(3963, 100), 396.3f);
    for (const uint16_t scale : {1, 7, 10, 100, 1000, 10000}) {
        for (uint32_t value = 0; value <= 65535; ++value) {
            const uint32_t millilitres = value * scale;
            const std::string decimal = std::to_string(millilitres / 1000) + "." +
                                        std::to_string(1000 + millilitres % 1000).substr(1);
            const float expected = std::strtof(decimal.c_str(), nullptr);
            ASSERT_EQ(LitresForValue(uint16_t(value), scale), expected) << decimal;
            ASSERT_EQ(StoredLitres(uint16_t(value), scale), std::strtod(decimal.c_str(), nullptr))
                << decimal;
        }
    }
}

TEST(StoredValues, RecordThroughEntryAndBackKeepsTheTable) {
    auto image = DefaultImage();
    TankRecord record = RecordWithRows(1, {0.5f, 12.5f, 40.0f, 65.0f});
    record.Scale = ScaleForLitres(65.0f);
    auto tank1 = HubFindEntry(*image, 1);
    ASSERT_TRUE(tank1);
    ASSERT_TRUE(RecordToEntry(record, *image, *tank1));
    HubSeal(*image);
    EXPECT_TRUE(HubIsValid(*image));
    EXPECT_EQ(HubEntryHead(*image, *tank1).EntrySize, 210); // stays
    EXPECT_EQ(HubEntryHead(*image, *tank1).Id, 1);

    TankRecord back;
    back.Id = 99;
    EntryToRecord(*image, *tank1, back);
    EXPECT_EQ(back.Id, 99); // the record's own head stays
    ASSERT_EQ(back.RowCount, 4);
    EXPECT_EQ(back.Scale, record.Scale);
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(back.rows[i].Code, record.rows[i].Code);
        EXPECT_NEAR(back.rows[i].Litres, record.rows[i].Litres, 0.0006f);
    }
}

TEST(StoredValues, RewriteIsRefusedWhenTheEntryHasNoRoom) {
    auto image = DefaultImage();
    auto tank1 = HubFindEntry(*image, 1);
    ASSERT_TRUE(tank1);
    image->SetWord(tank1->offset + EntrySizeOffset, 120); // room for 27 rows
    HubSeal(*image);
    const auto before = image->bytes();
    TankRecord record = RecordWithRows(1, {});
    record.RowCount = 30;
    EXPECT_FALSE(RecordToEntry(record, *image, *tank1));
    record.RowCount = 60000; // would wrap a 16-bit size computation
    EXPECT_FALSE(RecordToEntry(record, *image, *tank1));
    EXPECT_EQ(image->bytes(), before);
    record.RowCount = 27;
    EXPECT_TRUE(RecordToEntry(record, *image, *tank1));
}

TEST(ShownForms, VersionMlPerBitAndLevels) {
    EXPECT_EQ(HubVersionText(0x0301), "3.01");
    EXPECT_EQ(HubVersionText(0x0A1F), "10.1F");
    EXPECT_EQ(MlPerBitIndex(0), -1);
    EXPECT_EQ(MlPerBitIndex(1), 0);
    EXPECT_EQ(MlPerBitIndex(999), 2);
    for (const uint16_t power : {1, 10, 100, 1000, 10000})
        EXPECT_EQ(MlPerBitForIndex(MlPerBitIndex(power)), power);
    EXPECT_EQ(MlPerBitIndex(9), 0);
    EXPECT_EQ(MlPerBitIndex(65535), 4);
    EXPECT_EQ(MlPerBitForIndex(3), 1000);
    EXPECT_EQ(MlPerBitForIndex(-1), 0);
    EXPECT_EQ(LevelMillimetres(65000), 6500);
    EXPECT_EQ(LevelMillimetres(124), 12);
    EXPECT_EQ(LevelMillimetres(125), 13);
    EXPECT_EQ(LevelCodeForMillimetres(12.6), 130);
    EXPECT_EQ(LevelCodeForMillimetres(12.4), 120);
}

TEST(Pages, CountFollowsTotalSize) {
    auto image = DefaultImage();
    EXPECT_EQ(HubPageCount(*image), 2u);
    image->SetTotalSize(0);
    EXPECT_EQ(HubPageCount(*image), 0u);
    image->SetTotalSize(65535);
    EXPECT_EQ(HubPageCount(*image), 512u);
    image->SetTotalSize(4096);
    EXPECT_EQ(HubPageCount(*image), 32u);
    image->SetVersion(0x03FF);
    EXPECT_TRUE(HubWantsMorePages(*image));
    image->SetVersion(0x0200);
    EXPECT_FALSE(HubWantsMorePages(*image));
    EXPECT_EQ(image->Page(1).data(), image->bytes().data() + 128);
}

} // namespace
} // namespace vq31
