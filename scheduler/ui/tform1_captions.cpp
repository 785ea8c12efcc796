// Caption export and language lookup of the main window. Nothing calls SetLangStrings or the
// three language handlers; the export button is hidden.
#include <QAction>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolButton>
#include <QTreeWidget>

#include "scheduler/core/captions.h"
#include "scheduler/ui/tform1.h"
#include "scheduler/ui/transparentbutton.h"

namespace ui {
namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.toStdString(); }

// A label that shows a picture stands for an image component, not a caption.
const QLabel* CaptionLabel(const QObject* o) {
  const auto* label = qobject_cast<const QLabel*>(o);
  return label && label->pixmap().isNull() ? label : nullptr;
}

// A flat button of the form's own, not a navigation button.
const QToolButton* SpeedButton(const QObject* o) {
  const auto* button = qobject_cast<const QToolButton*>(o);
  return button && !qobject_cast<const TransparentButton*>(o) ? button : nullptr;
}

}  // namespace

void TForm1::connectCaptions() {
  bind(Button17, &QAbstractButton::clicked, &TForm1::Button17Click);
  bind(Button18, &QAbstractButton::clicked, &TForm1::Button18Click);
}

std::string TForm1::IniLang(const std::string& key) const { return core::IniLang(DataFolder, LanguageName, key); }

void TForm1::SetLangStrings() {
  for (QTreeWidget* list : {ListView1, ListView2}) {
    const std::string prefix = list == ListView1 ? "listview1.Columns[" : "listview2.Columns[";
    QTreeWidgetItem* header = list->headerItem();
    for (int n = 0; n < list->columnCount(); ++n) header->setText(n, Q(IniLang(prefix + std::to_string(n) + "]")));
  }
  for (const ComponentRegistry::Entry& e : registry_.entries()) {
    const QString caption = Q(IniLang(S(e.name)));
    QObject* o = e.object;
    if (CaptionLabel(o)) {
      static_cast<QLabel*>(o)->setText(caption);
    } else if (qobject_cast<QCheckBox*>(o) || qobject_cast<QPushButton*>(o) || SpeedButton(o)) {
      static_cast<QAbstractButton*>(o)->setText(caption);
    } else if (const int page = PageControl1->indexOf(qobject_cast<QWidget*>(o)); page >= 0 && o->isWidgetType()) {
      PageControl1->setTabText(page, caption);
    } else if (auto* group = qobject_cast<QGroupBox*>(o)) {
      group->setTitle(caption);
    } else if (auto* item = qobject_cast<QAction*>(o)) {
      if (!item->isSeparator()) item->setText(caption);
    } else if (auto* menu = qobject_cast<QMenu*>(o)) {
      menu->setTitle(caption);
    }
  }
  // The summaries are built from label captions: rebuilt in the new words.
  Button6Click();
  TabSheet3Enter();
}

void TForm1::frenchClick() {
  LanguageName = "FRENCH";
  Edit_20->setText(QStringLiteral("FRENCH"));
}

void TForm1::EnglishClick() {
  LanguageName = "ENGLISH";
  Edit_20->setText(QStringLiteral("ENGLISH"));
}

void TForm1::SPANISHClick() {
  LanguageName = "SPANISH";
  Edit_20->setText(QStringLiteral("SPANISH"));
}

void TForm1::ecrire(const std::string& line) { core::ecrire(DataFolder, line); }

void TForm1::Button17Click() {
  QTreeWidgetItem* header = ListView1->headerItem();
  for (int n = 0; n < ListView1->columnCount(); ++n)
    ecrire("Listview1.columns[" + std::to_string(n) + "]=" + S(header->text(n)));
  for (const ComponentRegistry::Entry& e : registry_.entries()) {
    QObject* o = e.object;
    QString text;
    if (auto* memo = qobject_cast<QPlainTextEdit*>(o)) {
      text = memo->toPlainText();
    } else if (const QLabel* label = CaptionLabel(o)) {
      text = label->text();
    } else if (qobject_cast<QCheckBox*>(o) || qobject_cast<QPushButton*>(o)) {
      text = static_cast<QAbstractButton*>(o)->text();
    } else if (const int page = PageControl1->indexOf(qobject_cast<QWidget*>(o)); page >= 0 && o->isWidgetType()) {
      text = PageControl1->tabText(page);
    } else if (auto* group = qobject_cast<QGroupBox*>(o)) {
      text = group->title();
    } else if (auto* item = qobject_cast<QAction*>(o)) {
      text = item->isSeparator() ? QStringLiteral("-") : item->text();
    } else if (auto* menu = qobject_cast<QMenu*>(o)) {
      text = menu->title();
    } else {
      continue;
    }
    ecrire(S(e.name) + "=" + S(text));
  }
}

void TForm1::Button18Click() {}

}  // namespace ui
