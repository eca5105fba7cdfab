// ZIP packages through libzip: the parts are read one by one with their sizes checked, and a
// repaired package is written back as an archive in memory.
#include "package_parts.h"

#include <zip.h>

#include <memory>

namespace vq31::sheets {

namespace {

// Largest number of parts a package may have.
constexpr zip_int64_t MaxParts = 10000;

struct ArchiveCloser {
    void operator()(zip_t* archive) const { zip_discard(archive); }
};
struct FileCloser {
    void operator()(zip_file_t* file) const { zip_fclose(file); }
};
struct SourceFree {
    void operator()(zip_source_t* source) const { zip_source_free(source); }
};

FileResult Damaged() {
    return {false, std::string(DamagedPackageText)};
}

} // namespace

std::string UnpacksTooLargeText(std::size_t maxUnpackedBytes) {
    return "the workbook unpacks to more than " + std::to_string(maxUnpackedBytes >> 20) + " MB";
}

FileResult ReadPackageParts(std::string_view package, std::size_t maxUnpackedBytes,
                            std::vector<PackagePart>& parts) {
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(package.data(), package.size(), 0, &error);
    if (source == nullptr) {
        zip_error_fini(&error);
        return Damaged();
    }
    std::unique_ptr<zip_t, ArchiveCloser> archive(zip_open_from_source(source, ZIP_RDONLY, &error));
    zip_error_fini(&error);
    if (!archive) {
        zip_source_free(source); // not taken over by a failed open
        return Damaged();
    }
    const zip_int64_t count = zip_get_num_entries(archive.get(), 0);
    if (count < 0 || count > MaxParts) {
        return Damaged();
    }
    // The sizes the directory declares are checked before anything is unpacked.
    std::size_t declared = 0;
    std::vector<zip_stat_t> stats(static_cast<std::size_t>(count));
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_stat_t& st = stats[static_cast<std::size_t>(i)];
        zip_stat_init(&st);
        if (zip_stat_index(archive.get(), static_cast<zip_uint64_t>(i), 0, &st) != 0 ||
            (st.valid & ZIP_STAT_NAME) == 0 || (st.valid & ZIP_STAT_SIZE) == 0) {
            return Damaged();
        }
        if (st.size > maxUnpackedBytes || declared + st.size > maxUnpackedBytes) {
            return {false, UnpacksTooLargeText(maxUnpackedBytes)};
        }
        declared += static_cast<std::size_t>(st.size);
    }
    std::vector<PackagePart> read;
    read.reserve(stats.size());
    for (zip_int64_t i = 0; i < count; ++i) {
        const zip_stat_t& st = stats[static_cast<std::size_t>(i)];
        const std::string name = st.name;
        if (!name.empty() && name.back() == '/') {
            continue; // a folder entry
        }
        std::unique_ptr<zip_file_t, FileCloser> file(
            zip_fopen_index(archive.get(), static_cast<zip_uint64_t>(i), 0));
        if (!file) {
            return Damaged();
        }
        PackagePart& part = read.emplace_back();
        part.name = name;
        // One byte more than declared is asked for: a part that holds more than its directory
        // record says is damaged.
        part.data.resize(static_cast<std::size_t>(st.size) + 1);
        zip_int64_t got = 0;
        while (static_cast<std::size_t>(got) < part.data.size()) {
            const zip_int64_t n = zip_fread(file.get(), part.data.data() + got,
                                            part.data.size() - static_cast<std::size_t>(got));
            if (n < 0) {
                return Damaged();
            }
            if (n == 0) {
                break;
            }
            got += n;
        }
        if (static_cast<zip_uint64_t>(got) != st.size) {
            return Damaged();
        }
        part.data.resize(static_cast<std::size_t>(got));
    }
    parts = std::move(read);
    return {true, {}};
}

std::optional<std::string> WritePackage(const std::vector<PackagePart>& parts) {
    zip_error_t error;
    zip_error_init(&error);
    std::unique_ptr<zip_source_t, SourceFree> buffer(
        zip_source_buffer_create(nullptr, 0, 0, &error));
    zip_error_fini(&error);
    if (!buffer) {
        return std::nullopt;
    }
    // The archive takes the buffer over; kept here so that it can be read after closing.
    zip_source_keep(buffer.get());
    zip_error_init(&error);
    std::unique_ptr<zip_t, ArchiveCloser> archive(
        zip_open_from_source(buffer.get(), ZIP_TRUNCATE, &error));
    zip_error_fini(&error);
    if (!archive) {
        zip_source_free(buffer.get()); // the reference the failed open did not take
        return std::nullopt;
    }
    for (const PackagePart& part : parts) {
        zip_source_t* data =
            zip_source_buffer(archive.get(), part.data.data(), part.data.size(), 0);
        if (data == nullptr) {
            return std::nullopt;
        }
        const zip_int64_t index =
            zip_file_add(archive.get(), part.name.c_str(), data, ZIP_FL_ENC_UTF_8);
        if (index < 0) {
            zip_source_free(data);
            return std::nullopt;
        }
        // Deflated at the fastest level: the package is held while the parser reads it, and
        // stored parts would double what the reader holds.
        if (zip_set_file_compression(archive.get(), static_cast<zip_uint64_t>(index),
                                     ZIP_CM_DEFLATE, 1) != 0) {
            return std::nullopt;
        }
    }
    if (zip_close(archive.get()) != 0) {
        return std::nullopt;
    }
    (void)archive.release(); // closed: zip_close freed it
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_source_stat(buffer.get(), &st) != 0 || (st.valid & ZIP_STAT_SIZE) == 0 ||
        zip_source_open(buffer.get()) != 0) {
        return std::nullopt;
    }
    std::string out(static_cast<std::size_t>(st.size), '\0');
    const zip_int64_t n = zip_source_read(buffer.get(), out.data(), out.size());
    zip_source_close(buffer.get());
    if (n < 0 || static_cast<zip_uint64_t>(n) != st.size) {
        return std::nullopt;
    }
    return out;
}

PackagePart* FindPart(std::vector<PackagePart>& parts, std::string_view name) {
    for (PackagePart& part : parts) {
        if (part.name == name) {
            return &part;
        }
    }
    return nullptr;
}

} // namespace vq31::sheets
