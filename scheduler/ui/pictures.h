#pragma once
// The program's own pictures (SVG in the resources, drawn sharp at any scale), by name.
#include <QIcon>
#include <QPixmap>
#include <QString>

class QLabel;
class QWidget;

namespace ui {

// ":/pictures/<name>.svg" as an icon; an empty icon for an unknown name.
QIcon Picture(const QString& name);
// Shows the picture in a label at the given size in device-independent pixels.
void SetLabelPicture(QLabel* label, const QString& name, const QSize& size);
// The program icon, also the windows' icon.
QIcon ProgramIcon();
// Draws the picture, stretched, as the widget's background.
void SetBackgroundPicture(QWidget* widget, const QString& name);

}  // namespace ui
