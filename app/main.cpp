// tavrin: the sound card as a bench of instruments. Reads no settings; its one argument is
// `measure`, which hands the run over to the headless tool, and --lang chooses the language.
#include "instrument_app.h"
#include "measure_handoff.h"
#include "translation.h"

#include <QApplication>

namespace {
CInstrumentApp theApp;
}

int main(int argc, char** argv) {
    // Before QApplication: the measuring process must not open a display or load Qt's GUI.
    if (const int status = HandOffToMeasureTool(argc, argv); status >= 0) {
        return status;
    }
    QApplication application(argc, argv);
    // Boxes raised for the program carry its file name as caption.
    QApplication::setApplicationName(QStringLiteral("tavrin"));
    QApplication::setDesktopFileName(QStringLiteral("io.github.tavrin.Tavrin"));
    if (!SetUpLanguage({argv + 1, static_cast<size_t>(argc - 1)})) {
        return 2;
    }
    ApplySelectedLanguage();
    // The panel runs modally inside InitInstance, which returns false once it has closed.
    theApp.InitInstance();
    return theApp.ExitInstance();
}
