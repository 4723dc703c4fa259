#pragma once
// The panel's state shared between the GUI thread and the capture worker. Every field says
// which thread writes it and which reads it; all are atomics, so a reader sees either the old
// or the new value of one field, never a torn one. The worker reads each field once per buffer.

#include "app/panel_layout.h"

#include <array>
#include <atomic>
#include <cstdint>

// The controls the capture worker reads by slider position or check state, as indexes into
// CPanelState::m_mirrored.
enum MirroredControl : int {
    kMirrorAmpX1,
    kMirrorAmpX2,
    kMirrorTimeX1,
    kMirrorTimeX2,
    kMirrorOffsetX1,
    kMirrorOffsetX2,
    kMirrorGridColumns,
    kMirrorGridRows,
    kMirrorSliderFreqL,
    kMirrorSliderFreqR,
    kMirrorFreqMeterOn,
    kMirrorMeterOn,
    kMirrorSourceSwitch,
    kMirrorSaveScreen,
    kMirrorSyncX1,
    kMirrorSyncX2,
    kMirrorCount,
};

// The control id behind each MirroredControl, in the same order.
inline constexpr std::array<int, kMirrorCount> kMirroredIds = {
    ctl::kAmpX1,        ctl::kAmpX2,       ctl::kTimeX1,      ctl::kTimeX2,
    ctl::kOffsetX1,     ctl::kOffsetX2,    ctl::kGridColumns, ctl::kGridRows,
    ctl::kSliderFreqL,  ctl::kSliderFreqR, ctl::kFreqMeterOn, ctl::kMeterOn,
    ctl::kSourceSwitch, ctl::kSaveScreen,  ctl::kSyncX1,      ctl::kSyncX2,
};

struct CPanelState {
    // The settings the handlers choose.
    std::atomic<int32_t> m_scopeMode{1};           // GUI (mode radios) writes; worker reads
    std::atomic<int32_t> m_gainDivX1{1};           // GUI (gain radios) writes; worker reads
    std::atomic<int32_t> m_gainDivX2{1};           // GUI (gain radios) writes; worker reads
    std::atomic<uint32_t> m_colorX1{0x0000FF00};   // GUI (colour buttons) writes; worker reads
    std::atomic<uint32_t> m_colorX2{0x000000FF};   // GUI (colour buttons) writes; worker reads
    std::atomic<uint32_t> m_colorGrid{0x00808080}; // GUI (colour buttons) writes; worker reads
    std::atomic<uint32_t> m_colorBack{0x00000000}; // GUI (colour buttons) writes; worker reads
    std::atomic<int32_t> m_paused{0};              // GUI (PAUSE) writes; worker reads
    // Until the user enters one, readings are in units of the reference.
    std::atomic<double> m_refValue{1.0}; // GUI (设置基准值) writes; worker reads
    std::atomic<int32_t> m_meterMode{0}; // GUI (meter radios) writes; worker reads; 0: none yet

    // Slider positions, or 1 while a toggle is checked. The GUI writes each as its control
    // changes; the worker reads them, and clears kMirrorSaveScreen itself once it has saved.
    std::array<std::atomic<int32_t>, kMirrorCount> m_mirrored{};

    // What the last frame was drawn with, derived from the sliders: the worker writes them at
    // every frame; any thread may read them.
    std::atomic<int32_t> m_gridColumns{10};
    std::atomic<int32_t> m_gridRows{10};
    std::atomic<float> m_timeScaleX1{5.0f};
    std::atomic<float> m_timeScaleX2{5.0f};
    std::atomic<float> m_ampScaleX1{50.0f};
    std::atomic<float> m_ampScaleX2{50.0f};
    std::atomic<int32_t> m_offsetX1{0};
    std::atomic<int32_t> m_offsetX2{0};

    int32_t Mirrored(MirroredControl control) const {
        return m_mirrored[control].load(std::memory_order_relaxed);
    }
};
