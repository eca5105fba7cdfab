// The cells of a .xls workbook that the .xls library does not give as they are: booleans and
// error values (which it gives as numbers) and the stored results of formula cells (which it
// leaves out), read from the records of the workbook stream inside the file's compound
// document.
#pragma once

#include "workbook.h"

#include <string>
#include <string_view>
#include <vector>

namespace vq31::sheets {

struct XlsRecordCell {
    uint32_t row = 0; // from 1
    uint32_t column = 0;
    Cell cell; // a formula without a stored result is an empty cell
};

struct XlsRecordSheet {
    std::string name;
    std::vector<XlsRecordCell> cells;
};

// The worksheets' boolean, error and formula cells of a BIFF8 workbook; formula results whose
// cell format shows a date become date texts in the workbook's date system. Nothing when the
// file's compound document or workbook stream cannot be followed (the cells the library read
// are kept as they are then).
std::vector<XlsRecordSheet> XlsRecordCells(std::string_view file);

} // namespace vq31::sheets
