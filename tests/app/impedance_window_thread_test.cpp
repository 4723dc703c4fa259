// The impedance window on the simulated card's divider: opened from the panel's context menu, it
// plays its tone, reads the capacitor as its closed form gives it, sweeps, exports the curve it
// shows, and when closed gives the line output back and stops listening.
#include "analysis/calibration/impedance_calibration.h"
#include "analysis/impedance/impedance_files.h"
#include "app/analysers/impedance_chart.h"
#include "app/analysers/impedance_window.h"
#include "tests/app/panel_fixture.h"

#include <QAction>
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>

#include <array>
#include <complex>
#include <functional>
#include <ostream>

namespace {

constexpr double kPi = 3.141592653589793;
const std::string kDivider = "sim:dut=divider:100:C1e-6";

std::complex<double> Capacitor(double freq_hz) {
    return 1.0 / std::complex<double>(0.0, 2 * kPi * freq_hz * 1e-6);
}

class ImpedanceWindowTest : public PanelTest {
protected:
    CImpedanceWindow* Open() {
        for (QAction* action : Panel().SystemMenu()->actions()) {
            if (action->text() == QString::fromUtf8("阻抗…")) {
                action->trigger();
            }
        }
        return Panel().findChild<CImpedanceWindow*>();
    }

    // The window open on `device`, once it shows a reading; nullptr if it does not.
    CImpedanceWindow* OpenReading(const std::string& device) {
        m_prompts.devices = DeviceNames{device, device};
        Panel().OnSoundCard();
        RunBuffers(2);
        CImpedanceWindow* window = Open();
        if (window == nullptr || !RunUntil([&] { return window->ReadingsShown() >= 1; }, 60)) {
            return nullptr;
        }
        return window;
    }

    // Runs buffers until `done` or `most` have run.
    template <typename Done> bool RunUntil(Done done, int most) {
        for (int i = 0; i < most && !done(); ++i) {
            RunBuffers(1);
        }
        return done();
    }
};

TEST_F(ImpedanceWindowTest, ReadsTheDividersCapacitorSweepsAndExportsTheCurveItShows) {
    m_prompts.devices = DeviceNames{kDivider, kDivider};
    Panel().OnSoundCard();
    RunBuffers(2);
    CImpedanceWindow* window = Open();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(Panel().TestSignalOn());

    // The divider delays by 16384 frames: the tone arrives, settles, then blocks of 0.2 s.
    ASSERT_TRUE(RunUntil([&] { return window->ReadingsShown() >= 2; }, 60));
    const ImpedanceLiveReading& reading = *window->LastReading();
    ASSERT_EQ(reading.refusal, ImpedanceRefusal::None);
    EXPECT_NEAR(std::abs(reading.corrected.z_ohm) / std::abs(Capacitor(1000)), 1.0, 1e-3);
    EXPECT_NEAR(std::arg(reading.corrected.z_ohm) * 180 / kPi, -90.0, 0.05);
    EXPECT_EQ(window->findChild<QLabel*>(QStringLiteral("value"))->text().toStdString(),
              "C = 1.0000 µF");

    // 900 and 1100 Hz: a third of an octave, two points at two per octave.
    window->findChild<QDoubleSpinBox*>(QStringLiteral("sweepFrom"))->setValue(900);
    window->findChild<QDoubleSpinBox*>(QStringLiteral("sweepTo"))->setValue(1100);
    window->findChild<QSpinBox*>(QStringLiteral("perOctave"))->setValue(2);
    window->StartSweep();
    ASSERT_TRUE(window->Sweeping());
    ASSERT_TRUE(RunUntil([&] { return !window->Sweeping(); }, 200));
    const std::vector<ImpedanceCurvePoint>& curve = window->Curve();
    ASSERT_EQ(curve.size(), 2u);
    for (const ImpedanceCurvePoint& p : curve) {
        EXPECT_NEAR(std::abs(p.z_ohm) / std::abs(Capacitor(p.freq_hz)), 1.0, 1e-3) << p.freq_hz;
        EXPECT_NEAR(std::arg(p.z_ohm) * 180 / kPi, -90.0, 0.05) << p.freq_hz;
    }
    EXPECT_EQ(window->findChild<CImpedanceChart*>()->PointCount(), 2);

    const QString path = m_dir.filePath(QStringLiteral("curve.csv"));
    QString error;
    ASSERT_TRUE(window->ExportCsv(path, &error)) << error.toStdString();
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll().toStdString(), FormatImpedanceCsv(curve));
    const QString svg = m_dir.filePath(QStringLiteral("plot.svg"));
    ASSERT_TRUE(window->ExportPlot(svg, &error)) << error.toStdString();

    window->close();
    EXPECT_FALSE(Panel().TestSignalOn());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(Panel().findChild<CImpedanceWindow*>(), nullptr) << "closed means gone";
    RunBuffers(4); // nothing listens any more: these buffers must reach no freed run
}

// A driver's DC resistance typed in is the Re its figures use, in place of the fitted 6 ohm.
TEST_F(ImpedanceWindowTest, TheReGivenIsTheReOfTheDriversFigures) {
    CImpedanceWindow* window = OpenReading("sim:dut=divider:10:R6+L0.3e-3+(L0.02|C3e-4|R30)");
    ASSERT_NE(window, nullptr);
    window->findChild<QDoubleSpinBox*>(QStringLiteral("rRef"))->setValue(10);
    window->findChild<QDoubleSpinBox*>(QStringLiteral("sweepFrom"))->setValue(40);
    window->findChild<QDoubleSpinBox*>(QStringLiteral("sweepTo"))->setValue(120);
    window->findChild<QSpinBox*>(QStringLiteral("perOctave"))->setValue(4);
    window->findChild<QDoubleSpinBox*>(QStringLiteral("re"))->setValue(5.5);
    window->StartSweep();
    ASSERT_TRUE(RunUntil([&] { return !window->Sweeping(); }, 400));
    ASSERT_EQ(window->Curve().size(), 8u);
    const QString figures = window->findChild<QLabel*>(QStringLiteral("speaker"))->text();
    EXPECT_TRUE(figures.contains(QString::fromUtf8("Re = 5.500 Ω"))) << figures.toStdString();
    // Cleared after the sweep: the same curve's fitted Re.
    window->findChild<QDoubleSpinBox*>(QStringLiteral("re"))->setValue(0);
    const QString fitted = window->findChild<QLabel*>(QStringLiteral("speaker"))->text();
    EXPECT_TRUE(fitted.contains(QString::fromUtf8("Re = 6.0"))) << fitted.toStdString();
}

// The card's 10 kOhm across R_ref reads 1 % high until the window is told of it; told, it reads
// the part again (and again after a change of level) and keeps the figure for the card.
TEST_F(ImpedanceWindowTest, TheInputImpedanceEnteredCorrectsTheReadingAndIsKeptForTheCard) {
    const std::string device = "sim:dut=divider:100:C1e-6+zin:1e4";
    CImpedanceWindow* window = OpenReading(device);
    ASSERT_NE(window, nullptr);
    const double loaded = std::abs(window->LastReading()->corrected.z_ohm);
    EXPECT_NEAR(loaded / std::abs(Capacitor(1000)), 1.01, 2e-3) << "R_ref || 10 kOhm is 99.0 Ohm";

    window->findChild<QDoubleSpinBox*>(QStringLiteral("inputImpedance"))->setValue(1e4);
    const int before = window->ReadingsShown();
    ASSERT_TRUE(RunUntil([&] { return window->ReadingsShown() >= before + 1; }, 60));
    EXPECT_NEAR(std::abs(window->LastReading()->corrected.z_ohm) / std::abs(Capacitor(1000)), 1.0,
                1e-3);

    // A new level restarts the tone with a jump in phase: the first reading after waits it out.
    window->findChild<QDoubleSpinBox*>(QStringLiteral("level"))->setValue(-9);
    const int relevelled = window->ReadingsShown();
    ASSERT_TRUE(RunUntil([&] { return window->ReadingsShown() >= relevelled + 1; }, 60));
    EXPECT_NEAR(std::abs(window->LastReading()->corrected.z_ohm) / std::abs(Capacitor(1000)), 1.0,
                1e-3);

    CImpedanceCalibrationStore store;
    std::string message;
    ASSERT_TRUE(store.Load(CImpedanceCalibrationStore::DefaultPath(), &message)) << message;
    const ImpedanceCorrections* kept = store.Find(device);
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(kept->input_impedance_ohm, 1e4);
    window->close();
}

// A calibration over the sweep's band with its short or open in place, then the part in its
// place on the same card: the part's curve reads its own impedance at every point, where
// without the calibration it is visibly off.
struct CalFlow {
    const char* name;
    std::vector<std::pair<const char*, std::string>> calibrations; // button, chain in place
    std::string part;                                              // chain with the part
    std::function<std::complex<double>(double)> z_ohm;             // the part's own
    double least_error_without; // |Z/Z_part - 1| somewhere on the uncalibrated curve
    double most_error_with;     // |Z| relative, at every point once calibrated
    double most_deg_with;
};

void PrintTo(const CalFlow& flow, std::ostream* os) {
    *os << flow.name;
}

class ImpedanceCalibrationFlow : public ImpedanceWindowTest,
                                 public ::testing::WithParamInterface<CalFlow> {
protected:
    // The sweep's curve as relative errors against the part: the largest |Z/Z_part - 1|, the
    // largest |Z| error and the largest phase error in degrees.
    std::array<double, 3> SweepErrors(CImpedanceWindow* window) {
        window->StartSweep();
        EXPECT_TRUE(RunUntil([&] { return !window->Sweeping(); }, 400));
        EXPECT_EQ(window->Curve().size(), 5u);
        std::array<double, 3> most = {0, 0, 0};
        // A NaN (a compensation dividing by nothing) is kept, and fails the comparisons.
        const auto keep = [](double& most, double error) {
            if (!(error <= most)) {
                most = error;
            }
        };
        for (const ImpedanceCurvePoint& p : window->Curve()) {
            const std::complex<double> ratio = p.z_ohm / GetParam().z_ohm(p.freq_hz);
            keep(most[0], std::abs(ratio - 1.0));
            keep(most[1], std::abs(std::abs(ratio) - 1.0));
            keep(most[2], std::abs(std::arg(ratio) * 180 / kPi));
        }
        return most;
    }
};

TEST_P(ImpedanceCalibrationFlow, CalibratedOverTheBandThePartReadsItsOwnImpedance) {
    const CalFlow& flow = GetParam();
    CImpedanceWindow* window = OpenReading("sim:dut=" + flow.part);
    ASSERT_NE(window, nullptr);
    // 500 Hz to 2 kHz, two points an octave: five.
    window->findChild<QDoubleSpinBox*>(QStringLiteral("sweepFrom"))->setValue(500);
    window->findChild<QDoubleSpinBox*>(QStringLiteral("sweepTo"))->setValue(2000);
    window->findChild<QSpinBox*>(QStringLiteral("perOctave"))->setValue(2);
    EXPECT_GT(SweepErrors(window)[0], flow.least_error_without) << "uncalibrated";

    window->findChild<QCheckBox*>(QStringLiteral("calOverSweep"))->setChecked(true);
    for (const auto& [button, chain] : flow.calibrations) {
        std::string error;
        ASSERT_TRUE(CSimulatedBench::Instance().SetDutChain(chain, &error)) << error;
        window->findChild<QPushButton*>(QString::fromLatin1(button))->click();
        ASSERT_TRUE(window->Sweeping()) << button;
        ASSERT_TRUE(RunUntil([&] { return !window->Sweeping(); }, 400)) << button;
    }
    const QString state = window->findChild<QLabel*>(QStringLiteral("calState"))->text();
    EXPECT_EQ(state.count(QString::fromUtf8("5 个频点，500.00–2000.00 Hz")),
              qsizetype(flow.calibrations.size()))
        << state.toStdString();

    std::string error;
    ASSERT_TRUE(CSimulatedBench::Instance().SetDutChain(flow.part, &error)) << error;
    const std::array<double, 3> with = SweepErrors(window);
    EXPECT_LT(with[1], flow.most_error_with);
    EXPECT_LT(with[2], flow.most_deg_with);
    window->close();
}

// A calibration sweep stopped half way stores none of it: the band would be part new, part old.
TEST_F(ImpedanceWindowTest, ACalibrationSweepStoppedStoresNothing) {
    CImpedanceWindow* window = OpenReading("sim:dut=divider:100:R0+mismatch:0.06:0.6");
    ASSERT_NE(window, nullptr);
    window->findChild<QDoubleSpinBox*>(QStringLiteral("sweepFrom"))->setValue(500);
    window->findChild<QDoubleSpinBox*>(QStringLiteral("sweepTo"))->setValue(2000);
    window->findChild<QCheckBox*>(QStringLiteral("calOverSweep"))->setChecked(true);
    window->findChild<QPushButton*>(QStringLiteral("calMatch"))->click();
    ASSERT_TRUE(RunUntil([&] { return window->findChild<QProgressBar*>()->value() > 0; }, 200));
    window->findChild<QPushButton*>(QStringLiteral("stopSweep"))->click();
    EXPECT_FALSE(window->Sweeping());
    EXPECT_EQ(window->findChild<QLabel*>(QStringLiteral("calState"))->text().toStdString(),
              "通道匹配：无\n开路：无；短路：无");
    ASSERT_TRUE(RunUntil([&] { return window->ReadingsShown() >= 1; }, 60)) << "live again";
    window->close();
}

std::complex<double> LeadsPart(double freq_hz) {
    return 10.0 + Capacitor(freq_hz);
}

INSTANTIATE_TEST_SUITE_P(
    Corrections, ImpedanceCalibrationFlow,
    ::testing::Values(
        // 0.06 dB and 0.6 deg between the channels: a 1 uF part reads up to 0.6 % and 1.1 deg
        // off over the band (the divider's own phase adds to the mismatch's).
        CalFlow{"ChannelMatch",
                {{"calMatch", "divider:100:R0+mismatch:0.06:0.6"}},
                "divider:100:C1e-6+mismatch:0.06:0.6",
                Capacitor,
                0.015,
                1e-3,
                0.05},
        // Leads of 50 mOhm and 100 nH, and 10 nF across the fixture's open jaws: 1 % off.
        CalFlow{
            "OpenAndShort",
            {{"calOpen", "divider:100:R0.05+L1e-7+C1e-8"}, {"calShort", "divider:100:R0.05+L1e-7"}},
            "divider:100:R0.05+L1e-7+(C1e-8|(R10+C1e-6))",
            LeadsPart,
            0.008,
            1e-3,
            0.05}),
    [](const ::testing::TestParamInfo<CalFlow>& info) { return std::string(info.param.name); });

} // namespace
