#include "app/analysers/impedance_window.h"

#include "app/analysers/impedance_chart.h"
#include "app/analysers/stream_format_choice.h"
#include "audio/stream_signal.h"
#include "audio/test_signal.h"
#include "audio/wave/wave_api.h"
#include "base/pcm_format.h"
#include "engine/sound_device.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace {

constexpr double kDefaultLevelDbfs = -3.0;

} // namespace

CImpedanceWindow::CImpedanceWindow(CSoundDevice& engine, QWidget* owner)
    : QDialog(owner), m_engine(engine), m_stream(engine) {
    setWindowTitle(tr("阻抗"));
    setModal(false);
    m_wake = new CWorkerWake(this);
    connect(m_wake, &CWorkerWake::Woken, this, [this] { OnWorkerWake(); });
    m_corrections.Load();
    FollowDevice();

    auto* left = new QVBoxLayout;
    left->addWidget(MakeMeasureControls());
    left->addWidget(m_readout.Make(this));
    left->addWidget(m_corrections.Make([this](ImpedanceCalKind kind) { Calibrate(kind); },
                                       [this] { ClearCalibration(); }));
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
    m_corrections.ShowState();
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
    m_inputImpedance =
        spin("inputImpedance", 0, 1e9, m_corrections.Stored().input_impedance_ohm.value_or(0), 0,
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
    m_formatChoice = new CStreamFormatChoice(QStringLiteral("impedance"), box);
    m_formatChoice->SetFormat(m_formatChoice->Recalled(WaveDeviceName(WaveDirection::In)));
    m_streamStatus = new QLabel(box);
    m_streamStatus->setObjectName(QStringLiteral("streamStatus"));
    m_streamStatus->setWordWrap(true);
    m_streamStatus->hide();
    form->addRow(tr("采样率与格式"), m_formatChoice);
    form->addRow(m_streamStatus);
    connect(m_formatChoice, &CStreamFormatChoice::Chosen, this,
            [this](const StreamFormat& format) { OnFormatChosen(format); });
    for (QDoubleSpinBox* s : {m_frequency, m_level, m_rRef}) {
        connect(s, &QDoubleSpinBox::valueChanged, this, [this] {
            if (!m_sweeping && m_listening) {
                Restart(false);
            }
        });
    }
    connect(m_inputImpedance, &QDoubleSpinBox::valueChanged, this, [this](double ohms) {
        m_corrections.Stored().input_impedance_ohm =
            ohms > 0 ? std::optional<double>(ohms) : std::optional<double>();
        m_corrections.Save();
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

void CImpedanceWindow::showEvent(QShowEvent* event) {
    if (!m_listening) {
        m_listening = true;
        m_format = m_formatChoice->Format();
        if (!m_format.IsPanelFormat()) {
            OpenStream();
        }
        Restart(false);
    }
    QDialog::showEvent(event);
}

void CImpedanceWindow::done(int result) {
    StopListening();
    QDialog::done(result);
}

void CImpedanceWindow::Tap(const int16_t* interleaved, int frames, uint64_t gapCount, void* self) {
    static_cast<CImpedanceWindow*>(self)->FeedRun(interleaved, frames, gapCount);
}

void CImpedanceWindow::StreamTap(const float* interleaved, int frames, uint64_t gapCount,
                                 ClockStamp, void* self) {
    auto* window = static_cast<CImpedanceWindow*>(self);
    std::lock_guard lock(window->m_streamTapMutex);
    if (window->m_streamTapOn) {
        window->FeedRun(interleaved, frames, gapCount);
    }
}

template <class Sample>
void CImpedanceWindow::FeedRun(const Sample* interleaved, int frames, uint64_t gapCount) {
    ImpedanceLiveReading reading;
    double toneHz = 0;
    switch (m_run->Feed(interleaved, frames, gapCount, &reading, &toneHz)) {
    case CImpedanceRun::Event::Reading:
        if (m_latest.Put(reading)) {
            m_wake->Wake();
        }
        break;
    case CImpedanceRun::Event::NextTone:
        m_nextToneHz = toneHz;
        m_progress = m_run->Sweep()->Progress();
        m_wake->Wake();
        break;
    case CImpedanceRun::Event::Finished:
        m_sweepDone = true;
        m_wake->Wake();
        break;
    case CImpedanceRun::Event::None:
        break;
    }
}

void CImpedanceWindow::SetRunTap(bool on) {
    if (m_stream.IsOpen()) {
        std::lock_guard lock(m_streamTapMutex);
        m_streamTapOn = on;
    } else {
        m_engine.SetCaptureTap(on ? &CImpedanceWindow::Tap : nullptr, on ? this : nullptr);
    }
}

void CImpedanceWindow::OpenStream() {
    // Made before the stream it plays on, and kept until the stream before it has stopped.
    auto source = std::make_unique<CStreamSignalSource>(m_format);
    QString error;
    if (m_stream.Open(m_format, &CImpedanceWindow::StreamTap, this, source.get(), &error)) {
        m_streamSignal = std::move(source);
        m_streamStatus->hide();
        m_formatChoice->Remember(WaveDeviceName(WaveDirection::In));
        return;
    }
    m_streamSignal.reset();
    m_streamStatus->setText(error);
    m_streamStatus->show();
    m_format = StreamFormat{};
    m_formatChoice->SetFormat(m_format);
}

void CImpedanceWindow::CloseStream() {
    m_stream.Close();
    m_streamSignal.reset();
    std::lock_guard lock(m_streamTapMutex);
    m_streamTapOn = false;
}

void CImpedanceWindow::OnFormatChosen(const StreamFormat& format) {
    if (!m_listening || format == m_format) {
        return;
    }
    SetRunTap(false);
    if (!m_stream.IsOpen()) {
        m_engine.StopTestSignal(this);
    }
    // The tone starts again on the new path.
    m_playing.reset();
    m_format = format;
    if (format.IsPanelFormat()) {
        CloseStream();
        m_streamStatus->hide();
        m_formatChoice->Remember(WaveDeviceName(WaveDirection::In));
    } else {
        OpenStream();
    }
    Restart(false);
}

ImpedanceCorrections CImpedanceWindow::Corrections() const {
    return m_corrections.Stored();
}

void CImpedanceWindow::FollowDevice() {
    if (!m_corrections.Follow(WaveDeviceName(WaveDirection::In))) {
        return;
    }
    if (m_inputImpedance != nullptr) {
        const QSignalBlocker quiet(m_inputImpedance);
        m_inputImpedance->setValue(m_corrections.Stored().input_impedance_ohm.value_or(0));
        m_corrections.ShowState();
    }
}

void CImpedanceWindow::ShowReading(const ImpedanceLiveReading& reading) {
    m_readout.Show(reading, m_model->currentIndex() == 0);
}

void CImpedanceWindow::Restart(bool sweep) {
    // Waits out a buffer being fed, so the run may be replaced.
    SetRunTap(false);
    // The panel may have changed cards since: the corrections are the card's own.
    FollowDevice();
    // What the old run left and the window has not taken is no news of the new one.
    m_latest.Take();
    m_nextToneHz = 0.0;
    m_sweepDone = false;
    ImpedanceLiveSettings live;
    live.freq_hz = m_frequency->value();
    live.r_ref_ohm = m_rRef->value();
    live.sample_rate_hz = m_format.rate_hz;
    live.sample_bits = SampleBits(m_format.format);
    ImpedanceSweepSettings settings;
    std::vector<ImpedanceStep> plan;
    if (sweep) {
        settings.f1_hz = m_sweepFrom->value();
        settings.f2_hz = m_sweepTo->value();
        settings.per_octave = m_perOctave->value();
        settings.r_ref_ohm = live.r_ref_ohm;
        settings.sample_rate_hz = m_format.rate_hz;
        settings.sample_bits = live.sample_bits;
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
    SetRunTap(true);
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
    if (m_streamSignal) {
        m_streamSignal->Set(signal);
    } else {
        m_engine.StartTestSignal(signal, this);
    }
}

void CImpedanceWindow::StopListening() {
    if (!m_listening) {
        return;
    }
    m_listening = false;
    m_sweeping = false;
    m_calibrating.reset();
    if (m_stream.IsOpen()) {
        CloseStream(); // gives the card back to the panel
    } else {
        m_engine.SetCaptureTap(nullptr, nullptr);
        m_engine.StopTestSignal(this);
    }
    m_playing.reset();
}

void CImpedanceWindow::OnWorkerWake() {
    TakeReading();
    PlayNextTone();
    if (m_sweepDone.exchange(false)) {
        SweepFinished();
    }
}

void CImpedanceWindow::TestSignalTaken() {
    m_playing.reset();
    close();
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
