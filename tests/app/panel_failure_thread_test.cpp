// The panel when something goes wrong: Enter on a radio or toggle does not flip it, and a screen
// save that cannot be written says so.
#include "tests/app/panel_fixture.h"

#include <QTest>

#include <filesystem>

namespace {

// Enter, the main key or the keypad's, ends the panel unless a push button has the focus; radios
// and toggles are drawn as push buttons but are not ones, so the one with the focus keeps its
// state.
class EnterOnCheckableTest : public PanelTest,
                             public testing::WithParamInterface<std::tuple<int, bool>> {};

TEST_P(EnterOnCheckableTest, EndsThePanelAndLeavesTheButtonAsItWas) {
    const auto [id, keypad] = GetParam();
    QAbstractButton* button = Button(id);
    Panel().show();
    Panel().activateWindow();
    button->setFocus();
    ASSERT_EQ(Panel().focusWidget(), button);
    const bool wasChecked = button->isChecked();
    if (keypad) {
        QTest::keyClick(button, Qt::Key_Enter, Qt::KeypadModifier);
    } else {
        QTest::keyClick(button, Qt::Key_Return);
    }
    EXPECT_EQ(button->isChecked(), wasChecked);
    EXPECT_EQ(Panel().State().m_scopeMode, 1);
    EXPECT_FALSE(Panel().isVisible());
    EXPECT_FALSE(Panel().m_soundIn.m_running);
}

INSTANTIATE_TEST_SUITE_P(ToggleAndRadio, EnterOnCheckableTest,
                         testing::Combine(testing::Values(ctl::kFreqMeterOn, ctl::kModeX1X2),
                                          testing::Bool()));

TEST_F(PanelTest, ScreenSaveThatCannotBeWrittenSaysWhy) {
    Button(ctl::kPause)->click();
    // Root may write anywhere: a folder that does not exist stops everyone.
    m_prompts.savePath = m_dir.filePath("missing/screen.bmp").toStdString();
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
