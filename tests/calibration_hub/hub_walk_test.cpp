// The entry walk and the conversions on images whose sizes do not add up: every read stays
// inside the image, every write inside the record. Run under the sanitizers.
#include "hub_image.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

namespace vq31 {
namespace {

// Builds an image of entries laid out back to back from the given (size, id, rows) heads;
// an entry of size 0 still takes the room of its head.
struct EntrySpec {
    uint16_t size;
    uint16_t id;
    uint16_t rows;
};

std::unique_ptr<HubBuffer> ImageOf(std::initializer_list<EntrySpec> entries, uint16_t total) {
    auto image = std::make_unique<HubBuffer>();
    image->SetTotalSize(total);
    image->SetVersion(HubFormatVersion);
    std::size_t at = HubHeaderSize;
    for (const EntrySpec& e : entries) {
        image->SetWord(at + EntrySizeOffset, e.size);
        image->SetWord(at + EntryIdOffset, e.id);
        image->SetWord(at + EntryRowCountOffset, e.rows);
        image->SetWord(at + EntryScaleOffset, 1);
        at += e.size == 0 ? TankEntryHeadSize : e.size; // keep a later head apart
    }
    HubSeal(*image);
    return image;
}

std::vector<uint16_t> WalkIds(const HubBuffer& image) {
    std::vector<uint16_t> ids;
    for (auto e = HubFirstEntry(image); e; e = HubNextEntry(image, *e)) {
        ids.push_back(HubEntryHead(image, *e).Id);
    }
    return ids;
}

TEST(HubWalk, StopsAtAnEntryOfSizeZero) {
    auto image = ImageOf({{10, 5, 0}, {0, 6, 0}, {10, 7, 0}}, 200);
    EXPECT_EQ(WalkIds(*image), (std::vector<uint16_t>{5, 6}));
    EXPECT_FALSE(HubFindEntry(*image, 7));
}

TEST(HubWalk, StopsAtTheFirstEntryStartingAtOrPastTotalSize) {
    // Second entry starts at 36: present with TotalSize 46, absent with TotalSize 36.
    EXPECT_EQ(WalkIds(*ImageOf({{20, 2, 0}, {10, 3, 0}}, 46)), (std::vector<uint16_t>{2, 3}));
    EXPECT_EQ(WalkIds(*ImageOf({{20, 2, 0}, {10, 3, 0}}, 36)), (std::vector<uint16_t>{2}));
}

TEST(HubWalk, AnEntryStartingBeforeTotalSizeIsFoundEvenWhenItRunsPastIt) {
    // The head of the second entry (at 36) would end at 46, past TotalSize 40.
    auto cut = ImageOf({{20, 2, 0}, {10, 3, 0}}, 40);
    EXPECT_EQ(WalkIds(*cut), (std::vector<uint16_t>{2, 3}));
    EXPECT_EQ(HubReadableRows(*cut, *HubFindEntry(*cut, 3)), 0u);
    // The second entry declares 30 bytes (5 rows) but the image ends after 20 of them: found,
    // with only the rows inside the image.
    auto longer = ImageOf({{20, 2, 0}, {30, 3, 5}}, 56);
    EXPECT_EQ(WalkIds(*longer), (std::vector<uint16_t>{2, 3}));
    ASSERT_TRUE(HubFindEntry(*longer, 3));
    EXPECT_EQ(HubReadableRows(*longer, *HubFindEntry(*longer, 3)), 2u);
    TankRecord record;
    EntryToRecord(*longer, *HubFindEntry(*longer, 3), record);
    EXPECT_EQ(record.RowCount, 2);
    // A record is never written past the image into such an entry.
    record.RowCount = 3;
    EXPECT_FALSE(RecordToEntry(record, *longer, *HubFindEntry(*longer, 3)));
    // A first entry exists only when the image is longer than its header.
    EXPECT_TRUE(WalkIds(*ImageOf({}, 16)).empty());
    EXPECT_EQ(WalkIds(*ImageOf({{10, 2, 0}}, 20)), (std::vector<uint16_t>{2}));
    EXPECT_TRUE(WalkIds(*ImageOf({{10, 2, 0}}, 0)).empty());
}

TEST(HubWalk, FindReturnsTheFirstOfTwoEntriesWithTheSameId) {
    auto image = ImageOf({{10, 4, 0}, {14, 9, 1}, {18, 9, 2}}, 58);
    auto found = HubFindEntry(*image, 9);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->offset, 26u);
    EXPECT_EQ(HubEntryHead(*image, *found).RowCount, 1);
}

TEST(HubWalk, EndsOnTheLargestImageTheHeaderCanDescribe) {
    auto image = std::make_unique<HubBuffer>();
    image->SetTotalSize(65535);
    for (std::size_t at = HubHeaderSize; at + 1 < HubBufferSize; at += 10) {
        image->SetWord(at, 10);
    }
    std::size_t count = 0;
    for (auto e = HubFirstEntry(*image); e; e = HubNextEntry(*image, *e)) {
        ASSERT_LT(e->offset, 65535u);
        (void)HubEntryHead(*image, *e); // read inside the buffer, also for the last one
        ++count;
    }
    EXPECT_EQ(count, (65535u - 16) / 10 + 1);
}

TEST(EntryConversion, ReadsNoRowsBeyondTheEntryOrTheImage) {
    // RowCount claims 90 rows but the entry holds 3; the record gets 3.
    auto image = ImageOf({{22, 2, 90}, {10, 3, 0}}, 48);
    auto entry = HubFindEntry(*image, 2);
    ASSERT_TRUE(entry);
    EXPECT_EQ(HubReadableRows(*image, *entry), 3u);
    TankRecord record;
    record.rows[3].Code = 777;
    EntryToRecord(*image, *entry, record);
    EXPECT_EQ(record.RowCount, 3);
    EXPECT_EQ(record.rows[3].Code, 777);

    // A size-0 entry (the end of the walk) carries no rows.
    auto ended = ImageOf({{0, 2, 5}}, 100);
    EntryToRecord(*ended, *HubFirstEntry(*ended), record);
    EXPECT_EQ(record.RowCount, 0);
}

TEST(EntryConversion, NeverWritesMoreThanTheRecordsHundredRows) {
    auto image = ImageOf({{10 + 4 * 150, 2, 150}}, 16 + 10 + 4 * 150);
    TankRecord record;
    EntryToRecord(*image, *HubFirstEntry(*image), record);
    EXPECT_EQ(record.RowCount, 100);
}

// Random bytes with plausible sizes through walk, find, convert, validate and append.
TEST(HubRandomImages, EveryOperationStaysInsideTheBuffers) {
    std::mt19937 rng(12345);
    auto image = std::make_unique<HubBuffer>();
    auto record = std::make_unique<TankRecord>();
    for (int round = 0; round < 300; ++round) {
        auto& bytes = image->bytes();
        const std::size_t filled = 16 + rng() % 5000;
        for (std::size_t i = 0; i < filled; ++i) {
            bytes[i] = static_cast<uint8_t>(rng());
        }
        // Entry sizes mostly small so walks go deep.
        for (std::size_t at = 16; at + 2 < filled; at += 2 + rng() % 60) {
            image->SetWord(at, static_cast<uint16_t>(rng() % 80));
        }
        image->SetTotalSize(static_cast<uint16_t>(rng() % 2 ? rng() % 6000 : rng()));
        std::size_t steps = 0;
        for (auto e = HubFirstEntry(*image); e; e = HubNextEntry(*image, *e)) {
            ASSERT_LE(e->offset + TankEntryHeadSize, image->TotalSize());
            ASSERT_LE(HubReadableRows(*image, *e), TankRecordRows);
            EntryToRecord(*image, *e, *record);
            ASSERT_LE(record->RowCount, TankRecordRows);
            ASSERT_LT(++steps, 65536u);
        }
        (void)HubFindEntry(*image, static_cast<uint16_t>(rng() % 8));
        (void)HubIsValid(*image);
        record->RowCount = static_cast<uint16_t>(rng() % 120);
        const uint16_t before = image->TotalSize();
        if (HubAppendTank(*image, *record)) {
            EXPECT_LE(image->TotalSize(), 4096);
            EXPECT_TRUE(HubChecksum(*image) == 0xFFFF);
        } else {
            EXPECT_EQ(image->TotalSize(), before);
        }
    }
}

} // namespace
} // namespace vq31
