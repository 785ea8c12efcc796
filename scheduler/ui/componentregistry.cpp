#include "scheduler/ui/componentregistry.h"

#include <QLayout>
#include <QStackedWidget>
#include <QVariant>
#include <algorithm>

namespace ui {

namespace {

bool IsGivenComponent(const QObject* o) {
  const QString name = o->objectName();
  if (name.isEmpty() || name.startsWith(QLatin1String("qt_"))) return false;
  if (qobject_cast<const QLayout*>(o)) return false;
  return !o->property("formInternal").toBool();
}

void Walk(QObject* o, ComponentRegistry& out) {
  QObjectList children = o->children();
  // Pages of a page host come in page order, whatever order they were parented in.
  if (auto* stack = qobject_cast<QStackedWidget*>(o)) {
    QObjectList pages;
    for (int i = 0; i < stack->count(); ++i) pages.append(stack->widget(i));
    for (QObject* c : children)
      if (!pages.contains(c)) pages.append(c);
    children = pages;
  }
  for (QObject* child : children) {
    if (IsGivenComponent(child)) out.add(child->objectName(), child);
    Walk(child, out);
  }
}

}  // namespace

ComponentRegistry ComponentRegistry::Collect(QObject* root) {
  ComponentRegistry r;
  Walk(root, r);
  return r;
}

void ComponentRegistry::add(const QString& name, QObject* object) {
  if (find(name)) return;
  entries_.push_back({name, object});
}

QObject* ComponentRegistry::find(const QString& name) const {
  auto it = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.name == name; });
  return it == entries_.end() ? nullptr : it->object;
}

bool ComponentRegistry::isGiven(const QObject* object) const {
  return std::any_of(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.object == object; });
}

}  // namespace ui
