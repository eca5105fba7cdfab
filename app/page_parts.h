// Small pieces shared by the page builders of the main window: naming a control after the
// component it stands for (the language file's key), and the link speeds offered in lists.
#pragma once

#include <QObject>
#include <QString>

namespace vq31::app {

template <typename T> T* Named(T* widget, const QString& name) {
    widget->setObjectName(name);
    return widget;
}

inline constexpr const char* LinkSpeeds[] = {"2400",  "4800",  "9600",  "19200",
                                             "38400", "57600", "115200"};

} // namespace vq31::app
