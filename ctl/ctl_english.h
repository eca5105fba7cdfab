// The tool speaks English: its texts come from the English section of the program's own
// language file, built into the tool, so the window and the tool share one wording.
#pragma once

#include "language_texts.h"
#include "status_texts.h"

namespace vq31::ctl {

// Every message, list and status text in English (the built-in Russian where the English
// section has no text for a key).
const LanguageTexts& EnglishTexts();
// The status texts alone.
const StatusTexts& EnglishStatus();

} // namespace vq31::ctl
