// The update window shows its texts whole in each of its states, at the scale the suite runs
// with (the suite runs this file once more with QT_SCALE_FACTOR=1.5).
#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <gtest/gtest.h>

#include "tests/support/testenv.h"
#include "tests/support/textfit.h"
#include "updater/unit1.h"

namespace {

TEST(UpdaterWindowFit, EveryStateShowsItsTextsWhole) {
  updater::TForm1 form(testenv::makeDir("install").string() + "/");
  const QString states[] = {
      form.Label1->text(),
      QStringLiteral("Téléchargement de la nouvelle version de Quillomet en cours..."),
      QStringLiteral("La mise à jour de Quillomet n'a pas été installée."),
      QStringLiteral("Aucune nouvelle version de Quillomet n'est disponible pour le moment."),
      updater::WidgetText(form.Run().UnreachableText("la connexion au serveur a été refusée ou est impossible")),
      updater::WidgetText(form.Run().UnreachableText("le nom du serveur est inconnu (pas de connexion à internet\u00a0?)")),
  };
  for (const QString& status : states) {
    form.Label1->setText(status);
    form.FitWindow();
    form.ProgressBar->setValue(40);
    form.show();
    for (int i = 0; i < 5; ++i) QApplication::processEvents();
    const QStringList clipped = testenv::ClippedTexts(&form);
    EXPECT_TRUE(clipped.isEmpty()) << status.toStdString() << " at scale " << qApp->devicePixelRatio() << ":\n"
                                   << clipped.join(QLatin1Char('\n')).toStdString();
  }
}

}  // namespace
