// Private-profile files: the "[section]" and "key=value" text files that hold the program's
// settings and its language texts. Sections and keys match without regard to letter case,
// values come back as stored (surrounding blanks removed). A write changes one key and keeps
// every other line byte for byte, creating the key, the section or the file when missing.
// Files may be UTF-8 (with or without byte-order mark), UTF-16LE with byte-order mark, or
// Windows-1251; the text is held as UTF-8 in memory and written back in the file's encoding.
#pragma once

#include "text_encoding.h"

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace vq31 {

class ProfileFile {
public:
    ProfileFile() = default;

    // Reads a file; a missing or unreadable file gives an empty profile (every read then
    // returns its default) that remembers the path for later writes.
    static ProfileFile Load(const std::filesystem::path& path);
    // Parses bytes already in memory (any of the supported encodings).
    static ProfileFile FromBytes(std::string_view bytes);

    const std::filesystem::path& Path() const { return path_; }
    // True when Load found and read the file.
    bool Exists() const { return exists_; }
    TextEncoding Encoding() const { return encoding_; }

    // The stored value, or nothing when the section or the key is missing. The first
    // occurrence wins when a section or a key appears twice.
    std::optional<std::string> Find(std::string_view section, std::string_view key) const;
    std::string ReadString(std::string_view section, std::string_view key,
                           std::string_view defaultValue) const;
    // A whole decimal integer (optional sign) that fits 32 bits; anything else gives the
    // default.
    int ReadInteger(std::string_view section, std::string_view key, int defaultValue) const;
    bool HasSection(std::string_view section) const;
    // Section names in file order, as spelled in the file (first occurrences only).
    std::vector<std::string> Sections() const;
    // Key names of a section in file order, as spelled in the file (first occurrences only).
    std::vector<std::string> Keys(std::string_view section) const;

    // Changes one key in memory: the key's line is rewritten (keeping the key's spelling),
    // a missing key is added after the section's last entry, a missing section is appended.
    // Section and key names must not hold line breaks, a key no '=' and a section no ']';
    // values must not hold line breaks. False (and nothing changed) otherwise.
    bool SetString(std::string_view section, std::string_view key, std::string_view value);

    // The whole file as bytes in its encoding. False when the text cannot be encoded or was
    // read with losses (writing it back would damage the lines that were not understood).
    bool ToBytes(std::string& out, std::string* error = nullptr) const;
    // Writes the file to Path() through a temporary file beside it, creating missing folders.
    bool Save(std::string* error = nullptr) const;
    // The same to another file; Path() stays.
    bool SaveAs(const std::filesystem::path& path, std::string* error = nullptr) const;

private:
    struct Line {
        std::string text; // without its line break
        std::string eol;  // "\r\n", "\n", "\r" or "" for the last line
    };
    struct SectionIndex {
        size_t header = 0;    // line of "[name]"
        size_t lastEntry = 0; // last non-blank line of the section (header when none)
        std::unordered_map<std::string, size_t> keys; // folded key -> line
    };

    void Parse(std::string_view utf8);
    void Reindex();
    const SectionIndex* FindSection(std::string_view section) const;
    std::string NewLineBreak() const;

    std::filesystem::path path_;
    bool exists_ = false;
    bool lossless_ = true;
    std::string loadError_; // set when the file exists but could not be read
    TextEncoding encoding_ = TextEncoding::Utf8;
    std::vector<Line> lines_;
    std::unordered_map<std::string, SectionIndex> sections_; // folded name -> index
};

// Writes one key straight to a file, as every settings write does: read, change, write.
bool WriteProfileString(const std::filesystem::path& path, std::string_view section,
                        std::string_view key, std::string_view value, std::string* error = nullptr);

} // namespace vq31
