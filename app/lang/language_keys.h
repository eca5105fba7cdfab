// The language keys of the windows beside the main window's message and list texts: the
// captioned controls of each window with their built-in captions, and the texts of the tare
// table window and the add-row dialog with their built-in defaults. Windows build their
// controls with these captions and read their texts by these keys; the shipped language file
// is checked against them.
#pragma once

#include <vector>

namespace vq31 {

struct KeyText {
    const char* key;
    const char* text;
};

// Captions of the main window's labels, buttons, check boxes, group boxes, tool buttons and
// pages (value labels that the program writes at run time are not listed).
const std::vector<KeyText>& MainWindowCaptions();
// Captions of the tare table window's labels, buttons, group boxes and menu items.
const std::vector<KeyText>& TareWindowCaptions();
// Captions of the add-row dialog's labels and buttons.
const std::vector<KeyText>& AddRowCaptions();
// Captions and titles of the snapshot window and the traffic window.
const std::vector<KeyText>& ToolWindowCaptions();

// Window caption keys.
inline constexpr const char* TareWindowKey = "Form_Tare1";
inline constexpr const char* AddRowWindowKey = "Form_Add";
inline constexpr const char* SnapshotWindowKey = "FormSnapshots";
inline constexpr const char* TrafficWindowKey = "FormTraffic";

// Text keys of the tare table window and the add-row dialog.
namespace tare_msg {
inline constexpr const char* Column0 = "sg_tare_column0";
inline constexpr const char* Column1 = "sg_tare_column1";
inline constexpr const char* Column2 = "sg_tare_column2";
inline constexpr const char* WrongCode = "msg_wrong_code_value";
inline constexpr const char* WrongLitres = "msg_wrong_litr_value";
inline constexpr const char* AccuracyWrong = "msg_accuracy_value_wrong";
inline constexpr const char* PortionWrong = "msg_fuel_portion_wrong";
inline constexpr const char* PortionTooSmall = "msg_fuel_portion_too_small";
inline constexpr const char* ChangeBelowAccuracy = "msg_code_change_less_than_accuracy";
inline constexpr const char* DrainTooBig = "msg_drain_portion_too_big";
inline constexpr const char* TableWillTruncate = "msg_table_will_trunc";
// The add-row dialog's message for a litres field that is not a number. It has a key of its
// own so that a translation of the level message does not also replace it.
inline constexpr const char* LitresNotNumber = "msg_litres_value_wrong";
} // namespace tare_msg

// Window caption and texts of the tare table window ("Form_Tare1", column headers, messages).
const std::vector<KeyText>& TareWindowTexts();
// Window caption and texts of the add-row dialog ("Form_Add" and its two messages).
const std::vector<KeyText>& AddRowTexts();

} // namespace vq31
