// tavrin: the sound card as a bench of instruments. `tavrin measure` and `tavrin thd` hand the
// run over to the headless tool; the panel's options are parsed before any window system is
// reached, so --help, --version and --list-devices work without a display; --lang (read first)
// picks the language.
#include "app/command_line.h"
#include "app/device_choice.h"
#include "app/instrument_app.h"
#include "app/measure_handoff.h"
#include "app/translation.h"

#include <QApplication>

#include <cstdio>

namespace {
CInstrumentApp theApp;
}

int main(int argc, char** argv) {
    // Before QApplication: the measuring process must not open a display or load Qt's GUI.
    if (const int status = HandOffToMeasureTool(argc, argv); status >= 0) {
        return status;
    }
    // The language comes before the options, whose help and messages are written in it.
    if (!SetUpLanguage({argv + 1, static_cast<size_t>(argc - 1)})) {
        return kBadUsageExitCode;
    }
    const CommandLineOutcome parsed = ParseCommandLine(ArgumentList(argc, argv));
    if (parsed.exit) {
        // Qt's parser texts ("Options:", "Unknown option") are translated only through an
        // application object's catalogues; a run that ends here gets one just to write them.
        QCoreApplication writer(argc, argv);
        ApplyQtCatalogue();
        return PrintOutcome(ParseCommandLine(ArgumentList(argc, argv)));
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
    ApplySelectedLanguage();
    // The panel runs modally inside InitInstance, which returns false once it has closed.
    theApp.InitInstance();
    return theApp.ExitInstance();
}
