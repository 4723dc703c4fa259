#include "app/analysers/analyser_export.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFileInfo>
#include <QPainter>
#include <QPixmap>
#include <QSaveFile>
#include <QSvgGenerator>
#include <QWidget>

namespace {

bool Commit(QSaveFile& file, const QByteArray& bytes, QString* error) {
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

} // namespace

bool SaveTextFile(const QString& path, const QString& text, QString* error) {
    QSaveFile file(path);
    return Commit(file, text.toUtf8(), error);
}

bool SaveWidgetPicture(QWidget* widget, const QString& path, QString* error) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (QFileInfo(path).suffix().compare(QStringLiteral("svg"), Qt::CaseInsensitive) == 0) {
        QSvgGenerator svg;
        svg.setOutputDevice(&buffer);
        svg.setSize(widget->size());
        svg.setViewBox(widget->rect());
        svg.setTitle(widget->windowTitle());
        QPainter painter(&svg);
        widget->render(&painter);
    } else if (!widget->grab().save(&buffer, "PNG")) {
        *error = QCoreApplication::translate("CDistortionWindow", "无法生成图片");
        return false;
    }
    QSaveFile file(path);
    return Commit(file, bytes, error);
}
