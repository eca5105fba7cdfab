// The text of a csv file before it is parsed: its encoding, its separator, and whether its
// quotes are closed.
#pragma once

#include <string>
#include <string_view>

namespace vq31::sheets {

// A csv file's bytes as UTF-8 text: a byte-order mark is dropped, and bytes that are not
// UTF-8 are read as Windows-1251.
std::string CsvText(std::string_view bytes);
// The field separator from the first line that holds anything: ';', else tab, else ','.
char CsvSeparator(std::string_view text);
// True when no quoted field is left open at the end of the text.
bool CsvQuotesClosed(std::string_view text, char separator);

} // namespace vq31::sheets
