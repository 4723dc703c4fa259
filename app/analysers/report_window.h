#pragma once
// CReportWindow: the sound card report from the panel, opened from its context menu
// ("声卡测试报告…"). The settings (the output folder, an optional limits file; the device is the
// panel's), Start/Stop, and the steps listed with their times as the run goes. The steps run on
// a worker thread against the panel's own engine (report_panel_card.h), so the panel stays
// live. When the run ends the report's three files are in the folder: Open shows the page with
// the desktop's opener, Save as… copies the files to a folder the user chooses.
//
// Threads: GUI thread, but for the run's worker, which tells the window through Post: its news
// travels through a mutex, and a queued call made inside Qt has the GUI thread take it.

#include "app/analysers/report_panel_card.h"
#include "engine/test_signal_user.h"
#include "headless/report_data.h"

#include <QDialog>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class CSoundDevice;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

inline constexpr const char* kReportItemText = QT_TRANSLATE_NOOP("CInstrumentDlg", "声卡测试报告…");

class CReportWindow : public QDialog, private TestSignalUser {
    Q_OBJECT
public:
    CReportWindow(CSoundDevice& engine, QWidget* owner);
    ~CReportWindow() override;

    void SetOutputFolder(const QString& folder);
    void SetLimitsFile(const QString& path);
    // Starts a run with the settings shown; false (said in the window) when it cannot start.
    bool Start();
    void Stop();
    bool Running() const { return m_worker.joinable(); }
    // The last run's folder once it wrote its files; empty before.
    QString Finished() const { return m_finished; }
    // Copies report.html, report.json and summary.csv into folder; false, with why, if not.
    bool SaveTo(const QString& folder, QString* error) const;
    // How a file is opened; the desktop's opener unless a test says otherwise.
    void SetOpener(std::function<void(const QString&)> opener) { m_opener = std::move(opener); }

    void done(int result) override;

private:
    // Worker: runs `news` on the GUI thread soon, in the order posted.
    void Post(std::function<void()> news);
    Q_INVOKABLE void TakeNews();
    void StepStarted(int index, int count, const QString& name);
    void StepFinished(int index, const ReportStep& step);
    // outOfLimits: the ids of the figures the limits file's bounds do not hold.
    void RunEnded(bool complete, const QString& folder, const QString& error,
                  const QStringList& outOfLimits);
    void EndRun(); // joins the worker, gives the line output and the tap back
    void TestSignalTaken() override;
    void ChooseFolder(QLineEdit* edit, const QString& title);
    void ChooseLimits();
    void OpenReport();
    void SaveAs();

    CSoundDevice& m_engine;
    std::unique_ptr<CPanelCardCapture> m_card;
    std::thread m_worker;
    std::atomic<bool> m_stopAsked{false};
    std::mutex m_newsMutex;
    std::vector<std::function<void()>> m_news; // posted by the worker, taken on the GUI thread
    QString m_finished;
    std::function<void(const QString&)> m_opener;

    QLineEdit* m_folder = nullptr;
    QLineEdit* m_limits = nullptr;
    QLabel* m_device = nullptr;
    QPushButton* m_startStop = nullptr;
    QTreeWidget* m_steps = nullptr;
    QLabel* m_status = nullptr;
    QPushButton* m_open = nullptr;
    QPushButton* m_saveAs = nullptr;
};
