#include "app/analysers/analyser_stream.h"

#include "audio/measure_stream_open.h"
#include "audio/wave/wave_api.h"
#include "engine/sound_device.h"

#include <QCoreApplication>

#include <string>

namespace {

QString LoanRefusal(CardLoan loan) {
    switch (loan) {
    case CardLoan::Recording:
        return QCoreApplication::translate("CAnalyserStream",
                                           "正在录音：请先停止录音，分析仪才能以其他格式使用声卡");
    case CardLoan::CaptureBusy:
        return QCoreApplication::translate("CAnalyserStream",
                                           "采集正在等待提示框的回答：请先关闭提示框，再选择格式");
    case CardLoan::Held:
    case CardLoan::Lent:
        break;
    }
    return QCoreApplication::translate("CAnalyserStream", "面板未能及时关闭声卡，请再试一次");
}

} // namespace

bool CAnalyserStream::Open(const StreamFormat& format, StreamTapFn tap, void* context,
                           IStreamSource* source, QString* error) {
    // One owner at a time: the stream before goes first, the card staying lent meanwhile.
    StopStream();
    if (const CardLoan loan = m_engine.LendCard(format); loan != CardLoan::Lent) {
        *error = LoanRefusal(loan);
        return false;
    }
    m_lent = true;
    std::string why;
    // The input's name: that is the card the panel measures with, and a stream is one card.
    m_stream = OpenMeasureStream(WaveDeviceName(WaveDirection::In), format, &why);
    if (m_stream && !m_stream->Start(tap, context, source, &why)) {
        m_stream.reset();
    }
    if (!m_stream) {
        Close();
        *error = QString::fromStdString(why);
        return false;
    }
    return true;
}

void CAnalyserStream::StopStream() {
    if (m_stream) {
        m_stream->Stop();
        m_stream.reset();
    }
}

void CAnalyserStream::Close() {
    StopStream();
    if (m_lent) {
        m_lent = false;
        m_engine.ReturnCard();
    }
}
