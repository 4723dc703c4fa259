#include "instrument_app.h"

#include "format_and_alert.h"
#include "instrument_dlg.h"

bool CInstrumentApp::InitInstance() {
    {
        CInstrumentDlg panel;
        SetAlertSink(MakeMessageBoxSink(panel.Bridge(), &panel));
        panel.DoModal();
        // Back to the default before the bridge and the box owner go away.
        SetAlertSink({});
    }
    return false;
}
