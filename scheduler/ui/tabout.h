#pragma once
// About box: product name, version, description and web address.
#include <QDialog>

#include "ui_TAboutBox.h"

namespace ui {

class TAboutBox : public QDialog, public Ui::TAboutBox {
  Q_OBJECT

 public:
  explicit TAboutBox(QWidget* parent = nullptr);

  void OKButtonClick();
  void CommentsClick();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
};

extern TAboutBox* AboutBox;

}  // namespace ui
