// What the entry dialogs accept and refuse, as plain rules and through the real dialogs.
#include "app/about_box.h"
#include "app/entry_dialogs.h"
#include "base/entry_validation.h"
#include "tests/support/alert_recorder.h"

#include <QLineEdit>
#include <QPushButton>
#include <gtest/gtest.h>

namespace {

struct FreqCase {
    const char* text;
    std::optional<uint32_t> expected;
};

void PrintTo(const FreqCase& c, std::ostream* os) {
    *os << '"' << c.text << '"';
}

class FrequencyEntry : public testing::TestWithParam<FreqCase> {};

TEST_P(FrequencyEntry, AcceptsWholeNumbersUpTo20000) {
    EXPECT_EQ(ParseFrequencyEntry(GetParam().text), GetParam().expected) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Cases, FrequencyEntry,
                         testing::Values(FreqCase{"0", 0u}, FreqCase{"20000", 20000u},
                                         FreqCase{" 440 ", 440u}, FreqCase{"+15", 15u},
                                         FreqCase{"020000", 20000u}, FreqCase{"20001", {}},
                                         FreqCase{"-1", {}}, FreqCase{"440.5", {}},
                                         FreqCase{"", {}}, FreqCase{"   ", {}}, FreqCase{"1e3", {}},
                                         FreqCase{"12a", {}}, FreqCase{"4294967296", {}},
                                         FreqCase{"99999999999999999999", {}}));

struct RefCase {
    const char* text;
    std::optional<double> expected;
};

void PrintTo(const RefCase& c, std::ostream* os) {
    *os << '"' << c.text << '"';
}

class ReferenceEntry : public testing::TestWithParam<RefCase> {};

TEST_P(ReferenceEntry, AcceptsNumbersFromAThousandthTo10000) {
    EXPECT_EQ(ParseReferenceEntry(GetParam().text), GetParam().expected) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Cases, ReferenceEntry,
                         testing::Values(RefCase{"0.001", 0.001}, RefCase{"4.7", 4.7},
                                         RefCase{"10000", 10000.0}, RefCase{"1e4", 10000.0},
                                         RefCase{" 2.2 ", 2.2}, RefCase{"0", {}},
                                         RefCase{"0.0009", {}}, RefCase{"10000.5", {}},
                                         RefCase{"-5", {}}, RefCase{"", {}}, RefCase{"inf", {}},
                                         RefCase{"nan", {}}, RefCase{"0x10", {}},
                                         RefCase{"4.7k", {}}, RefCase{"1e400", {}}));

TEST(EntryMessages, NameTheAcceptedRange) {
    EXPECT_NE(FrequencyEntryMessage().find("0 到 20000"), std::string::npos);
    EXPECT_NE(ReferenceEntryMessage().find("0.001 到 10000"), std::string::npos);
}

// Types text, presses OK and reports whether the dialog closed with Accepted.
template <class Dialog> bool Submit(Dialog& dialog, const QString& text) {
    dialog.show();
    dialog.Edit()->setText(text);
    dialog.OkButton()->click();
    return !dialog.isVisible() && dialog.result() == QDialog::Accepted;
}

TEST(FreqDlg, OpensAtZeroAndRefusesAnInvalidEntryWithoutClosing) {
    CAlertRecorder alerts;
    {
        CFreqDlg dialog;
        EXPECT_EQ(dialog.Edit()->text(), "0");
        EXPECT_EQ(dialog.m_freqValue, 0u);
        EXPECT_FALSE(Submit(dialog, "20001"));
        EXPECT_TRUE(dialog.isVisible());
        ASSERT_EQ(alerts.Count(), 1u);
        EXPECT_EQ(alerts.Alerts()[0].text, FrequencyEntryMessage());
        EXPECT_EQ(dialog.m_freqValue, 0u);
        EXPECT_TRUE(Submit(dialog, "20000"));
        EXPECT_EQ(dialog.m_freqValue, 20000u);
    }
    // A fresh dialog does not remember the last entry.
    CFreqDlg again;
    EXPECT_EQ(again.Edit()->text(), "0");
    EXPECT_TRUE(Submit(again, "0"));
    EXPECT_EQ(alerts.Count(), 1u);
}

TEST(RefDlg, RefusesTheZeroItOpensWith) {
    CAlertRecorder alerts;
    CRefDlg dialog;
    EXPECT_EQ(dialog.Edit()->text(), "0");
    dialog.show();
    dialog.OkButton()->click();
    EXPECT_TRUE(dialog.isVisible());
    ASSERT_EQ(alerts.Count(), 1u);
    EXPECT_EQ(alerts.Alerts()[0].text, ReferenceEntryMessage());
    EXPECT_TRUE(Submit(dialog, "4.7"));
    EXPECT_DOUBLE_EQ(dialog.m_refEntry, 4.7);
}

TEST(RefDlg, CancelAfterAValidEntryLeavesNothing) {
    CRefDlg dialog;
    dialog.show();
    dialog.Edit()->setText("12");
    dialog.CancelButton()->click();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_EQ(dialog.m_refEntry, 0.0);
}

TEST(EntryDialogs, TemplateSizesInSystemFontUnits) {
    CFreqDlg freq;
    EXPECT_EQ(freq.size(), QSize(254, 142));
    EXPECT_EQ(freq.windowTitle(), "设置输出频率");
    CRefDlg ref;
    EXPECT_EQ(ref.size(), QSize(272, 142));
    EXPECT_EQ(ref.windowTitle(), "设置万用表基准");
    CAboutBox about;
    EXPECT_EQ(about.size(), QSize(353, 119));
    EXPECT_EQ(about.windowTitle(), "关于 Tavrin");
}

} // namespace
