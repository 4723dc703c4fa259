#include "app/entry_dialogs.h"

#include "app/dialog_units.h"
#include "base/entry_validation.h"
#include "base/format_and_alert.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

const CEntryDialog::Template kFreqTemplate{QT_TRANSLATE_NOOP("CEntryDialog", "设置输出频率"),
                                           127,
                                           71,
                                           QT_TRANSLATE_NOOP("CEntryDialog", "输入频率值"),
                                           {13, 15, 40, 13},
                                           {71, 15, 45, 13},
                                           {19, 44, 34, 13},
                                           {73, 45, 34, 13}};

const CEntryDialog::Template kRefTemplate{
    QT_TRANSLATE_NOOP("CEntryDialog", "设置万用表基准"),
    136,
    71,
    QT_TRANSLATE_NOOP("CEntryDialog", "输入基准元件值，不必输入单位"),
    {16, 23, 64, 20},
    {79, 22, 44, 16},
    {19, 50, 38, 14},
    {77, 50, 38, 14}};

// The entry rules word their refusals in the program's own language, without Qt; the texts are
// marked for translation here, and the dialog shows them translated.
[[maybe_unused]] const char* const kRefusalTexts[] = {
    QT_TRANSLATE_NOOP("CEntryDialog", "请输入 0 到 20000 之间的整数。"),
    QT_TRANSLATE_NOOP("CEntryDialog", "请输入 0.001 到 10000 之间的数。"),
};

} // namespace

CEntryDialog::CEntryDialog(const Template& t, QWidget* parent) : QDialog(parent) {
    setWindowTitle(tr(t.caption));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    const PixelRect size = DialogUnitsToPixels({0, 0, t.widthDlu, t.heightDlu}, kSystemBaseUnits);
    setFixedSize(size.width, size.height);

    auto* prompt = new QLabel(tr(t.prompt), this);
    prompt->setWordWrap(true);
    prompt->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    prompt->setGeometry(DialogUnitsToRect(t.promptRect, kSystemBaseUnits));

    m_edit = new QLineEdit(QStringLiteral("0"), this);
    m_edit->setObjectName(QString::number(kEntryEditId));
    m_edit->setGeometry(DialogUnitsToRect(t.editRect, kSystemBaseUnits));

    m_ok = new QPushButton(tr("OK"), this);
    m_ok->setGeometry(DialogUnitsToRect(t.okRect, kSystemBaseUnits));
    m_ok->setDefault(true);
    connect(m_ok, &QPushButton::clicked, this, &QDialog::accept);

    m_cancel = new QPushButton(tr("Cancel"), this);
    m_cancel->setAutoDefault(false);
    m_cancel->setGeometry(DialogUnitsToRect(t.cancelRect, kSystemBaseUnits));
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);

    m_edit->setFocus();
    m_edit->selectAll();
}

void CEntryDialog::accept() {
    if (!TakeEntry(m_edit->text().toStdString())) {
        ShowAlert({tr(RefusalMessage().c_str()).toStdString(), std::string(), AlertIcon::Warning});
        m_edit->setFocus();
        m_edit->selectAll();
        return;
    }
    QDialog::accept();
}

CFreqDlg::CFreqDlg(QWidget* parent) : CEntryDialog(kFreqTemplate, parent) {}

bool CFreqDlg::TakeEntry(const std::string& text) {
    const auto value = ParseFrequencyEntry(text);
    if (value) {
        m_freqValue = *value;
    }
    return value.has_value();
}

std::string CFreqDlg::RefusalMessage() const {
    return FrequencyEntryMessage();
}

CRefDlg::CRefDlg(QWidget* parent) : CEntryDialog(kRefTemplate, parent) {}

bool CRefDlg::TakeEntry(const std::string& text) {
    const auto value = ParseReferenceEntry(text);
    if (value) {
        m_refEntry = *value;
    }
    return value.has_value();
}

std::string CRefDlg::RefusalMessage() const {
    return ReferenceEntryMessage();
}
