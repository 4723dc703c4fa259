#pragma once
// The About box, opened from the panel's About menu item. GUI thread only.

#include <QDialog>

class QPushButton;

class CAboutBox : public QDialog {
    Q_OBJECT
public:
    explicit CAboutBox(QWidget* parent = nullptr);
    QPushButton* OkButton() const { return m_ok; }

private:
    QPushButton* m_ok = nullptr;
};
