// Snapshots in plain words, in the language of the window's texts: why a snapshot was taken
// ("before writing the tare table of tank 2"), and what differs between a saved snapshot and
// the device, one line per field with the device's value beside the snapshot's.
#pragma once

#include "language_texts.h"
#include "snapshot.h"

#include <string>
#include <vector>

namespace vq31 {

// The reason as a phrase; from is the restored snapshot's time as it is to be shown.
std::string ReasonWords(const SnapshotReason& reason, const LanguageTexts& texts,
                        const std::string& from);

// One line per difference between the saved snapshot and the device: the parameters (the
// link flags split into speed, automatic output, answer to 255 and data width), the tank in
// use and its height, then each tank whose table differs. Empty when nothing differs.
std::vector<std::string> DifferenceLines(const Snapshot& saved, const Snapshot& device,
                                         const LanguageTexts& texts);

// The whole comparison as shown: the differences under a heading, or the plain statement
// that nothing differs.
std::string CompareText(const Snapshot& saved, const Snapshot& device, const LanguageTexts& texts);

// The names of the fields a write stored or its read-back found different (the write path's
// own English names) in the window's words, joined by commas; a name it does not know stays.
std::string FieldWords(const std::vector<std::string>& names, const LanguageTexts& texts);

} // namespace vq31
