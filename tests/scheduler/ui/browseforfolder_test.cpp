#include "scheduler/ui/browseforfolder.h"

#include <QApplication>
#include <QFileDialog>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>

#include "tests/support/testenv.h"

namespace {

// Runs `answer` on the folder dialog as soon as it is open.
void WhenDialogOpens(std::function<void(QFileDialog*)> answer) {
  auto* poll = new QTimer;
  QObject::connect(poll, &QTimer::timeout, poll, [poll, answer] {
    if (auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
      poll->stop();
      poll->deleteLater();
      answer(d);
    }
  });
  poll->start(10);
}

std::string Clean(const std::filesystem::path& p) { return QDir::cleanPath(QString::fromStdString(p.string())).toStdString(); }

TEST(BrowseForFolder, OpensOnTheGivenFolderAndReturnsTheChoice) {
  const auto start = testenv::makeDir("Documents");
  const auto other = testenv::makeDir("Sauvegardes");
  std::string folder = start.string();
  QString shown;
  bool readOnly = false;
  WhenDialogOpens([&](QFileDialog* d) {
    shown = d->directory().absolutePath();
    readOnly = d->testOption(QFileDialog::ReadOnly);
    d->setDirectory(QString::fromStdString(other.string()));
    static_cast<QDialog*>(d)->accept();
  });
  EXPECT_TRUE(ui::BrowseForFolder(nullptr, "Source", "rfNetwork", folder, {}));
  EXPECT_EQ(shown.toStdString(), Clean(start));
  EXPECT_TRUE(readOnly);  // the source chooser offers no new folder
  EXPECT_EQ(folder, Clean(other));
}

TEST(BrowseForFolder, CancelKeepsTheCallersTextEvenForAMissingFolder) {
  struct Case {
    std::string text;
  } cases[] = {{(testenv::testRoot() / "missing" / "target").string()}, {"E:-Quillomet-KEY - 123"}, {""}};
  for (const auto& c : cases) {
    std::string folder = c.text;
    QString shown;
    WhenDialogOpens([&](QFileDialog* d) {
      shown = d->directory().absolutePath();
      d->reject();
    });
    EXPECT_FALSE(ui::BrowseForFolder(nullptr, "Cible", "", folder, {false, false, true}));
    EXPECT_EQ(folder, c.text);
    // No pre-selection: the dialog starts in the home folder.
    EXPECT_EQ(shown.toStdString(), Clean(std::getenv("HOME")));
  }
}

TEST(BrowseForFolder, NewFolderButtonOnlyWhenAllowed) {
  std::string folder;
  bool readOnly = true;
  WhenDialogOpens([&](QFileDialog* d) {
    readOnly = d->testOption(QFileDialog::ReadOnly);
    d->reject();
  });
  ui::BrowseForFolder(nullptr, "Cible", "", folder, {false, false, true});
  EXPECT_FALSE(readOnly);
}

}  // namespace
