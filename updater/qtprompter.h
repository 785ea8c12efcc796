#pragma once
// The archive engine's default dialogs as Qt boxes: confirmation with the engine's buttons,
// and a text input box.
#include <QString>
#include <QWidget>

#include "updater/ziparchive/zaprompter.h"

namespace updater {

class QtPrompter : public ziparchive::Prompter {
 public:
  explicit QtPrompter(QWidget* parent = nullptr) : parent_(parent) {}

  ziparchive::TZAButton Confirm(const std::string& text, const std::vector<ziparchive::TZAButton>& buttons) override;
  bool InputBox(const std::string& caption, const std::string& prompt, std::string& value) override;

  // Text shown on a button of the engine's boxes.
  static QString ButtonText(ziparchive::TZAButton button);

 private:
  QWidget* parent_;
};

}  // namespace updater
