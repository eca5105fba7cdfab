// Rewriting an Open XML package whose workbook relationships use absolute part names.
#include "xlsx_repair.h"

#include <orcus/zip_archive.hpp>
#include <orcus/zip_archive_stream.hpp>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <exception>
#include <optional>
#include <utility>
#include <vector>

namespace vq31::sheets {

namespace {

constexpr std::string_view WorkbookRels = "xl/_rels/workbook.xml.rels";
constexpr std::string_view AbsoluteTarget = "Target=\"/xl/";
constexpr std::string_view RelativeTarget = "Target=\"";
// Largest number of entries a package may have to be rewritten.
constexpr std::size_t MaxEntries = 10000;

constexpr uint32_t LocalHeaderSignature = 0x04034b50;
constexpr uint32_t CentralHeaderSignature = 0x02014b50;
constexpr uint32_t EndSignature = 0x06054b50;
constexpr uint16_t VersionStored = 20;

void Put16(std::string& out, uint16_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>(v >> 8);
}

void Put32(std::string& out, uint32_t v) {
    Put16(out, static_cast<uint16_t>(v & 0xFFFF));
    Put16(out, static_cast<uint16_t>(v >> 16));
}

struct Entry {
    std::string name;
    std::string data;
    bool rewritten = false;
};

Entry* FindEntry(std::vector<Entry>& entries, std::string_view name) {
    for (Entry& e : entries) {
        if (e.name == name) {
            return &e;
        }
    }
    return nullptr;
}

// A ZIP archive of stored (uncompressed) entries.
std::optional<std::string> StoredZip(const std::vector<Entry>& entries) {
    std::string out;
    std::string central;
    for (const Entry& e : entries) {
        if (out.size() > 0xFFFF0000u || e.data.size() > 0xFFFF0000u || e.name.size() > 0xFFFF) {
            return std::nullopt;
        }
        const auto crc = static_cast<uint32_t>(crc32(
            0, reinterpret_cast<const Bytef*>(e.data.data()), static_cast<uInt>(e.data.size())));
        const auto offset = static_cast<uint32_t>(out.size());
        const auto size = static_cast<uint32_t>(e.data.size());
        const auto nameLength = static_cast<uint16_t>(e.name.size());
        Put32(out, LocalHeaderSignature);
        Put16(out, VersionStored);
        Put16(out, 0); // flags
        Put16(out, 0); // stored
        Put32(out, 0); // time and date
        Put32(out, crc);
        Put32(out, size);
        Put32(out, size);
        Put16(out, nameLength);
        Put16(out, 0);
        out += e.name;
        out += e.data;

        Put32(central, CentralHeaderSignature);
        Put16(central, VersionStored);
        Put16(central, VersionStored);
        Put16(central, 0);
        Put16(central, 0);
        Put32(central, 0);
        Put32(central, crc);
        Put32(central, size);
        Put32(central, size);
        Put16(central, nameLength);
        Put16(central, 0); // extra
        Put16(central, 0); // comment
        Put16(central, 0); // disk
        Put16(central, 0); // internal attributes
        Put32(central, 0); // external attributes
        Put32(central, offset);
        central += e.name;
    }
    const auto centralOffset = static_cast<uint32_t>(out.size());
    out += central;
    Put32(out, EndSignature);
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, static_cast<uint16_t>(entries.size()));
    Put16(out, static_cast<uint16_t>(entries.size()));
    Put32(out, static_cast<uint32_t>(central.size()));
    Put32(out, centralOffset);
    Put16(out, 0);
    return out;
}

uint16_t Get16(std::string_view b, std::size_t at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) |
                                 (static_cast<uint8_t>(b[at + 1]) << 8));
}

uint32_t Get32(std::string_view b, std::size_t at) {
    return Get16(b, at) | (static_cast<uint32_t>(Get16(b, at + 2)) << 16);
}

// One element tag of an XML text; [begin, end) covers it from "<" to ">".
struct Tag {
    std::size_t begin = 0;
    std::size_t end = 0;
    std::string_view prefix; // namespace prefix, without the colon
    std::string_view local;
    std::size_t attributes = 0; // where the attributes start
    bool closing = false;
    bool empty = false; // "<name ... />"
};

bool IsXmlSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The next element tag at or after `from`, skipping comments, CDATA, declarations and
// processing instructions; nothing when no further tag is complete.
std::optional<Tag> NextTag(std::string_view xml, std::size_t from) {
    for (std::size_t at = xml.find('<', from); at != std::string_view::npos;
         at = xml.find('<', at + 1)) {
        const std::string_view rest = xml.substr(at);
        std::string_view skipTo;
        if (rest.starts_with("<!--")) {
            skipTo = "-->";
        } else if (rest.starts_with("<![CDATA[")) {
            skipTo = "]]>";
        } else if (rest.starts_with("<!") || rest.starts_with("<?")) {
            skipTo = ">";
        }
        if (!skipTo.empty()) {
            at = xml.find(skipTo, at + 1);
            if (at == std::string_view::npos) {
                return std::nullopt;
            }
            continue;
        }
        Tag tag;
        tag.begin = at;
        std::size_t i = at + 1;
        if (i < xml.size() && xml[i] == '/') {
            tag.closing = true;
            ++i;
        }
        const std::size_t nameStart = i;
        while (i < xml.size() && !IsXmlSpace(xml[i]) && xml[i] != '>' && xml[i] != '/') {
            ++i;
        }
        const std::string_view name = xml.substr(nameStart, i - nameStart);
        tag.attributes = i;
        char quote = 0;
        for (; i < xml.size(); ++i) {
            if (quote != 0) {
                quote = xml[i] == quote ? 0 : quote;
            } else if (xml[i] == '"' || xml[i] == '\'') {
                quote = xml[i];
            } else if (xml[i] == '>') {
                break;
            }
        }
        if (i >= xml.size()) {
            return std::nullopt;
        }
        tag.end = i + 1;
        tag.empty = xml[i - 1] == '/';
        const std::size_t colon = name.find(':');
        tag.prefix = colon == std::string_view::npos ? std::string_view() : name.substr(0, colon);
        tag.local = colon == std::string_view::npos ? name : name.substr(colon + 1);
        return tag;
    }
    return std::nullopt;
}

// Offset and length of an attribute's value inside a start tag.
std::optional<std::pair<std::size_t, std::size_t>>
AttributeValue(std::string_view xml, const Tag& tag, std::string_view name) {
    std::size_t i = tag.attributes;
    while (i < tag.end) {
        while (i < tag.end && (IsXmlSpace(xml[i]) || xml[i] == '/')) {
            ++i;
        }
        const std::size_t nameStart = i;
        while (i < tag.end && xml[i] != '=' && !IsXmlSpace(xml[i]) && xml[i] != '>') {
            ++i;
        }
        const std::string_view attribute = xml.substr(nameStart, i - nameStart);
        while (i < tag.end && (IsXmlSpace(xml[i]) || xml[i] == '=')) {
            ++i;
        }
        if (i >= tag.end || (xml[i] != '"' && xml[i] != '\'')) {
            return std::nullopt;
        }
        const std::size_t close = xml.find(xml[i], i + 1);
        if (close == std::string_view::npos || close >= tag.end) {
            return std::nullopt;
        }
        if (attribute == name) {
            return std::make_pair(i + 1, close - i - 1);
        }
        i = close + 1;
    }
    return std::nullopt;
}

std::string Qualified(std::string_view prefix, std::string_view local) {
    return prefix.empty() ? std::string(local) : std::string(prefix) + ":" + std::string(local);
}

// The first tag after `from` with the given local name and kind, before the closing tag of
// `stop` (a local name); nothing when `stop` closes first.
std::optional<Tag> FindTag(std::string_view xml, std::size_t from, std::string_view local,
                           bool closing, std::string_view stop) {
    for (auto tag = NextTag(xml, from); tag; tag = NextTag(xml, tag->end)) {
        if (tag->local == local && tag->closing == closing) {
            return tag;
        }
        if (tag->closing && tag->local == stop) {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

constexpr std::string_view SharedStringsType = "/sharedStrings";
constexpr std::string_view NewSharedStringsPart = "xl/sharedStrings.xml";
constexpr std::string_view SpreadsheetNamespace =
    "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
constexpr std::string_view SharedStringsRelationship =
    "<Relationship Id=\"rIdVq31Strings\" "
    "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings\" "
    "Target=\"sharedStrings.xml\"/>";
constexpr std::string_view SharedStringsOverride =
    "<Override PartName=\"/xl/sharedStrings.xml\" ContentType=\"application/"
    "vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml\"/>";

// Part name of the shared string table that the workbook's relationships name, or empty.
std::string SharedStringsPart(std::string_view rels) {
    for (auto tag = NextTag(rels, 0); tag; tag = NextTag(rels, tag->end)) {
        const auto type = AttributeValue(rels, *tag, "Type");
        const auto target = AttributeValue(rels, *tag, "Target");
        if (tag->closing || tag->local != "Relationship" || !type || !target ||
            !rels.substr(type->first, type->second).ends_with(SharedStringsType)) {
            continue;
        }
        const std::string_view name = rels.substr(target->first, target->second);
        return name.starts_with('/') ? std::string(name.substr(1)) : "xl/" + std::string(name);
    }
    return {};
}

// True when an element's content has character data other than blanks outside its tags.
bool HasText(std::string_view content) {
    bool inTag = false;
    for (const char c : content) {
        if (c == '<' || c == '>') {
            inTag = c == '<';
        } else if (!inTag && !IsXmlSpace(c)) {
            return true;
        }
    }
    return false;
}

// Rewrites the inline-string cells of one worksheet as shared-string cells numbered from
// `next`, appending the strings (as <si> items) to `items`.
void InlineToShared(Entry& sheet, std::size_t& next, std::string& items) {
    const std::string_view xml = sheet.data;
    std::string out;
    std::size_t copied = 0;
    for (auto cell = NextTag(xml, 0); cell; cell = NextTag(xml, cell->end)) {
        if (cell->closing || cell->empty || cell->local != "c") {
            continue;
        }
        const auto type = AttributeValue(xml, *cell, "t");
        if (!type || xml.substr(type->first, type->second) != "inlineStr") {
            continue;
        }
        const auto open = FindTag(xml, cell->end, "is", false, "c");
        if (!open) {
            continue;
        }
        std::string_view inner;
        std::size_t after = open->end;
        if (!open->empty) {
            const auto close = FindTag(xml, open->end, "is", true, "c");
            if (!close) {
                continue;
            }
            inner = xml.substr(open->end, close->begin - open->end);
            after = close->end;
        }
        out.append(xml, copied, type->first - copied);
        const std::size_t typeEnd = type->first + type->second;
        copied = after;
        cell->end = after;
        if (!HasText(inner)) {
            // An empty text is an empty cell; the importer mishandles an empty table item.
            out += "n";
            out.append(xml, typeEnd, open->begin - typeEnd);
            continue;
        }
        const std::string value = Qualified(open->prefix, "v");
        out += "s";
        out.append(xml, typeEnd, open->begin - typeEnd);
        out += "<" + value + ">" + std::to_string(next++) + "</" + value + ">";
        items += "<si";
        if (!open->prefix.empty()) {
            items += " xmlns:" + std::string(open->prefix) + "=\"" +
                     std::string(SpreadsheetNamespace) + "\"";
        }
        items += ">";
        items += inner;
        items += "</si>";
    }
    if (copied != 0) {
        out.append(xml, copied);
        sheet.data = std::move(out);
        sheet.rewritten = true;
    }
}

// The importer reads no inline-string cells (texts stored in the cell itself, as some writers
// do), so those cells are moved into the shared string table, which it does read. False
// when the package's string table cannot be extended.
bool MoveInlineStrings(std::vector<Entry>& entries) {
    Entry* rels = FindEntry(entries, WorkbookRels);
    const std::string partName = SharedStringsPart(rels->data);
    Entry* strings = partName.empty() ? nullptr : FindEntry(entries, partName);
    std::size_t next = 0;
    std::string_view prefix;
    if (strings != nullptr) {
        for (auto tag = NextTag(strings->data, 0); tag; tag = NextTag(strings->data, tag->end)) {
            if (tag->local == "sst" && !tag->closing) {
                prefix = tag->prefix;
            }
            next += !tag->closing && tag->local == "si" ? 1 : 0;
        }
    }
    std::string items;
    for (Entry& e : entries) {
        if (e.name.starts_with("xl/worksheets/") && e.name.ends_with(".xml") &&
            e.data.find("inlineStr") != std::string::npos) {
            InlineToShared(e, next, items);
        }
    }
    if (items.empty()) {
        return true;
    }
    if (strings == nullptr) {
        if (FindEntry(entries, NewSharedStringsPart) != nullptr) {
            return false;
        }
        const std::size_t end = rels->data.rfind("</Relationships>");
        if (end == std::string::npos) {
            return false;
        }
        rels->data.insert(end, SharedStringsRelationship);
        if (Entry* types = FindEntry(entries, "[Content_Types].xml")) {
            if (const std::size_t typesEnd = types->data.rfind("</Types>");
                typesEnd != std::string::npos) {
                types->data.insert(typesEnd, SharedStringsOverride);
                types->rewritten = true;
            }
        }
        entries.push_back({std::string(NewSharedStringsPart),
                           "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<sst "
                           "xmlns=\"" +
                               std::string(SpreadsheetNamespace) + "\">" + items + "</sst>",
                           true});
        return true;
    }
    std::string& data = strings->data;
    if (!prefix.empty()) {
        // Items under a prefixed table name the table's namespace as their default one.
        const std::string declared = "<si xmlns=\"" + std::string(SpreadsheetNamespace) + "\"";
        for (std::size_t at = items.find("<si"); at != std::string::npos;
             at = items.find("<si", at + declared.size())) {
            items.replace(at, 3, declared);
        }
    }
    const std::string closing = "</" + Qualified(prefix, "sst") + ">";
    const std::size_t end = data.rfind(closing);
    if (end != std::string::npos) {
        data.insert(end, items);
    } else {
        // An empty table written as "<sst ... />".
        const std::size_t selfClose = data.rfind("/>");
        if (selfClose == std::string::npos) {
            return false;
        }
        data.replace(selfClose, 2, ">" + items + closing);
    }
    strings->rewritten = true;
    return true;
}

constexpr std::size_t EndRecordSize = 22;
constexpr std::size_t MaxCommentSize = 0xFFFF;
constexpr std::size_t CentralHeaderSize = 46;
constexpr std::size_t LocalHeaderSize = 30;

} // namespace

bool ZipEntriesWithin(std::string_view package, std::size_t maxEntryBytes,
                      std::size_t maxTotalBytes) {
    if (package.size() < EndRecordSize) {
        return false;
    }
    // The end record sits in the last 22 bytes plus at most a 64 KiB comment.
    std::size_t end = package.size() - EndRecordSize;
    const std::size_t lowest =
        package.size() > EndRecordSize + MaxCommentSize ? end - MaxCommentSize : 0;
    while (Get32(package, end) != EndSignature) {
        if (end == lowest) {
            return false;
        }
        --end;
    }
    // Records on this disk and in total: a single-disk package has the same number twice.
    const std::size_t count = Get16(package, end + 10);
    if (Get16(package, end + 8) != count) {
        return false;
    }
    std::size_t at = Get32(package, end + 16);
    std::size_t total = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (at + CentralHeaderSize > package.size() ||
            Get32(package, at) != CentralHeaderSignature) {
            return false;
        }
        const std::size_t packed = Get32(package, at + 20);
        const std::size_t size = Get32(package, at + 24);
        const std::size_t local = Get32(package, at + 42);
        if (packed > package.size() || size > maxEntryBytes) {
            return false;
        }
        if (local + LocalHeaderSize > package.size() ||
            Get32(package, local) != LocalHeaderSignature ||
            Get32(package, local + 18) > package.size() ||
            Get32(package, local + 22) > maxEntryBytes) {
            return false;
        }
        total += std::max<std::size_t>(size, Get32(package, local + 22));
        if (total > maxTotalBytes) {
            return false;
        }
        at += CentralHeaderSize + Get16(package, at + 28) + Get16(package, at + 30) +
              Get16(package, at + 32);
    }
    return true;
}

std::optional<std::string> RepairedPackage(std::string_view package) {
    try {
        orcus::zip_archive_stream_blob stream(reinterpret_cast<const uint8_t*>(package.data()),
                                              package.size());
        orcus::zip_archive archive(&stream);
        archive.load();
        std::vector<unsigned char> buffer;
        if (!archive.read_file_entry(WorkbookRels, buffer)) {
            return std::nullopt;
        }
        const std::size_t count = archive.get_file_entry_count();
        if (count > MaxEntries || count > 0xFFFF) {
            return std::nullopt;
        }
        std::vector<Entry> entries;
        for (std::size_t i = 0; i < count; ++i) {
            Entry e;
            e.name = std::string(archive.get_file_entry_name(i));
            buffer.clear();
            if (!archive.read_file_entry(e.name, buffer)) {
                return std::nullopt;
            }
            e.data.assign(buffer.begin(), buffer.end());
            entries.push_back(std::move(e));
        }
        Entry* rels = FindEntry(entries, WorkbookRels);
        bool changed = false;
        for (std::size_t at = rels->data.find(AbsoluteTarget); at != std::string::npos;
             at = rels->data.find(AbsoluteTarget, at)) {
            rels->data.replace(at, AbsoluteTarget.size(), RelativeTarget);
            changed = true;
        }
        if (!MoveInlineStrings(entries)) {
            return std::nullopt;
        }
        changed = changed || std::any_of(entries.begin(), entries.end(),
                                         [](const Entry& e) { return e.rewritten; });
        if (!changed) {
            return std::nullopt;
        }
        return StoredZip(entries);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

} // namespace vq31::sheets
