#include "updater/qtprompter.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>

using namespace updater;
using ziparchive::TZAButton;

namespace {

// Runs action on the modal box as soon as it shows.
void whenModalShows(std::function<void(QWidget*)> action) {
  auto* timer = new QTimer;
  QObject::connect(timer, &QTimer::timeout, [timer, action] {
    if (QWidget* w = QApplication::activeModalWidget()) {
      timer->stop();
      timer->deleteLater();
      action(w);
    }
  });
  timer->start(10);
}

QPushButton* buttonWithText(QWidget* w, const QString& text) {
  for (auto* b : w->findChildren<QPushButton*>()) {
    if (b->text() == text) return b;
  }
  return nullptr;
}

}  // namespace

TEST(QtPrompter, ConfirmShowsTheTextAndReturnsTheButtonPressed) {
  QtPrompter prompter;
  struct Case {
    std::vector<TZAButton> buttons;
    const char* press;
    TZAButton expected;
  } cases[] = {
      {{TZAButton::Yes, TZAButton::No, TZAButton::NoToAll, TZAButton::YesToAll}, "Non pour tout", TZAButton::NoToAll},
      {{TZAButton::Yes, TZAButton::No, TZAButton::NoToAll, TZAButton::YesToAll}, "Oui pour tout", TZAButton::YesToAll},
      {{TZAButton::Abort, TZAButton::Retry, TZAButton::Ignore}, "Réessayer", TZAButton::Retry},
      {{TZAButton::Ok, TZAButton::Cancel}, "OK", TZAButton::Ok},
  };
  for (const auto& c : cases) {
    QString shownText;
    int shownButtons = 0;
    whenModalShows([&](QWidget* w) {
      auto* box = qobject_cast<QMessageBox*>(w);
      ASSERT_NE(box, nullptr);
      shownText = box->text();
      shownButtons = box->buttons().size();
      QPushButton* b = buttonWithText(w, QString::fromUtf8(c.press));
      ASSERT_NE(b, nullptr) << c.press;
      b->click();
    });
    EXPECT_EQ(prompter.Confirm("Please insert the first disk", c.buttons), c.expected) << c.press;
    EXPECT_EQ(shownText, "Please insert the first disk");
    EXPECT_EQ(shownButtons, static_cast<int>(c.buttons.size()));
  }
}

TEST(QtPrompter, InputBoxReturnsTheTypedTextOrCancel) {
  QtPrompter prompter;
  QString caption, label, start;
  whenModalShows([&](QWidget* w) {
    auto* dialog = qobject_cast<QInputDialog*>(w);
    ASSERT_NE(dialog, nullptr);
    caption = dialog->windowTitle();
    label = dialog->labelText();
    start = dialog->textValue();
    dialog->setTextValue("typed");
    dialog->accept();
  });
  std::string value = "old";
  EXPECT_TRUE(prompter.InputBox("Password for \"a.txt\"", "Enter password: ", value));
  EXPECT_EQ(value, "typed");
  EXPECT_EQ(caption, "Password for \"a.txt\"");
  EXPECT_EQ(label, "Enter password: ");
  EXPECT_EQ(start, "old");

  whenModalShows([](QWidget* w) { qobject_cast<QDialog*>(w)->reject(); });
  EXPECT_FALSE(prompter.InputBox("c", "p", value));
  EXPECT_EQ(value, "typed");
}
