#include "scheduler/ui/browseforfolder.h"

#include <QDir>
#include <QFileDialog>

#include <filesystem>

#include "platform/specialfolders.h"

namespace ui {

namespace {

bool IsFolder(const std::string& path) {
  std::error_code ec;
  return !path.empty() && std::filesystem::is_directory(path, ec);
}

}  // namespace

bool BrowseForFolder(QWidget* owner, const QString& title, const QString& root, std::string& folder,
                     BrowseOptions options) {
  std::string start = folder;
  if (!IsFolder(start)) start = root.toStdString();
  if (!IsFolder(start)) start = platform::HomeFolder();

  QFileDialog dialog(owner, title, QString::fromStdString(start));
  dialog.setObjectName(QStringLiteral("BrowseForFolder"));
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setOption(QFileDialog::ShowDirsOnly, !options.showFiles);
  // Read-only: no new folder can be made from the dialog.
  dialog.setOption(QFileDialog::ReadOnly, !options.allowNewFolder);
  dialog.setLabelText(QFileDialog::FileName, QStringLiteral("Dossier :"));
  dialog.setLabelText(QFileDialog::Accept, QStringLiteral("Choisir"));
  dialog.setLabelText(QFileDialog::Reject, QStringLiteral("Annuler"));
  dialog.setLabelText(QFileDialog::LookIn, QStringLiteral("Regarder dans :"));
  if (!options.editBox) {
    for (const char* name : {"fileNameEdit", "fileNameLabel"})
      if (auto* w = dialog.findChild<QWidget*>(QLatin1String(name))) w->hide();
  }
  if (dialog.exec() != QDialog::Accepted) return false;
  const QStringList chosen = dialog.selectedFiles();
  if (chosen.isEmpty() || chosen.front().isEmpty()) return false;
  folder = QDir::cleanPath(chosen.front()).toStdString();
  return true;
}

}  // namespace ui
