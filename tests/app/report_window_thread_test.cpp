// The sound card report window on the simulated card: opened from the panel's context menu, it
// runs every step on a worker against the panel's own engine while the panel keeps capturing,
// lists each step as it ends, writes the report's files, opens the page and saves copies.
#include "app/analysers/report_window.h"
#include "tests/app/panel_fixture.h"

#include <QAction>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QMenu>
#include <QTreeWidget>

namespace {

class ReportWindowTest : public PanelTest {
protected:
    CReportWindow* Open() {
        const QList<QAction*> actions = Panel().SystemMenu()->actions();
        if (actions.isEmpty() || actions.back()->text() != QString::fromUtf8("声卡测试报告…")) {
            return nullptr;
        }
        actions.back()->trigger();
        return Panel().findChild<CReportWindow*>();
    }

    // Runs buffers until the run ends or `most` have run; false if it did not end.
    bool RunToEnd(CReportWindow* window, int most) {
        for (int i = 0; i < most && window->Running(); ++i) {
            RunBuffers(1);
        }
        return !window->Running();
    }

    QJsonObject ReadJson(const QString& path) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            return {};
        }
        return QJsonDocument::fromJson(file.readAll()).object();
    }
};

TEST_F(ReportWindowTest, APlainCableRunsEveryStepToTheEndAndTheFilesOpenAndCopy) {
    CReportWindow* window = Open();
    ASSERT_NE(window, nullptr);
    const QString folder = m_dir.filePath(QStringLiteral("report"));
    window->SetOutputFolder(folder);
    // A bound no cable keeps: the window names the figure that breaks it.
    const QString limits = m_dir.filePath(QStringLiteral("limits.json"));
    QFile limitsFile(limits);
    ASSERT_TRUE(limitsFile.open(QIODevice::WriteOnly));
    limitsFile.write(R"({"gain_db_r": {"max": -1}, "gain_db_l": {"min": -1}})");
    limitsFile.close();
    window->SetLimitsFile(limits);
    QStringList opened;
    window->SetOpener([&](const QString& path) { opened << path; });
    ASSERT_TRUE(window->Start());
    // The run is on a worker: the panel still draws its frames meanwhile.
    const int64_t before = Panel().BuffersProcessed();
    ASSERT_TRUE(RunToEnd(window, 6000));
    EXPECT_GT(Panel().BuffersProcessed(), before + 100);
    EXPECT_EQ(window->Finished(), folder);
    EXPECT_FALSE(Panel().TestSignalOn()) << "the line output is given back";

    const auto* steps = window->findChild<QTreeWidget*>(QStringLiteral("steps"));
    const QJsonObject report = ReadJson(folder + QStringLiteral("/report.json"));
    const QJsonArray written = report.value(QStringLiteral("steps")).toArray();
    ASSERT_EQ(written.size(), 11);
    ASSERT_EQ(steps->topLevelItemCount(), 11);
    for (int i = 0; i < steps->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = steps->topLevelItem(i);
        EXPECT_EQ(item->text(0), written[i].toObject().value(QStringLiteral("name")).toString());
        EXPECT_TRUE(item->text(2).startsWith(QString::fromUtf8("完成")))
            << item->text(2).toStdString();
        EXPECT_TRUE(item->text(1).endsWith(QStringLiteral(" s")));
    }
    // A cable gives back what it is given: unity gain, and the same on both channels.
    for (const QJsonValue figure : report.value(QStringLiteral("figures")).toArray()) {
        const QString id = figure.toObject().value(QStringLiteral("id")).toString();
        if (id == QStringLiteral("gain_db_l") || id == QStringLiteral("balance_level_db")) {
            EXPECT_NEAR(figure.toObject().value(QStringLiteral("value")).toDouble(99), 0.0, 0.01)
                << id.toStdString();
        }
    }

    const QString status = window->findChild<QLabel*>(QStringLiteral("status"))->text();
    EXPECT_TRUE(status.endsWith(QString::fromUtf8("超出限值：gain_db_r"))) << status.toStdString();

    window->findChild<QPushButton*>(QStringLiteral("open"))->click();
    EXPECT_EQ(opened, QStringList{folder + QStringLiteral("/report.html")});
    const QString copy = m_dir.filePath(QStringLiteral("copy"));
    QString error;
    ASSERT_TRUE(window->SaveTo(copy, &error)) << error.toStdString();
    for (const char* name : {"report.html", "report.json", "summary.csv"}) {
        QFile original(folder + QLatin1Char('/') + QLatin1String(name));
        QFile copied(copy + QLatin1Char('/') + QLatin1String(name));
        ASSERT_TRUE(original.open(QIODevice::ReadOnly) && copied.open(QIODevice::ReadOnly)) << name;
        EXPECT_GT(original.size(), 100) << name;
        EXPECT_EQ(copied.readAll(), original.readAll()) << name;
    }
}

// Stopped, the run ends at the next capture, keeps what it measured and gives the output back;
// another analyser opened meanwhile closes the window as they close each other.
TEST_F(ReportWindowTest, StopEndsTheRunAndAnotherAnalyserClosesTheWindow) {
    CReportWindow* window = Open();
    ASSERT_NE(window, nullptr);
    window->SetOutputFolder(m_dir.filePath(QStringLiteral("stopped")));
    ASSERT_TRUE(window->Start());
    RunBuffers(30);
    ASSERT_TRUE(Panel().TestSignalOn());
    window->Stop();
    // The worker ends on its own time, at its next capture: no buffer needs to run for that.
    ASSERT_TRUE(PumpUntil([&] { return !window->Running(); }, std::chrono::seconds(20)));
    EXPECT_FALSE(Panel().TestSignalOn());
    EXPECT_TRUE(window->findChild<QLabel*>(QStringLiteral("status"))
                    ->text()
                    .startsWith(QString::fromUtf8("已停止")));
    EXPECT_TRUE(QFile::exists(m_dir.filePath(QStringLiteral("stopped/report.html"))));

    ASSERT_TRUE(window->Start());
    RunBuffers(10);
    Panel().OnDistortion();
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(Panel().findChild<CReportWindow*>(), nullptr) << "closed means gone";
    RunBuffers(4); // nothing of the report listens any more
}

} // namespace
