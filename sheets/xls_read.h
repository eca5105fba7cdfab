// Reading .xls workbooks (the 97-2003 format; formula cells give their stored results), and running
// a workbook parser in a child process so that a fault of the parser on a damaged file becomes a
// failed read instead of ending the program.
#pragma once

#include "workbook.h"

#include <functional>
#include <string>

namespace vq31::sheets {

// Reads the file in a child process and takes its cells back.
FileResult ReadXlsFile(const std::string& fileName, Workbook& book);
// The same in this process (what the child runs).
FileResult ReadXlsInProcess(const std::string& fileName, Workbook& book);

// Runs read in a child process and takes the workbook it read back into book; a child that
// crashes, hangs or answers nonsense gives a failed read with a reason, book untouched.
FileResult ReadInChild(const std::function<FileResult(Workbook&)>& read, Workbook& book);

} // namespace vq31::sheets
