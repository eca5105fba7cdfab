// The report dialog of the tare window: the particulars of the job that the calibration report
// carries (organisation, client, vehicle and plate, tank, technician, notes). It opens with the
// values of the last report and hands back what the user typed.
#pragma once

#include <QDialog>

#include <functional>
#include <map>
#include <string>

class QLineEdit;
class QPlainTextEdit;

namespace vq31 {

class ReportDialog : public QDialog {
public:
    using Fields = std::map<std::string, std::string>; // field name -> value
    using TextOf = std::function<QString(std::string_view key, std::string_view builtIn)>;

    ReportDialog(const Fields& values, const TextOf& text, QWidget* parent = nullptr);

    Fields Values() const;

private:
    std::map<std::string, QLineEdit*> edits_;
    QPlainTextEdit* notes_ = nullptr;
};

} // namespace vq31
