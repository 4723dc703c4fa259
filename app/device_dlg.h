#pragma once
// CDeviceDlg: the sound-card dialog, opened from the panel's context menu. Two lists, capture
// and playback devices (name and description, "default" first), each with the device in use
// selected. GUI thread.

#include "app/device_choice.h"

#include <QDialog>

class QTreeWidget;

inline constexpr const char* kSoundCardItemText = QT_TRANSLATE_NOOP("CInstrumentDlg", "声卡…");

class CDeviceDlg : public QDialog {
    Q_OBJECT
public:
    CDeviceDlg(QWidget* owner, const DeviceListSource& source, const DeviceNames& current);

    // The selected device of each list; the current one where nothing is selected.
    DeviceNames Chosen() const;
    QTreeWidget* List(WaveDirection direction) const;

private:
    DeviceNames m_current;
    QTreeWidget* m_lists[2] = {};
};
