// Windows files by path: UTF-8 paths turned into wide strings and opened with CreateFileW,
// every write checked, the data flushed before MoveFileExW makes it the file, exclusive
// creation with CREATE_NEW. Errors carry the system's own message.
#include "file_io.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cwchar>
#include <new>
#include <windows.h>

namespace vq31::fileio {

namespace {

std::string Utf8(const wchar_t* text, int length) {
    if (length == 0)
        return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        return {};
    std::string out(size_t(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), size, nullptr, nullptr);
    return out;
}

// The system's message for an error code, without its line end.
std::string SystemMessage(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string message = length ? Utf8(text, int(length)) : std::string();
    if (text)
        LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.'))
        message.pop_back();
    return message.empty() ? "error " + std::to_string(code) : message;
}

std::string Failed(const std::string& what, const std::string& path, DWORD code) {
    return what + " " + path + ": " + SystemMessage(code);
}

// The wide form of a UTF-8 path; false when the text is not valid UTF-8.
bool Wide(const std::string& utf8, std::wstring& wide) {
    wide.clear();
    if (utf8.empty())
        return true;
    const int size = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                                         int(utf8.size()), nullptr, 0);
    if (size <= 0)
        return false;
    wide.resize(size_t(size));
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), int(utf8.size()), wide.data(),
                        size);
    return true;
}

bool WidePath(const std::string& path, std::wstring& wide, std::string& error) {
    if (!Wide(path, wide) || wide.empty() || wide.find(L'\0') != std::wstring::npos) {
        error = "not a usable file name: " + path;
        return false;
    }
    return true;
}

// Writes all of bytes and flushes them to disk; the error names path.
bool WriteAll(HANDLE h, std::string_view bytes, const std::string& path, std::string& error) {
    size_t done = 0;
    while (done < bytes.size()) {
        const DWORD want = DWORD(std::min<size_t>(bytes.size() - done, 1u << 20));
        DWORD written = 0;
        if (!WriteFile(h, bytes.data() + done, want, &written, nullptr) || written == 0) {
            const DWORD e = GetLastError();
            error = Failed("cannot write", path, e ? e : ERROR_WRITE_FAULT);
            return false;
        }
        done += written;
    }
    if (!FlushFileBuffers(h)) {
        error = Failed("cannot flush", path, GetLastError());
        return false;
    }
    return true;
}

// Writes, flushes and closes; on failure the file named wide is deleted.
bool WriteCloseOrDelete(HANDLE h, std::string_view bytes, const std::wstring& wide,
                        const std::string& path, std::string& error) {
    bool ok = WriteAll(h, bytes, path, error);
    if (!CloseHandle(h) && ok) {
        error = Failed("cannot close", path, GetLastError());
        ok = false;
    }
    if (!ok)
        DeleteFileW(wide.c_str());
    return ok;
}

} // namespace

ReadResult ReadFileLimited(const std::string& path, size_t limit) {
    ReadResult r;
    std::wstring wide;
    if (!WidePath(path, wide, r.error))
        return r;
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        r.error = path + " is a folder, not a file";
        return r;
    }
    const HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        r.error = Failed("cannot open", path, GetLastError());
        return r;
    }
    // One byte past the limit tells a file of exactly limit bytes from a larger one.
    const size_t cap = limit == SIZE_MAX ? limit : limit + 1;
    try {
        char chunk[65536];
        for (;;) {
            const DWORD want = DWORD(std::min(sizeof chunk, cap - r.bytes.size()));
            DWORD got = 0;
            if (!ReadFile(h, chunk, want, &got, nullptr)) {
                const DWORD e = GetLastError();
                if (e == ERROR_BROKEN_PIPE || e == ERROR_HANDLE_EOF) {
                    r.ok = true;
                    break;
                }
                r.error = Failed("cannot read", path, e);
                break;
            }
            if (got == 0) {
                r.ok = true;
                break;
            }
            r.bytes.append(chunk, got);
            if (r.bytes.size() > limit) {
                r.error = path + " is larger than " + std::to_string(limit) + " bytes";
                break;
            }
        }
    } catch (const std::bad_alloc&) {
        r.error = "not enough memory to read " + path;
    }
    CloseHandle(h);
    if (!r.ok)
        r.bytes.clear();
    return r;
}

FileResult WriteFileReplacing(const std::string& path, std::string_view bytes) {
    FileResult r;
    std::wstring wide;
    if (!WidePath(path, wide, r.error))
        return r;
    // Whatever already has the name must be a file on a disk: a folder or a device (NUL,
    // COM1) is refused and left alone.
    const HANDLE probe = CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (probe != INVALID_HANDLE_VALUE) {
        BY_HANDLE_FILE_INFORMATION info{};
        const bool disk = GetFileType(probe) == FILE_TYPE_DISK;
        const bool folder = disk && GetFileInformationByHandle(probe, &info) &&
                            (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
        CloseHandle(probe);
        if (folder) {
            r.error = path + " is a folder, not a file";
            return r;
        }
        if (!disk) {
            r.error = path + " is not a regular file; it is left alone";
            return r;
        }
    }
    static std::atomic<unsigned> counter{0};
    std::wstring temporary;
    std::string temporaryText;
    HANDLE h = INVALID_HANDLE_VALUE;
    DWORD e = 0;
    for (int attempt = 0; attempt < 100 && h == INVALID_HANDLE_VALUE; ++attempt) {
        std::string suffix(1, '.');
        suffix += std::to_string(GetCurrentProcessId());
        suffix += '-';
        suffix += std::to_string(counter.fetch_add(1));
        suffix += ".part";
        temporaryText = path + suffix;
        temporary = wide + std::wstring(suffix.begin(), suffix.end());
        h = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
        e = GetLastError();
        if (h == INVALID_HANDLE_VALUE && e != ERROR_FILE_EXISTS && e != ERROR_ALREADY_EXISTS)
            break;
    }
    if (h == INVALID_HANDLE_VALUE) {
        r.error = Failed("cannot create", temporaryText, e);
        return r;
    }
    if (!WriteCloseOrDelete(h, bytes, temporary, temporaryText, r.error))
        return r;
    if (!MoveFileExW(temporary.c_str(), wide.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        r.error = Failed("cannot replace", path, GetLastError());
        DeleteFileW(temporary.c_str());
        return r;
    }
    r.ok = true;
    return r;
}

FileResult CreateNewFile(const std::string& path, std::string_view bytes) {
    FileResult r;
    std::wstring wide;
    if (!WidePath(path, wide, r.error))
        return r;
    const HANDLE h = CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD e = GetLastError();
        r.error = e == ERROR_FILE_EXISTS || e == ERROR_ALREADY_EXISTS
                      ? path + " already exists"
                      : Failed("cannot create", path, e);
        return r;
    }
    r.ok = WriteCloseOrDelete(h, bytes, wide, path, r.error);
    return r;
}

std::string Utf8Path(const std::filesystem::path& path) {
    const std::wstring& wide = path.native();
    return Utf8(wide.data(), int(wide.size()));
}

std::filesystem::path PathFromUtf8(const std::string& utf8) {
    std::wstring wide;
    Wide(utf8, wide);
    return std::filesystem::path(wide);
}

std::string EnvironmentUtf8(const char* name) {
    std::wstring wideName;
    if (!Wide(name, wideName))
        return {};
    const DWORD size = GetEnvironmentVariableW(wideName.c_str(), nullptr, 0);
    if (size == 0)
        return {};
    std::wstring value(size, L'\0');
    const DWORD length = GetEnvironmentVariableW(wideName.c_str(), value.data(), size);
    if (length == 0 || length >= size)
        return {};
    return Utf8(value.data(), int(length));
}

} // namespace vq31::fileio
