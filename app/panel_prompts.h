#pragma once
// The modal questions the panel asks the user, behind one replaceable set of functions so a
// test can answer them without a real modal dialog. Every function runs on the GUI thread,
// owned by the panel, and returns nothing when the user cancels.

#include "app/device_choice.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

class QWidget;

struct SaveFileRequest {
    QString defaultSuffix; // appended when the name has none: "wav", "bmp"
    QString filter;        // one entry: "WAV文件 (*.wav)"
};

struct CPanelPrompts {
    // The colour chooser, opening on black; the chosen colour as 0x00BBGGRR.
    std::function<std::optional<uint32_t>(QWidget* owner)> chooseColor;
    // The save-file dialog; the chosen file's full path, as the file system spells it. Choosing
    // an existing file asks nothing more.
    std::function<std::optional<std::string>(QWidget* owner, const SaveFileRequest& request)>
        chooseSavePath;
    // The frequency entry dialog: whole hertz, 0..20000.
    std::function<std::optional<uint32_t>(QWidget* owner)> askFrequency;
    // The reference entry dialog: 0.001..10000.
    std::function<std::optional<double>(QWidget* owner)> askReference;
    // The About box.
    std::function<void(QWidget* owner)> showAbout;
    // The sound-card dialog, opening on the devices in use; the devices chosen.
    std::function<std::optional<DeviceNames>(QWidget* owner, const DeviceNames& current)>
        chooseDevices;
};

// The real dialogs.
CPanelPrompts DefaultPanelPrompts();
