#include "app/instrument_app.h"

#include "app/instrument_dlg.h"
#include "base/format_and_alert.h"

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
