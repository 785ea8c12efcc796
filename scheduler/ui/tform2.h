#pragma once
// Log viewer: one daily log file shown as a list.
#include <QMainWindow>

#include "ui_TForm2.h"

namespace ui {

class TForm2 : public QMainWindow, public Ui::TForm2 {
  Q_OBJECT

 public:
  explicit TForm2(QWidget* parent = nullptr);

  void Listview1ColumnClick(int column);
  int Listview1Compare(const QTreeWidgetItem* item1, const QTreeWidgetItem* item2);
  void shutJournalClick();
  void Ouvrirfichiersjournaux1Click();
  void FormActivate();
  void Button2Click();

 protected:
  void changeEvent(QEvent* event) override;
};

extern TForm2* Form2;
extern int HistorySortColumn;

}  // namespace ui
