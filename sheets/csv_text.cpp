// The text of a csv file before it is parsed: its encoding, its separator, and whether its
// quotes are closed.
#include "csv_text.h"

#include "text_encoding.h"

namespace vq31::sheets {

// A csv file's bytes as UTF-8 text: a byte-order mark is dropped, and bytes that are not
// UTF-8 are read as Windows-1251, the encoding spreadsheets save csv in under Russian
// regional settings.
std::string CsvText(std::string_view bytes) {
    constexpr std::string_view Utf8Bom = "\xEF\xBB\xBF";
    if (bytes.substr(0, Utf8Bom.size()) == Utf8Bom) {
        bytes.remove_prefix(Utf8Bom.size());
    }
    return IsValidUtf8(bytes) ? std::string(bytes) : Cp1251ToUtf8(bytes);
}

// The field separator of a csv text, from its first line that holds anything: a semicolon
// when that line has one outside quotes (the default of spreadsheets in regions with a
// decimal comma), else a tab when it has one, else a comma.
char CsvSeparator(std::string_view text) {
    bool quoted = false;
    bool semicolon = false;
    bool tab = false;
    bool content = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            quoted = c != '"';
            continue;
        }
        if (c == '\n' || c == '\r') {
            if (content) {
                break;
            }
            continue;
        }
        content = content || (c != ' ' && c != '\t');
        quoted = c == '"';
        semicolon = semicolon || c == ';';
        tab = tab || c == '\t';
    }
    return semicolon ? ';' : tab ? '\t' : ',';
}

// True when no quoted field is left open at the end of a csv text. A quote opens a quoted
// field only at the start of a field; inside one, a doubled quote stands for a quote.
bool CsvQuotesClosed(std::string_view text, char separator) {
    bool quoted = false;
    bool fieldStart = true;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"') {
                if (i + 1 < text.size() && text[i + 1] == '"') {
                    ++i;
                } else {
                    quoted = false;
                }
            }
            continue;
        }
        if (c == '"' && fieldStart) {
            quoted = true;
        }
        fieldStart = c == separator || c == '\n' || c == '\r';
    }
    return !quoted;
}

} // namespace vq31::sheets
