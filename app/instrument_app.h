#pragma once
// CInstrumentApp: the one application object. InitInstance runs the whole program: the panel,
// modally, with the program's alert sink installed for as long as the panel lives.
// GUI thread; a QApplication must exist before InitInstance.

class CInstrumentApp {
public:
    // Builds and runs the panel; returns false once it has closed, so no loop of its own runs.
    bool InitInstance();
    int ExitInstance() { return 0; }
};
