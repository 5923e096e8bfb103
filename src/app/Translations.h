#pragma once

#include <QString>
#include <optional>

#include "Language.h"

namespace praxon {

// The word a language is stored under in the settings: "zh" or "en".
QString languageCode(Language language);
// The language of a stored word; nothing for any other word.
std::optional<Language> languageFromCode(const QString& code);

// Makes the application speak one language: the window's own texts (their source is Chinese, so
// only English needs a catalogue) and Qt's dialogs and buttons (their source is English, so only
// Chinese needs Qt's catalogue). Replaces what an earlier call installed; every widget receives
// QEvent::LanguageChange. False when a catalogue the language needs was not found (the texts
// concerned stay in their source language).
bool useLanguage(Language language);

// The language last passed to useLanguage; Chinese before any call.
Language currentLanguage();

}  // namespace praxon
