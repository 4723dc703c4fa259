#include "app/language.h"

namespace {

// The locale name's language before any territory, codeset or modifier: "zh" of
// "zh_CN.UTF-8", "C" of "C.UTF-8".
std::string_view LanguagePart(std::string_view locale) {
    return locale.substr(0, locale.find_first_of("_.@"));
}

} // namespace

std::optional<Language> LanguageByName(std::string_view name) {
    if (name == "zh") {
        return Language::Chinese;
    }
    if (name == "en") {
        return Language::English;
    }
    return std::nullopt;
}

Language LanguageFromLocale(const EnvLookup& env) {
    for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = env(name);
        if (value == nullptr || *value == '\0') {
            continue;
        }
        std::string_view locale(value);
        locale = locale.substr(0, locale.find(':'));
        if (locale.empty()) {
            continue; // a LANGUAGE list that starts with a colon names nothing first
        }
        const std::string_view language = LanguagePart(locale);
        const bool ownLanguage = language == "zh" || language == "C" || locale == "POSIX";
        return ownLanguage ? Language::Chinese : Language::English;
    }
    return Language::Chinese;
}

Language ChooseLanguage(std::optional<Language> commandLine, const EnvLookup& env) {
    return commandLine ? *commandLine : LanguageFromLocale(env);
}

std::optional<std::string> FindLangArgument(std::span<char* const> arguments) {
    constexpr std::string_view kOption = "--lang";
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string_view argument(arguments[i]);
        if (argument == "--") {
            break;
        }
        if (argument == kOption) {
            return i + 1 < arguments.size() ? std::string(arguments[i + 1]) : std::string();
        }
        if (argument.starts_with(kOption) && argument[kOption.size()] == '=') {
            return std::string(argument.substr(kOption.size() + 1));
        }
    }
    return std::nullopt;
}
