#pragma once
// Puts the chosen language into effect: English loads the translation built into the program,
// Chinese, the source language, needs none. The catalogue can be chosen before the
// QApplication exists (the command line's help is written then) and is installed into the
// application once it does. GUI thread, before the widgets that show the texts are made.

#include "app/language.h"

#include <QString>

#include <span>

// The translation catalogue built into the program.
inline constexpr const char* kEnglishCatalogue = ":/i18n/tavrin_en.qm";

// Loads the catalogue of `language` in place of the one chosen before (taking that one out of
// the application); needs no application object. False when the English catalogue cannot be
// loaded; the texts then stay Chinese.
bool SelectLanguage(Language language);

// The language SelectLanguage chose last; Chinese before any choice.
Language SelectedLanguage();

// Installs the selected catalogue into the application; the QApplication must exist.
void ApplySelectedLanguage();

// SelectLanguage, then ApplySelectedLanguage.
bool InstallTranslation(Language language);

// Qt's own texts (the command line parser's headings and errors) in the selected language:
// for Chinese, Debian's qt6-translations-l10n catalogue when installed; without it they stay
// Qt's English. The application object must exist.
void ApplyQtCatalogue();

// `source` in the selected language, under `context`; works before the application exists,
// where QCoreApplication::translate cannot yet see any catalogue.
QString TranslateText(const char* context, const char* source);

// Chooses the language from --lang among the arguments (argv after the program name) and the
// process environment, and selects it. False, after a message on stderr, when --lang names no
// language the program speaks.
bool SetUpLanguage(std::span<char* const> arguments);
