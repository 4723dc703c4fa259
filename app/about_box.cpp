#include "app/about_box.h"

#include "app/app_resources.h"
#include "app/panel_layout.h"
#include "base/ui_font.h"

#include <QIcon>
#include <QLabel>
#include <QPushButton>

namespace {

QLabel* AddText(QWidget* parent, const QString& text, DluRect r) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText); // ampersands stay as typed
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setGeometry(DialogUnitsToRect(r, kPanelBaseUnits));
    return label;
}

} // namespace

CAboutBox::CAboutBox(QWidget* parent) : QDialog(parent) {
    InitAppResources();
    setWindowTitle(tr("关于 Tavrin"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setFont(QFont(QString::fromUtf8(kUiFontFamily), kPanelFontPointSize));
    const PixelRect size = DialogUnitsToPixels({0, 0, 235, 79}, kPanelBaseUnits);
    setFixedSize(size.width, size.height);

    // An icon static takes the icon's own size, 32 x 32, at its top-left corner.
    auto* icon = new QLabel(this);
    const QRect iconRect = DialogUnitsToRect({13, 18, 20, 20}, kPanelBaseUnits);
    icon->setGeometry(iconRect.x(), iconRect.y(), 32, 32);
    icon->setPixmap(QIcon(QStringLiteral(":/res/tavrin.png")).pixmap(32, 32));

    AddText(this, tr("Tavrin 0.94版"), {40, 10, 119, 8});
    AddText(this, tr("作者：Tavrin 开发组"), {40, 24, 119, 8});
    AddText(this, tr("联系：请到项目主页留言"), {40, 38, 94, 9});
    AddText(this, tr("本程序是自由软件，欢迎复制和分发；使用本程序测量的结果仅供参考。"),
            {25, 55, 195, 20});

    m_ok = new QPushButton(tr("确定"), this);
    m_ok->setGeometry(DialogUnitsToRect({178, 7, 50, 14}, kPanelBaseUnits));
    m_ok->setDefault(true);
    connect(m_ok, &QPushButton::clicked, this, &QDialog::accept);
}
