#pragma once
// Puts the chosen language into effect: English loads the translation built into the program,
// Chinese, the source language, needs none. GUI thread, after the QApplication exists and
// before the widgets that show the texts are made.

#include "language.h"

// The translation catalogue built into the program.
inline constexpr const char* kEnglishCatalogue = ":/i18n/tavrin_en.qm";

// Replaces the translation installed before, if any. False when the English catalogue cannot
// be loaded; the texts then stay Chinese.
bool InstallTranslation(Language language);

// Chooses the language from --lang among the arguments (argv after the program name) and the
// process environment, and installs it. False, after a message on stderr, when --lang names
// no language the program speaks.
bool SetUpLanguage(std::span<char* const> arguments);
