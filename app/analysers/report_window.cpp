#include "app/analysers/report_window.h"

#include "audio/test_signal.h"
#include "audio/wave/wave_api.h"
#include "base/pcm_format.h"
#include "engine/sound_device.h"
#include "headless/report_html.h"
#include "headless/report_json.h"
#include "headless/report_limits.h"
#include "headless/report_steps.h"

#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include <fstream>
#include <vector>

#ifndef TAVRIN_VERSION
#error "TAVRIN_VERSION comes from the build"
#endif

namespace {

const char* const kReportFiles[] = {"report.html", "report.json", "summary.csv"};

enum Column { kName, kTime, kState };

bool WriteText(const QString& path, const std::string& text) {
    std::ofstream file(path.toStdString(), std::ios::binary | std::ios::trunc);
    file << text;
    file.close();
    return bool(file);
}

} // namespace

CReportWindow::CReportWindow(CSoundDevice& engine, QWidget* owner)
    : QDialog(owner), m_engine(engine), m_opener([](const QString& path) {
          // Handed to the desktop's opener, which starts its program and returns, as the panel's
          // link label does.
          QDesktopServices::openUrl(QUrl::fromLocalFile(path));
      }) {
    setWindowTitle(tr("声卡测试报告"));
    setModal(false);

    m_folder = new QLineEdit(QDir::home().filePath(QStringLiteral("tavrin-report")), this);
    m_folder->setObjectName(QStringLiteral("folder"));
    m_limits = new QLineEdit(this);
    m_limits->setObjectName(QStringLiteral("limits"));
    m_limits->setPlaceholderText(tr("无"));
    m_device = new QLabel(QString::fromStdString(WaveDeviceName(WaveDirection::In)), this);
    auto* chooseFolder = new QPushButton(tr("选择…"), this);
    connect(chooseFolder, &QPushButton::clicked, this,
            [this] { ChooseFolder(m_folder, tr("报告文件夹")); });
    auto* chooseLimits = new QPushButton(tr("选择…"), this);
    connect(chooseLimits, &QPushButton::clicked, this, [this] { ChooseLimits(); });
    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(m_folder, 1);
    folderRow->addWidget(chooseFolder);
    auto* limitsRow = new QHBoxLayout;
    limitsRow->addWidget(m_limits, 1);
    limitsRow->addWidget(chooseLimits);
    auto* form = new QFormLayout;
    form->addRow(tr("输出文件夹"), folderRow);
    form->addRow(tr("限值文件"), limitsRow);
    form->addRow(tr("设备"), m_device);

    m_steps = new QTreeWidget(this);
    m_steps->setObjectName(QStringLiteral("steps"));
    m_steps->setRootIsDecorated(false);
    m_steps->setHeaderLabels({tr("步骤"), tr("时间"), tr("状态")});
    // The state column takes what is left: it carries the step's note.
    m_steps->setColumnWidth(kName, 190);
    m_steps->setColumnWidth(kTime, 60);
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("status"));
    m_status->setWordWrap(true);

    m_startStop = new QPushButton(tr("开始"), this);
    m_startStop->setObjectName(QStringLiteral("startStop"));
    connect(m_startStop, &QPushButton::clicked, this, [this] {
        if (Running()) {
            Stop();
        } else {
            Start();
        }
    });
    m_open = new QPushButton(tr("打开"), this);
    m_open->setObjectName(QStringLiteral("open"));
    m_open->setEnabled(false);
    connect(m_open, &QPushButton::clicked, this, [this] { OpenReport(); });
    m_saveAs = new QPushButton(tr("另存为…"), this);
    m_saveAs->setObjectName(QStringLiteral("saveAs"));
    m_saveAs->setEnabled(false);
    connect(m_saveAs, &QPushButton::clicked, this, [this] { SaveAs(); });
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_startStop);
    buttons->addStretch(1);
    buttons->addWidget(m_open);
    buttons->addWidget(m_saveAs);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_steps, 1);
    layout->addWidget(m_status);
    layout->addLayout(buttons);
    resize(560, 520);
}

CReportWindow::~CReportWindow() {
    EndRun();
}

void CReportWindow::SetOutputFolder(const QString& folder) {
    m_folder->setText(folder);
}

void CReportWindow::SetLimitsFile(const QString& path) {
    m_limits->setText(path);
}

bool CReportWindow::Start() {
    if (Running()) {
        return false;
    }
    m_finished.clear();
    m_open->setEnabled(false);
    m_saveAs->setEnabled(false);
    m_steps->clear();
    // The limits and the folder are checked before anything plays, as the command line does.
    std::vector<FigureLimit> limits;
    if (const QString path = m_limits->text().trimmed(); !path.isEmpty()) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            m_status->setText(tr("无法读取限值文件：") + path);
            return false;
        }
        std::string error;
        auto parsed = ParseLimits(file.readAll().toStdString(), ReportFigureTable(), &error);
        if (!parsed) {
            m_status->setText(tr("限值文件有误：") + QString::fromStdString(error));
            return false;
        }
        limits = std::move(*parsed);
    }
    const QString folder = m_folder->text().trimmed();
    if (folder.isEmpty() || !QDir().mkpath(folder)) {
        m_status->setText(tr("无法建立文件夹：") + folder);
        return false;
    }

    Report report;
    report.device = WaveDeviceName(WaveDirection::In);
    report.format = "16-bit PCM, " + std::to_string(int(kSampleRate)) + " Hz, stereo";
    report.date = QDateTime::currentDateTimeUtc().toString(Qt::ISODate).toStdString();
    report.version = TAVRIN_VERSION;
    m_device->setText(QString::fromStdString(report.device));

    m_card = std::make_unique<CPanelCardCapture>(
        m_engine,
        [this] {
            // A run ended by closing the window may leave this call queued behind it.
            Post([this] {
                if (m_card) {
                    m_card->Arm();
                }
            });
        },
        [this](const TestSignal& signal) { m_engine.StartTestSignal(signal, this); });
    m_card->Install();
    m_stopAsked = false;
    m_startStop->setText(tr("停止"));
    m_status->setText(tr("测量中…"));

    // The worker owns its report and limits; it reaches the window only through Post.
    m_worker = std::thread(
        [this, report = std::move(report), limits = std::move(limits), folder]() mutable {
            ReportProgress progress;
            progress.started = [this](int index, int count, const std::string& name) {
                Post([this, index, count, name = QString::fromStdString(name)] {
                    StepStarted(index, count, name);
                });
            };
            progress.finished = [this](int index, int, const ReportStep& step) {
                Post([this, index, step] { StepFinished(index, step); });
            };
            const bool complete = RunReportSteps(*m_card, ReportSettings{}, report, progress);
            QStringList outOfLimits;
            for (const std::string& id : ApplyLimits(limits, report)) {
                outOfLimits << QString::fromStdString(id);
            }
            QString error;
            const QDir dir(folder);
            if (!WriteText(dir.filePath(QStringLiteral("report.json")), ReportJsonText(report)) ||
                !WriteText(dir.filePath(QStringLiteral("summary.csv")), ReportCsvText(report)) ||
                !WriteText(dir.filePath(QStringLiteral("report.html")), ReportHtmlText(report))) {
                error = folder;
            }
            Post([this, complete, folder, error, outOfLimits] {
                RunEnded(complete && !m_stopAsked, folder, error, outOfLimits);
            });
        });
    return true;
}

void CReportWindow::Post(std::function<void()> news) {
    {
        std::lock_guard lock(m_newsMutex);
        m_news.push_back(std::move(news));
    }
    // By name: the queued event is made inside Qt; the news travels through the mutex.
    QMetaObject::invokeMethod(this, "TakeNews", Qt::QueuedConnection);
}

void CReportWindow::TakeNews() {
    std::vector<std::function<void()>> news;
    {
        std::lock_guard lock(m_newsMutex);
        news.swap(m_news);
    }
    for (const auto& item : news) {
        item();
    }
}

void CReportWindow::Stop() {
    if (Running()) {
        m_stopAsked = true;
        m_card->Stop();
    }
}

void CReportWindow::EndRun() {
    if (m_card) {
        m_card->Stop();
    }
    if (m_worker.joinable()) {
        m_worker.join();
    }
    {
        // What the ended run still had to say is moot: RunEnded, if it is the caller, is
        // already under way.
        std::lock_guard lock(m_newsMutex);
        m_news.clear();
    }
    if (m_card) {
        m_card->Remove();
        m_engine.StopTestSignal(this);
        m_card.reset();
    }
    m_startStop->setText(tr("开始"));
}

void CReportWindow::StepStarted(int index, int count, const QString& name) {
    auto* item = new QTreeWidgetItem(m_steps, {name, QString(), tr("进行中")});
    m_steps->scrollToItem(item);
    m_status->setText(tr("第 %1/%2 步：%3").arg(index).arg(count).arg(name));
}

void CReportWindow::StepFinished(int index, const ReportStep& step) {
    QTreeWidgetItem* item = m_steps->topLevelItem(index - 1);
    if (item == nullptr) {
        return;
    }
    item->setText(kTime, QStringLiteral("%1 s").arg(step.seconds, 0, 'f', 1));
    QString state = step.failed ? tr("失败") : tr("完成");
    if (!step.note.empty()) {
        state += QStringLiteral(": ") + QString::fromStdString(step.note);
    }
    item->setText(kState, state);
    item->setToolTip(kState, state);
}

void CReportWindow::RunEnded(bool complete, const QString& folder, const QString& error,
                             const QStringList& outOfLimits) {
    EndRun();
    if (!error.isEmpty()) {
        m_status->setText(tr("无法写入：") + error);
        return;
    }
    m_finished = folder;
    m_open->setEnabled(true);
    m_saveAs->setEnabled(true);
    QString status = complete ? tr("报告已完成：") + folder : tr("已停止；已测部分在：") + folder;
    if (!outOfLimits.isEmpty()) {
        status += QLatin1Char('\n') + tr("超出限值：") + outOfLimits.join(QStringLiteral(", "));
    }
    m_status->setText(status);
}

void CReportWindow::TestSignalTaken() {
    // Another analyser took the line output: the run cannot go on, as they close each other.
    Stop();
    QMetaObject::invokeMethod(
        this, [this] { close(); }, Qt::QueuedConnection);
}

void CReportWindow::done(int result) {
    EndRun();
    QDialog::done(result);
}

bool CReportWindow::SaveTo(const QString& folder, QString* error) const {
    if (m_finished.isEmpty()) {
        *error = tr("没有报告");
        return false;
    }
    if (!QDir().mkpath(folder)) {
        *error = tr("无法建立文件夹：") + folder;
        return false;
    }
    const QDir from(m_finished), to(folder);
    for (const char* name : kReportFiles) {
        const QString target = to.filePath(QString::fromLatin1(name));
        QFile::remove(target);
        if (!QFile::copy(from.filePath(QString::fromLatin1(name)), target)) {
            *error = tr("无法写入：") + target;
            return false;
        }
    }
    return true;
}

void CReportWindow::ChooseFolder(QLineEdit* edit, const QString& title) {
    const QString folder = QFileDialog::getExistingDirectory(this, title, edit->text());
    if (!folder.isEmpty()) {
        edit->setText(folder);
    }
}

void CReportWindow::ChooseLimits() {
    const QString path = QFileDialog::getOpenFileName(this, tr("限值文件"), m_limits->text(),
                                                      tr("JSON 文件 (*.json)"));
    if (!path.isEmpty()) {
        m_limits->setText(path);
    }
}

void CReportWindow::OpenReport() {
    if (!m_finished.isEmpty()) {
        m_opener(QDir(m_finished).filePath(QStringLiteral("report.html")));
    }
}

void CReportWindow::SaveAs() {
    const QString folder = QFileDialog::getExistingDirectory(this, tr("报告另存为"), m_finished);
    if (folder.isEmpty()) {
        return;
    }
    QString error;
    m_status->setText(SaveTo(folder, &error) ? tr("已保存到：") + folder : error);
}
