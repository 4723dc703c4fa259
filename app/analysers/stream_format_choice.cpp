#include "app/analysers/stream_format_choice.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QSettings>
#include <QUrl>

namespace {

// The user's configuration, as the panel keeps its devices there.
QSettings UserSettings() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("tavrin"),
                     QStringLiteral("tavrin"));
}

constexpr SampleFormat kSampleFormats[] = {SampleFormat::S16, SampleFormat::S24, SampleFormat::S32,
                                           SampleFormat::Float};

} // namespace

CStreamFormatChoice::CStreamFormatChoice(const QString& analyser, QWidget* parent)
    : QWidget(parent), m_analyser(analyser) {
    m_rate = new QComboBox(this);
    m_rate->setObjectName(QStringLiteral("rate"));
    for (int rate : kStreamRates) {
        m_rate->addItem(QStringLiteral("%1 Hz").arg(rate), rate);
    }
    m_sampleFormat = new QComboBox(this);
    m_sampleFormat->setObjectName(QStringLiteral("sampleFormat"));
    for (SampleFormat format : kSampleFormats) {
        m_sampleFormat->addItem(QString::fromUtf8(SampleFormatName(format)), int(format));
    }
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_rate);
    layout->addWidget(m_sampleFormat);
    for (QComboBox* box : {m_rate, m_sampleFormat}) {
        connect(box, &QComboBox::activated, this, [this] { emit Chosen(Format()); });
    }
}

StreamFormat CStreamFormatChoice::Format() const {
    return {m_rate->currentData().toInt(), SampleFormat(m_sampleFormat->currentData().toInt())};
}

void CStreamFormatChoice::SetFormat(const StreamFormat& format) {
    m_rate->setCurrentIndex(m_rate->findData(format.rate_hz));
    m_sampleFormat->setCurrentIndex(m_sampleFormat->findData(int(format.format)));
}

QString CStreamFormatChoice::Key(const std::string& device, const char* what) const {
    // A device name may hold '/' (a file in a sim:dut chain), which QSettings reads as a group.
    return QStringLiteral("analysers/%1/%2/%3")
        .arg(m_analyser,
             QString::fromLatin1(QUrl::toPercentEncoding(QString::fromStdString(device))),
             QString::fromLatin1(what));
}

StreamFormat CStreamFormatChoice::Recalled(const std::string& device) const {
    const QSettings settings = UserSettings();
    const int rate = settings.value(Key(device, "rate")).toInt();
    const auto format =
        ParseSampleFormat(settings.value(Key(device, "format")).toString().toStdString());
    if (!IsStreamRate(rate) || !format) {
        return {};
    }
    return {rate, *format};
}

void CStreamFormatChoice::Remember(const std::string& device) const {
    QSettings settings = UserSettings();
    const StreamFormat format = Format();
    settings.setValue(Key(device, "rate"), format.rate_hz);
    settings.setValue(Key(device, "format"), QString::fromUtf8(SampleFormatName(format.format)));
}
