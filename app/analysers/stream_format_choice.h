#pragma once
// CStreamFormatChoice: the rate and sample-format boxes of an analyser window. The choice is
// remembered per card and analyser in the user's configuration (QSettings), so a window opened
// again on the same card starts at the format that worked last. GUI thread only.

#include "audio/stream/stream_format.h"

#include <QString>
#include <QWidget>

class QComboBox;

class CStreamFormatChoice : public QWidget {
    Q_OBJECT
public:
    // analyser: the key the choice is kept under beside the card's name ("distortion").
    CStreamFormatChoice(const QString& analyser, QWidget* parent);

    StreamFormat Format() const;
    // Shows `format` without emitting Chosen (a refusal puts the boxes back this way).
    void SetFormat(const StreamFormat& format);
    // The choice kept for `device`; the panel's format when none was kept, or one no longer
    // valid.
    StreamFormat Recalled(const std::string& device) const;
    // Keeps the current choice for `device`.
    void Remember(const std::string& device) const;

    QComboBox* RateBox() const { return m_rate; }
    QComboBox* SampleFormatBox() const { return m_sampleFormat; }

signals:
    // The user changed either box.
    void Chosen(const StreamFormat& format);

private:
    QString Key(const std::string& device, const char* what) const;

    QString m_analyser;
    QComboBox* m_rate = nullptr;
    QComboBox* m_sampleFormat = nullptr;
};
