// Fuzzes the hub configuration image: arbitrary bytes become the image, then the walk, find,
// conversions, validation and append run over it. Any read or write outside the image
// buffer or the tank record is caught by the sanitizers.
// fuzz-libs: vq31_calibration
#include "hub_image.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vq31;
    static auto image = std::make_unique<HubBuffer>();
    static auto record = std::make_unique<TankRecord>();
    image->bytes().fill(0);
    std::memcpy(image->bytes().data(), data, std::min(size, HubBufferSize));

    for (auto e = HubFirstEntry(*image); e; e = HubNextEntry(*image, *e)) {
        // An entry starts inside the image; it may run past TotalSize, but its rows are only
        // read as far as they lie inside it.
        if (e->offset >= image->TotalSize() ||
            (HubStoredRows(*image, *e) > 0 &&
             e->offset + TankEntryHeadSize + EntryRowSize * HubStoredRows(*image, *e) >
                 image->TotalSize())) {
            std::abort();
        }
        EntryToRecord(*image, *e, *record);
        if (record->RowCount > TankRecordRows) {
            std::abort();
        }
        (void)RecordToEntry(*record, *image, *e);
    }
    const uint16_t id = size >= 2 ? static_cast<uint16_t>(data[0] | data[1] << 8) : 0;
    if (auto found = HubFindEntry(*image, id)) {
        EntryToRecord(*image, *found, *record);
    }
    (void)HubIsValid(*image);

    record->RowCount = static_cast<uint16_t>(size % 128);
    record->Scale = static_cast<uint16_t>(size % 3);
    const uint16_t before = image->TotalSize();
    if (HubAppendTank(*image, *record)) {
        if (image->TotalSize() > HubMaxImageSize || !(HubChecksum(*image) == 0xFFFF)) {
            std::abort();
        }
    } else if (image->TotalSize() != before) {
        std::abort();
    }
    return 0;
}
