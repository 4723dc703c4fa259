#include "app/analysers/impedance_corrections_box.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include <utility>
#include <vector>

void CImpedanceCorrectionsBox::Load() {
    std::string message;
    if (!m_store.Load(CImpedanceCalibrationStore::DefaultPath(), &message)) {
        QMessageBox::warning(m_window, m_window->windowTitle(), QString::fromStdString(message));
    }
}

QWidget* CImpedanceCorrectionsBox::Make(std::function<void(ImpedanceCalKind)> calibrate,
                                        std::function<void()> clear) {
    auto* box = new QGroupBox(tr("校准 (本声卡)"), m_window);
    auto* match = new QPushButton(tr("通道匹配 (被测件短接)"), box);
    match->setObjectName(QStringLiteral("calMatch"));
    auto* open = new QPushButton(tr("开路"), box);
    open->setObjectName(QStringLiteral("calOpen"));
    auto* shorted = new QPushButton(tr("短路"), box);
    shorted->setObjectName(QStringLiteral("calShort"));
    auto* clearButton = new QPushButton(tr("清除"), box);
    clearButton->setObjectName(QStringLiteral("calClear"));
    m_calOverSweep = new QCheckBox(tr("按扫描频点"), box);
    m_calOverSweep->setObjectName(QStringLiteral("calOverSweep"));
    m_calOverSweep->setToolTip(tr("以下方步进扫描的频点测量并保存每一点，而非只在当前频率"));
    m_calLabel = new QLabel(box);
    m_calLabel->setObjectName(QStringLiteral("calState"));
    m_calLabel->setWordWrap(true);
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {match, open, shorted, clearButton}) {
        b->setAutoDefault(false);
        buttons->addWidget(b);
    }
    auto* layout = new QVBoxLayout(box);
    layout->addLayout(buttons);
    layout->addWidget(m_calOverSweep);
    layout->addWidget(m_calLabel);
    const auto takes = [&](QPushButton* button, ImpedanceCalKind kind) {
        QObject::connect(button, &QPushButton::clicked, m_window,
                         [calibrate, kind] { calibrate(kind); });
    };
    takes(match, ImpedanceCalKind::Match);
    takes(open, ImpedanceCalKind::Open);
    takes(shorted, ImpedanceCalKind::Short);
    QObject::connect(clearButton, &QPushButton::clicked, m_window, std::move(clear));
    return box;
}

bool CImpedanceCorrectionsBox::Follow(const std::string& device) {
    if (device == m_device) {
        return false;
    }
    m_device = device;
    const ImpedanceCorrections* stored = m_store.Find(m_device);
    m_stored = stored != nullptr ? *stored : ImpedanceCorrections{};
    return true;
}

bool CImpedanceCorrectionsBox::OverSweep() const {
    return m_calOverSweep->isChecked();
}

void CImpedanceCorrectionsBox::Save() {
    ShowState();
    m_store.Set(m_device, m_stored);
    std::string error;
    if (!m_store.Save(CImpedanceCalibrationStore::DefaultPath(), &error)) {
        QMessageBox::warning(m_window, m_window->windowTitle(),
                             tr("无法保存校准：%1").arg(QString::fromStdString(error)));
    }
}

void CImpedanceCorrectionsBox::ShowState() {
    const auto points = [](const CImpedanceCalTable& table) {
        if (table.Empty()) {
            return tr("无");
        }
        const std::vector<ImpedanceCalPoint>& p = table.Points();
        return tr("%n 个频点，%1–%2 Hz", "", int(p.size()))
            .arg(p.front().freq_hz, 0, 'f', 2)
            .arg(p.back().freq_hz, 0, 'f', 2);
    };
    m_calLabel->setText(
        tr("通道匹配：%1\n开路：%2；短路：%3")
            .arg(points(m_stored.match), points(m_stored.open), points(m_stored.shorted)));
}
