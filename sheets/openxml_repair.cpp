// Repairs of Open XML workbook packages before the parser reads them:
// - Strict packages (namespaces under http://purl.oclc.org/ooxml/) get the namespaces of the
//   transitional form, which is the same vocabulary under other names;
// - part names whose letter case differs from the relationship targets take the targets'
//   case, and absolute targets of the workbook's relationships become relative;
// - texts stored in cells (inline strings) and ISO dates stored in cells move into the shared
//   string table, which the parser reads;
// - the cell formats that show dates and the workbook's date system are read for the reader.
#include "package_prepare.h"
#include "xml_scan.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <set>

namespace vq31::sheets {

namespace {

constexpr std::string_view StrictMark = "http://purl.oclc.org/ooxml/";
constexpr std::pair<std::string_view, std::string_view> StrictNamespaces[] = {
    {"http://purl.oclc.org/ooxml/spreadsheetml/main",
     "http://schemas.openxmlformats.org/spreadsheetml/2006/main"},
    {"http://purl.oclc.org/ooxml/officeDocument/relationships",
     "http://schemas.openxmlformats.org/officeDocument/2006/relationships"},
    {"http://purl.oclc.org/ooxml/drawingml/main",
     "http://schemas.openxmlformats.org/drawingml/2006/main"},
    {"http://purl.oclc.org/ooxml/drawingml/spreadsheetDrawing",
     "http://schemas.openxmlformats.org/drawingml/2006/spreadsheetDrawing"},
    {"http://purl.oclc.org/ooxml/officeDocument/sharedTypes",
     "http://schemas.openxmlformats.org/officeDocument/2006/sharedTypes"},
};
constexpr std::string_view SpreadsheetNamespace =
    "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
constexpr std::string_view ContentTypes = "[Content_Types].xml";
constexpr std::string_view PackageRels = "_rels/.rels";
constexpr std::string_view NewSharedStringsPart = "sharedStrings.xml";
constexpr std::string_view SharedStringsType =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings";
constexpr std::string_view SharedStringsContentType =
    "application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml";

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

void ReplaceAll(std::string& text, std::string_view from, std::string_view to) {
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

std::string_view Folder(std::string_view part) {
    const auto slash = part.rfind('/');
    return slash == std::string_view::npos ? std::string_view() : part.substr(0, slash + 1);
}

// "xl/workbook.xml" → "xl/_rels/workbook.xml.rels".
std::string RelsNameOf(std::string_view part) {
    const std::string_view folder = Folder(part);
    return std::string(folder) + "_rels/" + std::string(part.substr(folder.size())) + ".rels";
}

// The part a relationship target names, from the folder of the part holding it.
std::string Resolve(std::string_view folder, std::string_view target) {
    std::string path = target.starts_with('/') ? std::string(target.substr(1))
                                               : std::string(folder) + std::string(target);
    std::vector<std::string> segments;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t slash = std::min(path.find('/', start), path.size());
        const std::string segment = path.substr(start, slash - start);
        if (segment == "..") {
            if (!segments.empty()) {
                segments.pop_back();
            }
        } else if (!segment.empty() && segment != ".") {
            segments.push_back(segment);
        }
        start = slash + 1;
    }
    std::string out;
    for (const std::string& s : segments) {
        out += (out.empty() ? "" : "/") + s;
    }
    return out;
}

struct Relationship {
    std::string type;
    std::string part; // the target as a part name
};

// The internal relationships of a .rels part that belongs to the part `source`.
std::vector<Relationship> RelationshipsOf(std::string_view rels, std::string_view source) {
    std::vector<Relationship> out;
    for (auto tag = NextTag(rels, 0); tag; tag = NextTag(rels, tag->end)) {
        if (tag->closing || tag->local != "Relationship") {
            continue;
        }
        const auto type = AttributeText(rels, *tag, "Type");
        const auto target = AttributeText(rels, *tag, "Target");
        const auto mode = AttributeText(rels, *tag, "TargetMode");
        if (type && target && !(mode && *mode == "External")) {
            out.push_back({*type, Resolve(Folder(source), *target)});
        }
    }
    return out;
}

// The source part of a .rels part name ("xl/_rels/workbook.xml.rels" → "xl/workbook.xml").
std::optional<std::string> SourceOf(std::string_view relsName) {
    const auto at = relsName.rfind("_rels/");
    if (at == std::string_view::npos || !relsName.ends_with(".rels") ||
        (at != 0 && relsName[at - 1] != '/')) {
        return std::nullopt;
    }
    const std::string_view file = relsName.substr(at + 6, relsName.size() - at - 6 - 5);
    return std::string(relsName.substr(0, at)) + std::string(file);
}

// Gives a part the exact name when only its letter case differs.
void TakeName(std::vector<PackagePart>& parts, const std::string& name) {
    if (name.empty() || FindPart(parts, name) != nullptr) {
        return;
    }
    const std::string lower = Lower(name);
    for (PackagePart& part : parts) {
        if (Lower(part.name) == lower) {
            part.name = name;
            return;
        }
    }
}

void MatchPartNames(std::vector<PackagePart>& parts) {
    TakeName(parts, std::string(ContentTypes));
    TakeName(parts, std::string(PackageRels));
    // Targets found through one relationship part lead to the next ones.
    for (int pass = 0; pass < 3; ++pass) {
        for (std::size_t i = 0; i < parts.size(); ++i) {
            if (const auto source = SourceOf(parts[i].name)) {
                for (const Relationship& r : RelationshipsOf(parts[i].data, *source)) {
                    TakeName(parts, r.part);
                }
            }
        }
        for (std::size_t i = 0; i < parts.size(); ++i) {
            if (!SourceOf(parts[i].name)) {
                TakeName(parts, RelsNameOf(parts[i].name));
            }
        }
    }
    // Content types name parts too; theirs follow the parts.
    PackagePart* types = FindPart(parts, ContentTypes);
    if (types == nullptr) {
        return;
    }
    std::string& xml = types->data;
    for (auto tag = NextTag(xml, 0); tag; tag = NextTag(xml, tag->end)) {
        const auto value = AttributeValue(xml, *tag, "PartName");
        if (tag->closing || tag->local != "Override" || !value) {
            continue;
        }
        const std::string named = Resolve("", xml.substr(value->first, value->second));
        if (FindPart(parts, named) != nullptr) {
            continue;
        }
        const std::string lower = Lower(named);
        for (const PackagePart& part : parts) {
            if (Lower(part.name) == lower) {
                const std::string name = '/' + XmlEscape(part.name);
                xml.replace(value->first, value->second, name);
                tag->end = value->first; // the scan goes on after the new value
                break;
            }
        }
    }
}

// True when an element's content has character data other than blanks outside its tags.
bool HasText(std::string_view content) {
    bool inTag = false;
    for (const char c : content) {
        if (c == '<' || c == '>') {
            inTag = c == '<';
        } else if (!inTag && c != ' ' && c != '\t' && c != '\r' && c != '\n') {
            return true;
        }
    }
    return false;
}

// An ISO 8601 date cell value ("2016-12-31T00:00:00") as the date text of the reader:
// "2016-12-31", with the time of day after a blank when there is one.
std::string IsoDateText(std::string_view value) {
    std::string text(value.substr(0, value.find_first_of(".Z+")));
    if (const auto t = text.find('T'); t != std::string::npos) {
        text[t] = ' ';
    }
    if (text.ends_with(" 00:00:00")) {
        text.resize(text.size() - 9);
    }
    return text;
}

// Rewrites the inline-string cells of one worksheet, and its cells holding ISO dates, as
// shared-string cells numbered from `next`, appending the strings (as <si> items) to `items`.
void CellsToShared(PackagePart& sheet, std::size_t& next, std::string& items) {
    const std::string_view xml = sheet.data;
    std::string out;
    std::size_t copied = 0;
    for (auto cell = NextTag(xml, 0); cell; cell = NextTag(xml, cell->end)) {
        if (cell->closing || cell->empty || cell->local != "c") {
            continue;
        }
        const auto type = AttributeValue(xml, *cell, "t");
        const std::string_view kind =
            type ? xml.substr(type->first, type->second) : std::string_view();
        if (kind != "inlineStr" && kind != "d") {
            continue;
        }
        const auto open = FindTag(xml, cell->end, kind == "d" ? "v" : "is", false, "c");
        if (!open) {
            continue;
        }
        std::string_view inner;
        std::size_t after = open->end;
        if (!open->empty) {
            const auto close = FindTag(xml, open->end, open->local, true, "c");
            if (!close) {
                continue;
            }
            inner = xml.substr(open->end, close->begin - open->end);
            after = close->end;
        }
        const std::string value = Qualified(open->prefix, "v");
        std::string item;
        if (kind == "d") {
            const std::string date = IsoDateText(XmlUnescape(inner));
            if (!date.empty()) {
                const std::string t = Qualified(open->prefix, "t");
                item = "<" + t + ">" + XmlEscape(date) + "</" + t + ">";
            }
        } else if (HasText(inner)) {
            item = std::string(inner);
        }
        out.append(xml, copied, type->first - copied);
        const std::size_t typeEnd = type->first + type->second;
        copied = after;
        cell->end = after;
        if (item.empty()) {
            // An empty text is an empty cell; the parser mishandles an empty table item.
            out += "n";
            out.append(xml, typeEnd, open->begin - typeEnd);
            continue;
        }
        out += "s";
        out.append(xml, typeEnd, open->begin - typeEnd);
        out += "<" + value + ">" + std::to_string(next++) + "</" + value + ">";
        items += "<si";
        if (!open->prefix.empty()) {
            items += " xmlns:" + std::string(open->prefix) + "=\"" +
                     std::string(SpreadsheetNamespace) + "\"";
        }
        items += ">" + item + "</si>";
    }
    if (copied != 0) {
        out.append(xml, copied);
        sheet.data = std::move(out);
    }
}

// The parser reads no inline-string cells (texts stored in the cell itself, as some writers
// do) and no date cells, so those cells are moved into the shared string table, which it
// does read.
void MoveCellTexts(std::vector<PackagePart>& parts, const std::string& workbook) {
    PackagePart* rels = FindPart(parts, RelsNameOf(workbook));
    if (rels == nullptr) {
        return;
    }
    std::string stringsName;
    std::vector<std::string> sheets;
    for (const Relationship& r : RelationshipsOf(rels->data, workbook)) {
        if (r.type.ends_with("/sharedStrings")) {
            stringsName = r.part;
        } else if (r.type.ends_with("/worksheet")) {
            sheets.push_back(r.part);
        }
    }
    PackagePart* strings = stringsName.empty() ? nullptr : FindPart(parts, stringsName);
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
    for (const std::string& name : sheets) {
        PackagePart* sheet = FindPart(parts, name);
        if (sheet != nullptr && (sheet->data.find("inlineStr") != std::string::npos ||
                                 sheet->data.find("t=\"d\"") != std::string::npos)) {
            CellsToShared(*sheet, next, items);
        }
    }
    if (items.empty()) {
        return;
    }
    if (strings == nullptr) {
        const std::string name = std::string(Folder(workbook)) + std::string(NewSharedStringsPart);
        const std::size_t end = rels->data.rfind("</Relationships>");
        if (FindPart(parts, name) != nullptr || end == std::string::npos) {
            return;
        }
        rels->data.insert(end, "<Relationship Id=\"rIdVq31Strings\" Type=\"" +
                                   std::string(SharedStringsType) + "\" Target=\"" +
                                   std::string(NewSharedStringsPart) + "\"/>");
        if (PackagePart* types = FindPart(parts, ContentTypes)) {
            if (const std::size_t typesEnd = types->data.rfind("</Types>");
                typesEnd != std::string::npos) {
                types->data.insert(typesEnd, "<Override PartName=\"/" + name + "\" ContentType=\"" +
                                                 std::string(SharedStringsContentType) + "\"/>");
            }
        }
        parts.push_back({name, "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
                               "<sst xmlns=\"" +
                                   std::string(SpreadsheetNamespace) + "\">" + items + "</sst>"});
        return;
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
    if (const std::size_t end = data.rfind(closing); end != std::string::npos) {
        data.insert(end, items);
    } else if (const std::size_t selfClose = data.rfind("/>"); selfClose != std::string::npos) {
        data.replace(selfClose, 2, ">" + items + closing); // an empty table "<sst ... />"
    }
}

int ToInt(std::string_view text) {
    int v = -1;
    std::from_chars(text.data(), text.data() + text.size(), v);
    return v;
}

// Which cell formats of the styles part show dates.
std::vector<bool> DateFormats(std::string_view styles) {
    std::vector<std::pair<int, std::string>> custom;
    std::vector<bool> out;
    bool inCellFormats = false;
    for (auto tag = NextTag(styles, 0); tag; tag = NextTag(styles, tag->end)) {
        if (tag->local == "cellXfs") {
            inCellFormats = !tag->closing && !tag->empty;
        } else if (!tag->closing && tag->local == "numFmt") {
            const auto id = AttributeText(styles, *tag, "numFmtId");
            const auto code = AttributeText(styles, *tag, "formatCode");
            if (id && code) {
                custom.emplace_back(ToInt(*id), *code);
            }
        } else if (inCellFormats && !tag->closing && tag->local == "xf") {
            const auto id = AttributeText(styles, *tag, "numFmtId");
            const int n = id ? ToInt(*id) : 0;
            std::string_view code;
            for (const auto& [customId, customCode] : custom) {
                code = customId == n ? std::string_view(customCode) : code;
            }
            out.push_back(IsDateFormat(n, code));
        }
    }
    return out;
}

bool TrueValue(const std::optional<std::string>& v) {
    return v && (*v == "1" || *v == "true");
}

} // namespace

bool IsDateFormat(int id, std::string_view code) {
    if (code.empty()) {
        // Built-in formats: dates and times, and the dates of East Asian locales.
        return (id >= 14 && id <= 22) || (id >= 27 && id <= 36) || (id >= 45 && id <= 47) ||
               (id >= 50 && id <= 58);
    }
    // Letters of dates and times outside quoted texts, escaped characters and [...] parts
    // (colours, conditions, locales; elapsed [h] and [mm] are times).
    for (std::size_t i = 0; i < code.size(); ++i) {
        const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(code[i])));
        if (c == '"') {
            const std::size_t close = code.find('"', i + 1);
            i = close == std::string_view::npos ? code.size() : close;
        } else if (c == '\\' || c == '_' || c == '*') {
            ++i;
        } else if (c == '[') {
            const std::size_t close = code.find(']', i + 1);
            const std::string_view inside = code.substr(i + 1, close - i - 1);
            if (!inside.empty() &&
                std::string_view("hHmMsS").find(inside[0]) != std::string_view::npos) {
                return true;
            }
            i = close == std::string_view::npos ? code.size() : close;
        } else if (c == 'y' || c == 'd' || c == 'h' || c == 's' || c == 'm') {
            return true;
        } else if (c == 'g' && Lower(code.substr(i, 7)) == "general") {
            i += 6;
        } else if (c == 'e' &&
                   (i + 1 < code.size() && (code[i + 1] == '+' || code[i + 1] == '-'))) {
            ++i; // an exponent
        }
    }
    return false;
}

void RepairOpenXml(std::vector<PackagePart>& parts, PreparedPackage& out) {
    for (PackagePart& part : parts) {
        if (part.data.find(StrictMark) != std::string::npos) {
            for (const auto& [strict, transitional] : StrictNamespaces) {
                ReplaceAll(part.data, strict, transitional);
            }
        }
    }
    MatchPartNames(parts);
    std::string workbook;
    if (const PackagePart* rels = FindPart(parts, PackageRels)) {
        for (const Relationship& r : RelationshipsOf(rels->data, "")) {
            if (r.type.ends_with("/officeDocument") && workbook.empty()) {
                workbook = r.part;
            }
        }
    }
    if (workbook.empty()) {
        return; // the parser reports the package
    }
    if (PackagePart* rels = FindPart(parts, RelsNameOf(workbook))) {
        // The parser takes targets as relative to the workbook's folder.
        ReplaceAll(rels->data, "Target=\"/" + std::string(Folder(workbook)), "Target=\"");
        for (const Relationship& r : RelationshipsOf(rels->data, workbook)) {
            const PackagePart* styles = FindPart(parts, r.part);
            if (r.type.ends_with("/styles") && styles != nullptr) {
                out.dateFormats = DateFormats(styles->data);
            }
        }
    }
    MoveCellTexts(parts, workbook);
    if (const PackagePart* book = FindPart(parts, workbook)) {
        const std::string_view xml = book->data;
        for (auto tag = NextTag(xml, 0); tag; tag = NextTag(xml, tag->end)) {
            if (!tag->closing && tag->local == "workbookPr") {
                out.date1904 = TrueValue(AttributeText(xml, *tag, "date1904"));
                break;
            }
        }
    }
}

} // namespace vq31::sheets
