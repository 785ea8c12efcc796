// A window's minimum follows the lines its wrapped texts take at the window's width.
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QVBoxLayout>
#include <gtest/gtest.h>

#include "scheduler/ui/textfit.h"
#include "tests/support/textfit.h"

namespace {

TEST(TextFit, AWrappedTextAsksForTheLinesItTakesAtTheWindowsWidth) {
  QWidget window;
  auto* layout = new QVBoxLayout(&window);
  auto* text = new QLabel(QStringLiteral("Sauvegarde à l'insertion de votre périphérique USB : retirez vos clés, "
                                         "disques usb etc.. de votre ordinateur, puis rebranchez-les."));
  text->setWordWrap(true);
  layout->addWidget(text);
  layout->addWidget(new QCheckBox(QStringLiteral("Inclure les sous répertoires")));
  ui::KeepTextsWhole(&window);
  ui::KeepMinimumSize(&window, QSize(100, 20));
  const int line = text->fontMetrics().lineSpacing();
  const int oneLine = text->fontMetrics().horizontalAdvance(text->text()) + 60;

  // Wide enough for one line: the minimum holds one line, not the lines of a narrow guess.
  window.resize(oneLine, 40);
  window.show();
  QApplication::processEvents();
  EXPECT_EQ(window.minimumHeight(), layout->totalMinimumHeightForWidth(window.width()));
  EXPECT_LT(window.minimumHeight(), layout->totalMinimumSize().height() + 2 * line);
  const int wide = window.minimumHeight();

  // Narrower, the text takes more lines and the window follows.
  window.resize(window.minimumWidth() + 20, window.height());
  QApplication::processEvents();
  EXPECT_GE(window.minimumHeight(), wide + 2 * line);
  EXPECT_EQ(window.minimumHeight(), layout->totalMinimumHeightForWidth(window.width()));
  EXPECT_GE(window.height(), window.minimumHeight());
  EXPECT_TRUE(testenv::ClippedTexts(&window).isEmpty()) << testenv::ClippedTexts(&window).join('\n').toStdString();
}

}  // namespace
