// Hub images the write tests share.
#pragma once

#include "hub_image.h"

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

} // namespace vq31::test
