// User actions on the main window's controls, shared by the window tests.
#pragma once

#include <QComboBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

#include <string>

namespace vq31::app::test {

// A list choice as the user makes it: the selection, then the "activated" notification.
inline void Choose(QComboBox* list, int index) {
    list->setCurrentIndex(index);
    emit list->activated(index);
}

inline void ClickTab(QTabWidget* tabs, int index) {
    QTabBar* bar = tabs->tabBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(index).center());
}

inline bool Holds(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

} // namespace vq31::app::test
