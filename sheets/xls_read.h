// Reading .xls workbooks (the 97-2003 format). Formula cells read as empty.
#pragma once

#include "workbook.h"

#include <string>

namespace vq31::sheets {

// Reads the file in a child process and takes its cells back; any fault of the parser on a
// damaged file becomes a failed read.
FileResult ReadXlsFile(const std::string& fileName, Workbook& book);
// The same in this process (what the child runs).
FileResult ReadXlsInProcess(const std::string& fileName, Workbook& book);

} // namespace vq31::sheets
