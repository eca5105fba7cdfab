// Text encodings shared by the program's files: Windows-1251 by table, UTF-16LE, UTF-8
// validation, the detection used for settings and language files, and the letter-case
// folding used to match their names. Standard library only; the csv reader of the workbook
// layer uses it too.
#pragma once

#include <string>
#include <string_view>

namespace vq31 {

enum class TextEncoding {
    Utf8,    // no byte-order mark (plain ASCII files count as this)
    Utf8Bom, // EF BB BF
    Utf16Le, // FF FE
    Cp1251,  // Windows Cyrillic code page
};

// Converts Windows-1251 bytes to UTF-8. Every byte has a character (0x98, unassigned in the
// code page, becomes U+0098), so the conversion is lossless both ways.
std::string Cp1251ToUtf8(std::string_view bytes);
// Converts UTF-8 to Windows-1251; false when a character has no code in the page or the
// input is not valid UTF-8 (out then holds nothing useful).
bool Utf8ToCp1251(std::string_view utf8, std::string& out);
// True when the bytes are well-formed UTF-8 (no overlong forms, no surrogates).
bool IsValidUtf8(std::string_view bytes);

// Detects the encoding of a file's bytes and converts them to UTF-8. lossless is cleared when
// some bytes could not be represented (broken UTF-8 after a BOM, an odd UTF-16 byte, an
// unpaired surrogate); those become U+FFFD.
std::string DecodeProfileText(std::string_view bytes, TextEncoding& encoding, bool& lossless);
// Converts UTF-8 text to the bytes of the given encoding, byte-order mark included. False when
// the text cannot be written in that encoding.
bool EncodeProfileText(std::string_view utf8, TextEncoding encoding, std::string& out);

// Letter-case folding used to match section and key names: ASCII and Cyrillic letters.
std::string FoldCase(std::string_view utf8);

// Appends one code point as UTF-8.
void AppendUtf8(std::string& out, char32_t c);

} // namespace vq31
