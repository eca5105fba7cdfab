// Hub images the write tests share.
#pragma once

#include "hub_image.h"

#include <algorithm>

namespace vq31::test {

// The default configuration followed by a preset (tank 7) of 90 rows: five pages in all, so a
// write can fail part-way. False when the preset did not fit.
inline bool FivePageImage(HubBuffer& image) {
    HubMakeDefault(image);
    TankRecord preset;
    preset.Id = 7;
    preset.Scale = 1;
    preset.RowCount = 90;
    for (uint16_t i = 0; i < preset.RowCount; ++i)
        preset.rows[i] = {uint16_t(100 + 10 * i), float(i)};
    return HubAppendTank(image, preset) && HubPageCount(image) == 5;
}

// The default configuration followed by presets (tanks 10, 11, ...) of up to 90 rows until
// the image has the given number of pages (up to 32). False when it cannot be reached.
inline bool ImageOfPages(HubBuffer& image, size_t pages) {
    HubMakeDefault(image);
    for (uint16_t id = 10; HubPageCount(image) < pages && id < 40; ++id) {
        TankRecord preset;
        preset.Id = id;
        preset.Scale = 1;
        const size_t missing = pages * HubPageSize - image.TotalSize();
        const size_t rows = (missing - TankEntryHeadSize) / EntryRowSize;
        preset.RowCount = uint16_t(std::min<size_t>(90, std::max<size_t>(rows, 1)));
        for (uint16_t i = 0; i < preset.RowCount; ++i)
            preset.rows[i] = {uint16_t(100 + 10 * i), float(id + i)};
        if (!HubAppendTank(image, preset))
            return false;
    }
    return HubPageCount(image) == pages;
}

} // namespace vq31::test
