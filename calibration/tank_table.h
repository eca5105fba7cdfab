// A tare table computed from a tank model: at most 50 rows (what the sensor keeps), placed
// where the curve bends most, so that the largest error of the sensor's straight-line
// interpolation between rows, over the whole range of readings, is as small as it can be.
// Rows stand on the levels a table can store (tenths of a millimetre on the device, whole
// millimetres in the tare window's grid) with the litres the model gives there, rounded to
// the resolution they are stored with; the error is that of the stored table.
#pragma once

#include "hub_image.h"
#include "tank_shape.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vq31 {

struct ShapeRow {
    double levelMm = 0.0;
    double litres = 0.0; // as stored: a whole number of litre steps
};

struct ShapeTableOptions {
    std::size_t maxRows = TareTableRows;
    // Levels a row may stand on: 0.1 mm on the device, 1 mm in the tare grid.
    double levelStepMm = 0.1;
    // Smallest litre step the rows are kept with (the grid shows 0.1 l); the table's scale
    // may ask for a coarser one.
    double minLitresStep = 0.0;
    // Rows at (near) even level steps instead of where the curve bends: the comparison.
    bool evenlySpaced = false;
};

struct ShapeTable {
    std::vector<ShapeRow> rows;
    uint16_t scaleMl = 1;    // the scale a store gives the largest row
    double litresStep = 0.0; // the litres' resolution
    double maxErrorLitres = 0.0;
    double maxErrorAtMm = 0.0; // the reading where that error is largest
    double capacityLitres = 0.0;
    double deadLitres = 0.0; // below the sensor's reach (reading 0)
    double topMm = 0.0;      // the highest reading the table covers

    double ErrorShare() const {
        return capacityLitres > 0.0 ? maxErrorLitres / capacityLitres : 0.0;
    }
};

// Rows from reading 0 to the model's top reading. maxRows below 2 is taken as 2.
ShapeTable ComputeShapeTable(const TankModel& model, const ShapeTableOptions& options = {});

// The record a store would make of the table: Code in tenths of a millimetre, Litres, and
// the table's scale; Id, Height and EntrySize stay.
void ShapeTableToRecord(const ShapeTable& table, TankRecord& record);

} // namespace vq31
