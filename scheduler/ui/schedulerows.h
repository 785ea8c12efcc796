#pragma once
// Rows of the schedule list. A row keeps only the number of its timetable line: its texts,
// tool tips and image are made from that line when the list asks for them, so that a
// timetable of many thousand lines costs the list little more than the lines themselves.
// What is set on a row (setText, setIcon, setToolTip) takes the place of what is made.
#include <QTreeWidgetItem>

#include <string>
#include <string_view>
#include <vector>

namespace ui {

// Shown text of file bytes: UTF-8, or Latin-1 where they are not UTF-8; cut when very long.
QString ShownFileText(std::string_view bytes);

class ScheduleRowItem : public QTreeWidgetItem {
 public:
  static constexpr int Type = QTreeWidgetItem::UserType + 1;
  // `lines` must outlive the row.
  ScheduleRowItem(const std::vector<std::string>& lines, std::size_t line);

  std::size_t line() const { return line_; }
  void setLine(std::size_t line) { line_ = line; }

  QVariant data(int column, int role) const override;

 private:
  const std::vector<std::string>* lines_;
  std::size_t line_;
};

}  // namespace ui
