// The card lent to an analyser at a format of its own, on the simulated bench: the panel lets go
// of both devices, says who has the card and stops drawing, and takes the card back by itself
// when the analyser lets go. At the panel's own format nothing is lent.
#include "app/analysers/distortion_window.h"
#include "app/analysers/frequency_response_window.h"
#include "app/analysers/impedance_window.h"
#include "app/analysers/stream_format_choice.h"
#include "app/scope_screen.h"
#include "app/status_line.h"
#include "tests/app/panel_fixture.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QTableWidget>

#include <cmath>
#include <complex>
#include <cstdlib>
#include <numbers>

namespace {

// As the user picks a rate and a sample format in the window's boxes.
void Choose(QWidget* window, const StreamFormat& format) {
    auto* choice = window->findChild<CStreamFormatChoice*>();
    choice->RateBox()->setCurrentIndex(choice->RateBox()->findData(format.rate_hz));
    QComboBox* formats = choice->SampleFormatBox();
    formats->setCurrentIndex(formats->findData(int(format.format)));
    emit formats->activated(formats->currentIndex());
}

class LoanTest : public PanelTest {
protected:
    // The remembered formats go to a folder of the test's own, never the user's configuration.
    LoanTest() {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_config.path());
    }
    ~LoanTest() override {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
    }

    CDistortionWindow* OpenWindow() {
        for (QAction* action : Panel().SystemMenu()->actions()) {
            if (action->text() == QString::fromUtf8(kDistortionItemText)) {
                action->trigger();
            }
        }
        return Panel().findChild<CDistortionWindow*>();
    }

    void CloseWindow(CDistortionWindow* window) {
        window->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    QTemporaryDir m_config;
};

struct LoanCase {
    const char* name;
    StreamFormat format;
    bool lent;
    friend void PrintTo(const LoanCase& c, std::ostream* os) { *os << c.name; }
};

class PanelLoanTest : public LoanTest, public testing::WithParamInterface<LoanCase> {};

TEST_P(PanelLoanTest, AnotherFormatTakesTheCardFromThePanelUntilTheWindowCloses) {
    const LoanCase& c = GetParam();
    Button(ctl::kSourceSwitch)->click(); // the generator's output is let go too, and comes back
    RunBuffers(2);
    CDistortionWindow* window = OpenWindow();
    ASSERT_NE(window, nullptr);
    Choose(window, c.format);
    ASSERT_EQ(window->RunningFormat(), c.format)
        << window->findChild<QLabel*>(QStringLiteral("streamStatus"))->text().toStdString();

    const QString loanText = QString::fromUtf8("分析仪正在使用声卡 96 kHz/24 位");
    EXPECT_EQ(Panel().StatusLine()->Text().contains(loanText), c.lent)
        << Panel().StatusLine()->Text().toStdString();
    EXPECT_EQ(Bench().IsOpen(WaveDirection::In), !c.lent);
    EXPECT_EQ(Bench().IsOpen(WaveDirection::Out), !c.lent);
    if (c.lent) {
        // Bench time passes, but no buffer of the panel's: the scope keeps its last picture.
        const int64_t buffers = Panel().BuffersProcessed();
        const int64_t frames = Panel().Screen()->FramesShown();
        Bench().Step(4);
        PumpUntil([] { return false; }, std::chrono::milliseconds(200));
        EXPECT_EQ(Panel().BuffersProcessed(), buffers);
        EXPECT_EQ(Panel().Screen()->FramesShown(), frames);
    } else {
        RunBuffers(2); // the panel goes on as ever
    }

    CloseWindow(window);
    const int64_t before = Panel().BuffersProcessed();
    EXPECT_TRUE(Bench().IsOpen(WaveDirection::In));
    EXPECT_TRUE(Bench().IsOpen(WaveDirection::Out));
    Bench().Step(1);
    EXPECT_TRUE(
        PumpUntil([&] { return Panel().BuffersProcessed() > before; }, std::chrono::seconds(1)))
        << "the panel is live again within a second";
    EXPECT_FALSE(Panel().StatusLine()->Text().contains(loanText))
        << Panel().StatusLine()->Text().toStdString();
}

INSTANTIATE_TEST_SUITE_P(Formats, PanelLoanTest,
                         testing::Values(LoanCase{"PanelFormat", {44100, SampleFormat::S16}, false},
                                         LoanCase{"Hires", {96000, SampleFormat::S24}, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// A recording would end at the gap the loan makes: the analyser is refused, in one line in its
// window, its boxes go back to the panel's format and the recording runs on.
TEST_F(LoanTest, ARecordingKeepsTheCardAndTheWindowSaysWhy) {
    m_prompts.savePath = m_dir.filePath(QStringLiteral("take.wav")).toStdString();
    Button(ctl::kRecord)->click();
    RunBuffers(1);
    CDistortionWindow* window = OpenWindow();
    Choose(window, {96000, SampleFormat::S24});

    EXPECT_EQ(window->RunningFormat(), StreamFormat{});
    EXPECT_EQ(window->findChild<CStreamFormatChoice*>()->Format(), StreamFormat{});
    auto* status = window->findChild<QLabel*>(QStringLiteral("streamStatus"));
    EXPECT_FALSE(status->isHidden());
    EXPECT_TRUE(status->text().contains(QString::fromUtf8("正在录音")))
        << status->text().toStdString();
    EXPECT_TRUE(Bench().IsOpen(WaveDirection::In));
    RunBuffers(2);
    EXPECT_EQ(Panel().m_recording.load(), 1);
    CloseWindow(window);
}

// From one format of its own to another the card stays lent: the strip names the new format and
// the monitor reads at the new rate (the tone's frequency comes out right only at the rate the
// samples were taken at).
TEST_F(LoanTest, AnotherFormatWhileLentKeepsTheCardAndNamesTheNewOne) {
    CDistortionWindow* window = OpenWindow();
    window->findChild<QComboBox*>(QStringLiteral("blockSize"))->setCurrentIndex(0); // 8192
    window->findChild<QCheckBox*>(QStringLiteral("play"))->setChecked(true);
    Choose(window, {96000, SampleFormat::S24});
    Choose(window, {192000, SampleFormat::Float});
    ASSERT_EQ(window->RunningFormat(), (StreamFormat{192000, SampleFormat::Float}));
    EXPECT_TRUE(Panel().StatusLine()->Text().startsWith(
        QString::fromUtf8("分析仪正在使用声卡 192 kHz/32 位浮点 | ")))
        << Panel().StatusLine()->Text().toStdString();
    EXPECT_FALSE(Bench().IsOpen(WaveDirection::In));

    auto* table = window->findChild<QTableWidget*>(QStringLiteral("table"));
    const auto fundamentalHz = [&] {
        for (int r = 0; r < table->rowCount(); ++r) {
            if (table->item(r, 0)->text() == QString::fromUtf8("基波频率 (Hz)")) {
                return table->item(r, 1)->text().toDouble();
            }
        }
        return 0.0;
    };
    const int before = window->BlocksShown();
    EXPECT_TRUE(PumpUntil(
        [&] {
            return window->BlocksShown() > before + 2 && std::abs(fundamentalHz() - 997) < 0.01;
        },
        std::chrono::seconds(20)))
        << fundamentalHz();
    CloseWindow(window);
    EXPECT_TRUE(Bench().IsOpen(WaveDirection::In));
}

// A device that does not offer the format (ALSA's plug in front of the null device, fixed at
// 48 kHz s16 and opened without conversion): its one line in the window, the boxes back at the
// panel's format, and the card the panel's again.
TEST(LoanRefusal, ADeviceThatDoesNotOfferTheFormatIsSaidAndThePanelKeepsTheCard) {
    setenv("ALSA_CONFIG_PATH", TAVRIN_ALSA_RESTRICTED_CONF, 1);
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config.path());
    CAlertRecorder alerts;
    SetWaveDevices("tavrin_48k", "tavrin_48k");
    {
        CInstrumentDlg panel;
        panel.OnInitDialog();
        ASSERT_NE(panel.m_soundIn.m_hWaveIn, nullptr) << (alerts.Count() ? alerts.Texts()[0] : "");
        panel.OnDistortion();
        auto* window = panel.findChild<CDistortionWindow*>();
        Choose(window, {96000, SampleFormat::S24});

        EXPECT_EQ(window->RunningFormat(), StreamFormat{});
        EXPECT_EQ(window->findChild<CStreamFormatChoice*>()->Format(), StreamFormat{});
        EXPECT_EQ(
            window->findChild<QLabel*>(QStringLiteral("streamStatus"))->text(),
            QStringLiteral("'tavrin_48k' does not offer 96000 Hz s24; it offers 48000 Hz and s16"));
        EXPECT_NE(panel.m_soundIn.m_hWaveIn, nullptr) << "the panel has the card again";
        EXPECT_FALSE(panel.CardLentAt());
        window->close();
    }
    EXPECT_EQ(alerts.Count(), 0u) << alerts.Texts()[0];
    SetWaveDevices("", "");
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
    qunsetenv("XDG_CONFIG_HOME");
    unsetenv("ALSA_CONFIG_PATH");
}

// The format that worked is kept for the card it worked on: a new window on that card starts
// there, a window on another card at the panel's format.
TEST_F(LoanTest, TheChoiceIsRememberedPerCard) {
    CDistortionWindow* window = OpenWindow();
    Choose(window, {96000, SampleFormat::S24});
    ASSERT_EQ(window->RunningFormat(), (StreamFormat{96000, SampleFormat::S24}));
    CloseWindow(window);

    window = OpenWindow();
    EXPECT_EQ(window->RunningFormat(), (StreamFormat{96000, SampleFormat::S24}));
    EXPECT_EQ(window->findChild<CStreamFormatChoice*>()->Format(),
              (StreamFormat{96000, SampleFormat::S24}));
    CloseWindow(window);

    SetWaveDevice(WaveDirection::In, "sim:card2");
    ASSERT_EQ(Panel().ReopenCapture(), CaptureReopen::Reopened);
    window = OpenWindow();
    EXPECT_EQ(window->findChild<CStreamFormatChoice*>()->Format(), StreamFormat{});
    CloseWindow(window);
}

// The card's own resolution reaches the table. The tone is rounded once to 24-bit codes on its
// way out; a plain cable carries the codes as they are, so the capture's rounding finds nothing
// left to round. That one rounding is a uniform error of one step q = 2^-23, power q^2/12 spread
// over the 48 kHz band, of which 20 Hz - 20 kHz is read, against the tone's power A^2/2: about
// -149 dB. 16 bits would read -98 dB: a reading near -149 dB can only come from the stream.
TEST_F(LoanTest, TheWindowAt96kHz24BitReadsTheCardsOwnResolution) {
    const double q = std::ldexp(1.0, -23);
    const double amplitude = std::pow(10.0, -1.0 / 20.0);
    const double noise = q * q / 12 * (20000.0 - 20.0) / 48000.0;
    const double floorDb = 10 * std::log10(noise / (amplitude * amplitude / 2));
    ASSERT_LT(floorDb, -148.0);

    CDistortionWindow* window = OpenWindow();
    window->findChild<QCheckBox*>(QStringLiteral("play"))->setChecked(true);
    Choose(window, {96000, SampleFormat::S24});
    ASSERT_EQ(window->RunningFormat(), (StreamFormat{96000, SampleFormat::S24}));
    EXPECT_FALSE(Panel().TestSignalOn()) << "the panel's own signal stays off";

    auto* table = window->findChild<QTableWidget*>(QStringLiteral("table"));
    const auto cell = [&](const char* quantity, int column) {
        for (int r = 0; r < table->rowCount(); ++r) {
            if (table->item(r, 0)->text() == QString::fromUtf8(quantity)) {
                return table->item(r, column)->text();
            }
        }
        return QString();
    };
    // The first blocks may hold the stream's start; a settled one reads as a clean tone.
    ASSERT_TRUE(PumpUntil(
        [&] {
            return window->BlocksShown() >= 3 && cell("状态", 1) == QString::fromUtf8("正常") &&
                   cell("状态", 2) == QString::fromUtf8("正常");
        },
        std::chrono::seconds(20)))
        << cell("状态", 1).toStdString();
    for (int column : {1, 2}) {
        EXPECT_NEAR(cell("基波频率 (Hz)", column).toDouble(), 997.0, 0.01);
        EXPECT_NEAR(cell("基波电平 (dBFS)", column).toDouble(), -1.0, 0.05);
        const double thdnDb = cell("THD+N (dB)", column).toDouble();
        EXPECT_NEAR(thdnDb, floorDb, 1.0) << "column " << column;
    }
    CloseWindow(window);
}

// The audio-EQ-cookbook lowpass's magnitude in dB at f_hz, as the cable's biquad runs at rate_hz.
double CookbookLowpassDb(double f0Hz, double q, double rateHz, double fHz) {
    const double w0 = 2 * std::numbers::pi * f0Hz / rateHz;
    const double alpha = std::sin(w0) / (2 * q);
    const double c = std::cos(w0);
    const std::complex<double> z1 = std::polar(1.0, -2 * std::numbers::pi * fHz / rateHz);
    const std::complex<double> num = (1 - c) / 2 * (1.0 + 2.0 * z1 + z1 * z1);
    const std::complex<double> den = (1 + alpha) - 2 * c * z1 + (1 - alpha) * z1 * z1;
    return 20 * std::log10(std::abs(num / den));
}

// A sweep at 96 kHz/24-bit reaches above the panel's Nyquist frequency and reads the cable's
// filter as it runs at 96 kHz; the card is lent for the run alone.
TEST_F(LoanTest, TheFrequencyResponseAt96kHzReadsTheFilterTo40kHz) {
    const std::string cable = "sim:dut=lowpass:15000:0.707";
    SetWaveDevices(cable, cable);
    ASSERT_EQ(Panel().ReopenCapture(), CaptureReopen::Reopened);
    for (QAction* action : Panel().SystemMenu()->actions()) {
        if (action->text() == QString::fromUtf8(kFrequencyResponseItemText)) {
            action->trigger();
        }
    }
    auto* window = Panel().findChild<CFrequencyResponseWindow*>();
    ASSERT_NE(window, nullptr);
    // 131072 frames: the shortest a 96 kHz sweep from 20 Hz allows.
    window->findChild<QComboBox*>(QStringLiteral("length"))->setCurrentIndex(1);
    Choose(window, {96000, SampleFormat::S24});
    auto* toHz = window->findChild<QDoubleSpinBox*>(QStringLiteral("toHz"));
    toHz->setValue(40000);
    ASSERT_EQ(toHz->value(), 40000.0) << "the band reaches the 96 kHz rate's Nyquist frequency";

    // At the card's own pace: the window starts the sweep once the capture has begun, on its
    // poll, which a stream running as fast as the machine goes would leave far behind.
    Bench().SetClock(BenchClock::RealTime);
    window->findChild<QPushButton*>(QStringLiteral("start"))->click();
    ASSERT_TRUE(window->Running()) << window->StatusText().toStdString();
    EXPECT_FALSE(Bench().IsOpen(WaveDirection::In)) << "lent for the run";
    ASSERT_TRUE(PumpUntil([&] { return !window->Running(); }, std::chrono::seconds(30)));
    EXPECT_TRUE(Bench().IsOpen(WaveDirection::In)) << "given back when the run ends";
    ASSERT_TRUE(window->Outcome()) << window->StatusText().toStdString();
    const SweepResult& r = window->Outcome()->result;
    ASSERT_FALSE(r.freq_hz.empty());
    EXPECT_NEAR(r.freq_hz.back(), 40000.0, 1000.0);
    for (size_t i = 0; i < r.freq_hz.size(); ++i) {
        EXPECT_NEAR(r.mag_db[i], CookbookLowpassDb(15000, 0.707, 96000, r.freq_hz[i]), 0.1)
            << r.freq_hz[i] << " Hz";
    }
    window->close();
}

// The impedance window at 96 kHz/24-bit reads the divider's capacitor as its closed form gives
// it, as it does on the panel's stream.
TEST_F(LoanTest, TheImpedanceAt96kHzReadsTheDividersCapacitor) {
    const std::string divider = "sim:dut=divider:100:C1e-6";
    SetWaveDevices(divider, divider);
    ASSERT_EQ(Panel().ReopenCapture(), CaptureReopen::Reopened);
    for (QAction* action : Panel().SystemMenu()->actions()) {
        if (action->text() == QString::fromUtf8(kImpedanceItemText)) {
            action->trigger();
        }
    }
    auto* window = Panel().findChild<CImpedanceWindow*>();
    ASSERT_NE(window, nullptr);
    Choose(window, {96000, SampleFormat::S24});
    ASSERT_FALSE(Bench().IsOpen(WaveDirection::In))
        << window->findChild<QLabel*>(QStringLiteral("streamStatus"))->text().toStdString();
    const int before = window->ReadingsShown();
    ASSERT_TRUE(
        PumpUntil([&] { return window->ReadingsShown() > before + 1; }, std::chrono::seconds(20)));
    const std::complex<double> z = window->LastReading()->corrected.z_ohm;
    const std::complex<double> capacitor =
        1.0 / std::complex<double>(0.0, 2 * std::numbers::pi * 1000 * 1e-6);
    EXPECT_NEAR(std::abs(z) / std::abs(capacitor), 1.0, 1e-3);
    EXPECT_NEAR(std::arg(z) * 180 / std::numbers::pi, -90.0, 0.05);
    window->close();
    EXPECT_TRUE(Bench().IsOpen(WaveDirection::In));
}

} // namespace
