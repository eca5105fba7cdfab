// Shared pieces of the tare window tests: an editor over a tank record whose message boxes
// and questions are recorded and answered from a script, and readers for its controls.
#pragma once

#include "hub_image.h"
#include "language_texts.h"
#include "tare_editor.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>

#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace vq31::test {

using Rows = std::vector<std::pair<QString, QString>>;

class TareWindowTest : public ::testing::Test {
protected:
    std::unique_ptr<TareEditor> Open(bool readOnly = false) {
        auto editor = std::make_unique<TareEditor>(tank, texts, readOnly, nullptr);
        editor->SetErrorBox([this](const QString& text) { errors.push_back(text); });
        editor->SetQuestion([this](const QString& text) {
            questions.push_back(text);
            const bool yes = !answers.empty() && answers.front();
            if (!answers.empty()) {
                answers.pop_front();
            }
            return yes;
        });
        editor->show();
        return editor;
    }

    template <typename W> static W* Child(QWidget* window, const char* name) {
        W* widget = window->findChild<W*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }

    // The grid's table rows as shown: (litres, level).
    static Rows Shown(QWidget* editor) {
        auto* table = Child<QTableWidget>(editor, "sg_tare1");
        Rows rows;
        for (int r = 0; r < table->rowCount(); ++r) {
            rows.emplace_back(table->item(r, 1)->text(), table->item(r, 2)->text());
        }
        return rows;
    }

    static QStringList Numbers(QWidget* editor) {
        auto* table = Child<QTableWidget>(editor, "sg_tare1");
        QStringList numbers;
        for (int r = 0; r < table->rowCount(); ++r) {
            numbers << table->item(r, 0)->text();
        }
        return numbers;
    }

    LanguageTexts texts;
    TankRecord tank;
    std::vector<QString> errors;
    std::vector<QString> questions;
    std::deque<bool> answers;
};

} // namespace vq31::test
