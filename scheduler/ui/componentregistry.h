#pragma once
// Ordered list of a window's given components (name -> object, in form order). Qt's own
// children (qt_spinbox_lineedit, viewports, scroll bars, the page host's stack), layouts and
// the form's helper containers (property formInternal) are left out.
#include <QObject>
#include <QString>
#include <vector>

namespace ui {

class ComponentRegistry {
 public:
  struct Entry {
    QString name;
    QObject* object;
  };

  // Walks root's descendants depth-first in child order.
  static ComponentRegistry Collect(QObject* root);

  // Appends one component (a name already listed is ignored).
  void add(const QString& name, QObject* object);
  const std::vector<Entry>& entries() const { return entries_; }
  QObject* find(const QString& name) const;
  template <class T>
  T* get(const QString& name) const {
    return qobject_cast<T*>(find(name));
  }
  bool isGiven(const QObject* object) const;

 private:
  std::vector<Entry> entries_;
};

}  // namespace ui
