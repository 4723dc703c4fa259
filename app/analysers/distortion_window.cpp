#include "app/analysers/distortion_window.h"

#include "app/analysers/analyser_export.h"
#include "app/analysers/distortion_charts.h"
#include "app/analysers/stream_format_choice.h"
#include "app/analysers/worker_wake.h"
#include "audio/stream_signal.h"
#include "audio/test_signal.h"
#include "audio/wave/wave_api.h"
#include "engine/sound_device.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

constexpr int kBlockSizes[] = {8192, 16384, 32768, 65536, 131072, 262144};
constexpr int kDefaultBlockIndex = 3; // 65536 frames, about 1.5 s
// The highest tone a rate carries: just under its Nyquist frequency.
constexpr double kBelowNyquistHz = 0.01;

enum Measurement {
    kMeasureThd = 0,
    kMeasureSmpte = 1,
    kMeasureCcif = 2,
    kMeasureDin = 3,
    kMeasureCustom = 4,
};

} // namespace

CDistortionWindow::CDistortionWindow(CSoundDevice& engine, QWidget* owner)
    : QDialog(owner), m_engine(engine), m_stream(engine) {
    setWindowTitle(tr("失真与噪声"));
    setModal(false);
    // Rows are made on the capture worker and handed over in the triple buffer; the wake posts
    // no event, and rows that come faster than the GUI takes them wake it once. A slow GUI shows
    // the newest block and never falls behind.
    m_wake = new CWorkerWake(this);
    m_monitor = std::make_unique<CDistortionMonitor>(
        [this](const DistortionRow& row) {
            m_rows.Publish(row);
            m_wake->Wake();
        },
        true);
    connect(m_wake, &CWorkerWake::Woken, this, &CDistortionWindow::TakeRow);

    m_tableWidget = new QTableWidget(0, 3, this);
    m_tableWidget->setObjectName(QStringLiteral("table"));
    m_tableWidget->setHorizontalHeaderLabels(
        {tr("量"), QStringLiteral("X1"), QStringLiteral("X2")});
    m_tableWidget->verticalHeader()->hide();
    m_tableWidget->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_tableWidget->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    m_tableWidget->horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    m_tableWidget->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
    m_tableWidget->horizontalHeader()->setSectionResizeMode(2, QHeaderView::Stretch);
    m_tableWidget->setMinimumWidth(380);
    ShowTable(EmptyDistortionTable());

    auto* left = new QVBoxLayout;
    left->addWidget(MakeSignalControls());
    left->addWidget(MakeAnalysisControls());
    left->addWidget(m_tableWidget, 1);
    left->addWidget(MakeExportButtons());
    m_charts = new CDistortionCharts(this);
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(left);
    layout->addWidget(m_charts, 1);
    resize(1100, 720);
}

CDistortionWindow::~CDistortionWindow() {
    StopListening();
}

QWidget* CDistortionWindow::MakeSignalControls() {
    auto* box = new QGroupBox(tr("测试信号"), this);
    m_play = new QCheckBox(tr("从线路输出播放"), box);
    m_play->setObjectName(QStringLiteral("play"));
    m_measurement = new QComboBox(box);
    m_measurement->setObjectName(QStringLiteral("measurement"));
    m_measurement->addItems({tr("谐波失真 (正弦)"), tr("SMPTE 互调 (60 Hz + 7 kHz, 4:1)"),
                             tr("CCIF 互调 (19 kHz + 20 kHz, 1:1)"),
                             tr("DIN 互调 (250 Hz + 8 kHz, 4:1)"), tr("自定义双音互调")});
    m_frequency = new QDoubleSpinBox(box);
    m_frequency->setObjectName(QStringLiteral("frequency"));
    m_frequency->setRange(kTestToneMinHz, m_format.rate_hz / 2.0 - kBelowNyquistHz);
    m_frequency->setDecimals(2);
    m_frequency->setSuffix(QStringLiteral(" Hz"));
    m_frequency->setValue(TestSignal{}.freq_hz);
    m_level = new QDoubleSpinBox(box);
    m_level->setObjectName(QStringLiteral("level"));
    m_level->setRange(kTestLevelMinDbfs, kTestLevelMaxDbfs);
    m_level->setDecimals(1);
    m_level->setSingleStep(0.1);
    m_level->setSuffix(QStringLiteral(" dBFS"));
    m_level->setValue(TestSignal{}.level_dbfs);
    m_dither = new QCheckBox(tr("TPDF 抖动"), box);
    m_dither->setObjectName(QStringLiteral("dither"));
    // The custom pair: f1, f2 and f1's amplitude over f2's (1: read as CCIF, else as SMPTE).
    const ImdTones custom = ImdPreset(ImdKind::Custom);
    auto* pair = new QWidget(box);
    auto* pairLayout = new QHBoxLayout(pair);
    pairLayout->setContentsMargins(0, 0, 0, 0);
    m_imdF1 = new QDoubleSpinBox(pair);
    m_imdF2 = new QDoubleSpinBox(pair);
    m_imdRatio = new QDoubleSpinBox(pair);
    m_imdF1->setObjectName(QStringLiteral("imdF1"));
    m_imdF2->setObjectName(QStringLiteral("imdF2"));
    m_imdRatio->setObjectName(QStringLiteral("imdRatio"));
    for (QDoubleSpinBox* spin : {m_imdF1, m_imdF2}) {
        spin->setRange(kTestToneMinHz, m_format.rate_hz / 2.0 - kBelowNyquistHz);
        spin->setDecimals(2);
        spin->setSuffix(QStringLiteral(" Hz"));
    }
    m_imdF1->setValue(custom.f1_hz);
    m_imdF2->setValue(custom.f2_hz);
    m_imdRatio->setRange(kTestRatioMin, kTestRatioMax);
    m_imdRatio->setDecimals(2);
    m_imdRatio->setSuffix(QStringLiteral(" : 1"));
    m_imdRatio->setValue(custom.ratio);
    for (QDoubleSpinBox* spin : {m_imdF1, m_imdF2, m_imdRatio}) {
        spin->setEnabled(false);
        pairLayout->addWidget(spin);
    }

    auto* form = new QFormLayout(box);
    form->addRow(m_play);
    form->addRow(tr("测量"), m_measurement);
    form->addRow(tr("频率"), m_frequency);
    form->addRow(tr("电平"), m_level);
    form->addRow(m_dither);
    form->addRow(tr("双音"), pair);

    // The tone played is the fundamental the analysis looks for, so both follow these controls.
    connect(m_play, &QCheckBox::toggled, this, [this] {
        ApplySettings();
        ApplySignal();
    });
    connect(m_measurement, &QComboBox::currentIndexChanged, this, [this] {
        m_frequency->setEnabled(m_measurement->currentIndex() == kMeasureThd);
        for (QDoubleSpinBox* spin : {m_imdF1, m_imdF2, m_imdRatio}) {
            spin->setEnabled(m_measurement->currentIndex() == kMeasureCustom);
        }
        ApplySettings();
        ApplySignal();
    });
    for (QDoubleSpinBox* spin : {m_imdF1, m_imdF2, m_imdRatio}) {
        connect(spin, &QDoubleSpinBox::valueChanged, this, [this] {
            ApplySettings();
            ApplySignal();
        });
    }
    connect(m_frequency, &QDoubleSpinBox::valueChanged, this, [this] {
        ApplySettings();
        ApplySignal();
    });
    connect(m_level, &QDoubleSpinBox::valueChanged, this, [this] { ApplySignal(); });
    connect(m_dither, &QCheckBox::toggled, this, [this] { ApplySignal(); });
    return box;
}

QWidget* CDistortionWindow::MakeAnalysisControls() {
    auto* box = new QGroupBox(tr("分析"), this);
    m_blockSize = new QComboBox(box);
    m_blockSize->setObjectName(QStringLiteral("blockSize"));
    for (int frames : kBlockSizes) {
        m_blockSize->addItem(
            tr("%1 帧 (%2 s)").arg(frames).arg(frames / double(kSampleRate), 0, 'f', 2), frames);
    }
    m_blockSize->setCurrentIndex(kDefaultBlockIndex);
    m_band = new QComboBox(box);
    m_band->setObjectName(QStringLiteral("band"));
    m_band->addItem(tr("20 Hz – 20 kHz"), 20000.0);
    m_band->addItem(tr("20 Hz – 奈奎斯特频率"), m_format.rate_hz / 2.0);
    m_weighting = new QComboBox(box);
    m_weighting->setObjectName(QStringLiteral("weighting"));
    m_weighting->addItems({tr("不计权"), tr("A 计权 (IEC 61672)")});

    m_formatChoice = new CStreamFormatChoice(QStringLiteral("distortion"), box);
    m_streamStatus = new QLabel(box);
    m_streamStatus->setObjectName(QStringLiteral("streamStatus"));
    m_streamStatus->setWordWrap(true);
    m_streamStatus->hide();

    auto* form = new QFormLayout(box);
    form->addRow(tr("块长"), m_blockSize);
    form->addRow(tr("频带"), m_band);
    form->addRow(tr("噪声计权"), m_weighting);
    form->addRow(tr("采样率与格式"), m_formatChoice);
    form->addRow(m_streamStatus);
    for (QComboBox* combo : {m_blockSize, m_band, m_weighting}) {
        connect(combo, &QComboBox::currentIndexChanged, this, [this] { ApplySettings(); });
    }
    connect(m_formatChoice, &CStreamFormatChoice::Chosen, this,
            [this](const StreamFormat& format) { OnFormatChosen(format); });
    // The card's own choice from last time; taken up when the window starts listening.
    m_formatChoice->SetFormat(m_formatChoice->Recalled(WaveDeviceName(WaveDirection::In)));
    return box;
}

QWidget* CDistortionWindow::MakeExportButtons() {
    auto* row = new QWidget(this);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* copy = new QPushButton(tr("复制表格"), row);
    auto* save = new QPushButton(tr("保存表格…"), row);
    auto* plots = new QPushButton(tr("保存图…"), row);
    for (QPushButton* button : {copy, save, plots}) {
        button->setAutoDefault(false);
        layout->addWidget(button);
    }
    connect(copy, &QPushButton::clicked, this, [this] { CopyCsv(); });
    connect(save, &QPushButton::clicked, this, [this] { SaveCsv(); });
    connect(plots, &QPushButton::clicked, this, [this] { SavePlots(); });
    return row;
}

void CDistortionWindow::showEvent(QShowEvent* event) {
    Listen();
    QDialog::showEvent(event);
}

void CDistortionWindow::done(int result) {
    StopListening();
    QDialog::done(result);
}

void CDistortionWindow::Listen() {
    if (m_listening) {
        return;
    }
    m_listening = true;
    m_format = m_formatChoice->Format();
    FollowRate();
    ApplySettings();
    StartInput();
    ApplySignal();
}

void CDistortionWindow::StopListening() {
    if (!m_listening) {
        return;
    }
    m_listening = false;
    StopInput();
    if (m_playing) {
        m_playing = false;
        m_engine.StopTestSignal(this);
    }
}

bool CDistortionWindow::StartInput() {
    if (!m_format.IsPanelFormat()) {
        // Made before the stream it plays on, and kept until the stream before it has stopped.
        auto source = std::make_unique<CStreamSignalSource>(m_format);
        QString error;
        if (m_stream.Open(m_format, &CDistortionWindow::StreamTap, m_monitor.get(), source.get(),
                          &error)) {
            m_streamSignal = std::move(source);
            m_streamStatus->hide();
            return true;
        }
        m_streamSignal.reset();
        // Back to what works: the panel's own stream, the reason said in the window.
        m_streamStatus->setText(error);
        m_streamStatus->show();
        m_format = StreamFormat{};
        m_formatChoice->SetFormat(m_format);
        FollowRate();
        ApplySettings();
        m_engine.SetCaptureTap(&CDistortionMonitor::Tap, m_monitor.get());
        return false;
    }
    m_streamStatus->hide();
    m_engine.SetCaptureTap(&CDistortionMonitor::Tap, m_monitor.get());
    return true;
}

void CDistortionWindow::StopInput() {
    // Each waits out a row being made, so the monitor may go with the window; closing the
    // stream gives the card back to the panel.
    m_engine.SetCaptureTap(nullptr, nullptr);
    m_stream.Close();
    m_streamSignal.reset();
}

void CDistortionWindow::StreamTap(const float* interleaved, int frames, uint64_t gapCount,
                                  ClockStamp, void* monitor) {
    CDistortionMonitor::TapFloat(interleaved, frames, gapCount, monitor);
}

void CDistortionWindow::OnFormatChosen(const StreamFormat& format) {
    if (!m_listening) {
        return; // taken up by Listen
    }
    if (format == m_format) {
        return;
    }
    // The signal before plays on the way it was started; it starts again on the new path.
    if (m_playing) {
        m_playing = false;
        m_engine.StopTestSignal(this);
    }
    // Whatever fed the monitor stops before it takes the new rate, so no block mixes two rates.
    m_engine.SetCaptureTap(nullptr, nullptr);
    if (format.IsPanelFormat()) {
        m_stream.Close();
    } else {
        m_stream.StopStream(); // the card stays lent for the next format
    }
    m_streamSignal.reset();
    m_format = format;
    FollowRate();
    ApplySettings();
    // Kept for the card only once it worked: a refused format would be refused again.
    if (StartInput()) {
        m_formatChoice->Remember(WaveDeviceName(WaveDirection::In));
    }
    ApplySignal();
}

void CDistortionWindow::FollowRate() {
    const double nyquistHz = m_format.rate_hz / 2.0;
    for (QDoubleSpinBox* spin : {m_frequency, m_imdF1, m_imdF2}) {
        spin->setMaximum(nyquistHz - kBelowNyquistHz);
    }
    m_band->setItemData(1, nyquistHz);
    for (int i = 0; i < m_blockSize->count(); ++i) {
        const int frames = m_blockSize->itemData(i).toInt();
        m_blockSize->setItemText(
            i, tr("%1 帧 (%2 s)").arg(frames).arg(frames / double(m_format.rate_hz), 0, 'f', 2));
    }
}

void CDistortionWindow::TestSignalTaken() {
    m_playing = false;
    m_play->setChecked(false);
}

void CDistortionWindow::ApplySettings() {
    DistortionMonitorSettings settings;
    settings.block_frames = m_blockSize->currentData().toInt();
    settings.analysis.band_hi_hz = m_band->currentData().toDouble();
    settings.analysis.weighting = m_weighting->currentIndex() == 1 ? Weighting::A : Weighting::None;
    if (m_listening && m_play->isChecked() && m_measurement->currentIndex() == kMeasureThd) {
        settings.analysis.tone_hz = m_frequency->value();
    }
    settings.imd = ChosenImd();
    settings.sample_rate_hz = m_format.rate_hz;
    m_monitor->SetSettings(settings);
}

std::optional<ImdTones> CDistortionWindow::ChosenImd() const {
    switch (m_measurement->currentIndex()) {
    case kMeasureSmpte:
        return ImdPreset(ImdKind::Smpte);
    case kMeasureCcif:
        return ImdPreset(ImdKind::Ccif);
    case kMeasureDin:
        return ImdPreset(ImdKind::Din);
    case kMeasureCustom:
        return ImdTones{ImdKind::Custom, m_imdF1->value(), m_imdF2->value(), m_imdRatio->value()};
    default:
        return std::nullopt;
    }
}

void CDistortionWindow::ApplySignal() {
    if (!m_listening) {
        return;
    }
    // Silence: samples that are none.
    TestSignal signal;
    signal.kind = TestSignalKind::Samples;
    if (m_play->isChecked()) {
        signal.kind = TestSignalKind::Tone;
        signal.freq_hz = m_frequency->value();
        if (const std::optional<ImdTones> imd = ChosenImd()) {
            signal.kind = TestSignalKind::ImdPair;
            signal.freq_hz = imd->f1_hz;
            signal.freq2_hz = imd->f2_hz;
            signal.ratio = imd->ratio;
        }
        signal.level_dbfs = m_level->value();
        signal.dither = m_dither->isChecked();
    }
    if (m_streamSignal) {
        // The measurement stream plays its own source; the panel's test signal stays off.
        m_streamSignal->Set(signal);
        return;
    }
    if (!m_play->isChecked()) {
        if (m_playing) {
            m_playing = false;
            m_engine.StopTestSignal(this);
        }
        return;
    }
    m_playing = true;
    m_engine.StartTestSignal(signal, this);
}

void CDistortionWindow::TakeRow() {
    if (const DistortionRow* row = m_rows.Take()) {
        ShowRow(*row);
    }
}

void CDistortionWindow::ShowRow(const DistortionRow& row) {
    if (!m_listening) {
        return;
    }
    ++m_blocksShown;
    ShowTable(DistortionTable(row, m_vrmsAt0Dbfs));
    m_charts->Show(row);
}

void CDistortionWindow::ShowTable(const QVector<DistortionTableRow>& table) {
    m_table = table;
    m_tableWidget->setRowCount(static_cast<int>(table.size()));
    for (int r = 0; r < table.size(); ++r) {
        const QString cells[3] = {table[r].quantity, table[r].x1, table[r].x2};
        for (int c = 0; c < 3; ++c) {
            QTableWidgetItem* item = m_tableWidget->item(r, c);
            if (item == nullptr) {
                item = new QTableWidgetItem;
                item->setTextAlignment(c == 0 ? Qt::AlignLeft | Qt::AlignVCenter
                                              : Qt::AlignRight | Qt::AlignVCenter);
                m_tableWidget->setItem(r, c, item);
            }
            item->setText(cells[c]);
        }
    }
}

QString CDistortionWindow::TableCsv() const {
    return DistortionTableCsv(m_table);
}

bool CDistortionWindow::ExportTableCsv(const QString& path, QString* error) const {
    return SaveTextFile(path, TableCsv(), error);
}

bool CDistortionWindow::ExportPlots(const QString& path, QString* error) {
    return SaveWidgetPicture(m_charts, path, error);
}

void CDistortionWindow::CopyCsv() {
    QApplication::clipboard()->setText(TableCsv());
}

void CDistortionWindow::SaveCsv() {
    const QString path = QFileDialog::getSaveFileName(
        this, tr("保存表格"), QStringLiteral("distortion.csv"), tr("CSV 文件 (*.csv)"));
    QString error;
    if (!path.isEmpty() && !ExportTableCsv(path, &error)) {
        QMessageBox::warning(this, windowTitle(), tr("无法保存 %1：%2").arg(path, error));
    }
}

void CDistortionWindow::SavePlots() {
    const QString path =
        QFileDialog::getSaveFileName(this, tr("保存图"), QStringLiteral("distortion.png"),
                                     tr("PNG 图片 (*.png);;SVG 图形 (*.svg)"));
    QString error;
    if (!path.isEmpty() && !ExportPlots(path, &error)) {
        QMessageBox::warning(this, windowTitle(), tr("无法保存 %1：%2").arg(path, error));
    }
}
