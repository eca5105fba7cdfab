// Fills the main window's texts (messages, lists, status bar) from the language in use; a
// key missing from the file keeps the built-in text, a key with an empty value empties it.
#include "language_file.h"
#include "language_texts.h"

namespace vq31 {

void LanguageFile::LoadTexts(LanguageTexts& texts) const {
    for (const auto& e : LanguageTexts::MessageDefaults()) {
        texts.Set(e.key, Text(e.key, texts.Text(e.key)));
    }
    for (const auto& e : LanguageTexts::ListDefaults()) {
        texts.Set(e.key, Text(e.key, texts.Text(e.key)));
    }
    LoadStatusTexts(texts.Status());
}

} // namespace vq31
