#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QScreen>
#include <QTranslator>

#include "platform/shell.h"
#include "updater/unit1.h"

// UpdaterMain: one window in the updater's own folder, no arguments.
int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Mise à jour"));
  // Qt's own dialogs and buttons in French.
  QLocale::setDefault(QLocale(QLocale::French, QLocale::France));
  QTranslator french;
  if (french.load(QStringLiteral("qtbase_fr"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    QCoreApplication::installTranslator(&french);
  updater::TForm1 form(platform::ProgramFolder() + "/");
  form.move(form.screen()->availableGeometry().center() - form.rect().center());
  form.show();
  return app.exec();
}
