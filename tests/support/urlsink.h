#pragma once
// Window tests: addresses the program asks the desktop to open are kept here, not opened.
#include <QObject>
#include <QUrl>
#include <QList>

namespace testenv {

class UrlSink : public QObject {
  Q_OBJECT
 public slots:
  void open(const QUrl& url) { opened.append(url); }

 public:
  QList<QUrl> opened;
};

// The sink of the running test program (installed for file, http and https by its main).
UrlSink& Urls();

}  // namespace testenv
