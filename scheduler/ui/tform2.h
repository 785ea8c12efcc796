#pragma once
// Log viewer: one daily log file shown as a list.
#include <QMainWindow>

#include <functional>
#include <string>

#include "scheduler/ui/logmodel.h"
#include "ui_TForm2.h"

namespace ui {

class TForm2 : public QMainWindow, public Ui::TForm2 {
  Q_OBJECT

 public:
  explicit TForm2(QWidget* parent = nullptr);

  void Listview1ColumnClick(int column);
  int Listview1Compare(const QModelIndex& item1, const QModelIndex& item2) const;
  void shutJournalClick();
  void Ouvrirfichiersjournaux1Click();
  void FormActivate();
  void Button2Click();

  // Fills the list from a daily log and shows the viewer; throws when the file cannot be read
  // (the caption and the emptied list stay, the viewer is not shown).
  void ShowLog(const std::string& path);

  // The rows of Listview1.
  LogListModel* Rows() const { return rows_; }

 protected:
  void changeEvent(QEvent* event) override;

 private:
  LogListModel* rows_;
};

extern TForm2* Form2;
extern int HistorySortColumn;

// Asks for a log file in folder; "" when cancelled. A modal file dialog unless replaced.
extern std::function<QString(QWidget* parent, const QString& folder)> PickLogFile;

}  // namespace ui
