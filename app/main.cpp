// tavrin: the sound card as a bench of instruments. The panel's options are parsed before any
// window system is reached, so --help, --version and --list-devices work without a display.
#include "command_line.h"
#include "device_choice.h"
#include "instrument_app.h"

#include <QApplication>

#include <cstdio>

namespace {
CInstrumentApp theApp;
}

int main(int argc, char** argv) {
    // A subcommand ("tavrin COMMAND ...") would be dispatched here, before the panel's options.
    const CommandLineOutcome parsed = ParseCommandLine(ArgumentList(argc, argv));
    if (parsed.exit) {
        return PrintOutcome(parsed);
    }
    if (parsed.options.listDevices) {
        std::fputs(DeviceListText(ListAlsaDevices).c_str(), stdout);
        return 0;
    }
    UseStartDevices(parsed.options);

    QApplication application(argc, argv);
    // Boxes raised for the program carry its file name as caption.
    QApplication::setApplicationName(QStringLiteral("tavrin"));
    QApplication::setDesktopFileName(QStringLiteral("io.github.tavrin.Tavrin"));
    if (theApp.InitInstance()) {
        return QApplication::exec();
    }
    return theApp.ExitInstance();
}
