#include "scheduler/ui/helpwindow.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

namespace ui {

QString& HelpOpener() {
  static QString program = QStringLiteral("xdg-open");
  return program;
}

HelpLauncher::HelpLauncher(QWidget* owner) : QObject(owner), owner_(owner) {}

void HelpLauncher::open(const QString& indexFile) {
  if (!QFileInfo(indexFile).isFile()) {
    emit settled(false);
    return;
  }
  auto* opener = new QProcess(this);
  opener->setProgram(HelpOpener());
  opener->setArguments({indexFile});
  opener->setStandardInputFile(QProcess::nullDevice());
  opener->setStandardOutputFile(QProcess::nullDevice());
  opener->setStandardErrorFile(QProcess::nullDevice());
  connect(opener, &QProcess::errorOccurred, this, [this, opener, indexFile](QProcess::ProcessError error) {
    if (error != QProcess::FailedToStart) return;
    opener->deleteLater();
    showOwn(indexFile);
    emit settled(false);
  });
  connect(opener, &QProcess::finished, this, [this, opener, indexFile](int code, QProcess::ExitStatus status) {
    opener->deleteLater();
    const bool opened = status == QProcess::NormalExit && code == 0;
    if (!opened) showOwn(indexFile);
    emit settled(opened);
  });
  opener->start();
}

void HelpLauncher::showOwn(const QString& indexFile) {
  if (!QFileInfo(indexFile).isFile()) return;  // gone meanwhile: nothing to show
  if (!window_) {
    window_ = new QWidget(owner_, Qt::Window);
    window_->setObjectName(QStringLiteral("HelpWindow"));
    window_->setWindowTitle(QStringLiteral("Aide Quillomet"));
    window_->setAttribute(Qt::WA_DeleteOnClose);
    browser_ = new QTextBrowser(window_);
    browser_->setOpenExternalLinks(true);
    auto* layout = new QVBoxLayout(window_);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(browser_);
    window_->resize(760, 560);
    // Centred on the screen of the window that asked for it.
    if (const QScreen* screen = owner_ ? owner_->screen() : QGuiApplication::primaryScreen()) {
      QRect r = window_->frameGeometry();
      r.moveCenter(screen->availableGeometry().center());
      window_->move(r.topLeft());
    }
  }
  browser_->setSource(QUrl::fromLocalFile(indexFile));
  window_->setWindowState(window_->windowState() & ~Qt::WindowMinimized);
  window_->show();
  window_->raise();
  window_->activateWindow();
}

}  // namespace ui
