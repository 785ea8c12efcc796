#include <QApplication>
#include <QScreen>

#include "platform/shell.h"
#include "updater/unit1.h"

// UpdaterMain: one window in the updater's own folder, no arguments.
int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Mise à jour"));
  updater::TForm1 form(platform::ProgramFolder() + "/");
  form.move(form.screen()->availableGeometry().center() - form.rect().center());
  form.show();
  return app.exec();
}
