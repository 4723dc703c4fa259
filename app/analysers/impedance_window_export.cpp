// The impedance window's exports: the last sweep's curve as ZMA or CSV, and the plot as a picture.
#include "app/analysers/impedance_window.h"

#include "analysis/impedance/impedance_files.h"
#include "app/analysers/analyser_export.h"
#include "app/analysers/impedance_chart.h"

#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPushButton>

QWidget* CImpedanceWindow::MakeExportButtons() {
    auto* row = new QWidget(this);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* zma = new QPushButton(tr("保存 ZMA…"), row);
    auto* csv = new QPushButton(tr("保存 CSV…"), row);
    auto* plot = new QPushButton(tr("保存图…"), row);
    for (QPushButton* b : {zma, csv, plot}) {
        b->setAutoDefault(false);
        layout->addWidget(b);
    }
    connect(zma, &QPushButton::clicked, this, [this] {
        SaveFile(tr("保存 ZMA"), QStringLiteral("impedance.zma"), tr("ZMA 文件 (*.zma)"), 0);
    });
    connect(csv, &QPushButton::clicked, this, [this] {
        SaveFile(tr("保存 CSV"), QStringLiteral("impedance.csv"), tr("CSV 文件 (*.csv)"), 1);
    });
    connect(plot, &QPushButton::clicked, this, [this] {
        SaveFile(tr("保存图"), QStringLiteral("impedance.png"),
                 tr("PNG 图片 (*.png);;SVG 图形 (*.svg)"), 2);
    });
    return row;
}

bool CImpedanceWindow::ExportCsv(const QString& path, QString* error) const {
    return SaveTextFile(path, QString::fromStdString(FormatImpedanceCsv(m_curve)), error);
}

bool CImpedanceWindow::ExportZma(const QString& path, QString* error) const {
    const std::string comment =
        "R_ref " + QString::number(m_rRef->value(), 'g', 6).toStdString() + " ohm";
    return SaveTextFile(path, QString::fromStdString(FormatZma(m_curve, {comment})), error);
}

bool CImpedanceWindow::ExportPlot(const QString& path, QString* error) {
    return SaveWidgetPicture(m_chart, path, error);
}

void CImpedanceWindow::SaveFile(const QString& title, const QString& name, const QString& filter,
                                int kind) {
    const QString path = QFileDialog::getSaveFileName(this, title, name, filter);
    if (path.isEmpty()) {
        return;
    }
    QString error;
    const bool saved = kind == 0   ? ExportZma(path, &error)
                       : kind == 1 ? ExportCsv(path, &error)
                                   : ExportPlot(path, &error);
    if (!saved) {
        QMessageBox::warning(this, windowTitle(), tr("无法保存 %1：%2").arg(path, error));
    }
}
