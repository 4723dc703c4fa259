#include "translation.h"

#include <QCoreApplication>
#include <QTranslator>

#include <cstdio>
#include <cstdlib>
#include <memory>

bool InstallTranslation(Language language) {
    // Lives as long as the program, so translate() never meets a catalogue that is gone.
    static std::unique_ptr<QTranslator> installed;
    if (installed) {
        QCoreApplication::removeTranslator(installed.get());
        installed.reset();
    }
    if (language == Language::Chinese) {
        return true;
    }
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(QString::fromUtf8(kEnglishCatalogue))) {
        return false;
    }
    QCoreApplication::installTranslator(translator.get());
    installed = std::move(translator);
    return true;
}

bool SetUpLanguage(std::span<char* const> arguments) {
    std::optional<Language> fromCommandLine;
    if (const auto name = FindLangArgument(arguments)) {
        fromCommandLine = LanguageByName(*name);
        if (!fromCommandLine) {
            std::fprintf(stderr, "tavrin: --lang takes zh or en, not \"%s\"\n", name->c_str());
            return false;
        }
    }
    if (!InstallTranslation(ChooseLanguage(fromCommandLine, std::getenv))) {
        std::fprintf(stderr, "tavrin: the English texts could not be loaded; showing Chinese\n");
    }
    return true;
}
