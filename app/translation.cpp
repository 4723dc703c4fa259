#include "app/translation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

struct Catalogue {
    std::unique_ptr<QTranslator> translator; // none: the Chinese source texts
    bool installed = false;                  // in the application's list
};

// Lives as long as the program, so translate() never meets a catalogue that is gone.
Catalogue& Selected() {
    static Catalogue selected;
    return selected;
}

} // namespace

bool SelectLanguage(Language language) {
    Catalogue& catalogue = Selected();
    if (catalogue.installed) {
        QCoreApplication::removeTranslator(catalogue.translator.get());
        catalogue.installed = false;
    }
    catalogue.translator.reset();
    if (language == Language::Chinese) {
        return true;
    }
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(QString::fromUtf8(kEnglishCatalogue))) {
        return false;
    }
    catalogue.translator = std::move(translator);
    return true;
}

Language SelectedLanguage() {
    return Selected().translator ? Language::English : Language::Chinese;
}

void ApplySelectedLanguage() {
    Catalogue& catalogue = Selected();
    if (catalogue.translator && !catalogue.installed) {
        catalogue.installed = QCoreApplication::installTranslator(catalogue.translator.get());
    }
}

bool InstallTranslation(Language language) {
    const bool selected = SelectLanguage(language);
    ApplySelectedLanguage();
    return selected;
}

void ApplyQtCatalogue() {
    static QTranslator qtChinese;
    if (Selected().translator || !qtChinese.isEmpty()) {
        return; // English is Qt's own; Chinese is loaded already
    }
    if (qtChinese.load(QStringLiteral("qtbase_zh_CN"),
                       QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(&qtChinese);
    }
}

QString TranslateText(const char* context, const char* source) {
    if (const QTranslator* translator = Selected().translator.get()) {
        const QString text = translator->translate(context, source);
        if (!text.isNull()) {
            return text;
        }
    }
    return QString::fromUtf8(source);
}

bool SetUpLanguage(std::span<char* const> arguments) {
    std::optional<Language> fromCommandLine;
    if (const auto name = FindLangArgument(arguments)) {
        fromCommandLine = LanguageByName(*name);
        if (!fromCommandLine) {
            // No language was named, so the refusal is in the locale's.
            SelectLanguage(LanguageFromLocale(std::getenv));
            const QString message =
                TranslateText(
                    "CommandLine",
                    QT_TRANSLATE_NOOP("CommandLine", "--lang 只接受 zh 或 en，不接受“%1”"))
                    .arg(QString::fromLocal8Bit(*name));
            std::fprintf(stderr, "tavrin: %s\n", message.toUtf8().constData());
            return false;
        }
    }
    if (!SelectLanguage(ChooseLanguage(fromCommandLine, std::getenv))) {
        std::fprintf(stderr, "tavrin: the English texts could not be loaded; showing Chinese\n");
    }
    return true;
}
