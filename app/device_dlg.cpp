#include "app/device_dlg.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

constexpr const char* kCaption = QT_TRANSLATE_NOOP("CDeviceDlg", "声卡");
constexpr const char* kCaptureLabel = QT_TRANSLATE_NOOP("CDeviceDlg", "输入设备 (X1, X2):");
constexpr const char* kPlaybackLabel = QT_TRANSLATE_NOOP("CDeviceDlg", "输出设备 (信号源 L, R):");
constexpr const char* kSimulatedDescription =
    QT_TRANSLATE_NOOP("CDeviceDlg", "模拟声卡 (输出接到输入)");

QString Tr(const char* source) {
    return QCoreApplication::translate("CDeviceDlg", source);
}

int Index(WaveDirection direction) {
    return direction == WaveDirection::In ? 0 : 1;
}

QTreeWidget* MakeList(QWidget* parent, std::vector<AudioDeviceInfo> devices,
                      const std::string& current) {
    // A device named on the command line or in TAVRIN_AUDIO may be missing from ALSA's hints
    // (the simulated card always is); it is listed so the selection shows what is in use.
    const bool listed = std::any_of(devices.begin(), devices.end(),
                                    [&](const AudioDeviceInfo& d) { return d.name == current; });
    if (!listed && !current.empty()) {
        devices.push_back({current, IsSimulatedDeviceName(current)
                                        ? Tr(kSimulatedDescription).toStdString()
                                        : std::string()});
    }
    auto* list = new QTreeWidget(parent);
    list->setColumnCount(2);
    list->setHeaderLabels(
        {Tr(QT_TRANSLATE_NOOP("CDeviceDlg", "名称")), Tr(QT_TRANSLATE_NOOP("CDeviceDlg", "说明"))});
    list->setRootIsDecorated(false);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    for (const AudioDeviceInfo& device : devices) {
        auto* row = new QTreeWidgetItem(list, {QString::fromStdString(device.name),
                                               QString::fromStdString(device.description)});
        if (device.name == current) {
            list->setCurrentItem(row);
        }
    }
    list->resizeColumnToContents(0);
    return list;
}

} // namespace

CDeviceDlg::CDeviceDlg(QWidget* owner, const DeviceListSource& source, const DeviceNames& current)
    : QDialog(owner), m_current(current) {
    setWindowTitle(Tr(kCaption));
    auto* layout = new QVBoxLayout(this);
    for (WaveDirection direction : {WaveDirection::In, WaveDirection::Out}) {
        const bool in = direction == WaveDirection::In;
        layout->addWidget(new QLabel(Tr(in ? kCaptureLabel : kPlaybackLabel), this));
        m_lists[Index(direction)] =
            MakeList(this, source(direction), in ? current.input : current.output);
        layout->addWidget(m_lists[Index(direction)]);
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(Tr(QT_TRANSLATE_NOOP("CDeviceDlg", "确定")));
    buttons->button(QDialogButtonBox::Cancel)->setText(Tr(QT_TRANSLATE_NOOP("CDeviceDlg", "取消")));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    resize(620, 480);
}

QTreeWidget* CDeviceDlg::List(WaveDirection direction) const {
    return m_lists[Index(direction)];
}

DeviceNames CDeviceDlg::Chosen() const {
    const auto selected = [](QTreeWidget* list, const std::string& fallback) {
        const QList<QTreeWidgetItem*> rows = list->selectedItems();
        return rows.isEmpty() ? fallback : rows.first()->text(0).toStdString();
    };
    return {selected(m_lists[0], m_current.input), selected(m_lists[1], m_current.output)};
}
