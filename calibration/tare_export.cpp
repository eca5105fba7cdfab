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

std::string TelematicsCsvText(const std::vector<TarePoint>& points, char separator) {
    std::string text;
    for (const TarePoint& p : points) {
        // Half up, as the store turns a grid level into the stored code.
        const long long millimetres = static_cast<long long>(std::floor(p.millimetres + 0.5));
        text += std::to_string(millimetres);
        text += separator;
        text += FormatTareLitres(p.litres, ".");
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
