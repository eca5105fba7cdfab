// Tare grid ↔ tank record: how the tare editor shows a tank's table in its grid when it opens,
// and how OK stores the grid back into the tank record (at most 50 rows, with the scale that
// fits the largest volume into the stored 16-bit values).
#pragma once

#include "hub_image.h"
#include "tare_check.h"
#include "tare_grid.h"

#include <functional>
#include <string_view>
#include <vector>

namespace vq31 {

// Clears the grid to one empty row and writes the record's rows into it, one grid row per
// record row, skipping rows of 0 l at level code 0; litres at the record's own resolution
// (LitresDecimalsForScale of its Scale, which the grid keeps for the rows it writes later),
// levels in whole millimetres. Renumbers.
void FillTareGrid(const TankRecord& tank, TareGrid& grid, std::string_view decimalPoint);

// Grid rows whose litres and level both read as numbers; only these are stored.
int CountStorableRows(const TareGrid& grid, std::string_view decimalPoint);

// OK: stores the storable rows, in grid order, into the record. When there are more than
// TareTableRows of them, askTruncate decides: false ends with TableWillTruncate and the record
// untouched. A stored row that cannot be kept (negative or too large volume, a level outside
// 0 to 6553 mm) refuses the whole store with its message, record untouched. Otherwise the 50
// row slots are cleared and refilled, RowCount and Scale set; Id, Height and EntrySize stay.
// A table stored back with the same volumes keeps the record's Scale, so its stored values
// stay the same; any other table gets the scale that fits its largest volume.
TareOutcome StoreTareGrid(const TareGrid& grid, std::string_view decimalPoint, TankRecord& tank,
                          const std::function<bool()>& askTruncate);

// The record's rows as the sensor will hold them, numbered as FillTareGrid shows them: levels
// in whole millimetres, litres at the record's scale (10.632 l at 1000 ml is 11 l).
std::vector<TarePoint> StoredTarePoints(const TankRecord& tank);

} // namespace vq31
