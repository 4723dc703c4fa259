#pragma once
// The impedance window's live readout, in large type: |Z|, θ, the part's value as R, L or C in
// the series or parallel model, ESR, Q and D, and what became of the reading (a refusal in words,
// a frequency outside the corrections). GUI thread only.

#include "analysis/impedance/impedance_live.h"

#include <QCoreApplication>
#include <QString>

class QLabel;
class QWidget;

class CImpedanceReadout {
    Q_DECLARE_TR_FUNCTIONS(CImpedanceReadout)
public:
    // The readout's box, its labels children of it; `parent` gives the box its owner and fonts.
    QWidget* Make(QWidget* parent);
    // series: the series model, else the parallel one.
    void Show(const ImpedanceLiveReading& reading, bool series);

    // value with an SI prefix and `digits` significant figures: "1.0000 µF", "159.15 Ω".
    static QString Si(double value, const QString& unit, int digits = 5);
    // Why a reading or a sweep point was refused, and what to do about it.
    static QString RefusalText(ImpedanceRefusal refusal);

private:
    QLabel* m_zLabel = nullptr;
    QLabel* m_thetaLabel = nullptr;
    QLabel* m_valueLabel = nullptr;
    QLabel* m_detailLabel = nullptr;
    QLabel* m_stateLabel = nullptr;
};
