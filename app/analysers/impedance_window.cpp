#include "app/analysers/impedance_window.h"

#include "analysis/impedance/impedance_files.h"
#include "analysis/impedance/loudspeaker.h"
#include "app/analysers/analyser_export.h"
#include "app/analysers/impedance_chart.h"
#include "audio/test_signal.h"
#include "audio/wave/wave_api.h"
#include "base/pcm_format.h"
#include "engine/sound_device.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>

#include <cmath>

namespace {

constexpr double kLowestHz = 10.0;
constexpr double kHighestHz = 20000.0;
constexpr double kDefaultLevelDbfs = -3.0;

} // namespace

CImpedanceWindow::CImpedanceWindow(CSoundDevice& engine, QWidget* owner)
    : QDialog(owner), m_engine(engine) {
    setWindowTitle(tr("阻抗"));
    setModal(false);
    std::string message;
    if (!m_store.Load(CImpedanceCalibrationStore::DefaultPath(), &message)) {
        QMessageBox::warning(this, windowTitle(), QString::fromStdString(message));
    }
    FollowDevice();

    auto* left = new QVBoxLayout;
    left->addWidget(MakeMeasureControls());
    left->addWidget(MakeReadout());
    left->addWidget(MakeCalibration());
    left->addWidget(MakeSweepControls());
    m_speakerLabel = new QLabel(this);
    m_speakerLabel->setObjectName(QStringLiteral("speaker"));
    m_speakerLabel->setWordWrap(true);
    left->addWidget(m_speakerLabel);
    left->addStretch(1);
    left->addWidget(MakeExportButtons());
    m_chart = new CImpedanceChart(this);
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(left);
    layout->addWidget(m_chart, 1);
    ShowCalibration();
    resize(1150, 760);
}

CImpedanceWindow::~CImpedanceWindow() {
    StopListening();
}

QWidget* CImpedanceWindow::MakeMeasureControls() {
    auto* box = new QGroupBox(tr("测量"), this);
    const auto spin = [box](const char* name, double lo, double hi, double value, int decimals,
                            const QString& suffix) {
        auto* s = new QDoubleSpinBox(box);
        s->setObjectName(QString::fromLatin1(name));
        s->setRange(lo, hi);
        s->setDecimals(decimals);
        s->setValue(value);
        s->setSuffix(suffix);
        s->setKeyboardTracking(false);
        return s;
    };
    m_frequency = spin("frequency", kLowestHz, kHighestHz, 1000, 2, QStringLiteral(" Hz"));
    m_level = spin("level", kTestLevelMinDbfs, kTestLevelMaxDbfs, kDefaultLevelDbfs, 1,
                   QStringLiteral(" dBFS"));
    m_rRef = spin("rRef", 0.1, 1e6, 100, 3, QStringLiteral(" Ω"));
    m_inputImpedance = spin("inputImpedance", 0, 1e9, m_stored.input_impedance_ohm.value_or(0), 0,
                            QStringLiteral(" Ω"));
    m_inputImpedance->setSpecialValueText(tr("不计"));
    m_model = new QComboBox(box);
    m_model->setObjectName(QStringLiteral("model"));
    m_model->addItems({tr("串联"), tr("并联")});
    auto* form = new QFormLayout(box);
    form->addRow(tr("频率"), m_frequency);
    form->addRow(tr("电平"), m_level);
    form->addRow(tr("参考电阻 R_ref"), m_rRef);
    form->addRow(tr("声卡输入阻抗"), m_inputImpedance);
    form->addRow(tr("等效电路"), m_model);
    for (QDoubleSpinBox* s : {m_frequency, m_level, m_rRef}) {
        connect(s, &QDoubleSpinBox::valueChanged, this, [this] {
            if (!m_sweeping && m_listening) {
                Restart(false);
            }
        });
    }
    connect(m_inputImpedance, &QDoubleSpinBox::valueChanged, this, [this](double ohms) {
        m_stored.input_impedance_ohm =
            ohms > 0 ? std::optional<double>(ohms) : std::optional<double>();
        SaveCalibration();
        if (!m_sweeping && m_listening) {
            Restart(false);
        }
    });
    connect(m_model, &QComboBox::currentIndexChanged, this, [this] {
        if (m_last) {
            ShowReading(*m_last);
        }
    });
    return box;
}

QWidget* CImpedanceWindow::MakeSweepControls() {
    auto* box = new QGroupBox(tr("步进扫描"), this);
    m_sweepFrom = new QDoubleSpinBox(box);
    m_sweepTo = new QDoubleSpinBox(box);
    for (QDoubleSpinBox* s : {m_sweepFrom, m_sweepTo}) {
        s->setRange(kLowestHz, kHighestHz);
        s->setDecimals(1);
        s->setSuffix(QStringLiteral(" Hz"));
    }
    m_sweepFrom->setObjectName(QStringLiteral("sweepFrom"));
    m_sweepTo->setObjectName(QStringLiteral("sweepTo"));
    m_sweepFrom->setValue(20);
    m_sweepTo->setValue(20000);
    m_perOctave = new QSpinBox(box);
    m_perOctave->setObjectName(QStringLiteral("perOctave"));
    m_perOctave->setRange(1, 96);
    m_perOctave->setValue(12);
    m_startSweep = new QPushButton(tr("开始扫描"), box);
    m_stopSweep = new QPushButton(tr("停止"), box);
    m_stopSweep->setObjectName(QStringLiteral("stopSweep"));
    m_stopSweep->setEnabled(false);
    m_progressBar = new QProgressBar(box);
    m_progressBar->setRange(0, 1000);
    m_progressBar->setValue(0);
    auto* form = new QFormLayout(box);
    form->addRow(tr("起始"), m_sweepFrom);
    form->addRow(tr("终止"), m_sweepTo);
    form->addRow(tr("每倍频程点数"), m_perOctave);
    auto* row = new QHBoxLayout;
    for (QPushButton* b : {m_startSweep, m_stopSweep}) {
        b->setAutoDefault(false);
        row->addWidget(b);
    }
    form->addRow(row);
    form->addRow(m_progressBar);
    connect(m_startSweep, &QPushButton::clicked, this, [this] { StartSweep(); });
    connect(m_stopSweep, &QPushButton::clicked, this, [this] { EndSweep(); });
    return box;
}

QWidget* CImpedanceWindow::MakeExportButtons() {
    auto* row = new QWidget(this);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* zma = new QPushButton(tr("保存 ZMA…"), row);
    auto* csv = new QPushButton(tr("保存 CSV…"), row);
    auto* plot = new QPushButton(tr("保存图…"), row);
    for (QPushButton* b : {zma, csv, plot}) {
        b->setAutoDefault(false);
        layout->addWidget(b);
    }
    connect(zma, &QPushButton::clicked, this, [this] {
        SaveFile(tr("保存 ZMA"), QStringLiteral("impedance.zma"), tr("ZMA 文件 (*.zma)"), 0);
    });
    connect(csv, &QPushButton::clicked, this, [this] {
        SaveFile(tr("保存 CSV"), QStringLiteral("impedance.csv"), tr("CSV 文件 (*.csv)"), 1);
    });
    connect(plot, &QPushButton::clicked, this, [this] {
        SaveFile(tr("保存图"), QStringLiteral("impedance.png"),
                 tr("PNG 图片 (*.png);;SVG 图形 (*.svg)"), 2);
    });
    return row;
}

void CImpedanceWindow::showEvent(QShowEvent* event) {
    if (!m_listening) {
        m_listening = true;
        Restart(false);
    }
    QDialog::showEvent(event);
}

void CImpedanceWindow::done(int result) {
    StopListening();
    QDialog::done(result);
}

void CImpedanceWindow::Tap(const int16_t* interleaved, int frames, uint64_t gapCount, void* self) {
    auto* window = static_cast<CImpedanceWindow*>(self);
    ImpedanceLiveReading reading;
    double toneHz = 0;
    switch (window->m_run->Feed(interleaved, frames, gapCount, &reading, &toneHz)) {
    case CImpedanceRun::Event::Reading:
        if (window->m_latest.Put(reading)) {
            QMetaObject::invokeMethod(window, "TakeReading", Qt::QueuedConnection);
        }
        break;
    case CImpedanceRun::Event::NextTone:
        window->m_nextToneHz = toneHz;
        window->m_progress = window->m_run->Sweep()->Progress();
        QMetaObject::invokeMethod(window, "PlayNextTone", Qt::QueuedConnection);
        break;
    case CImpedanceRun::Event::Finished:
        QMetaObject::invokeMethod(window, "SweepFinished", Qt::QueuedConnection);
        break;
    case CImpedanceRun::Event::None:
        break;
    }
}

ImpedanceCorrections CImpedanceWindow::Corrections() const {
    return m_stored;
}

void CImpedanceWindow::FollowDevice() {
    const std::string device = WaveDeviceName(WaveDirection::In);
    if (device == m_device) {
        return;
    }
    m_device = device;
    const ImpedanceCorrections* stored = m_store.Find(m_device);
    m_stored = stored != nullptr ? *stored : ImpedanceCorrections{};
    if (m_inputImpedance != nullptr) {
        const QSignalBlocker quiet(m_inputImpedance);
        m_inputImpedance->setValue(m_stored.input_impedance_ohm.value_or(0));
        ShowCalibration();
    }
}

void CImpedanceWindow::Restart(bool sweep) {
    // Waits out a buffer being fed, so the run may be replaced.
    m_engine.SetCaptureTap(nullptr, nullptr);
    // The panel may have changed cards since: the corrections are the card's own.
    FollowDevice();
    m_latest.Take();
    ImpedanceLiveSettings live;
    live.freq_hz = m_frequency->value();
    live.r_ref_ohm = m_rRef->value();
    live.sample_rate_hz = kSampleRate;
    ImpedanceSweepSettings settings;
    std::vector<ImpedanceStep> plan;
    if (sweep) {
        settings.f1_hz = m_sweepFrom->value();
        settings.f2_hz = m_sweepTo->value();
        settings.per_octave = m_perOctave->value();
        settings.r_ref_ohm = live.r_ref_ohm;
        settings.sample_rate_hz = kSampleRate;
        std::string why;
        auto planned = PlanPlayedSweep(settings, &why);
        if (!planned) {
            QMessageBox::warning(this, windowTitle(),
                                 tr("无法扫描：%1").arg(QString::fromStdString(why)));
            sweep = false;
        } else {
            plan = std::move(*planned);
            live.freq_hz = plan.front().freq_hz;
        }
    }
    m_sweeping = sweep;
    if (!sweep) {
        m_calibrating.reset();
    }
    m_startSweep->setEnabled(!sweep);
    m_stopSweep->setEnabled(sweep);
    m_progressBar->setValue(0);
    // The tone's first arrival measured the loop; a tone changed later is waited out by it.
    if (m_run && m_run->OnsetFrames() && m_loopFrames == 0) {
        m_loopFrames = *m_run->OnsetFrames();
    }
    const bool changes = m_playing != std::pair(*live.freq_hz, m_level->value());
    if (changes && m_playing && !sweep) {
        live.extra_settle_frames = int(m_loopFrames) + kImpedanceQueuedFrames;
    }
    m_run = std::make_unique<CImpedanceRun>(live, Corrections(), settings, std::move(plan));
    m_engine.SetCaptureTap(&CImpedanceWindow::Tap, this);
    Play(*live.freq_hz);
}

void CImpedanceWindow::Play(double freq_hz) {
    // The tone already playing is left alone: starting it again jumps its phase, and the part
    // would ring from that jump into the new run's first readings.
    const std::pair<double, double> tone = {freq_hz, m_level->value()};
    if (m_playing == tone) {
        return;
    }
    m_playing = tone;
    TestSignal signal;
    signal.freq_hz = freq_hz;
    signal.level_dbfs = tone.second;
    m_engine.StartTestSignal(signal);
}

void CImpedanceWindow::StopListening() {
    if (!m_listening) {
        return;
    }
    m_listening = false;
    m_sweeping = false;
    m_calibrating.reset();
    m_engine.SetCaptureTap(nullptr, nullptr);
    m_engine.StopTestSignal();
    m_playing.reset();
}

void CImpedanceWindow::StartSweep() {
    if (m_listening && !m_sweeping) {
        Restart(true);
    }
}

void CImpedanceWindow::PlayNextTone() {
    const double hz = m_nextToneHz.exchange(0.0);
    if (!m_sweeping || hz <= 0) {
        return;
    }
    m_progressBar->setValue(int(std::lround(m_progress.load() * 1000)));
    Play(hz);
}

void CImpedanceWindow::SweepFinished() {
    if (m_sweeping) {
        EndSweep();
    }
}

void CImpedanceWindow::EndSweep() {
    m_engine.SetCaptureTap(nullptr, nullptr);
    if (m_calibrating) {
        FinishCalibrationSweep(m_run->Sweep());
        return;
    }
    m_curve.clear();
    int uncalibrated = 0;
    if (const CImpedanceSweep* sweep = m_run->Sweep()) {
        for (const ImpedanceSweepPoint& p : sweep->Points()) {
            if (p.refusal == ImpedanceRefusal::None) {
                m_curve.push_back({p.freq_hz, p.z_ohm});
                uncalibrated += p.corrected.match == CalState::Uncalibrated ||
                                p.corrected.leads == CalState::Uncalibrated;
            }
        }
    }
    m_chart->Show(m_curve);
    m_progressBar->setValue(1000);
    QStringList lines;
    if (const std::optional<double> fs = ResonanceHz(m_curve)) {
        std::string why;
        const auto ts = ThieleSmallFromCurve(m_curve, std::nullopt, &why);
        if (ts) {
            lines << tr("谐振 f_s = %1 Hz，Re = %2 Ω，Z_max = %3 Ω")
                         .arg(ts->fs_hz, 0, 'f', 2)
                         .arg(ts->re_ohm, 0, 'f', 3)
                         .arg(ts->z_max_ohm, 0, 'f', 2)
                  << tr("Qms = %1，Qes = %2，Qts = %3，Le = %4")
                         .arg(ts->q_ms, 0, 'f', 3)
                         .arg(ts->q_es, 0, 'f', 3)
                         .arg(ts->q_ts, 0, 'f', 3)
                         .arg(Si(ts->le_h, QStringLiteral("H"), 3));
        } else {
            lines << tr("谐振 f_s = %1 Hz；无 Thiele-Small 参数：%2")
                         .arg(*fs, 0, 'f', 2)
                         .arg(QString::fromStdString(why));
        }
    }
    if (uncalibrated > 0) {
        lines << tr("%n 个扫描频率不在校准范围内，未修正", "", uncalibrated);
    }
    m_speakerLabel->setText(lines.join(QLatin1Char('\n')));
    if (m_listening) {
        Restart(false);
    }
}

void CImpedanceWindow::TakeReading() {
    if (const std::optional<ImpedanceLiveReading> reading = m_latest.Take()) {
        if (m_listening && !m_sweeping) {
            ++m_readingsShown;
            m_last = *reading;
            ShowReading(*reading);
        }
    }
}

bool CImpedanceWindow::ExportCsv(const QString& path, QString* error) const {
    return SaveTextFile(path, QString::fromStdString(FormatImpedanceCsv(m_curve)), error);
}

bool CImpedanceWindow::ExportZma(const QString& path, QString* error) const {
    const std::string comment =
        "R_ref " + QString::number(m_rRef->value(), 'g', 6).toStdString() + " ohm";
    return SaveTextFile(path, QString::fromStdString(FormatZma(m_curve, {comment})), error);
}

bool CImpedanceWindow::ExportPlot(const QString& path, QString* error) {
    return SaveWidgetPicture(m_chart, path, error);
}

void CImpedanceWindow::SaveFile(const QString& title, const QString& name, const QString& filter,
                                int kind) {
    const QString path = QFileDialog::getSaveFileName(this, title, name, filter);
    if (path.isEmpty()) {
        return;
    }
    QString error;
    const bool saved = kind == 0   ? ExportZma(path, &error)
                       : kind == 1 ? ExportCsv(path, &error)
                                   : ExportPlot(path, &error);
    if (!saved) {
        QMessageBox::warning(this, windowTitle(), tr("无法保存 %1：%2").arg(path, error));
    }
}
