// Private-profile files: parsing into lines, lookups by folded section and key names, one-key
// changes that keep every other line, and writing back in the file's own encoding.
#include "profile_file.h"

#include <charconv>
#include <fstream>
#include <iterator>
#include <system_error>

namespace vq31 {
namespace {

constexpr std::string_view Blanks = " \t";

std::string_view Trim(std::string_view s) {
    const size_t first = s.find_first_not_of(Blanks);
    if (first == std::string_view::npos) {
        return {};
    }
    const size_t last = s.find_last_not_of(Blanks);
    return s.substr(first, last - first + 1);
}

enum class LineKind { Other, Section, Entry };

struct ParsedLine {
    LineKind kind = LineKind::Other;
    std::string_view name;  // section or key name
    std::string_view value; // entry value
};

// One line of a profile file: "[section]", "key=value", a comment (";" or "#") or anything
// else, which is kept but means nothing.
ParsedLine ParseLine(std::string_view text) {
    ParsedLine p;
    const std::string_view t = Trim(text);
    if (t.empty() || t.front() == ';' || t.front() == '#') {
        return p;
    }
    if (t.front() == '[') {
        const size_t close = t.find(']');
        p.kind = LineKind::Section;
        p.name =
            Trim(t.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
        return p;
    }
    const size_t eq = t.find('=');
    if (eq == std::string_view::npos) {
        return p;
    }
    p.name = Trim(t.substr(0, eq));
    if (p.name.empty()) {
        return p;
    }
    p.kind = LineKind::Entry;
    p.value = Trim(t.substr(eq + 1));
    return p;
}

bool HasLineBreak(std::string_view s) {
    return s.find_first_of("\r\n") != std::string_view::npos;
}

} // namespace

ProfileFile ProfileFile::Load(const std::filesystem::path& path) {
    ProfileFile f;
    f.path_ = path;
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
        return f;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in || !std::filesystem::is_regular_file(path, ec)) {
        // Present but unreadable: reads give defaults, and a write must not replace it.
        f.loadError_ = "cannot read " + path.string();
        return f;
    }
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        f.loadError_ = "cannot read " + path.string();
        return f;
    }
    f.exists_ = true;
    f.Parse(DecodeProfileText(bytes, f.encoding_, f.lossless_));
    return f;
}

ProfileFile ProfileFile::FromBytes(std::string_view bytes) {
    ProfileFile f;
    f.Parse(DecodeProfileText(bytes, f.encoding_, f.lossless_));
    return f;
}

void ProfileFile::Parse(std::string_view utf8) {
    lines_.clear();
    size_t pos = 0;
    while (pos < utf8.size()) {
        const size_t brk = utf8.find_first_of("\r\n", pos);
        if (brk == std::string_view::npos) {
            lines_.push_back({std::string(utf8.substr(pos)), ""});
            break;
        }
        const size_t eolLen =
            (utf8[brk] == '\r' && brk + 1 < utf8.size() && utf8[brk + 1] == '\n') ? 2 : 1;
        lines_.push_back(
            {std::string(utf8.substr(pos, brk - pos)), std::string(utf8.substr(brk, eolLen))});
        pos = brk + eolLen;
    }
    Reindex();
}

void ProfileFile::Reindex() {
    sections_.clear();
    SectionIndex* current = nullptr;
    for (size_t i = 0; i < lines_.size(); ++i) {
        const ParsedLine p = ParseLine(lines_[i].text);
        if (p.kind == LineKind::Section) {
            // A repeated section is not read: the first one wins.
            auto [it, added] = sections_.try_emplace(FoldCase(p.name));
            current = added ? &it->second : nullptr;
            if (current) {
                current->header = i;
                current->lastEntry = i;
            }
        } else if (p.kind == LineKind::Entry && current) {
            current->keys.try_emplace(FoldCase(p.name), i);
            current->lastEntry = i;
        }
    }
}

const ProfileFile::SectionIndex* ProfileFile::FindSection(std::string_view section) const {
    const auto it = sections_.find(FoldCase(Trim(section)));
    return it == sections_.end() ? nullptr : &it->second;
}

std::optional<std::string> ProfileFile::Find(std::string_view section, std::string_view key) const {
    const SectionIndex* s = FindSection(section);
    if (!s) {
        return std::nullopt;
    }
    const auto it = s->keys.find(FoldCase(Trim(key)));
    if (it == s->keys.end()) {
        return std::nullopt;
    }
    return std::string(ParseLine(lines_[it->second].text).value);
}

std::string ProfileFile::ReadString(std::string_view section, std::string_view key,
                                    std::string_view defaultValue) const {
    auto v = Find(section, key);
    return v ? std::move(*v) : std::string(defaultValue);
}

int ProfileFile::ReadInteger(std::string_view section, std::string_view key,
                             int defaultValue) const {
    const auto v = Find(section, key);
    if (!v) {
        return defaultValue;
    }
    std::string_view digits = *v;
    if (digits.starts_with('+')) {
        digits.remove_prefix(1);
        if (digits.starts_with('-')) {
            return defaultValue;
        }
    }
    int result = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), result);
    if (ec != std::errc() || end != digits.data() + digits.size() || digits.empty()) {
        return defaultValue;
    }
    return result;
}

bool ProfileFile::HasSection(std::string_view section) const {
    return FindSection(section) != nullptr;
}

std::vector<std::string> ProfileFile::Sections() const {
    std::vector<std::string> names;
    for (size_t i = 0; i < lines_.size(); ++i) {
        const ParsedLine p = ParseLine(lines_[i].text);
        if (p.kind != LineKind::Section) {
            continue;
        }
        const auto it = sections_.find(FoldCase(p.name));
        if (it != sections_.end() && it->second.header == i) {
            names.emplace_back(p.name);
        }
    }
    return names;
}

std::vector<std::string> ProfileFile::Keys(std::string_view section) const {
    std::vector<std::string> keys;
    const SectionIndex* s = FindSection(section);
    if (!s) {
        return keys;
    }
    for (size_t i = s->header + 1; i <= s->lastEntry && i < lines_.size(); ++i) {
        const ParsedLine p = ParseLine(lines_[i].text);
        if (p.kind != LineKind::Entry) {
            continue;
        }
        // Only the line that reads answer for (first occurrence) is listed.
        const auto it = s->keys.find(FoldCase(p.name));
        if (it != s->keys.end() && it->second == i) {
            keys.emplace_back(p.name);
        }
    }
    return keys;
}

std::string ProfileFile::NewLineBreak() const {
    for (const Line& l : lines_) {
        if (!l.eol.empty()) {
            return l.eol;
        }
    }
#ifdef _WIN32
    return "\r\n";
#else
    return "\n";
#endif
}

bool ProfileFile::SetString(std::string_view section, std::string_view key,
                            std::string_view value) {
    if (section.empty() || key.empty() || Trim(section) != section || Trim(key) != key ||
        HasLineBreak(section) || HasLineBreak(key) || HasLineBreak(value) ||
        section.find(']') != std::string_view::npos || key.find('=') != std::string_view::npos ||
        key.front() == '[' || key.front() == ';' || key.front() == '#') {
        return false;
    }
    const std::string eol = NewLineBreak();
    const std::string entry = std::string(key) + "=" + std::string(value);
    const SectionIndex* s = FindSection(section);
    if (s) {
        const auto it = s->keys.find(FoldCase(key));
        if (it != s->keys.end()) {
            // Keep the key as spelled in the file and the blanks around the equals sign.
            std::string& text = lines_[it->second].text;
            size_t valueStart = text.find('=') + 1;
            while (valueStart < text.size() &&
                   (text[valueStart] == ' ' || text[valueStart] == '\t')) {
                ++valueStart;
            }
            text = text.substr(0, valueStart) + std::string(value);
        } else {
            const size_t after = s->lastEntry;
            Line line{entry, eol};
            if (lines_[after].eol.empty()) {
                lines_[after].eol = eol;
                line.eol.clear();
            }
            lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(after + 1), line);
        }
    } else {
        if (!lines_.empty() && lines_.back().eol.empty()) {
            if (lines_.back().text.empty()) {
                lines_.pop_back(); // nothing after the last line break
            } else {
                lines_.back().eol = eol;
            }
        }
        lines_.push_back({"[" + std::string(section) + "]", eol});
        lines_.push_back({entry, eol});
    }
    Reindex();
    return true;
}

bool ProfileFile::ToBytes(std::string& out, std::string* error) const {
    auto fail = [&](std::string why) {
        if (error) {
            *error = std::move(why);
        }
        return false;
    };
    if (!loadError_.empty()) {
        return fail(loadError_);
    }
    if (!lossless_) {
        return fail("the file holds bytes that are not valid text in its encoding; it is left "
                    "unchanged");
    }
    std::string text;
    for (const Line& l : lines_) {
        text += l.text;
        text += l.eol;
    }
    if (!EncodeProfileText(text, encoding_, out)) {
        return fail("the text cannot be stored in the file's encoding");
    }
    return true;
}

bool ProfileFile::Save(std::string* error) const {
    return SaveAs(path_, error);
}

bool ProfileFile::SaveAs(const std::filesystem::path& target, std::string* error) const {
    auto fail = [&](std::string why) {
        if (error) {
            *error = std::move(why);
        }
        return false;
    };
    std::string bytes;
    if (!ToBytes(bytes, error)) {
        return false;
    }
    std::error_code ec;
    if (target.has_parent_path()) {
        std::filesystem::create_directories(target.parent_path(), ec);
        if (ec) {
            return fail("cannot create folder " + target.parent_path().string() + ": " +
                        ec.message());
        }
    }
    // Through a temporary file, so that a failed write never leaves half a file behind.
    std::filesystem::path temp = target;
    temp += ".new";
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (out) {
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (out) {
            // The new file keeps the old one's permissions.
            const auto old = std::filesystem::status(target, ec);
            if (!ec && std::filesystem::exists(old)) {
                std::filesystem::permissions(temp, old.permissions(), ec);
            }
            std::filesystem::rename(temp, target, ec);
        }
        if (!out || ec) {
            std::filesystem::remove(temp, ec);
            return fail("cannot write " + target.string());
        }
        return true;
    }
    // A writable file in a folder that is not: write the file in place.
    std::ofstream direct(target, std::ios::binary | std::ios::trunc);
    if (!direct) {
        return fail("cannot write " + target.string());
    }
    direct.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    direct.close();
    if (!direct) {
        return fail("cannot write " + target.string());
    }
    return true;
}

bool WriteProfileString(const std::filesystem::path& path, std::string_view section,
                        std::string_view key, std::string_view value, std::string* error) {
    ProfileFile f = ProfileFile::Load(path);
    if (!f.SetString(section, key, value)) {
        if (error) {
            *error = "invalid section, key or value";
        }
        return false;
    }
    return f.Save(error);
}

} // namespace vq31
