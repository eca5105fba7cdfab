// Writing workbooks: the Open XML format through libxlsxwriter, numbers as numeric cells;
// the 97-2003 format by converting that file with LibreOffice when it is installed. A file
// is first written under a temporary name beside the target and renamed into place, so a
// failed save leaves an existing file as it was.
#include "workbook.h"

#include "c_locale_scope.h"

#include <xlsxwriter.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace vq31::sheets {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view XlsxExtension = ".xlsx";
constexpr std::string_view XlsExtension = ".xls";
// LibreOffice's first start in a fresh profile takes a while; a conversion never hangs a save.
constexpr auto ConversionTimeLimit = std::chrono::seconds(120);
constexpr auto ConversionPoll = std::chrono::milliseconds(50);
constexpr mode_t SavedFileMode = 0644;

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

std::string ExtensionOf(const std::string& fileName) {
    return fs::path(fileName).extension().string();
}

// A unique name in the target's directory, so the final rename stays on one file system.
std::string TemporaryBeside(const std::string& fileName) {
    std::string pattern = fileName + ".part-XXXXXX";
    const int fd = mkstemp(pattern.data());
    if (fd < 0) {
        return {};
    }
    close(fd);
    return pattern;
}

FileResult WriteXlsxTo(const Workbook& book, const std::string& path) {
    lxw_workbook_options options{};
    options.constant_memory = LXW_FALSE;
    lxw_workbook* wb = workbook_new_opt(path.c_str(), &options);
    if (!wb) {
        return {false, "cannot create " + path};
    }
    std::string failure;
    for (const Sheet& sheet : book.sheets) {
        lxw_worksheet* ws = workbook_add_worksheet(wb, sheet.name().c_str());
        if (!ws) {
            failure = "bad worksheet name \"" + sheet.name() + "\"";
            break;
        }
        for (const auto& [pos, cell] : sheet.cells()) {
            if (pos.first > LXW_ROW_MAX || pos.second > LXW_COL_MAX) {
                failure = "cell outside the worksheet";
                break;
            }
            const auto row = static_cast<lxw_row_t>(pos.first - 1);
            const auto col = static_cast<lxw_col_t>(pos.second - 1);
            lxw_error err = LXW_NO_ERROR;
            if (cell.kind == Cell::Kind::Number && std::isfinite(cell.number)) {
                err = worksheet_write_number(ws, row, col, cell.number, nullptr);
            } else if (cell.kind == Cell::Kind::Text) {
                err = worksheet_write_string(ws, row, col, cell.text.c_str(), nullptr);
            }
            if (err != LXW_NO_ERROR) {
                failure = lxw_strerror(err);
                break;
            }
        }
        if (!failure.empty()) {
            break;
        }
    }
    const lxw_error closed = workbook_close(wb);
    if (failure.empty() && closed != LXW_NO_ERROR) {
        failure = lxw_strerror(closed);
    }
    if (!failure.empty()) {
        return {false, failure};
    }
    return {true, {}};
}

FileResult ReplaceWith(const std::string& written, const std::string& fileName) {
    // The temporary file was created private; a saved workbook is readable like any other.
    chmod(written.c_str(), SavedFileMode);
    std::error_code ec;
    // Only a regular file is replaced: a rename over a device node or a folder would take its
    // place (as root, even /dev/full).
    const fs::file_status target = fs::status(fileName, ec);
    if (fs::exists(target) && !fs::is_regular_file(target)) {
        fs::remove(written, ec);
        return {false, fileName + " is not a regular file; it was left alone"};
    }
    fs::rename(written, fileName, ec);
    if (ec) {
        fs::remove(written, ec);
        return {false, "cannot replace " + fileName};
    }
    return {true, {}};
}

std::string FindOnPath(const char* program) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        const std::size_t end = std::min(dirs.find(':', start), dirs.size());
        const std::string candidate = dirs.substr(start, end - start) + "/" + program;
        if (end > start && access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        start = end + 1;
    }
    return {};
}

std::string LibreOfficeProgram() {
    std::string found = FindOnPath("soffice");
    return found.empty() ? FindOnPath("libreoffice") : found;
}

// Runs LibreOffice headless to convert source into the 97-2003 format in outDir, with a
// private profile in outDir (LibreOffice needs a writable home). Bounded in time.
bool ConvertToXls(const std::string& program, const std::string& source,
                  const std::string& outDir) {
    const std::string home = "HOME=" + outDir;
    const std::string profile = "-env:UserInstallation=file://" + outDir + "/profile";
    std::vector<std::string> args = {program, "--headless", "--norestore", profile, "--convert-to",
                                     "xls",   "--outdir",   outDir,        source};
    const pid_t pid = fork();
    if (pid < 0) {
        return false;
    }
    if (pid == 0) {
        std::vector<char*> argv;
        for (std::string& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        putenv(const_cast<char*>(home.c_str()));
        const int devnull = open("/dev/null", O_RDWR);
        if (devnull >= 0) {
            dup2(devnull, STDIN_FILENO);
            dup2(devnull, STDOUT_FILENO);
            dup2(devnull, STDERR_FILENO);
        }
        setpgid(0, 0);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + ConversionTimeLimit;
    int status = 0;
    while (true) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        }
        if (done < 0 || std::chrono::steady_clock::now() > deadline) {
            kill(-pid, SIGKILL);
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return false;
        }
        std::this_thread::sleep_for(ConversionPoll);
    }
}

FileResult SaveAsXls(const Workbook& book, const std::string& fileName) {
    const std::string program = LibreOfficeProgram();
    if (program.empty()) {
        return {false, std::string(XlsNeedsLibreOfficeMessage)};
    }
    std::string dirPattern = (fs::temp_directory_path() / "vq31-xls-XXXXXX").string();
    if (!mkdtemp(dirPattern.data())) {
        return {false, "cannot create a temporary folder"};
    }
    const fs::path dir(dirPattern);
    FileResult result{false, "LibreOffice could not convert the workbook"};
    const std::string source = (dir / "book.xlsx").string();
    if (FileResult written = WriteXlsxTo(book, source); !written.ok) {
        result = written;
    } else if (ConvertToXls(program, source, dir.string()) && fs::exists(dir / "book.xls")) {
        const std::string part = TemporaryBeside(fileName);
        std::error_code ec;
        if (!part.empty() &&
            fs::copy_file(dir / "book.xls", part, fs::copy_options::overwrite_existing, ec)) {
            result = ReplaceWith(part, fileName);
        } else {
            if (!part.empty()) {
                fs::remove(part, ec);
            }
            result = {false, "cannot write " + fileName};
        }
    }
    std::error_code ec;
    fs::remove_all(dir, ec);
    return result;
}

} // namespace

bool HaveLibreOffice() {
    return !LibreOfficeProgram().empty();
}

FileResult WriteXlsx(const Workbook& book, const std::string& fileName) {
    const CLocaleScope cLocale;
    const std::string part = TemporaryBeside(fileName);
    if (part.empty()) {
        return {false, "cannot write " + fileName};
    }
    if (FileResult written = WriteXlsxTo(book, part); !written.ok) {
        std::error_code ec;
        fs::remove(part, ec);
        return written;
    }
    return ReplaceWith(part, fileName);
}

FileResult SaveWorkbook(const Workbook& book, const std::string& fileName) {
    const CLocaleScope cLocale;
    const std::string extension = ExtensionOf(fileName);
    if (extension != XlsxExtension && Lower(extension) == XlsExtension) {
        return SaveAsXls(book, fileName);
    }
    return WriteXlsx(book, fileName);
}

} // namespace vq31::sheets
