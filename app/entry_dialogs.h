#pragma once
// The two entry dialogs of the panel. Each is made fresh for one question, so it always opens
// showing 0; OK keeps it open with a message naming the accepted range until the entry is
// valid, so the caller reads the value only after a result of QDialog::Accepted.
// GUI thread only.

#include "app/dialog_units.h"

#include <QDialog>

#include <cstdint>

class QLineEdit;
class QPushButton;

// Edit field id shared by both templates.
inline constexpr int kEntryEditId = 1022;

class CEntryDialog : public QDialog {
    Q_OBJECT
public:
    QLineEdit* Edit() const { return m_edit; }
    QPushButton* OkButton() const { return m_ok; }
    QPushButton* CancelButton() const { return m_cancel; }

    void accept() override;

    // A template's caption, size and control rectangles.
    struct Template {
        const char* caption;
        int widthDlu, heightDlu;
        const char* prompt;
        DluRect promptRect, editRect, okRect, cancelRect;
    };

protected:
    CEntryDialog(const Template& t, QWidget* parent);
    // Reads the edit field into the dialog's value; false (and nothing stored) when invalid.
    virtual bool TakeEntry(const std::string& text) = 0;
    virtual std::string RefusalMessage() const = 0;

private:
    QLineEdit* m_edit = nullptr;
    QPushButton* m_ok = nullptr;
    QPushButton* m_cancel = nullptr;
};

// Output frequency in whole hertz, 0..20000.
class CFreqDlg : public CEntryDialog {
    Q_OBJECT
public:
    explicit CFreqDlg(QWidget* parent = nullptr);
    uint32_t m_freqValue = 0;

protected:
    bool TakeEntry(const std::string& text) override;
    std::string RefusalMessage() const override;
};

// Multimeter reference component value, no unit, 0.001..10000.
class CRefDlg : public CEntryDialog {
    Q_OBJECT
public:
    explicit CRefDlg(QWidget* parent = nullptr);
    double m_refEntry = 0.0;

protected:
    bool TakeEntry(const std::string& text) override;
    std::string RefusalMessage() const override;
};
