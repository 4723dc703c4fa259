#include "app/calibration_dlg.h"

#include "app/status_line.h"
#include "app/translation.h"
#include "audio/stream/stream_format.h"
#include "audio/test_signal.h"
#include "audio/wave/wave_api.h"
#include "base/format_and_alert.h"
#include "base/number_text.h"
#include "engine/sound_device.h"

#include <QComboBox>
#include <QDate>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double kToneHz = 1000.0;
constexpr double kDefaultToneDbfs = -6.0;

std::string DeviceOf(CalibrationSide side) {
    return WaveDeviceName(side == CalibrationSide::Input ? WaveDirection::In : WaveDirection::Out);
}

QDoubleSpinBox* VoltsField(QWidget* parent, const char* name) {
    auto* field = new QDoubleSpinBox(parent);
    field->setObjectName(QString::fromLatin1(name));
    field->setDecimals(4);
    field->setRange(0.0, 1000.0);
    field->setSuffix(QStringLiteral(" V"));
    return field;
}

QComboBox* ChannelChoice(QWidget* parent, const char* name, const QString& first,
                         const QString& second) {
    auto* choice = new QComboBox(parent);
    choice->setObjectName(QString::fromLatin1(name));
    choice->addItems({first, second});
    return choice;
}

} // namespace

CCalibrationDlg::CCalibrationDlg(CSoundDevice& engine, const CStatusLine& statusLine,
                                 CCalibrationStore& store, std::string path,
                                 std::function<void()> stored, QWidget* owner)
    : QDialog(owner), m_engine(engine), m_statusLine(statusLine), m_store(store),
      m_path(std::move(path)), m_stored(std::move(stored)) {
    setWindowTitle(tr("校准"));
    setModal(false);
    auto* layout = new QVBoxLayout(this);
    auto* warning = new QLabel(tr("电压读数只在校准时的设置下成立：转动声卡或前置放大器的增益旋钮，"
                                  "或改动混音器的音量，校准即失效，须重新校准。"),
                               this);
    warning->setWordWrap(true);
    layout->addWidget(warning);
    layout->addWidget(MakeInputSide());
    layout->addWidget(MakeOutputSide());
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->button(QDialogButtonBox::Close)->setText(tr("关闭"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    connect(&statusLine, &CStatusLine::ReadingShown, this, [this] { TakeReading(); });
    ShowLevel();
    Refresh();
}

void CCalibrationDlg::Refresh() {
    m_inSide->setTitle(
        tr("输入 (%1)").arg(QString::fromStdString(DeviceOf(CalibrationSide::Input))));
    m_outSide->setTitle(
        tr("输出 (%1)").arg(QString::fromStdString(DeviceOf(CalibrationSide::Output))));
    ShowStored();
}

QWidget* CCalibrationDlg::MakeInputSide() {
    auto* box = m_inSide = new QGroupBox(this);
    auto* form = new QFormLayout(box);
    m_inChannel = ChannelChoice(box, "inChannel", QStringLiteral("X1"), QStringLiteral("X2"));
    form->addRow(tr("通道:"), m_inChannel);
    m_inLevel = new QLabel(box);
    m_inLevel->setObjectName(QStringLiteral("inLevel"));
    form->addRow(tr("当前电平:"), m_inLevel);
    m_inVolts = VoltsField(box, "inVolts");
    form->addRow(tr("电压表读数 (有效值):"), m_inVolts);
    auto* set = new QPushButton(tr("设置"), box);
    set->setObjectName(QStringLiteral("inSet"));
    form->addRow(QString(), set);
    m_inStored = new QLabel(box);
    m_inStored->setObjectName(QStringLiteral("inStored"));
    form->addRow(tr("已存:"), m_inStored);
    connect(m_inChannel, &QComboBox::currentIndexChanged, this, [this] {
        m_powerCount = 0; // the other channel's level starts afresh
        TakeReading();
        ShowStored();
    });
    connect(set, &QPushButton::clicked, this, [this] { SetInput(); });
    return box;
}

QWidget* CCalibrationDlg::MakeOutputSide() {
    auto* box = m_outSide = new QGroupBox(this);
    auto* form = new QFormLayout(box);
    m_outChannel = ChannelChoice(box, "outChannel", QStringLiteral("L"), QStringLiteral("R"));
    form->addRow(tr("通道:"), m_outChannel);
    m_outLevel = new QDoubleSpinBox(box);
    m_outLevel->setObjectName(QStringLiteral("outLevel"));
    m_outLevel->setDecimals(1);
    m_outLevel->setRange(-60.0, kTestLevelMaxDbfs);
    m_outLevel->setValue(kDefaultToneDbfs);
    m_outLevel->setSuffix(QStringLiteral(" dBFS"));
    form->addRow(tr("电平:"), m_outLevel);
    m_play = new QPushButton(tr("播放 1 kHz (L 和 R)"), box);
    m_play->setObjectName(QStringLiteral("play"));
    m_play->setCheckable(true);
    form->addRow(QString(), m_play);
    m_outVolts = VoltsField(box, "outVolts");
    form->addRow(tr("电压表读数 (有效值):"), m_outVolts);
    auto* set = new QPushButton(tr("设置"), box);
    set->setObjectName(QStringLiteral("outSet"));
    form->addRow(QString(), set);
    m_outStored = new QLabel(box);
    m_outStored->setObjectName(QStringLiteral("outStored"));
    form->addRow(tr("已存:"), m_outStored);
    connect(m_outChannel, &QComboBox::currentIndexChanged, this, [this] { ShowStored(); });
    connect(m_play, &QPushButton::toggled, this, [this](bool on) { Play(on); });
    // A new level while the tone plays takes over at once: the reading is of what plays.
    connect(m_outLevel, &QDoubleSpinBox::valueChanged, this, [this] {
        if (m_playing) {
            Play(true);
        }
    });
    connect(set, &QPushButton::clicked, this, [this] { SetOutput(); });
    return box;
}

void CCalibrationDlg::TakeReading() {
    const double dbfs = m_statusLine.LastRmsDbfs(m_inChannel->currentIndex());
    m_powers[size_t(m_powerNext)] = std::isfinite(dbfs) ? std::pow(10.0, dbfs / 10) : 0.0;
    m_powerNext = (m_powerNext + 1) % kAveragedReadings;
    m_powerCount = std::min(m_powerCount + 1, kAveragedReadings);
    ShowLevel();
}

double CCalibrationDlg::InputLevelDbfs() const {
    if (m_powerCount == 0) {
        return -std::numeric_limits<double>::infinity();
    }
    double sum = 0;
    for (int i = 0; i < m_powerCount; ++i) {
        // The newest m_powerCount readings end just before m_powerNext.
        sum += m_powers[size_t((m_powerNext - 1 - i + kAveragedReadings) % kAveragedReadings)];
    }
    return 10 * std::log10(sum / m_powerCount);
}

void CCalibrationDlg::ShowLevel() {
    const double dbfs = InputLevelDbfs();
    m_inLevel->setText(std::isfinite(dbfs)
                           ? QString::fromStdString(FixedText(dbfs, 2)) + QStringLiteral(" dBFS")
                           : QStringLiteral("— dBFS"));
}

void CCalibrationDlg::ShowStored() {
    const auto show = [this](QLabel* label, CalibrationSide side, int channel) {
        const auto entry = m_store.Find(DeviceOf(side), side, channel);
        if (!entry) {
            label->setText(tr("未校准"));
            return;
        }
        const QString volts = QString::fromStdString(FixedText(entry->vrms_at_0dbfs, 4));
        const QString setOn = QString::fromStdString(entry->set_on);
        // The volts apply at every format; where the card's gain differs between them, the
        // format it was taken at tells the user which one to trust.
        const std::optional<SampleFormat> format = ParseSampleFormat(entry->taken_format);
        if (entry->taken_rate_hz > 0 && format) {
            const bool chinese = SelectedLanguage() == Language::Chinese;
            const QString taken = QString::fromStdString(
                DescribeStreamFormat({entry->taken_rate_hz, *format}, chinese));
            label->setText(
                tr("0 dBFS = %1 V 有效值 (%2 设置，于 %3 测得)").arg(volts, setOn, taken));
        } else {
            label->setText(tr("0 dBFS = %1 V 有效值 (%2 设置)").arg(volts, setOn));
        }
    };
    show(m_inStored, CalibrationSide::Input, m_inChannel->currentIndex());
    show(m_outStored, CalibrationSide::Output, m_outChannel->currentIndex());
}

void CCalibrationDlg::Play(bool on) {
    if (on) {
        TestSignal tone;
        tone.freq_hz = kToneHz;
        tone.level_dbfs = m_outLevel->value();
        m_engine.StartTestSignal(tone, this); // a failure to start is reported by the engine
        m_playing = true;
    } else if (m_playing) {
        m_playing = false;
        m_engine.StopTestSignal(this);
    }
    if (m_play->isChecked() != on) {
        m_play->setChecked(on);
    }
}

bool CCalibrationDlg::SetInput() {
    const int channel = m_inChannel->currentIndex();
    return Store(CalibrationSide::Input, channel, m_inVolts->value(), InputLevelDbfs());
}

bool CCalibrationDlg::SetOutput() {
    // The tone's RMS is its level by construction: the reading stands for that level.
    return Store(CalibrationSide::Output, m_outChannel->currentIndex(), m_outVolts->value(),
                 m_outLevel->value());
}

bool CCalibrationDlg::Store(CalibrationSide side, int channel, double vrms, double dbfs) {
    const std::optional<double> vrmsAt0Dbfs = CalibrateFromReading(vrms, dbfs);
    if (!vrmsAt0Dbfs) {
        ShowAlert(
            {tr("无法校准：需要大于 0 V 的电压表读数和不低于 -100 dBFS 的电平。").toStdString(),
             std::string(), AlertIcon::Warning});
        return false;
    }
    // Saved from a copy, so a file that cannot be written leaves the panel's figures as the
    // file has them.
    CCalibrationStore changed = m_store;
    // Taken on the panel's own stream.
    changed.Set({DeviceOf(side), side, channel, *vrmsAt0Dbfs,
                 QDate::currentDate().toString(Qt::ISODate).toStdString(), kSampleRate,
                 SampleFormatName(SampleFormat::S16)});
    std::string error;
    if (!changed.Save(m_path, &error)) {
        ShowAlert({tr("校准未能保存：").toStdString() + error, std::string(), AlertIcon::Warning});
        return false;
    }
    m_store = changed;
    ShowStored();
    if (m_stored) {
        m_stored();
    }
    return true;
}

void CCalibrationDlg::TestSignalTaken() {
    m_playing = false;
    m_play->setChecked(false);
}

void CCalibrationDlg::done(int result) {
    Play(false);
    QDialog::done(result);
}
