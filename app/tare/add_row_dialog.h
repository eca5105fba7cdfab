// The add-row dialog (TForm_Add): a small window where the engineer types (litres, level)
// pairs by hand, each going into the tare editor's grid through the editor's InsertTareRow.
// It stays open for any number of pairs; every accepted pair is in the grid at once.
#pragma once

#include <QDialog>

class QLineEdit;
class QPushButton;

namespace vq31 {

class TareEditor;

class AddRowDialog : public QDialog {
    Q_OBJECT
public:
    // The editor owns the dialog, gives it its texts and message boxes, and takes the pairs.
    explicit AddRowDialog(TareEditor& editor);

    // "Добавить": checks both fields, hands the pair to the editor, and puts the focus back
    // into the litres field; the fields keep their texts. True when the editor took the pair.
    bool AddPair();

protected:
    void showEvent(QShowEvent* event) override;

private:
    TareEditor& editor_;
    QLineEdit* editLitr_ = nullptr;
    QLineEdit* editCode_ = nullptr;
    QPushButton* btnAdd_ = nullptr;
    QPushButton* btnExit_ = nullptr;
};

} // namespace vq31
