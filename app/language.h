#pragma once
// Which language the program speaks: Chinese, its own, or the English translation. The
// command line's --lang wins; otherwise the locale variables decide. Plain functions, no Qt,
// any thread.

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

enum class Language { Chinese, English };

// "zh" or "en"; anything else is no language.
std::optional<Language> LanguageByName(std::string_view name);

// Looks up an environment variable; nullptr when unset (std::getenv fits).
using EnvLookup = std::function<const char*(const char*)>;

// The first non-empty of LANGUAGE (its first colon-separated entry), LC_ALL, LC_MESSAGES and
// LANG, as gettext reads them. zh, zh_*, C and POSIX (with or without a codeset) keep the
// program's own Chinese; any other locale gets English; none set at all is the C locale.
Language LanguageFromLocale(const EnvLookup& env);

// --lang from the command line if given, else the locale.
Language ChooseLanguage(std::optional<Language> commandLine, const EnvLookup& env);

// The value of "--lang X" or "--lang=X" among the arguments (argv without the program name);
// an empty string when --lang is the last argument; nullopt when there is no --lang.
std::optional<std::string> FindLangArgument(std::span<char* const> arguments);
