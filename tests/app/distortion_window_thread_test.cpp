// The distortion window on the simulated card: opened from the panel's context menu, it plays
// its test tone through the card's cable, shows the live table, exports what the table shows,
// and when closed gives the line output back and stops listening.
#include "app/analysers/distortion_window.h"
#include "tests/app/panel_fixture.h"
#include "tests/support/allocation_counter.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QMenu>
#include <QTableWidget>

namespace {

class DistortionWindowTest : public PanelTest {
protected:
    CDistortionWindow* Open() {
        for (QAction* action : Panel().SystemMenu()->actions()) {
            if (action->text() == QString::fromUtf8("失真与噪声…")) {
                action->trigger();
            }
        }
        return Panel().findChild<CDistortionWindow*>();
    }

    static QString Cell(CDistortionWindow* window, const QString& quantity, int column) {
        auto* table = window->findChild<QTableWidget*>(QStringLiteral("table"));
        for (int r = 0; r < table->rowCount(); ++r) {
            if (table->item(r, 0)->text() == quantity) {
                return table->item(r, column)->text();
            }
        }
        return QStringLiteral("<no row %1>").arg(quantity);
    }
};

TEST_F(DistortionWindowTest, PlaysItsToneShowsTheLiveTableExportsItAndGivesTheOutputBack) {
    CDistortionWindow* window = Open();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(Open(), window) << "a second click raises the window that is open";
    window->findChild<QComboBox*>(QStringLiteral("blockSize"))->setCurrentIndex(0); // 8192
    window->findChild<QCheckBox*>(QStringLiteral("play"))->setChecked(true);
    ASSERT_TRUE(Panel().TestSignalOn());

    // 8192 frames are two buffers; the first blocks hold the primed start of the tone.
    RunBuffers(16);
    ASSERT_TRUE(PumpUntil([&] {
        return Cell(window, QString::fromUtf8("状态"), 1) == QString::fromUtf8("正常") &&
               Cell(window, QString::fromUtf8("状态"), 2) == QString::fromUtf8("正常");
    })) << Cell(window, QString::fromUtf8("状态"), 1).toStdString();
    for (int column : {1, 2}) {
        EXPECT_EQ(Cell(window, QString::fromUtf8("状态"), column), QString::fromUtf8("正常"));
        EXPECT_NEAR(Cell(window, QString::fromUtf8("基波频率 (Hz)"), column).toDouble(), 997.0,
                    0.01);
        EXPECT_NEAR(Cell(window, QString::fromUtf8("基波电平 (dBFS)"), column).toDouble(), -1.0,
                    0.05);
        // A clean 16-bit tone through a perfect cable: only its quantisation is left.
        EXPECT_LT(Cell(window, QStringLiteral("THD+N (dB)"), column).toDouble(), -90.0);
    }

    const QString path = m_dir.filePath(QStringLiteral("table.csv"));
    QString error;
    ASSERT_TRUE(window->ExportTableCsv(path, &error)) << error.toStdString();
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    auto* table = window->findChild<QTableWidget*>(QStringLiteral("table"));
    ASSERT_EQ(lines.size(), table->rowCount() + 1);
    for (int r = 0; r < table->rowCount(); ++r) {
        const QStringList fields = lines[r + 1].split(',');
        ASSERT_EQ(fields.size(), 3) << lines[r + 1].toStdString();
        for (int c = 0; c < 3; ++c) {
            EXPECT_EQ(fields[c], table->item(r, c)->text()) << "row " << r << " column " << c;
        }
    }
    const QString svg = m_dir.filePath(QStringLiteral("plots.svg"));
    ASSERT_TRUE(window->ExportPlots(svg, &error)) << error.toStdString();
    QFile picture(svg);
    ASSERT_TRUE(picture.open(QIODevice::ReadOnly));
    EXPECT_TRUE(picture.readAll().contains("<svg"));

    window->close();
    EXPECT_FALSE(Panel().TestSignalOn());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(Panel().findChild<CDistortionWindow*>(), nullptr) << "closed means gone";
    RunBuffers(4); // nothing listens any more: these buffers must reach no freed monitor
}

// The window's tap as it was, called from a wrapper that counts the allocations made inside it.
CSoundDevice::CaptureTapFn g_windowTap = nullptr;

void CountedTap(const int16_t* interleaved, int frames, uint64_t gapCount, void* context) {
    tavrin::test::ArmAllocationCountOnThisThread();
    g_windowTap(interleaved, frames, gapCount, context);
    tavrin::test::DisarmAllocationCountOnThisThread();
}

// The window's two-tone choices beside the old ones: DIN and a custom pair play and read their
// figures, each order apart; and the window's part of the capture worker's work (spectra, IMD and
// the handover to the GUI) allocates nothing.
TEST_F(DistortionWindowTest, PlaysDinAndACustomPairAndAllocatesNothingOnTheCaptureWorker) {
    CDistortionWindow* window = Open();
    ASSERT_NE(window, nullptr);
    window->findChild<QComboBox*>(QStringLiteral("blockSize"))->setCurrentIndex(0); // 8192
    auto* measurement = window->findChild<QComboBox*>(QStringLiteral("measurement"));
    window->findChild<QCheckBox*>(QStringLiteral("play"))->setChecked(true);
    const auto [tap, monitor] = Panel().CaptureTap();
    ASSERT_NE(tap, nullptr);
    g_windowTap = tap;
    Panel().SetCaptureTap(&CountedTap, monitor);
    tavrin::test::ResetAllocationCount();

    const auto readsImd = [&] {
        return Cell(window, QString::fromUtf8("状态"), 1) == QString::fromUtf8("正常") &&
               !Cell(window, QString::fromUtf8("互调 IMD (%)"), 1).isEmpty() &&
               !Cell(window, QString::fromUtf8("互调 d2 (%)"), 2).isEmpty();
    };
    for (int choice : {3, 4}) { // DIN, then the custom pair (60 Hz + 7 kHz at 4:1 to start)
        measurement->setCurrentIndex(choice);
        RunBuffers(12);
        EXPECT_TRUE(PumpUntil(readsImd)) << choice;
        // A clean cable: only the 16-bit rounding makes products.
        EXPECT_LT(Cell(window, QString::fromUtf8("互调 IMD (%)"), 1).toDouble(), 0.01) << choice;
    }
    if (tavrin::test::kAllocationsCounted) { // a sanitizer keeps its own allocator
        EXPECT_EQ(tavrin::test::AllocationsOnArmedThreads(), 0u);
    }
    window->close();
}

} // namespace
