#include "command_line.h"

#include "translation.h"

#include <QCommandLineParser>

#include <cstdio>

namespace {

constexpr const char* kProgram = "tavrin";
constexpr const char* kVersionText = "tavrin 0.94\n";

std::string Usage(const QCommandLineParser& parser) {
    // Parsed before any application object exists, the parser cannot name the program itself.
    const QString text = parser.helpText();
    return "Usage: " + std::string(kProgram) + " [options]" +
           text.mid(text.indexOf(QLatin1Char('\n'))).toStdString();
}

CommandLineOutcome Exit(int code, std::string out, std::string err) {
    CommandLineOutcome outcome;
    outcome.exit = true;
    outcome.exitCode = code;
    outcome.out = std::move(out);
    outcome.err = std::move(err);
    return outcome;
}

} // namespace

CommandLineOutcome ParseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "The sound card as a bench of instruments: oscilloscope, frequency meter,\n"
        "multimeter, signal generator. Device names are ALSA's (see --list-devices);\n"
        "\"sim\" is the simulated sound card."));
    const QCommandLineOption device(QStringLiteral("device"),
                                    QStringLiteral("Capture from and play to device NAME."),
                                    QStringLiteral("NAME"));
    const QCommandLineOption input(QStringLiteral("input"),
                                   QStringLiteral("Capture from device NAME."),
                                   QStringLiteral("NAME"));
    const QCommandLineOption output(QStringLiteral("output"),
                                    QStringLiteral("Play to device NAME."), QStringLiteral("NAME"));
    const QCommandLineOption list(
        QStringLiteral("list-devices"),
        QStringLiteral("Print the capture devices, an empty line, then the playback devices, one "
                       "a line: name, tab, description."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Print this help."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Print the version."));
    // main reads --lang before parsing, so this help is already in the chosen language; the
    // parser only has to accept it and show it.
    const QCommandLineOption lang(
        QStringLiteral("lang"),
        TranslateText("CommandLine",
                      QT_TRANSLATE_NOOP("CommandLine", "Language of the panel and this help: zh "
                                                       "(Chinese) or en (English).")),
        QStringLiteral("zh|en"));
    parser.addOptions({device, input, output, list, lang, help, version});

    if (!parser.parse(arguments)) {
        return Exit(kBadUsageExitCode, {},
                    std::string(kProgram) + ": " + parser.errorText().toStdString() + "\n" +
                        Usage(parser));
    }
    if (!parser.positionalArguments().isEmpty()) {
        return Exit(kBadUsageExitCode, {},
                    std::string(kProgram) + ": unexpected argument '" +
                        parser.positionalArguments().first().toStdString() + "'\n" + Usage(parser));
    }
    if (parser.isSet(help)) {
        return Exit(0, Usage(parser), {});
    }
    if (parser.isSet(version)) {
        return Exit(0, kVersionText, {});
    }
    // --input and --output say more than --device, so they win over it whatever the order;
    // of one option given twice, the last counts.
    const auto last = [&parser](const QCommandLineOption& option) {
        return parser.isSet(option) ? parser.values(option).constLast().toStdString()
                                    : std::string();
    };
    for (const QCommandLineOption* named : {&device, &input, &output}) {
        if (parser.isSet(*named) && last(*named).empty()) {
            return Exit(kBadUsageExitCode, {},
                        std::string(kProgram) + ": --" + named->names().first().toStdString() +
                            " needs a device name\n" + Usage(parser));
        }
    }
    CommandLineOutcome outcome;
    outcome.options.input = parser.isSet(input) ? last(input) : last(device);
    outcome.options.output = parser.isSet(output) ? last(output) : last(device);
    outcome.options.listDevices = parser.isSet(list);
    return outcome;
}

QStringList ArgumentList(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    return arguments;
}

int PrintOutcome(const CommandLineOutcome& outcome) {
    std::fputs(outcome.out.c_str(), stdout);
    std::fputs(outcome.err.c_str(), stderr);
    return outcome.exitCode;
}
