// Repairs of OpenDocument spreadsheet packages before the parser reads them, and the reading
// of a package's parts for both kinds:
// - formula cells keep the value stored with them and lose their formula: the parser fails
//   on formulas in older syntaxes ("oooc:") and on names it cannot resolve, and a stored
//   value is what the reader takes from a formula in any case;
// - boolean cells, which the parser drops, become the texts TRUE and FALSE;
// - the automatic styles of the content part go: without a style model the parser fails on
//   them, and the value types of the cells say what the reader needs.
#include "package_prepare.h"
#include "xml_scan.h"

#include <algorithm>
#include <cctype>

namespace vq31::sheets {

namespace {

constexpr std::string_view ContentPart = "content.xml";
constexpr std::string_view TextNamespace = "urn:oasis:names:tc:opendocument:xmlns:text:1.0";
constexpr std::string_view OpenDocumentMime = "application/vnd.oasis.opendocument.spreadsheet";

// The prefix the text declares for a namespace, or nothing.
std::optional<std::string> PrefixOf(std::string_view xml, std::string_view uri) {
    const std::string quoted = "=\"" + std::string(uri) + "\"";
    const std::size_t at = xml.find(quoted);
    if (at == std::string_view::npos) {
        return std::nullopt;
    }
    const std::size_t start = xml.rfind("xmlns:", at);
    if (start == std::string_view::npos) {
        return std::nullopt;
    }
    return std::string(xml.substr(start + 6, at - start - 6));
}

// Removes the attribute whose value is at [value.first, value.first + value.second) from a
// start tag's text, with the blank before its name.
void RemoveAttribute(std::string& tag, std::pair<std::size_t, std::size_t> value) {
    std::size_t start = value.first - 1; // the opening quote
    while (start > 0 && (tag[start - 1] == '=' || tag[start - 1] == ' ')) {
        --start;
    }
    while (start > 0 && tag[start - 1] != ' ' && tag[start - 1] != '\t' && tag[start - 1] != '\n' &&
           tag[start - 1] != '\r') {
        --start;
    }
    if (start > 0) {
        --start;
    }
    tag.erase(start, value.first + value.second + 1 - start);
}

// A cell's start tag without its formula, and with "string" as the value type of a boolean.
std::string CellStartTag(std::string_view xml, const Tag& cell, bool& wasBoolean) {
    std::string text(xml.substr(cell.begin, cell.end - cell.begin));
    wasBoolean = false;
    for (const char* name : {"office:value-type", "calcext:value-type"}) {
        const auto tag = NextTag(text, 0);
        const auto type = tag ? AttributeValue(text, *tag, name) : std::nullopt;
        if (type && text.compare(type->first, type->second, "boolean") == 0) {
            text.replace(type->first, type->second, "string");
            wasBoolean = true;
        }
    }
    for (const char* name : {"formula", "boolean-value"}) {
        const auto tag = NextTag(text, 0);
        if (const auto value = tag ? AttributeValue(text, *tag, name, true) : std::nullopt) {
            RemoveAttribute(text, *value);
        }
    }
    return text;
}

void RepairContent(std::string& content) {
    const std::string_view xml = content;
    const auto textPrefix = PrefixOf(xml, TextNamespace);
    std::string out;
    out.reserve(content.size());
    std::size_t copied = 0;
    for (auto tag = NextTag(xml, 0); tag; tag = NextTag(xml, tag->end)) {
        if (tag->closing) {
            continue;
        }
        if (tag->local == "automatic-styles") {
            std::size_t end = tag->end;
            if (!tag->empty) {
                const auto close = FindTag(xml, tag->end, "automatic-styles", true, "");
                end = close ? close->end : xml.size();
            }
            out.append(xml, copied, tag->begin - copied);
            copied = end;
            tag->end = end;
            continue;
        }
        if (tag->local != "table-cell" && tag->local != "covered-table-cell") {
            continue;
        }
        const auto booleanValue = AttributeText(xml, *tag, "boolean-value", true);
        const bool hasFormula = AttributeValue(xml, *tag, "formula", true).has_value();
        const auto type = AttributeText(xml, *tag, "office:value-type");
        const bool boolean = type && *type == "boolean" && textPrefix;
        if (!hasFormula && !boolean) {
            continue;
        }
        bool wasBoolean = false;
        std::string start = CellStartTag(xml, *tag, wasBoolean);
        if (!boolean || !wasBoolean) {
            out.append(xml, copied, tag->begin - copied);
            out += start;
            copied = tag->end;
            continue;
        }
        // The cell's content becomes the one paragraph TRUE or FALSE.
        std::size_t end = tag->end;
        if (tag->empty) {
            start.erase(start.size() - 2, 1); // "/>" → ">"
        } else {
            const auto close = FindTag(xml, tag->end, tag->local, true, "table-row");
            if (!close) {
                continue;
            }
            end = close->end;
        }
        const bool value = booleanValue && (*booleanValue == "true" || *booleanValue == "1");
        const std::string p = Qualified(*textPrefix, "p");
        out.append(xml, copied, tag->begin - copied);
        out += start + "<" + p + ">" + (value ? "TRUE" : "FALSE") + "</" + p + "></" +
               Qualified(tag->prefix, tag->local) + ">";
        copied = end;
        tag->end = end;
    }
    if (copied != 0) {
        out.append(xml, copied);
        content = std::move(out);
    }
}

std::string Lower(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

bool HasPart(const std::vector<PackagePart>& parts, std::string_view lowerName) {
    return std::any_of(parts.begin(), parts.end(),
                       [&](const PackagePart& p) { return Lower(p.name) == lowerName; });
}

bool IsXmlPart(std::string_view name) {
    const std::string lower = Lower(name);
    return lower.ends_with(".xml") || lower.ends_with(".rels");
}

} // namespace

void RepairOpenDocument(std::vector<PackagePart>& parts) {
    if (PackagePart* content = FindPart(parts, ContentPart)) {
        RepairContent(content->data);
    }
}

FileResult PreparePackage(std::string_view package, std::size_t maxUnpackedBytes,
                          PreparedPackage& out) {
    std::vector<PackagePart> parts;
    if (FileResult read = ReadPackageParts(package, maxUnpackedBytes, parts); !read.ok) {
        return read;
    }
    for (PackagePart& part : parts) {
        if (IsXmlPart(part.name) && !XmlAsUtf8(part.data)) {
            return {false, "the package part " + part.name + " is in no encoding the reader knows"};
        }
    }
    PreparedPackage prepared;
    const PackagePart* mime = FindPart(parts, "mimetype");
    if (mime != nullptr && mime->data.starts_with(OpenDocumentMime)) {
        prepared.kind = PackageKind::OpenDocument;
        RepairOpenDocument(parts);
    } else if (HasPart(parts, "[content_types].xml")) {
        prepared.kind = PackageKind::OpenXml;
        RepairOpenXml(parts, prepared);
    } else if (FindPart(parts, ContentPart) != nullptr) {
        prepared.kind = PackageKind::OpenDocument;
        RepairOpenDocument(parts);
    } else {
        return {false, "the package holds no workbook"};
    }
    std::optional<std::string> bytes = WritePackage(parts);
    if (!bytes) {
        return {false, std::string(DamagedPackageText)};
    }
    prepared.bytes = std::move(*bytes);
    out = std::move(prepared);
    return {true, {}};
}

} // namespace vq31::sheets
