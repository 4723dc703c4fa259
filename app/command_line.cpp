#include "app/command_line.h"

#include "app/translation.h"

#include <QCommandLineParser>

#include <cstdio>

namespace {

constexpr const char* kProgram = "tavrin";
constexpr const char* kVersionText = "tavrin 0.94\n";
constexpr const char* kContext = "CommandLine";

// The help and messages are written before the application exists, so they come from the
// selected catalogue directly.
QString Text(const char* source) {
    return TranslateText(kContext, source);
}

std::string Usage(const QCommandLineParser& parser) {
    // Parsed before any application object exists, the parser cannot name the program itself.
    const QString text = parser.helpText();
    // The commands are not options: main hands them to the headless tool before parsing.
    const QString commands = Text(QT_TRANSLATE_NOOP(
        "CommandLine", "\n命令：\n"
                       "  %1 measure [选项]  逐个缓冲区的读数：频率、电平、万用表\n"
                       "  %1 thd [选项]      逐块的失真和噪声：THD、THD+N、互调\n"
                       "  %1 calibrate [选项]  电压校准：输入或输出的 0 dBFS 对应的伏特数\n"
                       "  %1 sweep [选项]    扫频测量频率响应：幅度、相位、谐波\n"
                       "  %1 impedance [选项]  阻抗：|Z|、相位、L/C/R、ESR、Q、D，或步进扫描\n"
                       "  %1 report [选项]   声卡测试报告：一次测完各项标准指标，写成 HTML、JSON、CSV\n"
                       "各命令的 --help 说明其选项。\n"));
    return (Text(QT_TRANSLATE_NOOP("CommandLine", "用法：%1 [选项]")).arg(kProgram) +
            text.mid(text.indexOf(QLatin1Char('\n'))) + commands.arg(kProgram))
        .toStdString();
}

CommandLineOutcome Exit(int code, std::string out, std::string err) {
    CommandLineOutcome outcome;
    outcome.exit = true;
    outcome.exitCode = code;
    outcome.out = std::move(out);
    outcome.err = std::move(err);
    return outcome;
}

CommandLineOutcome BadUsage(const QString& message, const QCommandLineParser& parser) {
    return Exit(kBadUsageExitCode, {},
                std::string(kProgram) + ": " + message.toStdString() + "\n" + Usage(parser));
}

} // namespace

CommandLineOutcome ParseCommandLine(const QStringList& arguments) {
    const QString name = QStringLiteral("NAME");
    QCommandLineParser parser;
    parser.setApplicationDescription(
        Text(QT_TRANSLATE_NOOP("CommandLine", "把声卡变成一组测量仪器：示波器、频率计、\n"
                                              "万用表、信号发生器。设备名称是 ALSA 的名称"
                                              "（见 --list-devices）；\n"
                                              "“sim”是模拟声卡。")));
    const QCommandLineOption device(
        QStringLiteral("device"),
        Text(QT_TRANSLATE_NOOP("CommandLine", "从设备 NAME 采集，并向它播放。")), name);
    const QCommandLineOption input(QStringLiteral("input"),
                                   Text(QT_TRANSLATE_NOOP("CommandLine", "从设备 NAME 采集。")),
                                   name);
    const QCommandLineOption output(QStringLiteral("output"),
                                    Text(QT_TRANSLATE_NOOP("CommandLine", "向设备 NAME 播放。")),
                                    name);
    const QCommandLineOption list(
        QStringLiteral("list-devices"),
        Text(QT_TRANSLATE_NOOP("CommandLine", "列出采集设备，空一行，再列出播放设备，"
                                              "每行一个：名称、制表符、说明。")));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  Text(QT_TRANSLATE_NOOP("CommandLine", "显示本帮助。")));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     Text(QT_TRANSLATE_NOOP("CommandLine", "显示版本。")));
    // main reads --lang before parsing, so this help is already in the chosen language; the
    // parser only has to accept it and show it.
    const QCommandLineOption lang(
        QStringLiteral("lang"),
        Text(QT_TRANSLATE_NOOP("CommandLine", "面板和本帮助的语言：zh（中文）或 en（英文）。")),
        QStringLiteral("zh|en"));
    parser.addOptions({device, input, output, list, lang, help, version});

    if (!parser.parse(arguments)) {
        return BadUsage(parser.errorText(), parser);
    }
    if (!parser.positionalArguments().isEmpty()) {
        return BadUsage(Text(QT_TRANSLATE_NOOP("CommandLine", "多余的参数“%1”"))
                            .arg(parser.positionalArguments().first()),
                        parser);
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
            return BadUsage(Text(QT_TRANSLATE_NOOP("CommandLine", "--%1 需要设备名称"))
                                .arg(named->names().first()),
                            parser);
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
