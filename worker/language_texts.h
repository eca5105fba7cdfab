// The message, status and list texts of the main window, with their language-file keys and
// built-in Russian defaults. The program creates one set at start, lets the language file
// replace any text by key, and hands it to every job and window step that shows a message;
// nothing changes it after device work has begun.
#pragma once

#include "status_texts.h"

#include <initializer_list>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace vq31 {

// Language keys of the message texts.
namespace msg {
inline constexpr const char* ChangeLanguage = "msg_change_language";
inline constexpr const char* ErrorOpenPort = "msg_error_open_port";
inline constexpr const char* SoundSpeedWrong = "msg_us_speed_wrong";
inline constexpr const char* ThermoWrong = "msg_us_thermo_wrong";
inline constexpr const char* FirmwareWrong = "msg_firmware_version_wrong";
inline constexpr const char* HubWrong = "msg_hub_wrong";
inline constexpr const char* DeviceWrong = "msg_device_wrong";
inline constexpr const char* TableTooBig = "msg_table_too_big";
inline constexpr const char* UpdateProgram = "msg_update_program";
inline constexpr const char* Ok = "msg_Ok";
inline constexpr const char* ErrorE = "msg_errorE";
inline constexpr const char* Signal = "msg_signal";
inline constexpr const char* Scanning = "msg_scanning";
inline constexpr const char* Inactive = "msg_inactive";
inline constexpr const char* Wide = "msg_wide";
inline constexpr const char* AutoCompleted = "msg_auto_completed";
inline constexpr const char* AutoFailed = "msg_auto_failed";
inline constexpr const char* AfcCompleted = "msg_afc_completed";
// After a successful tuning step 2: what the device set (one line per changed setting, each
// "name: before → after"), or that its signal settings stayed as they were.
inline constexpr const char* AutoFound = "msg_auto_found";
inline constexpr const char* AutoSame = "msg_auto_same";
inline constexpr const char* TuneFrequency = "str_tune_frequency";
inline constexpr const char* TuneFilter = "str_tune_filter";
inline constexpr const char* TunePulse = "str_tune_pulse";
inline constexpr const char* TuneGain = "str_tune_gain";
inline constexpr const char* TuneAttenuator = "str_tune_attenuator";
inline constexpr const char* TuneIntegrator = "str_tune_integrator";
// Shown in the device-status panel when the parameters are written with no speed chosen.
inline constexpr const char* SpeedNotChosen = "msg_speed_not_chosen";
// Asked before a tank-list workbook without a single tank sheet replaces every preset.
inline constexpr const char* NoTankSheets = "msg_no_tank_sheets";
// A typed value outside its control's range: %1 the value, %2 and %3 the range.
inline constexpr const char* OutOfRange = "msg_out_of_range";
// The language file was not found: %1 the places searched.
inline constexpr const char* LanguageMissing = "msg_language_missing";
// Rows a tank-list import left out: %1 one line per sheet.
inline constexpr const char* RowsLeftOut = "msg_rows_left_out";
// A file the program writes (chart picture or points) could not be written: %1 the reason.
inline constexpr const char* FileWriteFailed = "msg_file_write_failed";
// Snapshots before writes and read-back checks after them; the details follow the text.
inline constexpr const char* SnapshotFailed = "msg_snapshot_failed";
inline constexpr const char* NothingWritten = "msg_nothing_written";
inline constexpr const char* ReadBackFailed = "msg_readback_failed";
inline constexpr const char* ReadBackDiffers = "msg_readback_differs";
inline constexpr const char* SnapshotNone = "msg_snapshot_none";
inline constexpr const char* SnapshotOtherSerial = "msg_snapshot_other_sn";
inline constexpr const char* SnapshotAskOther = "msg_snapshot_ask_other";
inline constexpr const char* SnapshotSame = "msg_snapshot_same";
inline constexpr const char* SnapshotDiffers = "msg_snapshot_differs";
inline constexpr const char* SnapshotRestored = "msg_snapshot_restored";
// A hub write that failed part-way: %1 pages written of %2; then the offer to restore.
inline constexpr const char* HubPagesWritten = "msg_hub_pages_written";
inline constexpr const char* HubOfferRestore = "msg_hub_offer_restore";
// The open port's adapter was unplugged (%1 the port); and the offer once it is back.
inline constexpr const char* PortUnplugged = "msg_port_unplugged";
inline constexpr const char* PortBack = "msg_port_back";
// A raw TCP gateway (%1) keeps its own speed: the search tries only %2 bit/s; and the fast
// mode of the oscilloscope, which needs %2 bit/s, is refused on it.
inline constexpr const char* GatewayOwnSpeed = "msg_gateway_own_speed";
inline constexpr const char* GatewayNoFastMode = "msg_gateway_no_fast_mode";
// A new device speed (%2) cannot be written through a raw TCP gateway (%1).
inline constexpr const char* GatewayNoSpeedChange = "msg_gateway_no_speed_change";
// The snapshot window and the traffic window.
inline constexpr const char* SnapshotListEmpty = "msg_snapshot_list_empty";
inline constexpr const char* SnapshotUnreadable = "msg_snapshot_unreadable";
inline constexpr const char* SnapshotAskRestore = "msg_snapshot_ask_restore";
inline constexpr const char* SnapshotAskRestoreParams = "msg_snapshot_ask_restore_params";
inline constexpr const char* SnapshotTime = "msg_snapshot_time";
inline constexpr const char* SnapshotLink = "msg_snapshot_link";
inline constexpr const char* SnapshotFuel = "msg_snapshot_fuel";
inline constexpr const char* SnapshotTank = "msg_snapshot_tank";
inline constexpr const char* SnapshotHub = "msg_snapshot_hub";
// Snapshots in plain words: a snapshot in the window's list, its serial number and reason,
// the reasons, and the comparison with the device line by line.
inline constexpr const char* SnapshotItem = "msg_snapshot_item";
inline constexpr const char* SnapshotNoHub = "msg_snapshot_no_hub";
inline constexpr const char* SnapshotNoFolder = "msg_snapshot_no_folder";
inline constexpr const char* SnapshotFolder = "msg_snapshot_folder";
inline constexpr const char* SnapshotSerial = "msg_snapshot_serial";
inline constexpr const char* SnapshotReason = "msg_snapshot_reason";
inline constexpr const char* ReasonTable = "msg_reason_table";
inline constexpr const char* ReasonTanks = "msg_reason_tanks";
inline constexpr const char* ReasonActive = "msg_reason_active";
inline constexpr const char* ReasonHeight = "msg_reason_height";
inline constexpr const char* ReasonSettings = "msg_reason_settings";
inline constexpr const char* ReasonRestore = "msg_reason_restore";
inline constexpr const char* ReasonUnknown = "msg_reason_unknown";
inline constexpr const char* DiffLine = "msg_diff_line";
inline constexpr const char* DiffTableValues = "msg_diff_table_values";
inline constexpr const char* DiffHubBytes = "msg_diff_hub_bytes";
inline constexpr const char* DiffRows = "str_diff_rows";
inline constexpr const char* DiffAbsent = "str_diff_absent";
inline constexpr const char* DiffOn = "str_diff_on";
inline constexpr const char* DiffOff = "str_diff_off";
inline constexpr const char* DiffTable = "str_field_table";
// Hub image pages a write did not store (%1 the page numbers), and an image of another size.
inline constexpr const char* FieldHubPages = "str_field_hubpages";
inline constexpr const char* FieldHubSize = "str_field_hubsize";
// The traffic window's health lines and its save dialog's filter.
inline constexpr const char* TrafficCounts = "msg_traffic_counts";
inline constexpr const char* TrafficExchanges = "msg_traffic_exchanges";
inline constexpr const char* TrafficLastError = "msg_traffic_last_error";
inline constexpr const char* TrafficNone = "str_traffic_none";
inline constexpr const char* TrafficOther = "str_traffic_status_other";
inline constexpr const char* FilterText = "str_filter_text";
inline constexpr const char* FilterAll = "str_filter_all";
inline constexpr const char* HubSound = "msg_hub_sound";
inline constexpr const char* HubBroken = "msg_hub_broken";
inline constexpr const char* SaveFailed = "msg_save_failed";
// Outcomes of the one write path.
inline constexpr const char* WriteDone = "msg_write_done";
inline constexpr const char* WriteUnchanged = "msg_write_unchanged";
inline constexpr const char* WriteFinished = "msg_write_finished";
inline constexpr const char* WritePutBack = "msg_write_put_back";
inline constexpr const char* TankIdWritten = "msg_tank_id_written";
inline constexpr const char* SettingsWritten = "msg_settings_written";
inline constexpr const char* RestoreFrom = "msg_restore_from";
inline constexpr const char* SlotBusy = "msg_slot_busy";
// Line census and re-addressing.
inline constexpr const char* CensusColumns = "msg_census_columns";
inline constexpr const char* CensusFound = "msg_census_found";
inline constexpr const char* CensusCollision = "msg_census_collision";
inline constexpr const char* CensusProgress = "msg_census_progress";
inline constexpr const char* CensusDone = "msg_census_done";
inline constexpr const char* CensusCancelled = "msg_census_cancelled";
inline constexpr const char* CensusNoise = "msg_census_noise";
inline constexpr const char* ReaddressAsk = "msg_readdress_ask";
inline constexpr const char* ReaddressDone = "msg_readdress_done";
inline constexpr const char* ReaddressBad = "msg_readdress_bad";
inline constexpr const char* ReaddressTaken = "msg_readdress_taken";
inline constexpr const char* ReaddressNoSensor = "msg_readdress_no_sensor";
inline constexpr const char* ReaddressCollision = "msg_readdress_collision";
inline constexpr const char* ReaddressWriteFailed = "msg_readdress_write_failed";
inline constexpr const char* ReaddressNotConfirmed = "msg_readdress_unconfirmed";
} // namespace msg

struct TextEntry {
    const char* key;
    const char* text;
};

// The text with %1, %2, ... replaced by the arguments in order (at most nine).
std::string WithArguments(std::string_view text, std::initializer_list<std::string> arguments);

class LanguageTexts {
public:
    // Every text at its built-in default.
    LanguageTexts();

    // The built-in message keys and texts, in table order.
    static const std::vector<TextEntry>& MessageDefaults();
    // The built-in list keys and texts ("str_cmb_..."), in table order.
    static const std::vector<TextEntry>& ListDefaults();

    // The text of a message or list key; empty for a key with no text.
    const std::string& Text(std::string_view key) const;
    // Replaces (or adds) one text; used by the language-file loader.
    void Set(const std::string& key, std::string text);

    // Status-bar texts: DeviceStatusTexts and PortStatusTexts.
    const std::string& DeviceStatus(int status) const;
    const std::string& PortStatus(int portState) const;
    StatusTexts& Status() { return status_; }
    const StatusTexts& Status() const { return status_; }

private:
    std::map<std::string, std::string, std::less<>> texts_;
    StatusTexts status_;
};

} // namespace vq31
