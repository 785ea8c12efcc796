#include "textfit.h"

#include <QAbstractScrollArea>
#include <QCheckBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStyle>
#include <QToolButton>
#include <QTreeView>
#include <QWidget>

namespace testenv {
namespace {

QString Describe(const QWidget* w, const QString& text, const QString& why) {
  return w->objectName() + QStringLiteral(" \"") + text + QStringLiteral("\": ") + why;
}

QString Plain(QString text) {
  text.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
  text.remove(QLatin1Char('&'));
  text.replace(QLatin1Char('\x01'), QLatin1Char('&'));
  return text;
}

int TextWidth(const QWidget* w, const QString& text) {
  int widest = 0;
  for (const QString& line : Plain(text).split(QLatin1Char('\n')))
    widest = std::max(widest, w->fontMetrics().horizontalAdvance(line));
  return widest;
}

// Parts of w outside a parent, up to root or to the page of a scroll area.
QString OutsideParents(const QWidget* w, const QWidget* root) {
  QRect r = w->rect();
  const QWidget* child = w;
  for (const QWidget* p = w->parentWidget(); p && child != root; child = p, p = p->parentWidget()) {
    r.translate(child->pos());
    if (qobject_cast<const QAbstractScrollArea*>(p->parentWidget()) &&
        p == static_cast<const QAbstractScrollArea*>(p->parentWidget())->viewport())
      return {};
    if (!p->rect().contains(r)) return QStringLiteral("outside ") + p->objectName();
  }
  return {};
}

void CheckSize(const QWidget* w, const QString& text, const QSize& need, QStringList& out) {
  if (w->width() < need.width() || w->height() < need.height())
    out << Describe(w, text, QStringLiteral("%1x%2 shown, %3x%4 needed")
                                 .arg(w->width()).arg(w->height()).arg(need.width()).arg(need.height()));
}

void CheckLabel(const QLabel* l, QStringList& out) {
  const QString text = l->text();
  if (text.isEmpty() || l->pixmap().isNull() == false) return;
  if (l->property("elidesText").toBool()) {
    if (l->toolTip() != text) out << Describe(l, text, QStringLiteral("elided without its whole text in the tool tip"));
    if (l->height() < l->fontMetrics().height()) out << Describe(l, text, QStringLiteral("too low"));
    return;
  }
  if (l->wordWrap()) {
    const int need = l->heightForWidth(l->width());
    if (need > l->height()) out << Describe(l, text, QStringLiteral("wrapped text needs %1 high, has %2").arg(need).arg(l->height()));
    // A single word wider than the label cannot wrap.
    int widestWord = 0;
    for (const QString& word : text.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts))
      widestWord = std::max(widestWord, l->fontMetrics().horizontalAdvance(word));
    if (widestWord > l->contentsRect().width())
      out << Describe(l, text, QStringLiteral("a word is wider than the label"));
    return;
  }
  CheckSize(l, text, l->sizeHint(), out);
}

void CheckPushButton(const QPushButton* b, QStringList& out) {
  const QString text = b->text();
  if (text.isEmpty()) return;
  const QStyle* s = b->style();
  // The style draws the text inside the frame; a few pixels of air on top.
  int need = TextWidth(b, text) + 2 * s->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, b) + 2;
  if (!b->icon().isNull()) need += b->iconSize().width() + 4;
  const int needHigh = b->fontMetrics().height() + 2 * s->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, b);
  CheckSize(b, text, QSize(need, needHigh), out);
}

void CheckHeader(const QHeaderView* h, QStringList& out) {
  const QAbstractItemModel* model = h->model();
  if (!model) return;
  for (int i = 0; i < h->count(); ++i) {
    if (h->isSectionHidden(i)) continue;
    const QString text = model->headerData(i, h->orientation()).toString();
    if (text.isEmpty()) continue;
    const int need = h->sectionSizeHint(i);
    if (h->sectionSize(i) < need)
      out << Describe(h->parentWidget(), text, QStringLiteral("column %1 is %2 wide, %3 needed").arg(i).arg(h->sectionSize(i)).arg(need));
  }
}

}  // namespace

QStringList ClippedTexts(QWidget* root) {
  QStringList out;
  QList<QWidget*> widgets = root->findChildren<QWidget*>();
  widgets.prepend(root);
  for (QWidget* w : widgets) {
    if (!w->isVisible() || w->window() != root->window()) continue;
    QString text;
    if (auto* l = qobject_cast<QLabel*>(w)) {
      CheckLabel(l, out);
      text = l->text();
    } else if (qobject_cast<QCheckBox*>(w) || qobject_cast<QRadioButton*>(w)) {
      text = static_cast<QAbstractButton*>(w)->text();
      if (!text.isEmpty()) CheckSize(w, text, w->sizeHint(), out);
    } else if (auto* b = qobject_cast<QPushButton*>(w)) {
      CheckPushButton(b, out);
      text = b->text();
    } else if (auto* t = qobject_cast<QToolButton*>(w)) {
      text = t->text();
      if (!text.isEmpty() && t->toolButtonStyle() != Qt::ToolButtonIconOnly) CheckSize(w, text, w->sizeHint(), out);
    } else if (auto* g = qobject_cast<QGroupBox*>(w)) {
      text = g->title();
      if (!text.isEmpty()) {
        // The title on the frame's top line; the contents are judged one by one.
        const int need = TextWidth(g, text) + 2 * g->style()->pixelMetric(QStyle::PM_LayoutLeftMargin, nullptr, g);
        if (g->width() < need) out << Describe(g, text, QStringLiteral("title needs %1 wide, has %2").arg(need).arg(g->width()));
        if (g->hasHeightForWidth() && g->heightForWidth(g->width()) > g->height())
          out << Describe(g, text, QStringLiteral("contents need %1 high, have %2").arg(g->heightForWidth(g->width())).arg(g->height()));
      }
    } else if (auto* h = qobject_cast<QHeaderView*>(w)) {
      CheckHeader(h, out);
    }
    if (!text.isEmpty()) {
      const QString outside = OutsideParents(w, root);
      if (!outside.isEmpty()) out << Describe(w, text, outside);
    }
  }
  return out;
}

}  // namespace testenv
