// A spin box that never drops a keystroke: any whole number may be typed, and a number
// outside the range is refused when editing ends, with a message naming the range, instead
// of being cut to its first digits or clamped without a word.
#pragma once

#include <QSpinBox>

#include <functional>

namespace vq31::app {

class CheckedSpinBox : public QSpinBox {
    Q_OBJECT
public:
    explicit CheckedSpinBox(QWidget* parent = nullptr);

    // Told the refused text and the range; the box then shows its last good value again.
    // The message is shown after the event that ended the editing has been handled.
    void SetRefusal(std::function<void(const QString& text, int minimum, int maximum)> refusal) {
        refusal_ = std::move(refusal);
    }

protected:
    QValidator::State validate(QString& input, int& pos) const override;
    void fixup(QString& input) const override;

private:
    std::function<void(const QString&, int, int)> refusal_;
};

} // namespace vq31::app
