#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QScreen>
#include <QTranslator>

#include "platform/shell.h"
#include "platform/stagedinstall.h"
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
  const std::string folder = platform::ProgramFolder() + "/";
  // An install a killed run left halfway is finished (or undone) before anything else.
  const platform::InstallResult recovered = platform::FinishInterruptedInstall(folder);
  updater::TForm1 form(folder);
  form.move(form.screen()->availableGeometry().center() - form.rect().center());
  form.show();
  if (!recovered.Ok)
    QMessageBox::warning(&form, form.windowTitle(),
                         updater::WidgetText("La mise à jour précédente n'a pas pu être terminée : " + recovered.Message));
  return app.exec();
}
