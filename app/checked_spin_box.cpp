// The spin box that refuses out-of-range numbers with a message instead of dropping keys.
#include "checked_spin_box.h"

#include <QLineEdit>
#include <QMetaObject>

namespace vq31::app {

CheckedSpinBox::CheckedSpinBox(QWidget* parent) : QSpinBox(parent) {
    // The value changes when editing ends, so a refused number goes back to the value from
    // before the editing, not to a number on the way ("700" on the way to "70000").
    setKeyboardTracking(false);
}

QValidator::State CheckedSpinBox::validate(QString& input, int& pos) const {
    const QString text = input.trimmed();
    if (text.isEmpty() || text == QLatin1String("-") || text == QLatin1String("+"))
        return QValidator::Intermediate;
    bool ok = false;
    const qlonglong value = text.toLongLong(&ok, 10);
    if (!ok)
        return QSpinBox::validate(input, pos); // not a number: the box's own rules
    // An out-of-range number stays typed; editing's end refuses it (fixup).
    return value >= minimum() && value <= maximum() ? QValidator::Acceptable
                                                    : QValidator::Intermediate;
}

void CheckedSpinBox::fixup(QString& input) const {
    const QString typed = input.trimmed();
    bool ok = false;
    typed.toLongLong(&ok, 10);
    input = QString::number(value()); // the last good value comes back
    if (!ok || !refusal_)
        return;
    // Queued: a box opened inside the focus change that ended the editing would end it again.
    auto refusal = refusal_;
    const int low = minimum(), high = maximum();
    QMetaObject::invokeMethod(
        const_cast<CheckedSpinBox*>(this),
        [refusal, typed, low, high] { refusal(typed, low, high); }, Qt::QueuedConnection);
}

} // namespace vq31::app
