// The panel's per-buffer processing and the screen save, on the capture worker. Nothing here
// touches a widget: settings come from atomics, results leave by queued calls.
#include "app/instrument_dlg.h"

#include "app/scope_screen.h"
#include "app/status_line.h"
#include "files/image_saver.h"
#include "measure/frequency_meter.h"
#include "measure/multimeter.h"
#include "scope/scope.h"

#include <QAbstractButton>

#include <cstring>
#include <memory>

namespace {

// The frame is the screen control less its border on each side: 560 x 381 pixels.
PixelRect FrameSize() {
    const PixelRect screen = DialogUnitsToPixels(FindPanelControl(ctl::kScreen)->rect);
    return {0, 0, screen.width - 2 * kScreenBorderPx, screen.height - 2 * kScreenBorderPx};
}

constexpr const char* kPauseFirstText =
    QT_TRANSLATE_NOOP("CInstrumentDlg", "请先暂停，调整好屏幕再保存");
constexpr const char* kPauseFirstCaption = QT_TRANSLATE_NOOP("CInstrumentDlg", "请按下PAUSE");

} // namespace

void CInstrumentDlg::OnCaptureBuffer(const uint8_t* samples) {
    if (m_closing.load()) {
        return;
    }
    std::lock_guard lock(m_captureMutex);
    if (m_closing.load()) {
        return;
    }
    // The block: the first 2048 frames of the buffer, copied so the meters read int16 samples.
    int16_t block[kBlockFrames * 2];
    std::memcpy(block, samples, sizeof block);

    if (m_state.m_paused.load() == 0) {
        std::memcpy(m_samples, block, sizeof block);
    }
    if (m_state.Mirrored(kMirrorFreqMeterOn) != 0) {
        MeasureFrequencies(block, m_readoutX1, m_readoutX2);
    } else {
        m_readoutX1.SetValue(-1);
        m_readoutX2.SetValue(-1);
    }
    DrawScope();
    if (m_state.Mirrored(kMirrorMeterOn) != 0) {
        MeasureMeter(block, m_state.m_meterMode.load(), m_state.m_refValue.load(), m_readoutMeter);
    } else {
        m_readoutMeter.SetValue(-1);
    }
    m_freqL = m_state.Mirrored(kMirrorSliderFreqL);
    m_freqR = m_state.Mirrored(kMirrorSliderFreqR);
    if (m_state.Mirrored(kMirrorSourceSwitch) != 0) {
        m_readoutL.SetValue(m_freqL.load());
        m_readoutR.SetValue(m_freqR.load());
    }
    // The whole buffer, live also while paused, whatever the meters' switches say.
    m_statusLine->OnCaptureBuffer(samples);
    ++m_buffersProcessed;
}

void CInstrumentDlg::OnRecordingEndedAtGap() {
    // Released as RECORD's second press leaves it, unless the user has meanwhile started a
    // new recording.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (m_recording.load() == 0) {
                QAbstractButton* record = m_widgets.Button(ctl::kRecord);
                record->setChecked(false);
                record->setText(tr("Record"));
            }
        },
        Qt::QueuedConnection);
}

void CInstrumentDlg::DrawScope() {
    ScopeSettings settings;
    settings.sliders.ampX1 = m_state.Mirrored(kMirrorAmpX1);
    settings.sliders.ampX2 = m_state.Mirrored(kMirrorAmpX2);
    settings.sliders.timeX1 = m_state.Mirrored(kMirrorTimeX1);
    settings.sliders.timeX2 = m_state.Mirrored(kMirrorTimeX2);
    settings.sliders.offsetX1 = m_state.Mirrored(kMirrorOffsetX1);
    settings.sliders.offsetX2 = m_state.Mirrored(kMirrorOffsetX2);
    settings.sliders.gridColumns = m_state.Mirrored(kMirrorGridColumns);
    settings.sliders.gridRows = m_state.Mirrored(kMirrorGridRows);
    settings.scopeMode = m_state.m_scopeMode.load();
    settings.colorX1 = m_state.m_colorX1.load();
    settings.colorX2 = m_state.m_colorX2.load();
    settings.colorGrid = m_state.m_colorGrid.load();
    settings.colorBack = m_state.m_colorBack.load();
    settings.gainDivX1 = m_state.m_gainDivX1.load();
    settings.gainDivX2 = m_state.m_gainDivX2.load();
    settings.syncX1 = m_state.Mirrored(kMirrorSyncX1) != 0;
    settings.syncX2 = m_state.Mirrored(kMirrorSyncX2) != 0;
    settings.timeBaseUnit = m_timeBaseUnit.constData();
    settings.spectrumUnit = m_spectrumUnit.constData();

    const PixelRect size = FrameSize();
    const ScopeDerived derived =
        ComposeScopeFrame(m_canvases[m_canvasIndex ^= 1], size.width, size.height, m_samples,
                          settings, [this](const CCanvas& frame) { OnFrameDone(frame); });
    m_state.m_gridColumns = derived.gridColumns;
    m_state.m_gridRows = derived.gridRows;
    m_state.m_ampScaleX1 = derived.ampScaleX1;
    m_state.m_ampScaleX2 = derived.ampScaleX2;
    m_state.m_timeScaleX1 = derived.timeScaleX1;
    m_state.m_timeScaleX2 = derived.timeScaleX2;
    m_state.m_offsetX1 = derived.offsetX1;
    m_state.m_offsetX2 = derived.offsetX2;
}

ScopeScale CInstrumentDlg::CurrentScopeScale() const {
    const PixelRect size = FrameSize();
    ScopeScale scale;
    scale.mode = m_state.m_scopeMode.load();
    scale.ampScale = {m_state.m_ampScaleX1.load(), m_state.m_ampScaleX2.load()};
    scale.gainDivisor = {m_state.m_gainDivX1.load(), m_state.m_gainDivX2.load()};
    scale.gridRows = m_state.m_gridRows.load();
    scale.gridColumns = m_state.m_gridColumns.load();
    scale.widthPx = size.width;
    scale.heightPx = size.height;
    return scale;
}

void CInstrumentDlg::OnFrameDone(const CCanvas& frame) {
    // A picture the same as the one before it (a paused or idle screen, noise below a pixel)
    // is not handed over: the screen would only repaint what it shows. The next frame is then
    // drawn into this raster again, leaving the one on show alone.
    if (CCanvas::SamePixels(frame, m_canvases[m_canvasIndex ^ 1])) {
        m_canvasIndex ^= 1;
    } else {
        // A shallow copy: should the GUI still hold this frame when its raster comes round
        // again, the raster's first write detaches and draws into fresh memory.
        m_screen->PublishFrame(frame.Image());
    }
    if (m_state.Mirrored(kMirrorSaveScreen) != 0) {
        SaveScreen(frame);
    }
}

void CInstrumentDlg::SaveScreen(const CCanvas& frame) {
    if (m_state.m_paused.load() == 1) {
        // Shared with the GUI side: closing may release this worker while the dialog is open.
        auto path = std::make_shared<std::optional<std::string>>();
        const bool answered = m_bridge.RunAndWait([this, path](CGuiBridge::Done done) {
            *path = m_prompts.chooseSavePath(this, {QStringLiteral("bmp"), tr("位图文件 (*.bmp)")});
            done();
        });
        if (answered && *path && !m_closing.load()) {
            // The raster's RGB32 pixels are the BMP's blue-green-red-unused bytes; a 32-bit
            // display has no palette, so none is passed.
            const QImage& image = frame.Image();
            const FrameRaster raster{image.width(), image.height(), 32, int(image.bytesPerLine()),
                                     image.constBits()};
            CImageSaver saver;
            std::string why;
            // The user asked for a file: one that did not come about is said, not passed over.
            if (!saver.WriteBmpFile(**path, saver.PackBitmap(raster, kCompressionRgb, {}), &why)) {
                ShowAlert({std::string(kWriteFailedText) + "\n" + **path + ": " + why,
                           std::string(), AlertIcon::Warning});
            }
        }
    } else {
        Alert pauseFirst{tr(kPauseFirstText).toStdString(), tr(kPauseFirstCaption).toStdString(),
                         AlertIcon::Information};
        pauseFirst.blocksPanel = true;
        ShowAlert(pauseFirst);
    }
    // Cleared here at once so the next buffer does not ask again before the GUI catches up.
    m_state.m_mirrored[kMirrorSaveScreen] = 0;
    QMetaObject::invokeMethod(m_widgets.Button(ctl::kSaveScreen), "setChecked",
                              Qt::QueuedConnection, Q_ARG(bool, false));
}
