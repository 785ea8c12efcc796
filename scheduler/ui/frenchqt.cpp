#include "scheduler/ui/frenchqt.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace ui {

bool LoadQtFrench(QCoreApplication& app) {
  QLocale::setDefault(QLocale(QLocale::French, QLocale::France));
  auto* translator = new QTranslator(&app);
  if (!translator->load(QStringLiteral("qtbase_fr"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete translator;
    return false;
  }
  return QCoreApplication::installTranslator(translator);
}

}  // namespace ui
