#pragma once
// Saving what an analyser window shows: its table as a text file, its plots as a PNG or SVG
// picture. Each returns false with the reason in *error (shown to the user by the caller), and
// writes through a temporary file so a failed save never leaves half a file behind. GUI thread.

#include <QString>

class QWidget;

bool SaveTextFile(const QString& path, const QString& text, QString* error);
// By the path's suffix: ".svg" is a vector drawing, anything else a PNG.
bool SaveWidgetPicture(QWidget* widget, const QString& path, QString* error);
