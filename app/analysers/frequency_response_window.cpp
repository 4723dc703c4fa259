#include "app/analysers/frequency_response_window.h"

#include "app/analysers/stream_format_choice.h"
#include "audio/stream_signal.h"
#include "audio/test_signal.h"
#include "audio/wave/wave_api.h"
#include "engine/sound_device.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

#include <memory>
#include <stdexcept>

namespace {

constexpr int kShortestLog2 = 16, kLongestLog2 = 20, kDefaultLog2 = 18;
constexpr int kProgressSteps = 1000;
constexpr int kPollMs = 50;
// A card delivers a buffer every 93 ms: this long without one means the capture is not running.
constexpr qint64 kStalledMs = 3000;

const SweepSmoothing kSmoothings[] = {SweepSmoothing::None,     SweepSmoothing::Octave48,
                                      SweepSmoothing::Octave24, SweepSmoothing::Octave12,
                                      SweepSmoothing::Octave6,  SweepSmoothing::Octave3};

} // namespace

CFrequencyResponseWindow::CFrequencyResponseWindow(CSoundDevice& engine, QWidget* owner)
    : QDialog(owner), m_engine(engine), m_stream(engine) {
    setWindowTitle(tr("频率响应"));
    setModal(false);
    m_poll = new QTimer(this);
    m_poll->setInterval(kPollMs);
    connect(m_poll, &QTimer::timeout, this, [this] { Poll(); });
    m_charts = new CFrequencyResponseCharts(this);

    m_start = new QPushButton(tr("开始"), this);
    m_start->setObjectName(QStringLiteral("start"));
    m_stop = new QPushButton(tr("停止"), this);
    m_stop->setObjectName(QStringLiteral("stop"));
    m_stop->setEnabled(false);
    m_progress = new QProgressBar(this);
    m_progress->setRange(0, kProgressSteps);
    m_progress->setValue(0);
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("status"));
    connect(m_start, &QPushButton::clicked, this, [this] { Start(); });
    connect(m_stop, &QPushButton::clicked, this, [this] { Stop(); });
    auto* runRow = new QHBoxLayout;
    runRow->addWidget(m_start);
    runRow->addWidget(m_stop);
    runRow->addWidget(m_progress, 1);
    runRow->addWidget(m_status, 2);

    m_harmonics = new QCheckBox(tr("显示谐波 H2–H9 与 THD"), this);
    m_harmonics->setObjectName(QStringLiteral("harmonics"));
    connect(m_harmonics, &QCheckBox::toggled, m_charts, &CFrequencyResponseCharts::ShowHarmonics);
    auto* side = new QVBoxLayout;
    side->addWidget(m_harmonics);
    side->addWidget(MakeOverlayList(), 1);
    side->addWidget(MakeExportButtons());
    auto* body = new QHBoxLayout;
    body->addWidget(m_charts, 1);
    body->addLayout(side);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(MakeSettings());
    layout->addLayout(runRow);
    layout->addLayout(body, 1);
    resize(1150, 760);
}

CFrequencyResponseWindow::~CFrequencyResponseWindow() {
    Teardown();
    if (m_analysis.joinable()) {
        m_analysis.join();
    }
}

QWidget* CFrequencyResponseWindow::MakeSettings() {
    auto* box = new QGroupBox(tr("扫频"), this);
    const auto hertz = [box](double lo, double hi, double value) {
        auto* spin = new QDoubleSpinBox(box);
        spin->setRange(lo, hi);
        spin->setDecimals(0);
        spin->setSuffix(QStringLiteral(" Hz"));
        spin->setValue(value);
        return spin;
    };
    m_fromHz = hertz(2, 20000, 20); // the sweep starts an octave lower, at 1 Hz or above
    m_toHz = hertz(100, kSampleRate / 2.0, 20000);
    m_toHz->setObjectName(QStringLiteral("toHz"));
    m_length = new QComboBox(box);
    for (int log2 = kShortestLog2; log2 <= kLongestLog2; ++log2) {
        const int frames = 1 << log2;
        m_length->addItem(
            tr("%1 帧 (%2 s)").arg(frames).arg(frames / double(kSampleRate), 0, 'f', 1), frames);
    }
    m_length->setCurrentIndex(kDefaultLog2 - kShortestLog2);
    m_length->setObjectName(QStringLiteral("length"));
    m_level = new QDoubleSpinBox(box);
    m_level->setRange(-60, -1);
    m_level->setDecimals(1);
    m_level->setSuffix(QStringLiteral(" dBFS"));
    m_level->setValue(SweepSettings{}.level_dbfs);
    m_output = new QComboBox(box);
    m_output->addItems({tr("左声道"), tr("右声道"), tr("双声道")});
    m_output->setCurrentIndex(2);
    m_reference = new QComboBox(box);
    m_reference->addItems({tr("无"), tr("X2 (除以 X2)")});
    m_averages = new QSpinBox(box);
    m_averages->setRange(1, 64);
    m_smoothing = new QComboBox(box);
    m_smoothing->addItems({tr("不平滑"), tr("1/48 倍频程"), tr("1/24 倍频程"), tr("1/12 倍频程"),
                           tr("1/6 倍频程"), tr("1/3 倍频程")});
    m_pointsPerOctave = new QSpinBox(box);
    m_pointsPerOctave->setRange(1, 480);
    m_pointsPerOctave->setValue(SweepAnalysisSettings{}.points_per_octave);
    m_formatChoice = new CStreamFormatChoice(QStringLiteral("frequencyResponse"), box);
    m_formatChoice->SetFormat(m_formatChoice->Recalled(WaveDeviceName(WaveDirection::In)));
    connect(m_formatChoice, &CStreamFormatChoice::Chosen, this, [this](const StreamFormat& f) {
        FollowRate();
        // Another format is kept once a run has opened it; the panel's works always.
        if (f.IsPanelFormat()) {
            m_formatChoice->Remember(WaveDeviceName(WaveDirection::In));
        }
    });

    // The gate, as the command's --window-ms LEFT,RIGHT.
    m_gate = new QCheckBox(tr("时间窗"), box);
    m_gate->setObjectName(QStringLiteral("gate"));
    m_gate->setToolTip(tr("只取脉冲响应峰值前后的一段计算频率响应，去掉房间反射；"
                          "有效频率从 1/窗长 起"));
    const auto milliseconds = [box](double lo, double value) {
        auto* spin = new QDoubleSpinBox(box);
        spin->setRange(lo, kSweepGateMostMs);
        spin->setDecimals(1);
        spin->setSuffix(QStringLiteral(" ms"));
        spin->setValue(value);
        spin->setEnabled(false);
        return spin;
    };
    m_gateLeftMs = milliseconds(0, 1);
    m_gateLeftMs->setObjectName(QStringLiteral("gateLeft"));
    m_gateRightMs = milliseconds(0.1, 5);
    m_gateRightMs->setObjectName(QStringLiteral("gateRight"));
    connect(m_gate, &QCheckBox::toggled, m_gateLeftMs, &QWidget::setEnabled);
    connect(m_gate, &QCheckBox::toggled, m_gateRightMs, &QWidget::setEnabled);
    auto* gateRow = new QHBoxLayout;
    gateRow->addWidget(m_gate);
    gateRow->addWidget(new QLabel(tr("峰前"), box));
    gateRow->addWidget(m_gateLeftMs);
    gateRow->addWidget(new QLabel(tr("峰后"), box));
    gateRow->addWidget(m_gateRightMs);
    gateRow->addStretch(1);

    auto* grid = new QGridLayout(box);
    const std::pair<QString, QWidget*> fields[] = {{tr("起始频率"), m_fromHz},
                                                   {tr("终止频率"), m_toHz},
                                                   {tr("长度"), m_length},
                                                   {tr("电平"), m_level},
                                                   {tr("输出"), m_output},
                                                   {tr("参考"), m_reference},
                                                   {tr("平均次数"), m_averages},
                                                   {tr("平滑"), m_smoothing},
                                                   {tr("每倍频程点数"), m_pointsPerOctave},
                                                   {tr("采样率与格式"), m_formatChoice}};
    constexpr int kPerRow = 5;
    for (int i = 0; i < int(std::size(fields)); ++i) {
        grid->addWidget(new QLabel(fields[i].first, box), i / kPerRow, 2 * (i % kPerRow));
        grid->addWidget(fields[i].second, i / kPerRow, 2 * (i % kPerRow) + 1);
    }
    grid->addLayout(gateRow, (int(std::size(fields)) + kPerRow - 1) / kPerRow, 0, 1, 2 * kPerRow);
    FollowRate();
    return box;
}

QWidget* CFrequencyResponseWindow::MakeOverlayList() {
    auto* box = new QGroupBox(tr("叠加曲线"), this);
    m_overlayList = new QListWidget(box);
    m_overlayList->setObjectName(QStringLiteral("overlays"));
    m_overlayList->setToolTip(tr("勾选以显示，取消勾选以隐藏"));
    auto* keep = new QPushButton(tr("保留当前曲线"), box);
    auto* load = new QPushButton(tr("载入曲线…"), box);
    auto* remove = new QPushButton(tr("移除"), box);
    auto* layout = new QVBoxLayout(box);
    layout->addWidget(m_overlayList, 1);
    for (QPushButton* button : {keep, load, remove}) {
        button->setAutoDefault(false);
        layout->addWidget(button);
    }
    connect(keep, &QPushButton::clicked, this, [this] { KeepOverlay(); });
    connect(load, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getOpenFileName(
            this, tr("载入曲线"), QString(), tr("频率响应 (*.frd *.txt *.csv);;所有文件 (*)"));
        QString error;
        if (!path.isEmpty() && !LoadOverlay(path, &error)) {
            QMessageBox::warning(this, windowTitle(), tr("无法读取 %1：%2").arg(path, error));
        }
    });
    connect(remove, &QPushButton::clicked, this, [this] {
        const int row = m_overlayList->currentRow();
        if (row >= 0 && row < int(m_overlays.size())) {
            m_overlays.erase(m_overlays.begin() + row);
            ShowOverlays();
        }
    });
    // One click on an overlay's box shows or hides it: before and after side by side, or not.
    connect(m_overlayList, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
        const int row = m_overlayList->row(item);
        const bool shown = item->checkState() == Qt::Checked;
        if (row >= 0 && row < int(m_overlays.size()) && m_overlays[size_t(row)].shown != shown) {
            m_overlays[size_t(row)].shown = shown;
            m_charts->SetOverlays(m_overlays);
        }
    });
    return box;
}

SweepMeasurementSettings CFrequencyResponseWindow::Settings() const {
    SweepMeasurementSettings s;
    s.sweep.frames = m_length->currentData().toInt();
    s.sweep.level_dbfs = m_level->value();
    s.sweep.rate_hz = m_formatChoice->Format().rate_hz;
    s.analysis.lo_hz = m_fromHz->value();
    s.analysis.hi_hz = m_toHz->value();
    s.analysis.points_per_octave = m_pointsPerOctave->value();
    s.analysis.smoothing = kSmoothings[m_smoothing->currentIndex()];
    s.analysis.harmonics = true;
    if (m_gate->isChecked()) {
        s.analysis.gate_left_ms = m_gateLeftMs->value();
        s.analysis.gate_right_ms = m_gateRightMs->value();
    }
    s.output = SweepOutput(m_output->currentIndex());
    s.reference = m_reference->currentIndex() == 1 ? SweepReference::X2 : SweepReference::None;
    s.averages = m_averages->value();
    SweepForBand(s);
    return s;
}

void CFrequencyResponseWindow::Start() {
    if (Running()) {
        return;
    }
    if (m_fromHz->value() >= m_toHz->value()) {
        m_status->setText(tr("起始频率须低于终止频率。"));
        return;
    }
    m_retried = false;
    m_runFormat = m_formatChoice->Format();
    Begin(Settings());
}

void CFrequencyResponseWindow::FollowRate() {
    const int rateHz = m_formatChoice->Format().rate_hz;
    m_toHz->setMaximum(rateHz / 2.0);
    for (int i = 0; i < m_length->count(); ++i) {
        const int frames = m_length->itemData(i).toInt();
        m_length->setItemText(
            i, tr("%1 帧 (%2 s)").arg(frames).arg(frames / double(rateHz), 0, 'f', 1));
    }
}

bool CFrequencyResponseWindow::Begin(const SweepMeasurementSettings& settings) {
    try {
        m_run = std::make_unique<CSweepMeasurement>(settings);
    } catch (const std::invalid_argument& e) {
        m_start->setEnabled(true);
        m_status->setText(tr("无法测量：%1").arg(QString::fromUtf8(e.what())));
        return false;
    }
    // The line output runs silent first and the sweep follows the first buffer captured for the
    // run (Poll): a sound server drops the first tens of milliseconds of a new playback stream,
    // and the sweep's start must be neither lost nor played before the capture holds it.
    TestSignal silence;
    silence.kind = TestSignalKind::Samples;
    m_sweepPlaying = false;
    if (!m_runFormat.IsPanelFormat()) {
        auto source = std::make_unique<CStreamSignalSource>(m_runFormat);
        source->Set(silence);
        QString error;
        if (!m_stream.Open(m_runFormat, &CFrequencyResponseWindow::StreamTap, this, source.get(),
                           &error)) {
            m_run.reset();
            m_start->setEnabled(true);
            // Back to what works; the next run starts there.
            m_formatChoice->SetFormat(StreamFormat{});
            FollowRate();
            m_status->setText(error);
            return false;
        }
        m_streamSignal = std::move(source);
        m_formatChoice->Remember(WaveDeviceName(WaveDirection::In));
    } else {
        m_engine.SetCaptureTap(&CFrequencyResponseWindow::Tap, this);
        if (!m_engine.StartTestSignal(silence, this)) {
            Teardown(); // the engine has said why already
            m_run.reset();
            m_start->setEnabled(true);
            m_status->setText(tr("无法播放扫频信号。"));
            return false;
        }
    }
    m_poll->start();
    m_lastProgress = 0;
    m_sinceProgress.start();
    m_progress->setValue(0);
    m_start->setEnabled(false);
    m_stop->setEnabled(true);
    if (!m_retried) {
        m_status->setText(tr("正在测量…"));
    }
    return true;
}

void CFrequencyResponseWindow::Tap(const int16_t* interleaved, int frames, uint64_t gapCount,
                                   void* self) {
    const auto* window = static_cast<const CFrequencyResponseWindow*>(self);
    window->m_run->Feed(interleaved, frames, gapCount, window->m_engine.TappedStamp());
}

void CFrequencyResponseWindow::StreamTap(const float* interleaved, int frames, uint64_t gapCount,
                                         ClockStamp stamp, void* self) {
    static_cast<const CFrequencyResponseWindow*>(self)->m_run->Feed(interleaved, frames, gapCount,
                                                                    stamp);
}

void CFrequencyResponseWindow::Poll() {
    if (m_run == nullptr) {
        return;
    }
    const double progress = m_run->Progress();
    if (progress != m_lastProgress) {
        m_lastProgress = progress;
        m_sinceProgress.start();
    } else if (m_sinceProgress.elapsed() > kStalledMs) {
        Teardown();
        m_run.reset();
        m_retried = false;
        m_start->setEnabled(true);
        m_status->setText(tr("测量失败：%1").arg(tr("没有采集到声音：声卡输入没有运行")));
        return;
    }
    if (!m_sweepPlaying && progress > 0) {
        TestSignal sweep;
        sweep.kind = TestSignalKind::Samples;
        if (m_streamSignal) {
            sweep.float_samples = m_run->PlaybackFloat();
            m_streamSignal->Set(sweep);
        } else {
            sweep.samples = m_run->Playback();
            m_engine.StartTestSignal(sweep, this); // the output is running: nothing left to fail
        }
        m_sweepPlaying = true;
    }
    m_progress->setValue(int(progress * kProgressSteps));
    // A gap spoils the run at once: waiting for the rest of the sweep would only delay the retry.
    if (m_run->Complete() || m_run->Damaged()) {
        Finish(false);
    }
}

void CFrequencyResponseWindow::Stop() {
    if (m_run != nullptr) {
        Finish(true);
    }
}

void CFrequencyResponseWindow::Teardown() {
    m_poll->stop();
    if (m_run == nullptr) {
        return;
    }
    if (m_stream.IsOpen()) {
        // Waits out the stream's calls in progress, then gives the card back to the panel.
        m_stream.Close();
        m_streamSignal.reset();
    } else {
        m_engine.StopTestSignal(this);
        // Waits out a Tap in progress: from here on the measurement is the GUI thread's alone.
        m_engine.SetCaptureTap(nullptr, nullptr);
    }
    m_stop->setEnabled(false);
}

void CFrequencyResponseWindow::TestSignalTaken() {
    if (m_run != nullptr) {
        Finish(true);
    }
}

void CFrequencyResponseWindow::Finish(bool stopped) {
    // The stream's source is read before Teardown lets it go.
    const bool onStream = m_streamSignal != nullptr;
    const ClockStamp streamDeparture = onStream ? m_streamSignal->SamplesDeparture() : ClockStamp{};
    Teardown();
    m_run->SetDeparture(onStream ? streamDeparture : m_engine.TestSignalDeparture());
    const SweepMeasurementSettings settings = m_run->Settings();
    const bool complete = m_run->Complete();
    if (!complete && (stopped || m_run->Damaged())) {
        m_run.reset();
        SweepOutcome outcome;
        outcome.failure = stopped ? SweepFailure::Stopped : SweepFailure::Gap;
        Conclude(settings, std::move(outcome));
        return;
    }
    // A long sweep takes most of a second to analyse: on a thread of its own, so the panel
    // keeps drawing. The outcome comes back as a queued call, which Qt drops if the window has
    // gone by then; the destructor joins the thread first.
    m_analysing = true;
    m_status->setText(tr("正在分析…"));
    m_analysis = std::jthread([this, run = std::move(m_run), settings]() mutable {
        auto outcome = std::make_shared<SweepOutcome>(run->Analyse());
        run.reset();
        QMetaObject::invokeMethod(
            this, [this, settings, outcome] { Conclude(settings, std::move(*outcome)); },
            Qt::QueuedConnection);
    });
}

void CFrequencyResponseWindow::Conclude(const SweepMeasurementSettings& settings,
                                        SweepOutcome outcome) {
    if (m_analysing) {
        m_analysing = false;
        m_analysis.join(); // it has nothing left to do but return
    }
    if (outcome.failure == SweepFailure::Gap && !m_retried) {
        m_retried = true;
        m_status->setText(tr("采集有中断，正在重新测量…"));
        if (Begin(settings)) {
            return;
        }
    }
    m_retried = false;
    m_start->setEnabled(true);
    m_stop->setEnabled(false);
    if (outcome.failure != SweepFailure::None) {
        ShowFailure(outcome.failure); // the curve shown before stays, and so do its exports
        return;
    }
    m_progress->setValue(kProgressSteps);
    m_outcome = std::move(outcome);
    m_outcomeSettings = settings;
    m_charts->ShowOutcome(&*m_outcome, settings.analysis.lo_hz, settings.analysis.hi_hz,
                          settings.sweep.rate_hz);
    // Without a reference the latency is the round trip from the sweep leaving the program;
    // where the devices cannot tell their positions it counts from the capture's start, the
    // output queued ahead of the sweep included: a relative figure, and the line says so.
    QString status = tr("延迟 %1 个采样 (%2 ms)")
                         .arg(m_outcome->latency_samples, 0, 'f', 1)
                         .arg(m_outcome->latency_ms, 0, 'f', 2);
    status += m_outcome->round_trip ? tr("，往返：自扫频离开程序")
              : m_outcome->relative_latency ? tr("，相对值：自采集开始，含扫频前已排队的输出")
                                            : tr("，X1 相对 X2");
    if (m_outcome->result.gate_lowest_hz > 0) {
        status +=
            tr("；时间窗内有效频率从 %1 Hz 起").arg(m_outcome->result.gate_lowest_hz, 0, 'f', 1);
    }
    m_status->setText(status);
}

void CFrequencyResponseWindow::ShowFailure(SweepFailure failure) {
    QString why;
    switch (failure) {
    case SweepFailure::Gap:
        why = tr("采集有中断 (xrun 或丢帧)，请重新测量");
        break;
    case SweepFailure::Clipped:
        why = tr("输入削波，请降低电平");
        break;
    case SweepFailure::NoSignal:
        why = tr("扫频信号没有返回，请检查连线和输入");
        break;
    case SweepFailure::Stopped:
    default:
        why = tr("测量在扫频返回之前被停止");
        break;
    }
    m_status->setText(tr("测量失败：%1").arg(why));
}

QString CFrequencyResponseWindow::StatusText() const {
    return m_status->text();
}

void CFrequencyResponseWindow::done(int result) {
    Teardown();
    m_run.reset();
    QDialog::done(result);
}
