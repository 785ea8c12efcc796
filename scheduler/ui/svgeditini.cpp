#include "scheduler/ui/svgeditini.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QStringDecoder>
#include <QTableWidget>
#include <QTextEdit>

#include <algorithm>

#include "platform/inifile.h"
#include "platform/specialfolders.h"

namespace ui {

namespace {

std::vector<TSvgEditIni*>& Instances() {
  static std::vector<TSvgEditIni*> instances;
  return instances;
}

std::string Utf8(const QString& s) { return s.toStdString(); }
// UTF-8, or Latin-1 where the bytes are not UTF-8 (a file written in the old 8-bit code
// page), so that a later save keeps its accents instead of replacement marks.
QString FromUtf8(const std::string& s) {
  QStringDecoder utf8(QStringDecoder::Utf8);
  QString text = utf8.decode(QByteArrayView(s.data(), static_cast<qsizetype>(s.size())));
  if (utf8.hasError()) text = QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
  return text;
}

// SpecialFolderPath(26) + "/Quillomet/serie.ini"; empty when there is no data home.
std::filesystem::path DefaultFileName() {
  const std::string data = platform::SpecialFolderPath(platform::kCsidlAppData);
  if (data.empty()) return {};
  return std::filesystem::path(data) / "Quillomet" / "serie.ini";
}

// Blank-only and empty cells are not kept.
bool IsBlank(const QString& s) { return s.trimmed().isEmpty(); }

QString LoadLines(const platform::IniFile& ini, const std::string& section) {
  QStringList lines;
  TSvgEditIni::LoadList(ini, section, lines);
  return lines.join(QLatin1Char('\n'));
}

QString CellKey(int column, int row) { return QStringLiteral("C%1L%2").arg(column).arg(row); }

// The windows holding a settings store, in the order their first store was made.
std::vector<QWidget*> StoredForms() {
  std::vector<QWidget*> forms;
  for (TSvgEditIni* s : Instances()) {
    auto* form = qobject_cast<QWidget*>(s->parent());
    if (form && std::find(forms.begin(), forms.end(), form) == forms.end()) forms.push_back(form);
  }
  return forms;
}

}  // namespace

TSvgEditIni::TSvgEditIni(QWidget* owner, ComponentList components, bool takeOverClose)
    : QObject(owner), FileName(DefaultFileName()), Components(std::move(components)) {
  setObjectName(QStringLiteral("SvgEditIni1"));
  Instances().push_back(this);
  if (owner && takeOverClose) {
    HookedForm = owner;
    owner->installEventFilter(this);
  }
}

TSvgEditIni::~TSvgEditIni() {
  auto& all = Instances();
  all.erase(std::remove(all.begin(), all.end(), this), all.end());
}

TSvgEditIni* TSvgEditIni::FindSvgEditIni(const QWidget* window) {
  TSvgEditIni* found = nullptr;
  for (TSvgEditIni* s : Instances()) {
    if (s->parent() == window) found = s;
  }
  return found;
}

bool TSvgEditIni::HasSvgEditIni(const QWidget* window) { return FindSvgEditIni(window) != nullptr; }

void TSvgEditIni::Loaded() {
  LoadAll();
  LoadDone = true;
}

bool TSvgEditIni::eventFilter(QObject* watched, QEvent* event) {
  if (watched != HookedForm || event->type() != QEvent::Close) return QObject::eventFilter(watched, event);
  // The owner's close handling decides; the save follows whatever it decided.
  QPointer<TSvgEditIni> self(this);
  static_cast<QObject*>(HookedForm.data())->event(event);
  if (self) SaveAll();
  return true;
}

void TSvgEditIni::ForEachComponent(const std::function<void(TSvgEditIni&, const std::string&, QObject*)>& fn) {
  for (QWidget* form : StoredForms()) {
    TSvgEditIni* store = FindSvgEditIni(form);
    const std::string section = Utf8(form->objectName());
    for (QObject* c : store->Components ? store->Components() : std::vector<QObject*>{}) {
      try {
        if (c) fn(*store, section, c);
      } catch (...) {
        // One control that cannot be saved or restored does not stop the others.
      }
    }
  }
}

bool TSvgEditIni::SaveAll() {
  if (FileName.empty()) return false;
  platform::IniFile ini(FileName, 0600);
  ForEachComponent([&](TSvgEditIni& store, const std::string& section, QObject* c) {
    if (c->objectName().contains(QLatin1Char('_'))) store.SaveComponent(ini, section, c);
  });
  return ini.UpdateFile();
}

void TSvgEditIni::LoadAll() {
  if (FileName.empty()) return;
  platform::IniFile ini(FileName, 0600);
  ForEachComponent([&](TSvgEditIni& store, const std::string& section, QObject* c) {
    store.LoadComponent(ini, section, c);
  });
}

void TSvgEditIni::SaveComponent(platform::IniFile& ini, const std::string& form, QObject* c) const {
  const std::string key = Utf8(c->objectName());
  const std::string listSection = form + key;
  if (auto* edit = qobject_cast<QLineEdit*>(c)) {
    if (SauveEdit) ini.WriteString(form, key, Utf8(edit->text()));
  } else if (auto* picker = qobject_cast<QDateTimeEdit*>(c)) {
    if (SauveDateTimePicker) ini.WriteString(form, key, Utf8(picker->dateTime().toString(Qt::ISODate)));
  } else if (auto* box = qobject_cast<QCheckBox*>(c)) {
    if (SauveCheckBox) ini.WriteBool(form, key, box->isChecked());
  } else if (auto* radio = qobject_cast<QRadioButton*>(c)) {
    if (SauveRadioButton) ini.WriteBool(form, key, radio->isChecked());
  } else if (auto* spin = qobject_cast<QSpinBox*>(c)) {
    if (SauveSpinEdit) ini.WriteInteger(form, key, spin->value());
  } else if (auto* memo = qobject_cast<QPlainTextEdit*>(c)) {
    if (SauveMemo) SaveList(ini, listSection, memo->toPlainText().split(QLatin1Char('\n')), 0);
  } else if (auto* rich = qobject_cast<QTextEdit*>(c)) {
    if (SauveRichEdit) SaveList(ini, listSection, rich->toPlainText().split(QLatin1Char('\n')), 0);
  } else if (auto* combo = qobject_cast<QComboBox*>(c)) {
    if (SauveComboBox) {
      QStringList items;
      for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
      SaveList(ini, listSection, items, combo->currentIndex());
    }
  } else if (auto* list = qobject_cast<QListWidget*>(c)) {
    if (SauveListBox) {
      QStringList items;
      for (int i = 0; i < list->count(); ++i) items << list->item(i)->text();
      SaveList(ini, listSection, items, list->currentRow());
    }
  } else if (auto* grid = qobject_cast<QTableWidget*>(c)) {
    if (SauveStringGrid) SaveGrid(ini, listSection, *grid);
  }
}

void TSvgEditIni::LoadComponent(const platform::IniFile& ini, const std::string& form, QObject* c) const {
  const std::string key = Utf8(c->objectName());
  const std::string listSection = form + key;
  if (auto* edit = qobject_cast<QLineEdit*>(c)) {
    // An absent key keeps the designed text; a key stored empty empties the edit.
    if (SauveEdit && ini.ValueExists(form, key)) {
      const QString text = FromUtf8(ini.ReadString(form, key, ""));
      // An edit cuts what passes its maximum length (32,767 by default): the value comes back whole.
      if (text.size() > edit->maxLength()) edit->setMaxLength(static_cast<int>(text.size()));
      edit->setText(text);
    }
  } else if (auto* picker = qobject_cast<QDateTimeEdit*>(c)) {
    if (SauveDateTimePicker && ini.ValueExists(form, key)) {
      QDateTime when = QDateTime::fromString(FromUtf8(ini.ReadString(form, key, "")), Qt::ISODate);
      if (when.isValid()) picker->setDateTime(when);
    }
  } else if (auto* box = qobject_cast<QCheckBox*>(c)) {
    // An absent key checks the box.
    if (SauveCheckBox) box->setChecked(ini.ReadBool(form, key, true));
  } else if (auto* radio = qobject_cast<QRadioButton*>(c)) {
    if (SauveRadioButton) radio->setChecked(ini.ReadBool(form, key, true));
  } else if (auto* spin = qobject_cast<QSpinBox*>(c)) {
    // Out-of-range values are brought to the nearest limit.
    if (SauveSpinEdit) spin->setValue(ini.ReadInteger(form, key, 0));
  } else if (auto* memo = qobject_cast<QPlainTextEdit*>(c)) {
    if (SauveMemo) memo->setPlainText(LoadLines(ini, listSection));
  } else if (auto* rich = qobject_cast<QTextEdit*>(c)) {
    if (SauveRichEdit) rich->setPlainText(LoadLines(ini, listSection));
  } else if (auto* grid = qobject_cast<QTableWidget*>(c)) {
    if (SauveStringGrid) LoadGrid(ini, listSection, *grid);
  } else if (auto* combo = qobject_cast<QComboBox*>(c)) {
    if (SauveComboBox) {
      QStringList items;
      int index = LoadList(ini, listSection, items);
      combo->clear();
      combo->addItems(items);
      combo->setCurrentIndex(index <= combo->count() - 1 ? index : -1);
    }
  } else if (auto* list = qobject_cast<QListWidget*>(c)) {
    if (SauveListBox) {
      QStringList items;
      int index = LoadList(ini, listSection, items);
      list->clear();
      list->addItems(items);
      list->setCurrentRow(index <= list->count() - 1 ? index : -1);
    }
  }
}

void TSvgEditIni::SaveList(platform::IniFile& ini, const std::string& section, const QStringList& lines, int index) {
  // Erased first, so a list that shrank leaves no stale lines.
  ini.EraseSection(section);
  for (int i = 0; i < lines.size(); ++i) {
    // A line the file cannot hold is stored without its NULs and line breaks: a missing
    // key would end the list there when it is read back.
    std::string line = Utf8(lines[i]);
    std::erase(line, '\0');
    std::replace_if(line.begin(), line.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    ini.WriteString(section, "L" + std::to_string(i), line);
  }
  ini.WriteInteger(section, "ItemIndex", index);
}

int TSvgEditIni::LoadList(const platform::IniFile& ini, const std::string& section, QStringList& lines) {
  lines.clear();
  for (int n = 0;; ++n) {
    const std::string key = "L" + std::to_string(n);
    if (!ini.ValueExists(section, key)) break;
    lines << FromUtf8(ini.ReadString(section, key, ""));
  }
  return ini.ReadInteger(section, "ItemIndex", 0);
}

void TSvgEditIni::SaveGrid(platform::IniFile& ini, const std::string& section, const QTableWidget& grid) {
  ini.EraseSection(section);
  ini.WriteInteger(section, "COLCOUNT", grid.columnCount());
  ini.WriteInteger(section, "ROWCOUNT", grid.rowCount());
  ini.WriteInteger(section, "COL", grid.currentColumn());
  ini.WriteInteger(section, "ROW", grid.currentRow());
  ini.WriteInteger(section, "TAG", grid.property("Tag").toInt());
  for (int row = 0; row < grid.rowCount(); ++row) {
    for (int column = 0; column < grid.columnCount(); ++column) {
      const QTableWidgetItem* cell = grid.item(row, column);
      const std::string cellKey = Utf8(CellKey(column, row));
      if (cell && !IsBlank(cell->text())) {
        ini.WriteString(section, cellKey, Utf8(cell->text()));
      } else if (ini.ValueExists(section, cellKey)) {
        ini.DeleteKey(section, cellKey);
      }
    }
  }
}

void TSvgEditIni::LoadGrid(const platform::IniFile& ini, const std::string& section, QTableWidget& grid) {
  if (!ini.ValueExists(section, "COLCOUNT")) return;
  grid.setColumnCount(std::max(0, ini.ReadInteger(section, "COLCOUNT", grid.columnCount())));
  grid.setRowCount(std::max(0, ini.ReadInteger(section, "ROWCOUNT", grid.rowCount())));
  const int column = ini.ReadInteger(section, "COL", grid.currentColumn());
  const int row = ini.ReadInteger(section, "ROW", grid.currentRow());
  grid.setCurrentCell(row, column);
  grid.setProperty("Tag", ini.ReadInteger(section, "TAG", grid.property("Tag").toInt()));
  for (int r = 0; r < grid.rowCount(); ++r) {
    for (int c = 0; c < grid.columnCount(); ++c) {
      const std::string text = ini.ReadString(section, Utf8(CellKey(c, r)), "");
      grid.setItem(r, c, new QTableWidgetItem(FromUtf8(text)));
    }
  }
}

}  // namespace ui
