#include "app/panel_prompts.h"

#include "app/about_box.h"
#include "app/device_dlg.h"
#include "app/entry_dialogs.h"

#include <QColorDialog>
#include <QFile>
#include <QFileDialog>

namespace {

std::optional<uint32_t> ChooseColor(QWidget* owner) {
    // Opens on black, not on the field's colour: the choice starts afresh every time.
    QColorDialog dialog(QColor(0, 0, 0), owner);
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    const QColor c = dialog.selectedColor();
    return uint32_t(c.red()) | uint32_t(c.green()) << 8 | uint32_t(c.blue()) << 16;
}

std::optional<std::string> ChooseSavePath(QWidget* owner, const SaveFileRequest& request) {
    QFileDialog dialog(owner);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(request.defaultSuffix);
    dialog.setNameFilter(request.filter);
    // Replacing an existing file is what the user asked for by choosing it.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return QFile::encodeName(dialog.selectedFiles().first()).toStdString();
}

std::optional<uint32_t> AskFrequency(QWidget* owner) {
    CFreqDlg dialog(owner);
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    return dialog.m_freqValue;
}

std::optional<double> AskReference(QWidget* owner) {
    CRefDlg dialog(owner);
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    return dialog.m_refEntry;
}

void ShowAbout(QWidget* owner) {
    CAboutBox box(owner);
    box.exec();
}

std::optional<DeviceNames> ChooseDevices(QWidget* owner, const DeviceNames& current) {
    CDeviceDlg dialog(owner, ListAlsaDevices, current);
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    return dialog.Chosen();
}

} // namespace

CPanelPrompts DefaultPanelPrompts() {
    return {ChooseColor, ChooseSavePath, AskFrequency, AskReference, ShowAbout, ChooseDevices};
}
