// Files named by UTF-8 paths on every platform: a read bounded in size, a write that replaces
// a file only once the new contents are safely on disk, and creation that never replaces an
// existing file. On Windows every path goes through the wide-character calls, so a folder
// named in any script (a user profile in Cyrillic) works. Nothing here throws: each call
// returns whether it worked and, when not, what failed in words with the system's reason.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace vq31::fileio {

struct FileResult {
    bool ok = false;
    std::string error; // empty when ok
};

struct ReadResult {
    bool ok = false;
    std::string error; // empty when ok
    std::string bytes; // the whole file when ok
};

// Reads the whole file when it holds at most limit bytes. A larger or endless file (a device
// that never ends) is refused after limit + 1 bytes; a folder is refused by name.
ReadResult ReadFileLimited(const std::string& path, size_t limit);

// Writes bytes to a temporary file beside path and renames it over path once every write,
// the flush to disk and the close have succeeded; on any failure the old file stays as it
// was and the temporary file is removed. An existing path that is not a regular file (a
// folder, a device) is refused and left alone.
FileResult WriteFileReplacing(const std::string& path, std::string_view bytes);

// Creates path with bytes; fails when anything already has that name (checked by the system
// at creation, so two writers never share one name). A file left half written is removed.
FileResult CreateNewFile(const std::string& path, std::string_view bytes);

// The UTF-8 text of a path, and a path from UTF-8 text (exact on Windows, where paths are
// wide strings and the narrow conversions of the standard library follow the code page).
std::string Utf8Path(const std::filesystem::path& path);
std::filesystem::path PathFromUtf8(const std::string& utf8);

// The value of an environment variable as UTF-8, empty when it is not set (on Windows read
// through the wide call, as a profile path may hold any character).
std::string EnvironmentUtf8(const char* name);

} // namespace vq31::fileio
