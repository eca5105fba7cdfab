// Telematics pairs and the file write shared by the exports.
#include "tare_export.h"

#include "file_io.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace vq31 {

bool IsTelematicsSeparator(char separator) {
    return separator == ';' || separator == ',';
}

namespace {
// Litres as stored, to the millilitre at most: at least one decimal, no trailing zeros past
// it, so a table at 10 ml keeps its hundredths (25.25) and one at 1000 ml reads 80.0.
std::string LitresText(double litres) {
    std::string text = FormatTareLitres(litres, ".", 3);
    while (text.size() > 2 && text.back() == '0' && text[text.size() - 2] != '.')
        text.pop_back();
    return text;
}
} // namespace

std::string TelematicsCsvText(const std::vector<TarePoint>& points, char separator) {
    std::string text;
    for (const TarePoint& p : points) {
        // Half up, as the store turns a grid level into the stored code.
        const long long millimetres = static_cast<long long>(std::floor(p.millimetres + 0.5));
        text += std::to_string(millimetres);
        text += separator;
        text += LitresText(p.litres);
        text += '\n';
    }
    return text;
}

bool WriteFileReplacing(const std::string& path, const std::string& text, std::string& error) {
    const fileio::FileResult r = fileio::WriteFileReplacing(path, text);
    if (!r.ok)
        error = r.error;
    return r.ok;
}

} // namespace vq31
