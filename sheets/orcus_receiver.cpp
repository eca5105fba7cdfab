// Number and cell reference parsing of the orcus receiver.
#include "orcus_receiver.h"

#include <cctype>
#include <charconv>

namespace vq31::sheets::reader {

bool ParsePlainNumber(std::string_view s, double& value) {
    if (s.empty() || s.front() == ' ' || s.back() == ' ') {
        return false;
    }
    std::string_view body = s.front() == '+' ? s.substr(1) : s;
    if (body.empty() || !(std::isdigit(static_cast<unsigned char>(body.front())) ||
                          body.front() == '-' || body.front() == '.')) {
        return false;
    }
    const auto [end, ec] = std::from_chars(body.data(), body.data() + body.size(), value);
    return ec == std::errc() && end == body.data() + body.size();
}

bool ParseCommaNumber(std::string_view s, double& value) {
    const auto comma = s.find(',');
    if (comma == std::string_view::npos || s.find(',', comma + 1) != std::string_view::npos ||
        s.find('.') != std::string_view::npos) {
        return false;
    }
    std::string plain(s);
    plain[comma] = '.';
    return ParsePlainNumber(plain, value);
}

bool ParseA1(std::string_view ref, ss::row_t& row, ss::col_t& col) {
    if (const auto bang = ref.rfind('!'); bang != std::string_view::npos) {
        ref.remove_prefix(bang + 1);
    }
    // OpenDocument references name the sheet before a point, or start with the point alone.
    if (const auto point = ref.rfind('.'); point != std::string_view::npos) {
        ref.remove_prefix(point + 1);
    }
    std::size_t i = 0;
    if (i < ref.size() && ref[i] == '$') {
        ++i;
    }
    long c = 0;
    std::size_t letters = 0;
    for (; i < ref.size() && std::isalpha(static_cast<unsigned char>(ref[i])); ++i, ++letters) {
        c = c * 26 + (std::toupper(static_cast<unsigned char>(ref[i])) - 'A' + 1);
        if (c > static_cast<long>(MaxReadColumns)) {
            return false;
        }
    }
    if (i < ref.size() && ref[i] == '$') {
        ++i;
    }
    long r = 0;
    const auto [end, ec] = std::from_chars(ref.data() + i, ref.data() + ref.size(), r);
    if (letters == 0 || ec != std::errc() || end != ref.data() + ref.size() || r < 1 ||
        r > static_cast<long>(MaxReadRows)) {
        return false;
    }
    row = static_cast<ss::row_t>(r - 1);
    col = static_cast<ss::col_t>(c - 1);
    return true;
}

} // namespace vq31::sheets::reader
