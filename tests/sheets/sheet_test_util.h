// Helpers of the workbook tests: a private temporary folder, running the system's Python
// with openpyxl as an independent reader, and running LibreOffice when it is installed.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace vq31::sheets::testing {

class TempDir {
public:
    TempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "vq31-sheets-test-XXXXXX").string();
        path_ = mkdtemp(pattern.data()) ? pattern : std::string();
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    std::string File(const std::string& name) const { return path_ + "/" + name; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

inline const char* SystemPython = "/usr/bin/python3";

inline bool HaveOpenpyxl() {
    const std::string cmd = std::string(SystemPython) + " -c 'import openpyxl' 2>/dev/null";
    return access(SystemPython, X_OK) == 0 && std::system(cmd.c_str()) == 0;
}

// Runs a Python script (passed through a file) and returns what it printed; the exit code
// goes to status.
inline std::string RunPython(const TempDir& dir, const std::string& script, int& status) {
    const std::string scriptFile = dir.File("check.py");
    std::ofstream(scriptFile) << script;
    const std::string cmd = std::string(SystemPython) + " " + scriptFile + " 2>&1";
    std::string out;
    FILE* pipe = popen(cmd.c_str(), "r");
    if (!pipe) {
        status = -1;
        return out;
    }
    std::array<char, 4096> buffer;
    size_t n;
    while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
        out.append(buffer.data(), n);
    }
    status = pclose(pipe);
    return out;
}

inline bool HaveSoffice() {
    return std::system("command -v soffice >/dev/null 2>&1") == 0;
}

// Converts a file with LibreOffice into the given format ("xls", "ods") in the same folder.
inline bool ConvertWithSoffice(const TempDir& dir, const std::string& file,
                               const std::string& format) {
    const std::string cmd = "HOME=" + dir.path() +
                            " timeout 180 soffice --headless --norestore "
                            "--convert-to " +
                            format + " --outdir " + dir.path() + " " + file + " >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

inline std::string ReadBytes(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

} // namespace vq31::sheets::testing
