// POSIX files by path: open, read and write on descriptors with every result checked, the
// data flushed to disk before a rename makes it the file, exclusive creation with O_EXCL.
#include "file_io.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace vq31::fileio {

namespace {

std::string Failed(const std::string& what, const std::string& path, int error) {
    return what + " " + path + ": " + std::strerror(error);
}

// Writes all of bytes and flushes them to disk; the error names path.
bool WriteAll(int fd, std::string_view bytes, const std::string& path, std::string& error) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = Failed("cannot write", path, n < 0 ? errno : EIO);
            return false;
        }
        done += size_t(n);
    }
    if (::fsync(fd) != 0 && errno != EINVAL) { // EINVAL: a file system without a disk
        error = Failed("cannot flush", path, errno);
        return false;
    }
    return true;
}

// Closes fd; false (with the error) when the close reports a failed write.
bool CloseChecked(int fd, const std::string& path, std::string& error) {
    if (::close(fd) != 0 && errno != EINTR) {
        error = Failed("cannot close", path, errno);
        return false;
    }
    return true;
}

} // namespace

ReadResult ReadFileLimited(const std::string& path, size_t limit) {
    ReadResult r;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        r.error = Failed("cannot open", path, errno);
        return r;
    }
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        r.error = path + " is a folder, not a file";
        return r;
    }
    // One byte past the limit tells a file of exactly limit bytes from a larger one.
    const size_t cap = limit == SIZE_MAX ? limit : limit + 1;
    try {
        char chunk[65536];
        for (;;) {
            const size_t want = std::min(sizeof chunk, cap - r.bytes.size());
            const ssize_t n = ::read(fd, chunk, want);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                r.error = Failed("cannot read", path, errno);
                break;
            }
            if (n == 0) {
                r.ok = true;
                break;
            }
            r.bytes.append(chunk, size_t(n));
            if (r.bytes.size() > limit) {
                r.error = path + " is larger than " + std::to_string(limit) + " bytes";
                break;
            }
        }
    } catch (const std::bad_alloc&) {
        r.error = "not enough memory to read " + path;
    }
    ::close(fd);
    if (!r.ok)
        r.bytes.clear();
    return r;
}

FileResult WriteFileReplacing(const std::string& path, std::string_view bytes) {
    FileResult r;
    struct stat st {};
    const bool existed = ::stat(path.c_str(), &st) == 0;
    if (existed && !S_ISREG(st.st_mode)) {
        r.error = S_ISDIR(st.st_mode) ? path + " is a folder, not a file"
                                      : path + " is not a regular file; it is left alone";
        return r;
    }
    // A name of this process's own beside the target, so the rename stays on one file
    // system and two writers never share a temporary file.
    static std::atomic<unsigned> counter{0};
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temporary = path + "." + std::to_string(::getpid()) + "-" +
                    std::to_string(counter.fetch_add(1)) + ".part";
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        r.error = Failed("cannot create", temporary, errno);
        return r;
    }
    // A replaced file keeps its permissions.
    if (existed)
        ::fchmod(fd, st.st_mode & 07777);
    const bool written = WriteAll(fd, bytes, temporary, r.error);
    std::string closeError;
    const bool closed = CloseChecked(fd, temporary, closeError);
    if (!written || !closed) {
        if (written)
            r.error = closeError;
        ::unlink(temporary.c_str());
        return r;
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        r.error = Failed("cannot replace", path, errno);
        ::unlink(temporary.c_str());
        return r;
    }
    r.ok = true;
    return r;
}

FileResult CreateNewFile(const std::string& path, std::string_view bytes) {
    FileResult r;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        r.error = errno == EEXIST ? path + " already exists" : Failed("cannot create", path, errno);
        return r;
    }
    const bool written = WriteAll(fd, bytes, path, r.error);
    std::string closeError;
    const bool closed = CloseChecked(fd, path, closeError);
    if (!written || !closed) {
        if (written)
            r.error = closeError;
        ::unlink(path.c_str()); // this call created it: a half-written file is not kept
        return r;
    }
    r.ok = true;
    return r;
}

std::string Utf8Path(const std::filesystem::path& path) {
    return path.string();
}

std::filesystem::path PathFromUtf8(const std::string& utf8) {
    return std::filesystem::path(utf8);
}

std::string EnvironmentUtf8(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

} // namespace vq31::fileio
