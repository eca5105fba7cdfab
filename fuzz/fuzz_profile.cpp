// fuzz-libs: vq31_text
// Private-profile files from any bytes: parsing must not fail, an unchanged file must write
// back byte for byte, and a one-key write must keep every other value and read back itself.
// The profile layer is compiled in here: its library belongs to the program's folder, which
// a build without the window does not enter. The encodings come from their core library.
#include "../app/lang/profile_file.cpp"

#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <utility>

namespace {

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

using Values = std::map<std::pair<std::string, std::string>, std::string>;

Values AllValues(const vq31::ProfileFile& f) {
    Values values;
    for (const auto& section : f.Sections()) {
        for (const auto& key : f.Keys(section)) {
            values[{vq31::FoldCase(section), vq31::FoldCase(key)}] = *f.Find(section, key);
        }
    }
    return values;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    vq31::ProfileFile f = vq31::ProfileFile::FromBytes(bytes);
    const Values before = AllValues(f);
    for (const auto& [name, value] : before) {
        (void)f.ReadInteger(name.first, name.second, 0);
    }

    std::string out;
    const bool writable = f.ToBytes(out);
    if (writable) {
        Check(out == bytes);
    }

    // Change one key: the first key of the first section when there is one, else a new one.
    std::string section = "Fuzz";
    std::string key = "Key";
    if (!before.empty()) {
        const auto sections = f.Sections();
        for (const auto& s : sections) {
            const auto keys = f.Keys(s);
            if (!keys.empty()) {
                section = s;
                key = keys.front();
                break;
            }
        }
    }
    if (!f.SetString(section, key, "Да 1")) {
        return 0; // names as spelled in the file may hold blanks or brackets a write refuses
    }
    Check(f.Find(section, key) == "Да 1");
    Values expected = before;
    expected[{vq31::FoldCase(section), vq31::FoldCase(key)}] = "Да 1";
    Check(AllValues(f) == expected);

    if (writable && f.ToBytes(out)) {
        const vq31::ProfileFile again = vq31::ProfileFile::FromBytes(out);
        Check(again.Find(section, key) == "Да 1");
        Check(AllValues(again) == expected);
    }
    return 0;
}
