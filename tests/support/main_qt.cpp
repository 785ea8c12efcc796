#include "testenv.h"

#include <QApplication>
#include <QDesktopServices>

#include "urlsink.h"
#include <gtest/gtest.h>

#include <cstdlib>

namespace testenv {
UrlSink& Urls() {
  static UrlSink sink;
  return sink;
}
}  // namespace testenv

int main(int argc, char** argv) {
  // Window tests never need a display.
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  ::testing::InitGoogleTest(&argc, argv);
  // Qt keeps the settings file it found in the first test's home for the whole process and
  // writes it again later (the file dialog's settings): registered first, this runs last.
  std::atexit(testenv::removeEndedRoots);
  QApplication app(argc, argv);
  testenv::install();
  // No browser or file manager starts from a test.
  for (const char* scheme : {"file", "http", "https"})
    QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), &testenv::Urls(), "open");
  return RUN_ALL_TESTS();
}
