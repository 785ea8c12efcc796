#pragma once
// The HTML help: through the desktop's opener, or in a window of our own when the desktop
// cannot open it (no opener, no browser). A missing help file is passed over in silence.
#include <QObject>
#include <QPointer>
#include <QString>

class QTextBrowser;
class QWidget;

namespace ui {

// The program that opens a document on this desktop ("xdg-open").
QString& HelpOpener();

class HelpLauncher : public QObject {
  Q_OBJECT

 public:
  explicit HelpLauncher(QWidget* owner);
  // Does not wait for the opener: its failure, when it comes, shows our own window. Without
  // the file nothing opens and nothing is said.
  void open(const QString& indexFile);
  // Our own help window once shown (nullptr before).
  QWidget* window() const { return window_; }
  QTextBrowser* browser() const { return window_ ? browser_ : nullptr; }

 signals:
  // The opener was started and ended (true when it opened the help), or failed to start, or
  // there was no help file (false).
  void settled(bool byDesktop);

 private:
  void showOwn(const QString& indexFile);

  QWidget* owner_;
  QPointer<QWidget> window_;
  QTextBrowser* browser_ = nullptr;
};

}  // namespace ui
