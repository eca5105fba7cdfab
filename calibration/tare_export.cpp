// Telematics pairs and the file write shared by the exports.
#include "tare_export.h"

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
    namespace fs = std::filesystem;
    const fs::path target(path);
    fs::path temporary = target;
    temporary += ".part";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) {
            error = "cannot create " + temporary.string() + ": " + std::strerror(errno);
            return false;
        }
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        out.flush();
        if (!out) {
            error = "cannot write " + temporary.string() + ": " + std::strerror(errno);
            out.close();
            std::error_code ignored;
            fs::remove(temporary, ignored);
            return false;
        }
    }
    std::error_code ec;
    fs::rename(temporary, target, ec);
    if (ec) {
        error = "cannot replace " + path + ": " + ec.message();
        fs::remove(temporary, ec);
        return false;
    }
    return true;
}

} // namespace vq31
