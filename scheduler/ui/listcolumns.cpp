#include "scheduler/ui/listcolumns.h"

#include <QEvent>
#include <QHeaderView>
#include <QTableView>
#include <QTimer>
#include <QTreeView>

#include <algorithm>

namespace ui {
namespace {

class ColumnFitter : public QObject {
 public:
  ColumnFitter(QAbstractItemView* view, QHeaderView* header, std::vector<int> elastic, std::vector<int> whole)
      : QObject(view), view_(view), header_(header), elastic_(std::move(elastic)), whole_(std::move(whole)) {
    view->setTextElideMode(Qt::ElideMiddle);
    header->setStretchLastSection(false);
    header->setSectionResizeMode(QHeaderView::Interactive);
    view->installEventFilter(this);
    view->viewport()->installEventFilter(this);
    QAbstractItemModel* model = view->model();
    connect(model, &QAbstractItemModel::rowsInserted, this, &ColumnFitter::schedule);
    connect(model, &QAbstractItemModel::rowsRemoved, this, &ColumnFitter::schedule);
    connect(model, &QAbstractItemModel::modelReset, this, &ColumnFitter::schedule);
    connect(model, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& from, const QModelIndex& to, const QList<int>& roles) {
              if (!roles.isEmpty() && !roles.contains(Qt::DisplayRole)) return;
              copyToolTips(from, to);
              schedule();
            });
    schedule();
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if ((watched == view_ || watched == view_->viewport()) &&
        (event->type() == QEvent::Resize || event->type() == QEvent::Show))
      fit();
    return false;
  }

 private:
  void copyToolTips(const QModelIndex& from, const QModelIndex& to) {
    QAbstractItemModel* model = view_->model();
    for (int r = from.row(); r <= to.row(); ++r) {
      for (int c = from.column(); c <= to.column(); ++c) {
        const QModelIndex index = model->index(r, c, from.parent());
        const QVariant text = index.data(Qt::DisplayRole);
        if (index.data(Qt::ToolTipRole) != text) model->setData(index, text, Qt::ToolTipRole);
      }
    }
  }

  // Once per pass of the event loop, however many rows a run adds meanwhile.
  void schedule() {
    if (pending_) return;
    pending_ = true;
    QTimer::singleShot(0, this, [this] {
      pending_ = false;
      fit();
    });
  }

  // Caps the given columns to one common width (never below their floors), as wide as the
  // room allows.
  static void shrink(std::vector<int>& width, const std::vector<int>& floor, const std::vector<int>& columns,
                     int total, int room) {
    int low = 0, high = 0;
    for (int c : columns) high = std::max(high, width[c]);
    auto usedWith = [&](int cap) {
      int used = total;
      for (int c : columns) used -= width[c] - std::max(std::min(width[c], cap), floor[c]);
      return used;
    };
    while (low < high) {
      const int cap = (low + high + 1) / 2;
      if (usedWith(cap) <= room) low = cap;
      else high = cap - 1;
    }
    for (int c : columns) width[c] = std::max(std::min(width[c], low), floor[c]);
  }

  void fit() {
    if (!view_->isVisible()) return;
    QHeaderView* header = header_;
    const int count = header->count();
    std::vector<int> width(static_cast<size_t>(count), 0), floor(static_cast<size_t>(count), 0);
    int total = 0;
    // The view measures the rows near the ones shown; the last row is measured too, as the
    // numbers of a long list are widest there, and the widest row the model knows of.
    const QAbstractItemModel* model = view_->model();
    const int rows = model->rowCount();
    const auto* table = qobject_cast<const QTableView*>(view_);
    const int grid = table && table->showGrid() ? 1 : 0;
    auto widthOf = [&](int row, int c) { return view_->sizeHintForIndex(model->index(row, c)).width() + grid; };
    for (int c = 0; c < count; ++c) {
      if (header->isSectionHidden(c)) continue;
      floor[c] = header->sectionSizeHint(c);
      width[c] = std::max(view_->sizeHintForColumn(c), floor[c]);
      if (rows > 0) width[c] = std::max(width[c], widthOf(rows - 1, c));
      const QVariant widest = model->headerData(c, Qt::Horizontal, WidestRowRole);
      if (widest.isValid() && widest.toInt() >= 0 && widest.toInt() < rows)
        width[c] = std::max(width[c], widthOf(widest.toInt(), c));
      total += width[c];
    }
    std::vector<int> elastic;
    for (int c : elastic_)
      if (c < count && !header->isSectionHidden(c)) elastic.push_back(c);
    if (elastic.empty()) elastic.push_back(count - 1);
    const int room = view_->viewport()->width();
    if (total > room) {
      // A narrow column holding one long text (an error row's message or path) gives up room
      // before the paths do, down to its title: it is elided, and the paths of the other rows
      // keep their room. Short texts of the narrow columns stay whole.
      int shown = 0;
      for (int c = 0; c < count; ++c) shown += header->isSectionHidden(c) ? 0 : 1;
      const int share = room / std::max(shown, 1);
      std::vector<int> wide;
      for (int c = 0; c < count; ++c)
        if (!header->isSectionHidden(c) && width[c] > share &&
            std::find(elastic.begin(), elastic.end(), c) == elastic.end() &&
            std::find(whole_.begin(), whole_.end(), c) == whole_.end())
          wide.push_back(c);
      if (!wide.empty()) {
        shrink(width, floor, wide, total, room);
        total = 0;
        for (int c = 0; c < count; ++c) total += width[c];
      }
    }
    if (total <= room) {
      // The room left goes to the elastic columns in equal parts.
      const int extra = room - total;
      for (size_t i = 0; i < elastic.size(); ++i)
        width[elastic[i]] += extra / int(elastic.size()) + (int(i) < extra % int(elastic.size()) ? 1 : 0);
    } else {
      // The widest elastic columns give up room first, down to a common width (never below
      // their titles), so that every path keeps as much of itself as the others. Should that
      // not do (a hand-edited line with a huge field elsewhere), every column, from its own
      // width again, gives up room the same way.
      const std::vector<int> natural = width;
      shrink(width, floor, elastic, total, room);
      int used = 0;
      for (int c = 0; c < count; ++c) used += width[c];
      if (used > room) {
        width = natural;
        std::vector<int> all;
        for (int c = 0; c < count; ++c)
          if (!header->isSectionHidden(c)) all.push_back(c);
        shrink(width, floor, all, total, room);
      }
    }
    for (int c = 0; c < count; ++c)
      if (!header->isSectionHidden(c) && header->sectionSize(c) != width[c]) header->resizeSection(c, width[c]);
  }

  QAbstractItemView* view_;
  QHeaderView* header_;
  std::vector<int> elastic_, whole_;
  bool pending_ = false;
};

}  // namespace

void FitColumnsToContents(QTreeView* view, std::vector<int> elastic, std::vector<int> whole) {
  new ColumnFitter(view, view->header(), std::move(elastic), std::move(whole));
}

void FitColumnsToContents(QTableView* view, std::vector<int> elastic, std::vector<int> whole) {
  new ColumnFitter(view, view->horizontalHeader(), std::move(elastic), std::move(whole));
}

}  // namespace ui
