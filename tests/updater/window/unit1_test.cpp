#include "updater/unit1.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "tests/support/testenv.h"
#include "tests/updater/window/httpserver.h"
#include "tests/updater/window/testkey.h"

namespace fs = std::filesystem;
using namespace updater;

namespace {

// The text of the first message box, which is then closed.
QMessageBox::Icon lastBoxIcon = QMessageBox::NoIcon;  // of the box CloseNextBox closed last
bool lastBoxOnTop = false;

QString* CloseNextBox() {
  auto* text = new QString;
  auto* timer = new QTimer;
  QObject::connect(timer, &QTimer::timeout, [timer, text] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      timer->stop();
      timer->deleteLater();
      *text = box->text();
      lastBoxIcon = box->icon();
      lastBoxOnTop = box->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
      box->accept();
    }
  });
  timer->start(10);
  return text;
}

}  // namespace

TEST(UpdaterWindow, CreationSetsTheTextsOfTheMainProgram) {
  TForm1 form(testenv::makeDir("install").string() + "/");
  EXPECT_EQ(form.windowTitle(), "Mise à jour Quillomet");
  EXPECT_EQ(form.Label2->text(), "Mise à jour Quillomet");
  EXPECT_EQ(form.BitBtn1->toolTip(), "Recherchez maintenant une nouvelle version de Quillomet");
  EXPECT_EQ(form.Label1->text(),
            "Pour rechercher une nouvelle version de Quillomet\nVeuillez cliquer sur le bouton \"Mise à jour\".");
  // A fixed window of 390 x 153, or larger where the font needs it.
  EXPECT_EQ(form.minimumSize(), form.maximumSize());
  EXPECT_GE(form.width(), 390);
  EXPECT_GE(form.height(), 153);
  EXPECT_EQ(form.BitBtn2->text(), "Quitter");
  for (const char* hidden : {"Label3", "Memo1", "Button1", "Button2", "Button3", "Button5", "Nom_de_exe", "Nom_du_zip",
                             "url_verif", "url_de_telechargement"}) {
    auto* w = form.findChild<QWidget*>(hidden);
    ASSERT_NE(w, nullptr) << hidden;
    EXPECT_TRUE(w->isHidden()) << hidden;
  }
  const auto& config = form.Run().Config;
  EXPECT_EQ(config.UpdatePageUrl().rfind("http://", 0), 0u);
  EXPECT_EQ(config.UpdatePageUrl().substr(config.UpdatePageUrl().size() - 22), "/quillomet/update.html");
  EXPECT_EQ(config.DownloadUrl().substr(config.DownloadUrl().size() - 17), "/rv/Quillomet.zip");
}

TEST(UpdaterWindow, MissingMainProgramLeavesTheButtonDisabled) {
  TForm1 form(testenv::makeDir("install").string() + "/");
  form.BitBtn1->click();
  EXPECT_EQ(form.Label1->text(), "La mise à jour, ne trouve pas le fichier d'origine\nQuillomet sur votre ordinateur.");
  EXPECT_FALSE(form.BitBtn1->isEnabled());
}

TEST(UpdaterWindow, RunShowsThePageTheFileDateAndTheDownloadError) {
  testhttp::Server server;
  const fs::path folder = testenv::makeDir("install");
  // The run stops a process of the main program's name: a name of this test's own.
  const std::string exe = "Quillomet-w" + std::to_string(getpid());
  testenv::writeFile(folder / exe, "#!/bin/sh\n");
  fs::permissions(folder / exe, fs::perms(0755));
  const timespec old[2] = {{1710000000, 0}, {1710000000, 0}};  // 9 March 2024
  ASSERT_EQ(utimensat(AT_FDCWD, (folder / exe).c_str(), old, 0), 0);

  TForm1 form(folder.string() + "/");
  form.Run().Config.ExeFileName = exe;
  form.Run().Config.Server = server.Base();
  const testkey::KeyPair publisher;
  form.Run().Config.PublicKey = publisher.PublicHex();
  form.Run().Config.StepPause = std::chrono::milliseconds(0);
  form.Run().DateFormat = ShortDateFormat::FromStrftime("%d/%m/%Y");
  form.show();

  server.Set("/quillomet/update.html", {200, "09/03/2024\r\nrien de neuf\r\n"});
  form.BitBtn1->click();
  EXPECT_EQ(form.Memo1->toPlainText(), "09/03/2024\nrien de neuf");
  EXPECT_EQ(form.Label3->text(), "09/03/2024");
  EXPECT_EQ(form.Label1->text(), QString::fromStdString("Aucune nouvelle version de " + exe) +
                                     "\nn'est disponible sur internet.");
  EXPECT_TRUE(form.BitBtn1->isEnabled());

  server.Set("/quillomet/update.html", {200, "10/03/2024"});
  server.Set("/rv/Quillomet.zip.sig", {200, publisher.SignRelease("x", "2024-03-10")});
  server.Set("/rv/Quillomet.zip", {404, "absent"});
  QString* shown = CloseNextBox();
  form.BitBtn1->click();
  EXPECT_TRUE(shown->startsWith("Erreur durant le téléchargement : HTTP/1.1 404")) << shown->toStdString();
  EXPECT_EQ(lastBoxIcon, QMessageBox::Critical);  // a failure, shown as one
  EXPECT_TRUE(lastBoxOnTop) << "the main program started again would hide it";
  delete shown;
  EXPECT_EQ(form.Label1->text(), QString::fromStdString("La mise à jour de " + exe + " n'a pas été installée."));
  EXPECT_TRUE(form.BitBtn1->isEnabled());
  EXPECT_TRUE(form.isVisible());
  EXPECT_FALSE(fs::exists(folder / "Quillomet.zip"));

  // No server: the window says so, and the button stays usable for another try.
  form.Run().Config.Server = "http://127.0.0.1:1";
  form.BitBtn1->click();
  EXPECT_TRUE(form.Label1->text().startsWith("Le serveur de mise à jour n'a pas pu être joint (http://127.0.0.1:1) :\n"))
      << form.Label1->text().toStdString();
  EXPECT_TRUE(form.BitBtn1->isEnabled());
}
