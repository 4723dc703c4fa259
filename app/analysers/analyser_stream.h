#pragma once
// CAnalyserStream: an analyser window's hold on the card at a format of its own. At the panel's
// format it holds nothing (the window taps the panel's stream as always); at another the panel
// lends the card (CSoundDevice::LendCard) and a measurement stream opens on the panel's capture
// device, both directions. Letting go closes the stream first, then gives the card back, so the
// panel is live again at once.
//
// Threads: GUI thread only. The tap and the source run on the stream's I/O thread.

#include "audio/stream/measure_stream.h"

#include <QString>

#include <memory>

class CSoundDevice;

class CAnalyserStream {
public:
    explicit CAnalyserStream(CSoundDevice& engine) : m_engine(engine) {}
    ~CAnalyserStream() { Close(); }

    CAnalyserStream(const CAnalyserStream&) = delete;
    CAnalyserStream& operator=(const CAnalyserStream&) = delete;

    // Runs `format` with the tap and the source (none: silence), in place of any stream open
    // before; the card stays lent across the change. False with one line in *error (translated)
    // when the panel cannot let go or the stream cannot open or start: the card is then the
    // panel's again. Not for the panel's format.
    bool Open(const StreamFormat& format, StreamTapFn tap, void* context, IStreamSource* source,
              QString* error);
    // Stops the stream (no tap or source call after it returns); the card stays lent, for the
    // next Open at another format.
    void StopStream();
    // Stops the stream and gives the card back, if it was lent.
    void Close();
    bool IsOpen() const { return m_stream != nullptr; }

private:
    CSoundDevice& m_engine;
    std::unique_ptr<CMeasureStream> m_stream;
    // The card is lent for this hold; the engine is not touched otherwise, so a window whose
    // panel is already gone can still be destroyed.
    bool m_lent = false;
};
