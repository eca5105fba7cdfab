// The calibration report: one PDF document that the engineer hands to the client, with the
// sensor's passport as read from the device, the job's particulars (organisation, client,
// vehicle, plate, tank, technician, notes), the tank's height and scale, how the table was
// made (pours, the tank's geometry, or the geometry corrected by pours), the whole tare
// table, its curve, the results of the table checks, and a line for the signature. Written
// with Qt's own PDF writer; the interface is plain C++ so that the command-line tool calls it
// without any Qt of its own.
#pragma once

#include "tank_calculation.h"
#include "tare_check.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vq31::report {

// The particulars the report dialog asks for, by their names on the command line
// (--field NAME=VALUE) and in the settings file's [REPORT] section, in the report's order.
inline constexpr const char* FieldNames[] = {"organisation", "client",     "vehicle", "plate",
                                             "tank",         "technician", "notes"};
bool IsFieldName(std::string_view name);

// Language keys of the report's texts with their built-in texts. A field's caption has the
// key "rep_" + its name.
struct ReportText {
    const char* key;
    const char* builtIn;
};
const std::vector<ReportText>& ReportTexts();
std::string_view ReportBuiltIn(std::string_view key);

// Text by key: the language file's text, else the built-in one (passed as second argument).
using TextLookup = std::function<std::string(std::string_view key, std::string_view builtIn)>;

struct ReportDevice {
    std::string model;
    std::string serial;
    std::string firmware;
    std::string passportDate;
};

// The passport's forms in the report: serial "%06u", firmware "1.20" from 0x12, passport
// date "DD.MM.20YY" from its bytes (year, month - 1, day - 1).
ReportDevice DeviceFromPassport(uint32_t date, uint32_t serialNumber, uint32_t model,
                                uint32_t firmwareVersion);

// How the table was made. Unknown (a table read back from a device) prints no method;
// Geometry names the shape and its dimensions, and the pours when they corrected it.
enum class TableMethod { Unknown, Pours, Geometry };

// Where the table in the report stands: read from the sensor or stored and written to it,
// stored in the window but not yet written to the sensor, or still only the window's grid
// (shown as OK would store it). The last two print a warning under the tank data.
enum class TableState { OnSensor, NotWritten, NotStored };

struct ReportData {
    ReportDevice device;
    std::string madeAt; // empty: the local date and time when written
    int tankId = 1;
    double tankHeightMm = 0.0;
    unsigned scaleMl = 0;
    // Field name to value; names missing here print as empty lines to fill in by hand.
    std::vector<std::pair<std::string, std::string>> fields;
    std::vector<TarePoint> points;
    std::vector<TareIssue> issues;
    TableMethod method = TableMethod::Unknown;
    std::optional<ShapeCalculation> shape; // with TableMethod::Geometry
    TableState state = TableState::OnSensor;
    std::string decimalPoint = ".";
    TextLookup text; // empty: built-in texts
};

// Writes the report to path (through a temporary file beside it, so a failed write leaves an
// existing file as it was). Creates an offscreen Qt GUI application for the call when the
// process has none. False with the reason in error.
bool WriteReportPdf(const ReportData& data, const std::string& path, std::string& error);

} // namespace vq31::report
