// tavrin: the sound card as a bench of instruments. Reads no arguments and no settings.
#include "instrument_app.h"

#include <QApplication>

namespace {
CInstrumentApp theApp;
}

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    // Boxes raised for the program carry its file name as caption.
    QApplication::setApplicationName(QStringLiteral("tavrin"));
    QApplication::setDesktopFileName(QStringLiteral("io.github.tavrin.Tavrin"));
    // The panel runs modally inside InitInstance, which returns false once it has closed.
    theApp.InitInstance();
    return theApp.ExitInstance();
}
