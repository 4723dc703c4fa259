#pragma once
// The impedance window's corrections for the card in use: read from the impedance calibration
// file when the window opens, followed when the panel changes cards, saved after every change,
// and shown in their own box with the buttons that take them. When a correction is taken is the
// window's affair (it owns the run); this keeps what was taken. GUI thread only.

#include "analysis/calibration/impedance_calibration.h"

#include <QCoreApplication>

#include <functional>
#include <string>

class QCheckBox;
class QLabel;
class QWidget;

class CImpedanceCorrectionsBox {
    Q_DECLARE_TR_FUNCTIONS(CImpedanceCorrectionsBox)
public:
    // `window`: the owner of the box, and of the boxes that report a file that cannot be read
    // or written.
    explicit CImpedanceCorrectionsBox(QWidget* window) : m_window(window) {}

    // Reads the file; a damaged one is said in a box, and what was whole in it still applies.
    void Load();
    // The box; its buttons call `calibrate` with their kind, and `clear`.
    QWidget* Make(std::function<void(ImpedanceCalKind)> calibrate, std::function<void()> clear);

    // Takes the stored corrections of `device` (as --list-devices names it) when it is not the
    // card they are already for. True when the card changed.
    bool Follow(const std::string& device);
    // This card's, as in the file; changed in place, then saved.
    ImpedanceCorrections& Stored() { return m_stored; }
    const ImpedanceCorrections& Stored() const { return m_stored; }
    // Shows the corrections and writes them to the file (a failure is said in a box).
    void Save();
    void ShowState();
    // The corrections are to be taken at each of the sweep's frequencies, not at the live one.
    bool OverSweep() const;

private:
    QWidget* const m_window;
    std::string m_device;
    CImpedanceCalibrationStore m_store;
    ImpedanceCorrections m_stored;
    QCheckBox* m_calOverSweep = nullptr;
    QLabel* m_calLabel = nullptr;
};
