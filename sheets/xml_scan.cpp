// The XML scanner of the package repairs.
#include "xml_scan.h"

#include "text_encoding.h"

#include <charconv>
#include <cstdint>

namespace vq31::sheets {

namespace {

bool IsXmlSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// UTF-16 code units (little- or big-endian) to UTF-8; false on a broken text.
bool Utf16ToUtf8(std::string_view bytes, bool bigEndian, std::string& out) {
    if (bytes.size() % 2 != 0) {
        return false;
    }
    out.clear();
    out.reserve(bytes.size());
    const auto unit = [&](std::size_t i) {
        const auto a = static_cast<uint8_t>(bytes[i]);
        const auto b = static_cast<uint8_t>(bytes[i + 1]);
        return bigEndian ? uint32_t(a << 8 | b) : uint32_t(b << 8 | a);
    };
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        uint32_t c = unit(i);
        if (c >= 0xD800 && c < 0xDC00) {
            if (i + 3 >= bytes.size()) {
                return false;
            }
            const uint32_t low = unit(i + 2);
            if (low < 0xDC00 || low >= 0xE000) {
                return false;
            }
            c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
            i += 2;
        } else if (c >= 0xDC00 && c < 0xE000) {
            return false;
        }
        AppendUtf8(out, char32_t(c));
    }
    return true;
}

} // namespace

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

std::optional<std::pair<std::size_t, std::size_t>>
AttributeValue(std::string_view xml, const Tag& tag, std::string_view name, bool matchLocal) {
    std::size_t i = tag.attributes;
    while (i < tag.end) {
        while (i < tag.end && (IsXmlSpace(xml[i]) || xml[i] == '/')) {
            ++i;
        }
        const std::size_t nameStart = i;
        while (i < tag.end && xml[i] != '=' && !IsXmlSpace(xml[i]) && xml[i] != '>') {
            ++i;
        }
        std::string_view attribute = xml.substr(nameStart, i - nameStart);
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
        if (matchLocal) {
            if (const auto colon = attribute.find(':'); colon != std::string_view::npos) {
                attribute.remove_prefix(colon + 1);
            }
        }
        if (attribute == name) {
            return std::make_pair(i + 1, close - i - 1);
        }
        i = close + 1;
    }
    return std::nullopt;
}

std::optional<std::string> AttributeText(std::string_view xml, const Tag& tag,
                                         std::string_view name, bool matchLocal) {
    const auto value = AttributeValue(xml, tag, name, matchLocal);
    if (!value) {
        return std::nullopt;
    }
    return XmlUnescape(xml.substr(value->first, value->second));
}

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

std::string Qualified(std::string_view prefix, std::string_view local) {
    return prefix.empty() ? std::string(local) : std::string(prefix) + ":" + std::string(local);
}

std::string XmlUnescape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::size_t semi = text[i] == '&' ? text.find(';', i) : std::string_view::npos;
        if (semi == std::string_view::npos || semi - i > 12) {
            out += text[i];
            continue;
        }
        const std::string_view entity = text.substr(i + 1, semi - i - 1);
        if (entity == "amp") {
            out += '&';
        } else if (entity == "lt") {
            out += '<';
        } else if (entity == "gt") {
            out += '>';
        } else if (entity == "quot") {
            out += '"';
        } else if (entity == "apos") {
            out += '\'';
        } else if (entity.size() > 1 && entity[0] == '#') {
            const bool hex = entity[1] == 'x' || entity[1] == 'X';
            const std::string_view digits = entity.substr(hex ? 2 : 1);
            uint32_t c = 0;
            const auto [end, ec] =
                std::from_chars(digits.data(), digits.data() + digits.size(), c, hex ? 16 : 10);
            if (ec != std::errc() || end != digits.data() + digits.size() || c == 0 ||
                c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) {
                out += text[i];
                continue;
            }
            AppendUtf8(out, char32_t(c));
        } else {
            out += text[i];
            continue;
        }
        i = semi;
    }
    return out;
}

std::string XmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

bool XmlAsUtf8(std::string& text) {
    const std::string_view bytes = text;
    std::string converted;
    if (bytes.starts_with("\xEF\xBB\xBF")) {
        text.erase(0, 3);
    } else if (bytes.starts_with("\xFF\xFE") || bytes.starts_with(std::string_view("<\0", 2))) {
        const std::size_t skip = bytes[0] == '<' ? 0 : 2;
        if (!Utf16ToUtf8(bytes.substr(skip), false, converted)) {
            return false;
        }
        text = std::move(converted);
    } else if (bytes.starts_with("\xFE\xFF") || bytes.starts_with(std::string_view("\0<", 2))) {
        const std::size_t skip = bytes[0] == '\0' ? 0 : 2;
        if (!Utf16ToUtf8(bytes.substr(skip), true, converted)) {
            return false;
        }
        text = std::move(converted);
    } else {
        return true;
    }
    // The declaration still names the encoding the part was stored in.
    if (text.starts_with("<?xml")) {
        const std::size_t end = text.find("?>");
        const std::size_t at = text.find("encoding", 0);
        if (end != std::string::npos && at != std::string::npos && at < end) {
            const std::size_t open = text.find_first_of("\"'", at);
            const std::size_t close =
                open == std::string::npos ? std::string::npos : text.find(text[open], open + 1);
            if (close != std::string::npos && close < end) {
                text.replace(open + 1, close - open - 1, "UTF-8");
            }
        }
    }
    return true;
}

} // namespace vq31::sheets
