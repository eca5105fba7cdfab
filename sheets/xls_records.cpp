// Records of a .xls workbook read from its compound document: the sector allocation table,
// the directory, the workbook stream (in the mini stream when it is small), and in it the
// global cell formats and date system, the sheet list, and each worksheet's BOOLERR, FORMULA
// and STRING records. Every offset is checked against the data it points into.
#include "xls_records.h"

#include "cell_text.h"
#include "package_prepare.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>

namespace vq31::sheets {

namespace {

constexpr uint32_t EndOfChain = 0xFFFFFFFE;
constexpr uint32_t MaxSector = 0xFFFFFFFA;
constexpr std::size_t HeaderDifatEntries = 109;

uint16_t U16(std::string_view b, std::size_t at) {
    return at + 2 <= b.size() ? static_cast<uint16_t>(static_cast<uint8_t>(b[at]) |
                                                      static_cast<uint8_t>(b[at + 1]) << 8)
                              : 0;
}
uint32_t U32(std::string_view b, std::size_t at) {
    return at + 4 <= b.size() ? U16(b, at) | static_cast<uint32_t>(U16(b, at + 2)) << 16 : 0;
}

class CompoundFile {
public:
    explicit CompoundFile(std::string_view file) : file_(file) {}

    // The workbook stream; nothing when the document cannot be followed.
    std::optional<std::string> Workbook() {
        if (file_.size() < 512 || U16(file_, 0x1E) < 7 || U16(file_, 0x1E) > 16) {
            return std::nullopt;
        }
        shift_ = U16(file_, 0x1E);
        if (!ReadFat()) {
            return std::nullopt;
        }
        const auto directory = Chain(U32(file_, 0x30), fat_, SectorSize(), false);
        if (!directory) {
            return std::nullopt;
        }
        std::optional<std::string> miniStream;
        for (std::size_t at = 0; at + 128 <= directory->size(); at += 128) {
            const std::string_view entry = std::string_view(*directory).substr(at, 128);
            const std::string name = EntryName(entry);
            const uint8_t type = static_cast<uint8_t>(entry[0x42]);
            const uint32_t start = U32(entry, 0x74);
            const uint32_t size = U32(entry, 0x78);
            if (type == 5) {
                miniStream = Chain(start, fat_, SectorSize(), false);
                if (miniStream) {
                    miniStream->resize(std::min<std::size_t>(miniStream->size(), size));
                }
            } else if (type == 2 && (name == "Workbook" || name == "Book")) {
                std::optional<std::string> stream;
                if (size < U32(file_, 0x38)) {
                    if (!miniStream || !ReadMiniFat()) {
                        return std::nullopt;
                    }
                    miniStream_ = *miniStream;
                    stream = Chain(start, miniFat_, 64, true);
                } else {
                    stream = Chain(start, fat_, SectorSize(), false);
                }
                if (!stream || stream->size() < size) {
                    return std::nullopt;
                }
                stream->resize(size);
                return stream;
            }
        }
        return std::nullopt;
    }

private:
    std::size_t SectorSize() const { return std::size_t{1} << shift_; }

    std::optional<std::string_view> Sector(uint32_t n) const {
        const std::size_t at = (static_cast<std::size_t>(n) + 1) << shift_;
        if (n > MaxSector || at + SectorSize() > file_.size()) {
            return std::nullopt;
        }
        return file_.substr(at, SectorSize());
    }

    bool ReadFat() {
        std::vector<uint32_t> fatSectors;
        for (std::size_t i = 0; i < HeaderDifatEntries; ++i) {
            const uint32_t s = U32(file_, 0x4C + 4 * i);
            if (s <= MaxSector) {
                fatSectors.push_back(s);
            }
        }
        uint32_t difat = U32(file_, 0x44);
        for (std::size_t guard = 0; difat <= MaxSector && guard < file_.size() / SectorSize();
             ++guard) {
            const auto sector = Sector(difat);
            if (!sector) {
                return false;
            }
            const std::size_t entries = SectorSize() / 4 - 1;
            for (std::size_t i = 0; i < entries; ++i) {
                if (const uint32_t s = U32(*sector, 4 * i); s <= MaxSector) {
                    fatSectors.push_back(s);
                }
            }
            difat = U32(*sector, 4 * entries);
        }
        for (const uint32_t s : fatSectors) {
            const auto sector = Sector(s);
            if (!sector) {
                return false;
            }
            for (std::size_t i = 0; i + 4 <= sector->size(); i += 4) {
                fat_.push_back(U32(*sector, i));
            }
        }
        return !fat_.empty();
    }

    bool ReadMiniFat() {
        const auto chain = Chain(U32(file_, 0x3C), fat_, SectorSize(), false);
        if (!chain) {
            return false;
        }
        for (std::size_t i = 0; i + 4 <= chain->size(); i += 4) {
            miniFat_.push_back(U32(*chain, i));
        }
        return true;
    }

    // The sectors of a chain, joined; a chain that loops or leaves the file is refused.
    std::optional<std::string> Chain(uint32_t start, const std::vector<uint32_t>& table,
                                     std::size_t size, bool mini) const {
        std::string out;
        for (uint32_t s = start; s != EndOfChain;) {
            if (s >= table.size() || out.size() > file_.size()) {
                return std::nullopt;
            }
            if (mini) {
                const std::size_t at = static_cast<std::size_t>(s) * size;
                if (at + size > miniStream_.size()) {
                    return std::nullopt;
                }
                out.append(miniStream_, at, size);
            } else {
                const auto sector = Sector(s);
                if (!sector) {
                    return std::nullopt;
                }
                out.append(*sector);
            }
            s = table[s];
        }
        return out;
    }

    static std::string EntryName(std::string_view entry) {
        const std::size_t length = std::min<std::size_t>(U16(entry, 0x40), 64);
        std::string name;
        for (std::size_t i = 0; i + 2 <= length; i += 2) {
            const uint16_t c = U16(entry, i);
            if (c == 0) {
                break;
            }
            name += c < 0x80 ? static_cast<char>(c) : '?';
        }
        return name;
    }

    std::string_view file_;
    unsigned shift_ = 9;
    std::vector<uint32_t> fat_;
    std::vector<uint32_t> miniFat_;
    std::string miniStream_;
};

// A BIFF8 string of `count` characters at `at` (its option byte first) as UTF-8.
std::string BiffText(std::string_view data, std::size_t at, std::size_t count) {
    if (at >= data.size()) {
        return {};
    }
    const bool wide = (static_cast<uint8_t>(data[at]) & 1) != 0;
    std::string out;
    for (std::size_t i = 0, p = at + 1; i < count && p + (wide ? 2 : 1) <= data.size(); ++i) {
        const uint32_t c = wide ? U16(data, p) : static_cast<uint8_t>(data[p]);
        p += wide ? 2 : 1;
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | c >> 6);
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | c >> 12);
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::string ErrorText(uint8_t code) {
    switch (code) {
    case 0x00:
        return "#NULL!";
    case 0x07:
        return "#DIV/0!";
    case 0x0F:
        return "#VALUE!";
    case 0x17:
        return "#REF!";
    case 0x1D:
        return "#NAME?";
    case 0x24:
        return "#NUM!";
    default:
        return "#N/A";
    }
}

struct Record {
    uint16_t type;
    std::string_view data;
};

// The record at `at`, moving `at` past it; nothing at the end of the stream.
std::optional<Record> NextRecord(std::string_view stream, std::size_t& at) {
    if (at + 4 > stream.size()) {
        return std::nullopt;
    }
    const uint16_t type = U16(stream, at);
    const std::size_t length = U16(stream, at + 2);
    if (at + 4 + length > stream.size()) {
        return std::nullopt;
    }
    const Record r{type, stream.substr(at + 4, length)};
    at += 4 + length;
    return r;
}

struct Globals {
    bool date1904 = false;
    std::vector<uint16_t> cellFormats; // number format of each XF
    std::vector<std::pair<uint16_t, std::string>> formats;
    std::vector<std::pair<uint32_t, std::string>> sheets; // offset, name
};

Globals ReadGlobals(std::string_view stream) {
    Globals g;
    std::size_t at = 0;
    while (const auto r = NextRecord(stream, at)) {
        if (r->type == 0x000A) {
            break; // EOF of the globals
        } else if (r->type == 0x0022 && r->data.size() >= 2) {
            g.date1904 = U16(r->data, 0) == 1;
        } else if (r->type == 0x00E0 && r->data.size() >= 4) {
            g.cellFormats.push_back(U16(r->data, 2));
        } else if (r->type == 0x041E && r->data.size() >= 5) {
            g.formats.emplace_back(U16(r->data, 0), BiffText(r->data, 4, U16(r->data, 2)));
        } else if (r->type == 0x0085 && r->data.size() >= 8 && r->data[5] == 0) {
            g.sheets.emplace_back(U32(r->data, 0),
                                  BiffText(r->data, 7, static_cast<uint8_t>(r->data[6])));
        }
    }
    return g;
}

bool ShowsDate(const Globals& g, uint16_t xf) {
    if (xf >= g.cellFormats.size()) {
        return false;
    }
    const uint16_t id = g.cellFormats[xf];
    for (const auto& [formatId, code] : g.formats) {
        if (formatId == id) {
            return IsDateFormat(id, code);
        }
    }
    return IsDateFormat(id, {});
}

XlsRecordSheet ReadSheet(std::string_view stream, std::size_t at, const Globals& g) {
    XlsRecordSheet sheet;
    int depth = 0;
    std::optional<XlsRecordCell> pendingString;
    while (const auto r = NextRecord(stream, at)) {
        const std::string_view d = r->data;
        if (r->type == 0x0809) {
            ++depth;
        } else if (r->type == 0x000A && --depth <= 0) {
            break;
        }
        if (depth != 1 || d.size() < 6) {
            continue;
        }
        XlsRecordCell cell{U16(d, 0) + 1u, U16(d, 2) + 1u, {}};
        if (r->type == 0x0205 && d.size() >= 8) { // BOOLERR
            const auto value = static_cast<uint8_t>(d[6]);
            cell.cell = Cell::Str(d[7] != 0 ? ErrorText(value)
                                            : std::string(value != 0 ? TrueText : FalseText));
            sheet.cells.push_back(std::move(cell));
        } else if (r->type == 0x0006 && d.size() >= 14) { // FORMULA with its stored result
            if (U16(d, 12) == 0xFFFF) {
                const auto kind = static_cast<uint8_t>(d[6]);
                if (kind == 0) {
                    pendingString = cell; // the text follows in a STRING record
                    continue;
                }
                if (kind == 1) {
                    cell.cell = Cell::Str(std::string(d[8] != 0 ? TrueText : FalseText));
                } else if (kind == 2) {
                    cell.cell = Cell::Str(ErrorText(static_cast<uint8_t>(d[8])));
                }
            } else {
                double v = 0;
                std::memcpy(&v, d.data() + 6, sizeof v);
                cell.cell = ShowsDate(g, U16(d, 4)) ? Cell::Str(SerialDateText(v, g.date1904))
                                                    : Cell::Num(v);
            }
            sheet.cells.push_back(std::move(cell));
        } else if (r->type == 0x0207 && pendingString && d.size() >= 3) { // STRING
            pendingString->cell = Cell::Str(BiffText(d, 2, U16(d, 0)));
            sheet.cells.push_back(std::move(*pendingString));
            pendingString.reset();
        }
    }
    return sheet;
}

} // namespace

std::vector<XlsRecordSheet> XlsRecordCells(std::string_view file) {
    const auto stream = CompoundFile(file).Workbook();
    // BIFF8 only: a BOF record of version 0x0600 first.
    if (!stream || U16(*stream, 0) != 0x0809 || U16(*stream, 4) != 0x0600) {
        return {};
    }
    const Globals g = ReadGlobals(*stream);
    std::vector<XlsRecordSheet> sheets;
    for (const auto& [offset, name] : g.sheets) {
        if (offset < stream->size()) {
            XlsRecordSheet sheet = ReadSheet(*stream, offset, g);
            sheet.name = name;
            sheets.push_back(std::move(sheet));
        }
    }
    return sheets;
}

} // namespace vq31::sheets
