// Texts of the oscilloscope page built from an echo status record: the current-value labels
// and the live measurement fields. Numbers use '.' as the decimal point; a window that shows
// the user's own separator replaces it.
#pragma once

#include "commands.h"
#include "language_texts.h"
#include "worker_view.h"

namespace vq31 {

// Words of the echo status record.
namespace echo {
inline constexpr size_t Frequency = 1;
inline constexpr size_t Filter = 3;
inline constexpr size_t Gain = 4;
inline constexpr size_t Attenuator = 5;
inline constexpr size_t PulseWidth = 6;
inline constexpr size_t ErrorCode = 8;
inline constexpr size_t Position = 9;
inline constexpr size_t Divider = 11;
inline constexpr size_t Corrected = 14;
inline constexpr size_t Uncorrected = 15;
inline constexpr size_t FrameCounter = 16;
inline constexpr size_t Temperature = 21;
inline constexpr size_t Level = 31;
inline constexpr size_t NoLevel = 33;
inline constexpr uint16_t WideBandFilter = 450;
} // namespace echo

EchoLabels FormatEchoLabels(const EchoStatusRecord& status, const LanguageTexts& texts);
EchoFields FormatEchoFields(const EchoStatusRecord& status, const LanguageTexts& texts);
// The fields of the raw and filtered modes: "-" everywhere.
EchoFields DashEchoFields();

} // namespace vq31
