// Keeps number formatting and parsing of the workbook libraries in the C form on the calling
// thread, whatever locale the process runs under (a GUI toolkit may have set the user's), so
// a workbook never gets "12,5" where its format needs "12.5".
#pragma once

#include <clocale>
#include <locale.h>

namespace vq31::sheets {

class CLocaleScope {
public:
    CLocaleScope() : c_(newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr))) {
        if (c_) {
            previous_ = uselocale(c_);
        }
    }
    ~CLocaleScope() {
        if (c_) {
            uselocale(previous_);
            freelocale(c_);
        }
    }
    CLocaleScope(const CLocaleScope&) = delete;
    CLocaleScope& operator=(const CLocaleScope&) = delete;

private:
    locale_t c_;
    locale_t previous_ = LC_GLOBAL_LOCALE;
};

} // namespace vq31::sheets
