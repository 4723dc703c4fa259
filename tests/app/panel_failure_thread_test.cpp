// The panel when something fails: a worker's box leaves the panel working, Enter on a radio or
// toggle does not flip it, and a screen save that cannot be written says so.
#include "panel_fixture.h"

#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include <filesystem>

namespace {

QMessageBox* ShownBox(QWidget& owner) {
    for (QMessageBox* box : owner.findChildren<QMessageBox*>()) {
        if (box->isVisible()) {
            return box;
        }
    }
    return nullptr;
}

// Assumes root may write anywhere: a folder that does not exist stops everyone.
std::string UnwritablePath(const QTemporaryDir& dir, const char* name) {
    return dir.filePath(QStringLiteral("missing/") + name).toStdString();
}

TEST_F(PanelTest, RecordClickWhileAWriteBoxIsUpStopsTheRecording) {
    SetAlertSink(MakeMessageBoxSink(Panel().Bridge(), &Panel()));
    Panel().show();
    m_prompts.savePath = UnwritablePath(m_dir, "take.wav");
    Button(ctl::kRecord)->click();
    Bench().Step(1);
    QMessageBox* box = nullptr;
    ASSERT_TRUE(PumpUntil([&] { return (box = ShownBox(Panel())) != nullptr; }));
    EXPECT_EQ(box->text(), "Unable to write to file");

    // A click as the window system delivers it, which a box modal over the panel would swallow.
    QAbstractButton* record = Button(ctl::kRecord);
    QTest::mouseClick(Panel().windowHandle(), Qt::LeftButton, {},
                      record->mapTo(&Panel(), record->rect().center()));
    EXPECT_EQ(Panel().m_recording, 0);
    EXPECT_EQ(Button(ctl::kRecord)->text(), "Record");

    box->button(QMessageBox::Ok)->click();
    RunBuffers(3);
    EXPECT_EQ(ShownBox(Panel()), nullptr); // the recording stopped: no further box
    SetAlertSink({});
}

TEST_F(PanelTest, ClosingWhileAWorkerBoxIsUpReleasesTheWorker) {
    SetAlertSink(MakeMessageBoxSink(Panel().Bridge(), &Panel()));
    Panel().show();
    m_prompts.savePath = UnwritablePath(m_dir, "take.wav");
    Button(ctl::kRecord)->click();
    Bench().Step(1);
    ASSERT_TRUE(PumpUntil([&] { return ShownBox(Panel()) != nullptr; }));
    QTest::keyClick(&Panel(), Qt::Key_Escape);
    EXPECT_FALSE(Panel().isVisible());
    EXPECT_FALSE(Panel().m_soundIn.m_running);
    EXPECT_EQ(ShownBox(Panel()), nullptr);
    SetAlertSink({});
}

// Enter ends the panel unless a push button has the focus; radios and toggles are drawn as push
// buttons but are not ones, so the one with the focus keeps its state.
class EnterOnCheckableTest : public PanelTest, public testing::WithParamInterface<int> {};

TEST_P(EnterOnCheckableTest, EndsThePanelAndLeavesTheButtonAsItWas) {
    QAbstractButton* button = Button(GetParam());
    Panel().show();
    Panel().activateWindow();
    button->setFocus();
    ASSERT_EQ(Panel().focusWidget(), button);
    const bool wasChecked = button->isChecked();
    QTest::keyClick(button, Qt::Key_Return);
    EXPECT_EQ(button->isChecked(), wasChecked);
    EXPECT_EQ(Panel().m_scopeMode, 1);
    EXPECT_FALSE(Panel().isVisible());
    EXPECT_FALSE(Panel().m_soundIn.m_running);
}

INSTANTIATE_TEST_SUITE_P(ToggleAndRadio, EnterOnCheckableTest,
                         testing::Values(ctl::kFreqMeterOn, ctl::kModeX1X2));

TEST_F(PanelTest, ScreenSaveThatCannotBeWrittenSaysWhy) {
    Button(ctl::kPause)->click();
    m_prompts.savePath = UnwritablePath(m_dir, "screen.bmp");
    Button(ctl::kSaveScreen)->click();
    RunBuffers(1);
    ASSERT_EQ(m_alerts.Count(), 1u);
    const Alert alert = m_alerts.Alerts()[0];
    EXPECT_EQ(alert.text,
              "Unable to write to file\n" + *m_prompts.savePath + ": No such file or directory");
    EXPECT_EQ(alert.icon, AlertIcon::Warning);
    EXPECT_FALSE(alert.blocksPanel);
    EXPECT_FALSE(Button(ctl::kSaveScreen)->isChecked());
    EXPECT_FALSE(std::filesystem::exists(*m_prompts.savePath));
}

} // namespace
