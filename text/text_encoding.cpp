// Text encodings: Windows-1251 by table, UTF-16LE with surrogate pairs, UTF-8 validation,
// encoding detection, and the letter-case folding used to match names.
#include "text_encoding.h"

#include <array>
#include <cstdint>

namespace vq31 {
namespace {

constexpr char32_t ReplacementChar = 0xFFFD;
constexpr std::string_view Utf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view Utf16LeBom = "\xFF\xFE";

// Characters of Windows-1251 bytes 0x80 to 0xBF; 0xC0 to 0xFF are U+0410 to U+044F in order.
// 0x98 has no character in the code page and keeps its own value so it survives a round trip.
constexpr std::array<char16_t, 64> Cp1251High = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F, // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 90
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7, // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7, // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457, // B8
};
constexpr char32_t Cp1251CyrillicBase = 0x0410;

// Reads one UTF-8 character at pos and advances pos; false (pos advanced by one byte) for a
// malformed sequence.
bool NextUtf8(std::string_view s, size_t& pos, char32_t& c) {
    const auto b0 = static_cast<uint8_t>(s[pos]);
    if (b0 < 0x80) {
        c = b0;
        ++pos;
        return true;
    }
    size_t len = 0;
    char32_t min = 0;
    if ((b0 & 0xE0) == 0xC0) {
        len = 2, c = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3, c = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4, c = b0 & 0x07, min = 0x10000;
    } else {
        ++pos;
        return false;
    }
    if (s.size() - pos < len) {
        ++pos;
        return false;
    }
    for (size_t i = 1; i < len; ++i) {
        const auto b = static_cast<uint8_t>(s[pos + i]);
        if ((b & 0xC0) != 0x80) {
            ++pos;
            return false;
        }
        c = (c << 6) | (b & 0x3F);
    }
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        ++pos;
        return false;
    }
    pos += len;
    return true;
}

std::string Utf8Repaired(std::string_view s, bool& lossless) {
    std::string out;
    out.reserve(s.size());
    size_t pos = 0;
    while (pos < s.size()) {
        char32_t c = 0;
        if (!NextUtf8(s, pos, c)) {
            lossless = false;
            c = ReplacementChar;
        }
        AppendUtf8(out, c);
    }
    return out;
}

std::string Utf16LeToUtf8(std::string_view s, bool& lossless) {
    std::string out;
    out.reserve(s.size());
    if (s.size() % 2 != 0) {
        lossless = false;
    }
    const size_t units = s.size() / 2;
    auto unit = [&](size_t i) {
        return static_cast<char16_t>(static_cast<uint8_t>(s[2 * i]) |
                                     (static_cast<uint8_t>(s[2 * i + 1]) << 8));
    };
    for (size_t i = 0; i < units; ++i) {
        const char16_t u = unit(i);
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
            const char16_t low = unit(i + 1);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                AppendUtf8(out, 0x10000 + ((char32_t(u) - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        if (u >= 0xD800 && u <= 0xDFFF) {
            lossless = false;
            AppendUtf8(out, ReplacementChar);
            continue;
        }
        AppendUtf8(out, u);
    }
    return out;
}

bool Utf8ToUtf16Le(std::string_view s, std::string& out) {
    size_t pos = 0;
    auto put = [&](char32_t u) {
        out += static_cast<char>(u & 0xFF);
        out += static_cast<char>((u >> 8) & 0xFF);
    };
    while (pos < s.size()) {
        char32_t c = 0;
        if (!NextUtf8(s, pos, c)) {
            return false;
        }
        if (c >= 0x10000) {
            c -= 0x10000;
            put(0xD800 + (c >> 10));
            put(0xDC00 + (c & 0x3FF));
        } else {
            put(c);
        }
    }
    return true;
}

char32_t FoldChar(char32_t c) {
    if (c >= 'A' && c <= 'Z') {
        return c + ('a' - 'A');
    }
    if (c >= 0x0410 && c <= 0x042F) { // А to Я
        return c + 0x20;
    }
    if (c >= 0x0400 && c <= 0x040F) { // Ѐ to Џ
        return c + 0x50;
    }
    if (c == 0x0490) { // Ґ
        return 0x0491;
    }
    return c;
}

} // namespace

std::string Cp1251ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const char ch : bytes) {
        const auto b = static_cast<uint8_t>(ch);
        if (b < 0x80) {
            out += ch;
        } else if (b < 0xC0) {
            AppendUtf8(out, Cp1251High[b - 0x80]);
        } else {
            AppendUtf8(out, Cp1251CyrillicBase + (b - 0xC0));
        }
    }
    return out;
}

bool Utf8ToCp1251(std::string_view utf8, std::string& out) {
    out.clear();
    out.reserve(utf8.size());
    size_t pos = 0;
    while (pos < utf8.size()) {
        char32_t c = 0;
        if (!NextUtf8(utf8, pos, c)) {
            return false;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
            continue;
        }
        if (c >= Cp1251CyrillicBase && c < Cp1251CyrillicBase + 64) {
            out += static_cast<char>(0xC0 + (c - Cp1251CyrillicBase));
            continue;
        }
        bool found = false;
        for (size_t i = 0; i < Cp1251High.size(); ++i) {
            if (Cp1251High[i] == c) {
                out += static_cast<char>(0x80 + i);
                found = true;
                break;
            }
        }
        if (!found) {
            return false;
        }
    }
    return true;
}

bool IsValidUtf8(std::string_view bytes) {
    size_t pos = 0;
    while (pos < bytes.size()) {
        char32_t c = 0;
        if (!NextUtf8(bytes, pos, c)) {
            return false;
        }
    }
    return true;
}

std::string DecodeProfileText(std::string_view bytes, TextEncoding& encoding, bool& lossless) {
    lossless = true;
    if (bytes.starts_with(Utf8Bom)) {
        encoding = TextEncoding::Utf8Bom;
        return Utf8Repaired(bytes.substr(Utf8Bom.size()), lossless);
    }
    if (bytes.starts_with(Utf16LeBom)) {
        encoding = TextEncoding::Utf16Le;
        return Utf16LeToUtf8(bytes.substr(Utf16LeBom.size()), lossless);
    }
    if (IsValidUtf8(bytes)) {
        encoding = TextEncoding::Utf8;
        return std::string(bytes);
    }
    // Hand-made files on Russian systems are in the ANSI code page.
    encoding = TextEncoding::Cp1251;
    return Cp1251ToUtf8(bytes);
}

bool EncodeProfileText(std::string_view utf8, TextEncoding encoding, std::string& out) {
    out.clear();
    switch (encoding) {
    case TextEncoding::Utf8:
        out = utf8;
        return IsValidUtf8(utf8);
    case TextEncoding::Utf8Bom:
        out = Utf8Bom;
        out += utf8;
        return IsValidUtf8(utf8);
    case TextEncoding::Utf16Le:
        out = Utf16LeBom;
        return Utf8ToUtf16Le(utf8, out);
    case TextEncoding::Cp1251:
        return Utf8ToCp1251(utf8, out);
    }
    return false;
}

std::string FoldCase(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    size_t pos = 0;
    while (pos < utf8.size()) {
        const size_t start = pos;
        char32_t c = 0;
        if (!NextUtf8(utf8, pos, c)) {
            out += utf8[start]; // keep stray bytes as they are
            continue;
        }
        AppendUtf8(out, FoldChar(c));
    }
    return out;
}

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

} // namespace vq31
