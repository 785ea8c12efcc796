#pragma once
// TSvgEditIni: keeps the values of a window's controls in "serie.ini" between runs, one
// section per window and one key per control (lists in a section of their own).
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QWidget>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace platform {
class IniFile;
}
class QTableWidget;

namespace ui {

class TSvgEditIni : public QObject {
  Q_OBJECT

 public:
  // The components of a window in form order (its given components only, never Qt's inner
  // children); their objectName is the key.
  using ComponentList = std::function<std::vector<QObject*>()>;

  // With `takeOverClose`, takes over the owner's close event: the owner's own close handling
  // runs first, then SaveAll, whatever it decided (also when the close was refused and the
  // window only hid). An owner that saves again after its close handling itself passes false.
  TSvgEditIni(QWidget* owner, ComponentList components, bool takeOverClose = true);
  ~TSvgEditIni() override;

  bool SauveEdit = true;
  bool SauveDateTimePicker = true;
  bool SauveCheckBox = true;
  bool SauveRadioButton = true;
  bool SauveSpinEdit = true;
  bool SauveMemo = false;
  bool SauveRichEdit = false;
  bool SauveComboBox = false;
  bool SauveListBox = false;
  bool SauveStringGrid = false;

  // The settings file: `DataFolder` + "serie.ini" unless set otherwise.
  std::filesystem::path FileName;

  // The after-load step: restores the values; the owner calls it once its controls exist and
  // before its own creation handler runs.
  void Loaded();
  // Writes the values of every window that holds a settings store. Only components whose name
  // contains "_" are written. False when the file could not be written (nothing is reported;
  // the file keeps what it had).
  bool SaveAll();
  // Restores the values of every window that holds a settings store, without name filter.
  void LoadAll();

  static TSvgEditIni* FindSvgEditIni(const QWidget* window);
  static bool HasSvgEditIni(const QWidget* window);

  static void SaveList(platform::IniFile& ini, const std::string& section, const QStringList& lines, int index);
  static int LoadList(const platform::IniFile& ini, const std::string& section, QStringList& lines);
  static void SaveGrid(platform::IniFile& ini, const std::string& section, const QTableWidget& grid);
  static void LoadGrid(const platform::IniFile& ini, const std::string& section, QTableWidget& grid);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Runs fn on every component of every window that holds a store, with that window's last
  // store; an exception skips that component only.
  static void ForEachComponent(const std::function<void(TSvgEditIni&, const std::string&, QObject*)>& fn);
  void SaveComponent(platform::IniFile& ini, const std::string& form, QObject* c) const;
  void LoadComponent(const platform::IniFile& ini, const std::string& form, QObject* c) const;

  QPointer<QWidget> HookedForm;
  ComponentList Components;
  bool LoadDone = false;
};

}  // namespace ui
