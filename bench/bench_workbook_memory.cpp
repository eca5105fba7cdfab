// Memory of the workbook reader: small packages that unpack to many megabytes (numbers in
// cells, one long shared string, empty rows), each read by the tank-list import's reader in
// a process of its own. Prints, per package, its size, what it unpacks to, whether it was
// read or refused, and the peak resident memory of the reader (the child process that parses
// packages) and of the reading process, with the peak over the unpacked size as the ratio.
//   bench_workbook_memory [MEGABYTES ...]   unpacked sizes to try (default 16 64 200)
#include "workbook.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

// A ZIP package written by hand: every entry deflated, with local and central headers.
class ZipWriter {
public:
    void Add(const std::string& name, const std::string& data) {
        std::string packed(compressBound(uLong(data.size())) + 64, '\0');
        z_stream z{};
        deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
        z.avail_in = uInt(data.size());
        z.next_out = reinterpret_cast<Bytef*>(packed.data());
        z.avail_out = uInt(packed.size());
        deflate(&z, Z_FINISH);
        packed.resize(z.total_out);
        deflateEnd(&z);
        const uint32_t crc =
            uint32_t(crc32(0, reinterpret_cast<const Bytef*>(data.data()), uInt(data.size())));
        Entry e{name, crc, uint32_t(packed.size()), uint32_t(data.size()), uint32_t(out_.size())};
        Put32(out_, 0x04034b50);
        Header(out_, e, false);
        out_ += name;
        out_ += packed;
        entries_.push_back(e);
    }
    std::string Finish() {
        const uint32_t central = uint32_t(out_.size());
        for (const Entry& e : entries_) {
            Put32(out_, 0x02014b50);
            Put16(out_, 20); // made by
            Header(out_, e, true);
            out_ += e.name;
        }
        const uint32_t centralSize = uint32_t(out_.size()) - central;
        Put32(out_, 0x06054b50);
        Put16(out_, 0);
        Put16(out_, 0);
        Put16(out_, uint16_t(entries_.size()));
        Put16(out_, uint16_t(entries_.size()));
        Put32(out_, centralSize);
        Put32(out_, central);
        Put16(out_, 0);
        return out_;
    }

private:
    struct Entry {
        std::string name;
        uint32_t crc, packed, size, offset;
    };
    static void Put16(std::string& s, uint16_t v) {
        s += char(v & 0xFF);
        s += char(v >> 8);
    }
    static void Put32(std::string& s, uint32_t v) {
        Put16(s, uint16_t(v & 0xFFFF));
        Put16(s, uint16_t(v >> 16));
    }
    static void Header(std::string& s, const Entry& e, bool central) {
        Put16(s, 20); // version needed
        Put16(s, 0);  // flags
        Put16(s, 8);  // deflated
        Put32(s, 0);  // time and date
        Put32(s, e.crc);
        Put32(s, e.packed);
        Put32(s, e.size);
        Put16(s, uint16_t(e.name.size()));
        Put16(s, 0); // extra
        if (central) {
            Put16(s, 0); // comment
            Put16(s, 0); // disk
            Put16(s, 0); // internal attributes
            Put32(s, 0); // external attributes
            Put32(s, e.offset);
        }
    }
    std::string out_;
    std::vector<Entry> entries_;
};

const char* const ContentTypes =
    R"(<?xml version="1.0" encoding="UTF-8"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"><Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/><Default Extension="xml" ContentType="application/xml"/><Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/><Override PartName="/xl/worksheets/sheet1.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/><Override PartName="/xl/sharedStrings.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml"/></Types>)";
const char* const PackageRels =
    R"(<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="xl/workbook.xml"/></Relationships>)";
const char* const WorkbookXml =
    R"(<?xml version="1.0" encoding="UTF-8"?><workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"><sheets><sheet name="1" sheetId="1" r:id="rId1"/></sheets></workbook>)";
const char* const WorkbookRels =
    R"(<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet1.xml"/><Relationship Id="rId2" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings" Target="sharedStrings.xml"/></Relationships>)";
const std::string SheetHead =
    R"(<?xml version="1.0" encoding="UTF-8"?><worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><sheetData>)";
const std::string SheetTail = "</sheetData></worksheet>";
const std::string StringsHead =
    R"(<?xml version="1.0" encoding="UTF-8"?><sst xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" count="1" uniqueCount="1"><si><t>)";
const std::string StringsTail = "</t></si></sst>";

enum class Kind { Cells, LongString, EmptyRows };
const char* KindName(Kind k) {
    return k == Kind::Cells ? "numbers" : k == Kind::LongString ? "long string" : "empty rows";
}

// A package whose sheet and shared strings unpack to about bytes in all.
std::string Package(Kind kind, std::size_t bytes, std::size_t& unpacked) {
    std::string sheet = SheetHead;
    std::string strings = StringsHead + "x" + StringsTail;
    if (kind == Kind::Cells) {
        char row[160];
        for (long r = 1; sheet.size() < bytes; ++r) {
            std::snprintf(
                row, sizeof row,
                R"(<row r="%ld"><c r="A%ld"><v>%ld</v></c><c r="B%ld"><v>%ld</v></c></row>)", r, r,
                r % 6000, r, r * 3 % 60000);
            sheet += row;
        }
    } else if (kind == Kind::LongString) {
        sheet += R"(<row r="1"><c r="A1" t="s"><v>0</v></c></row>)";
        strings = StringsHead + std::string(bytes, '7') + StringsTail;
    } else {
        char row[40];
        for (long r = 1; sheet.size() < bytes; ++r) {
            std::snprintf(row, sizeof row, R"(<row r="%ld"/>)", r);
            sheet += row;
        }
    }
    sheet += SheetTail;
    unpacked = sheet.size() + strings.size();
    ZipWriter zip;
    zip.Add("[Content_Types].xml", ContentTypes);
    zip.Add("_rels/.rels", PackageRels);
    zip.Add("xl/workbook.xml", WorkbookXml);
    zip.Add("xl/_rels/workbook.xml.rels", WorkbookRels);
    zip.Add("xl/worksheets/sheet1.xml", sheet);
    zip.Add("xl/sharedStrings.xml", strings);
    return zip.Finish();
}

long PeakKb(int who) {
    rusage use{};
    getrusage(who, &use);
    return use.ru_maxrss;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<long> sizes;
    for (int i = 1; i < argc; ++i)
        sizes.push_back(std::atol(argv[i]));
    if (sizes.empty())
        sizes = {16, 64, 200};
    const auto file =
        std::filesystem::temp_directory_path() / ("vq31-bench-memory-" + std::to_string(getpid()));
    std::printf("%-12s %9s %10s  %-44s %11s %11s %7s\n", "package", "file KB", "unpacked MB",
                "result", "reader MB", "process MB", "ratio");
    for (const long mb : sizes) {
        for (const Kind kind : {Kind::Cells, Kind::LongString, Kind::EmptyRows}) {
            std::size_t unpacked = 0;
            {
                const std::string bytes = Package(kind, std::size_t(mb) << 20, unpacked);
                std::ofstream(file, std::ios::binary).write(bytes.data(), long(bytes.size()));
            }
            const auto fileBytes = std::filesystem::file_size(file);
            int pipeFds[2];
            if (pipe(pipeFds) != 0)
                return 1;
            // Each read in a fresh process, so one package's peak does not hide the next.
            const pid_t pid = fork();
            if (pid == 0) {
                close(pipeFds[0]);
                vq31::sheets::Workbook book;
                const vq31::sheets::FileResult r = vq31::sheets::ReadWorkbook(file, book);
                char line[256];
                std::snprintf(line, sizeof line, "%s|%ld|%ld",
                              r.ok ? "read" : ("refused: " + r.error).c_str(),
                              PeakKb(RUSAGE_CHILDREN), PeakKb(RUSAGE_SELF));
                (void)!write(pipeFds[1], line, std::strlen(line));
                _exit(0);
            }
            close(pipeFds[1]);
            char line[256] = {};
            (void)!read(pipeFds[0], line, sizeof line - 1);
            close(pipeFds[0]);
            waitpid(pid, nullptr, 0);
            std::string text(line);
            const auto a = text.find('|'), b = text.rfind('|');
            const double reader = std::atol(text.substr(a + 1, b - a - 1).c_str()) / 1024.0;
            const double self = std::atol(text.substr(b + 1).c_str()) / 1024.0;
            const double unpackedMb = double(unpacked) / (1 << 20);
            std::printf("%-12s %9.0f %10.1f  %-44.44s %11.1f %11.1f %7.2f\n", KindName(kind),
                        double(fileBytes) / 1024, unpackedMb, text.substr(0, a).c_str(), reader,
                        self, std::max(reader, self) / unpackedMb);
            std::fflush(stdout);
        }
    }
    std::filesystem::remove(file);
    return 0;
}
