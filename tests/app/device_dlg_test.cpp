#include "app/device_dlg.h"

#include <QTreeWidget>
#include <gtest/gtest.h>

namespace {

std::vector<AudioDeviceInfo> FixedDevices(WaveDirection direction) {
    if (direction == WaveDirection::In) {
        return {{"default", "Default"}, {"hw:CARD=Mic,DEV=0", "USB Mic"}};
    }
    return {{"default", "Default"}, {"hw:CARD=Spk,DEV=0", "Speaker"}};
}

QStringList Rows(QTreeWidget* list) {
    QStringList rows;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        rows << list->topLevelItem(i)->text(0) + "|" + list->topLevelItem(i)->text(1);
    }
    return rows;
}

TEST(DeviceDlg, ListsTheSourcesDevicesWithTheOneInUseSelectedAndReturnsTheChoice) {
    CDeviceDlg dialog(nullptr, FixedDevices, {"hw:CARD=Mic,DEV=0", "sim"});
    QTreeWidget* in = dialog.List(WaveDirection::In);
    QTreeWidget* out = dialog.List(WaveDirection::Out);
    EXPECT_EQ(Rows(in), (QStringList{"default|Default", "hw:CARD=Mic,DEV=0|USB Mic"}));
    // The simulated card is not one of ALSA's: it is listed because it is in use.
    EXPECT_EQ(Rows(out), (QStringList{"default|Default", "hw:CARD=Spk,DEV=0|Speaker",
                                      "sim|模拟声卡 (输出接到输入)"}));
    EXPECT_EQ(dialog.Chosen(), (DeviceNames{"hw:CARD=Mic,DEV=0", "sim"}));

    in->setCurrentItem(in->topLevelItem(0));
    out->setCurrentItem(out->topLevelItem(1));
    EXPECT_EQ(dialog.Chosen(), (DeviceNames{"default", "hw:CARD=Spk,DEV=0"}));
}

} // namespace
