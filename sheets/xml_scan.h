// A small scanner over the XML texts of package parts, for the repairs made before the
// workbook parser reads them: element tags with their namespace prefix and local name,
// attribute values, and the text encodings of parts.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace vq31::sheets {

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

// The next element tag at or after `from`, skipping comments, CDATA, declarations and
// processing instructions; nothing when no further tag is complete.
std::optional<Tag> NextTag(std::string_view xml, std::size_t from);

// Offset and length of an attribute's value inside a start tag; the name is matched whole
// ("t" does not match "r:t"), or by its local part when matchLocal is set.
std::optional<std::pair<std::size_t, std::size_t>> AttributeValue(std::string_view xml,
                                                                  const Tag& tag,
                                                                  std::string_view name,
                                                                  bool matchLocal = false);
// The attribute's value as text with the five named entities and character references
// decoded; nothing when the tag has no such attribute.
std::optional<std::string> AttributeText(std::string_view xml, const Tag& tag,
                                         std::string_view name, bool matchLocal = false);

// The first tag after `from` with the given local name and kind, before the closing tag of
// `stop` (a local name); nothing when `stop` closes first.
std::optional<Tag> FindTag(std::string_view xml, std::size_t from, std::string_view local,
                           bool closing, std::string_view stop);

// "prefix:local", or local alone without a prefix.
std::string Qualified(std::string_view prefix, std::string_view local);

// XML text decoded: & entities and character references.
std::string XmlUnescape(std::string_view text);
// Text made safe for element content and attribute values.
std::string XmlEscape(std::string_view text);

// A part's XML text as UTF-8 without a byte-order mark: UTF-16 in either byte order (with a
// mark, or recognised from its "<" as the first character) is converted, and the encoding its
// declaration names is made UTF-8. False when the text is UTF-16 that does not convert (an
// odd length, a broken surrogate pair); text is left as it was then.
bool XmlAsUtf8(std::string& text);

} // namespace vq31::sheets
