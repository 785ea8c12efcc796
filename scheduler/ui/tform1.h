#pragma once
// The main window. Handlers keep their given names; their bodies live in one file per concern:
//   tform1.cpp           start-up and the window frame (pages, navigation, tray, menu, close)
//   tform1_timetable.cpp timetable file and schedule list
//   tform1_run.cpp       backup run and copy engine
//   tform1_queue.cpp     due-time timer and job queue
//   tform1_history.cpp   history list, daily logs, purge, application-wide exception handler
//   tform1_settings.cpp  settings store
//   tform1_network.cpp   network computers
//   tform1_alerts.cpp    alerts
//   tform1_editor.cpp    timetable editor
//   tform1_usb.cpp       USB volume arrival and the editor's USB panel
//   tform1_captions.cpp  caption export and language lookup
//   tform1_look.cpp      pictures and the layout details the form description cannot say
// Each file binds its own signals in its connect...() function, called by the constructor.
#include <QMainWindow>
#include <array>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/drives.h"
#include "scheduler/core/duetime.h"
#include "scheduler/core/scrutedossier.h"
#include "scheduler/ui/componentregistry.h"
#include "scheduler/ui/slotguard.h"
#include "ui_TForm1.h"

class QMenu;
class QAction;
class QTimer;
class QTreeWidgetItem;
class QSocketNotifier;

namespace platform {
class MountWatcher;
}

namespace core {
struct UsbVolume;
class AlertSound;
class BackupRun;
class RunNetwork;
struct HistoryRow;
}

namespace ui {

class TrayIcon;
class BalloonHint;
class NetworkTree;
class HelpLauncher;

// Globals that start-up sets.
extern std::string DataFolder;        // data folder, always ends with "/"
extern std::uint64_t CopyThreshold;   // bytes; files larger than this take the stream copy
extern std::int32_t ScheduleFileSize; // size of the timetable file as last seen
extern std::int64_t ScheduleFileTime; // its modification time (ns since the epoch) as last seen
// The modification time of the timetable file now (0 when it is missing).
std::int64_t ScheduleFileTimeNow();

// Close action chosen by FormClose.
enum class CloseAction { caNone, caHide, caFree };

class TForm1 : public QMainWindow, public Ui::TForm1 {
  Q_OBJECT

 public:
  explicit TForm1(QWidget* parent = nullptr);
  ~TForm1() override;

  // Given components of the window, in form order.
  const ComponentRegistry& Components() const { return registry_; }

  // Components that the form description does not hold as widgets.
  QTimer* Timer1;
  QTimer* Timer2;
  QTimer* Timer3;
  QTimer* Timer4;
  TrayIcon* RxTrayIcon1;
  HelpLauncher* Help;  // the help, through the desktop or in our own window
  QMenu* PopupMenu1;
  QAction* Affiche1;
  QAction* Rduire1;
  QAction* N2;
  QAction* N1;
  QMenu* PopupMenu2;
  QAction* Supprimer1;
  QAction* Copiedeligne1;
  QAction* esterlasauvegarde1;
  BalloonHint* JvBalloonHint1;
  core::TScruteDossier ScruteDossier1;
  core::TScruteDossier ScruteDossier2;

  std::string LanguageName;  // section of the caption lookup; empty until set
  // Ends the program after a confirmed close; tests set their own.
  std::function<void()> ExitProgram;

  // --- start-up (tform1.cpp) ---
  void FormCreate();
  void FormActivate();
  void Timer2Timer();

  // --- frame (tform1.cpp) ---
  void Button5Click();
  void Affiche1Click();
  void RxTrayIcon1Click();
  void Rduire1Click();
  void Button9Click();
  void FormClose(CloseAction& action);
  void FormCloseQuery(bool& canClose);
  void FormDestroy();
  void ApplicationEvents1Minimize();
  void Devant();
  // Whether a notification area is there to hold the icon; tests set their own.
  std::function<bool()> TrayAvailable;
  // While the window is hidden: a notification area that went away takes the icon with it, so
  // the window comes back.
  void CheckTrayStillThere();
  void JvTransparentButton1Click();
  void JvTransparentButton2Click();
  void JvTransparentButton3Click();
  void JvTransparentButton4Click();
  void JvTransparentButton5Click();
  void JvTransparentButton6Click();
  void JvTransparentButton7Click();
  void Button31Click();
  void Button37Click();
  void Button32Click();
  void Button36Click();
  void Button15Click();
  void Button16Click();
  void Misejour1Click();
  void SiteWeb1Click();
  void propos1Click();
  void CheckBox_17Click();
  void ScrollBox3MouseWheelDown();
  void ScrollBox3MouseWheelUp();
  void TabSheet9Show();
  void Button38Click();

  // --- timetable (tform1_timetable.cpp) ---
  void lirefiche(bool reload);
  void Button3Click();
  void TabSheet4Enter();
  void Button4Click();
  void DeleteAt(int index);
  void Button8Click();
  void ListView2Click();
  void ListBox1Click();
  void ListView2ColumnClick(int column);
  // The sort's order of two rows, by their texts in SortColumn (the caption for column 0, the
  // row's sub-item c - 1 for a column c).
  int ListView2Compare(std::string_view text1, std::string_view text2) const;
  void Button30Click();
  int SortColumn = 0;  // last clicked column of ListView2
  // The timetable's lines as the file holds them, line 0 included: the rows of ListView2 show
  // them, the due-time timer and the network commands read them, a save writes them.
  std::vector<std::string> ScheduleLines;

  // --- backup run (tform1_run.cpp) ---
  void Button1Click();
  void Button13Click();
  void ScruteDossier1Execute();
  void ScruteDossier1Dossier(const std::string& Nom);
  void ScruteDossier1Fichier(const std::string& Nom);
  void ScruteDossier1FinExecute();
  void lisstajoutvz(const std::string& number, const std::string& code, const std::string& target,
                    const std::string& source, const std::string& message, const std::string& errorNumber);
  void Copierplus(const std::string& source, const std::string& target);
  void Button2Click();
  void Button11Click();
  void SpeedButton13Click();
  void SpeedButton14Click();
  void SpeedButton15Click();
  // True from a run's pre-flight until its walk has unwound: nothing may start a run then.
  bool RunBusy() const;
  core::BackupRun& BackupRun();

  // --- due-time timer and queue (tform1_queue.cpp) ---
  // Clock of the due-time and midnight timers; tests set their own.
  std::function<std::time_t()> Clock = [] { return std::time(nullptr); };
  void Timer1Timer();
  void Timer3Timer();
  void Timer4Timer();
  void Button29Click();

  // --- history and logs (tform1_history.cpp) ---
  void Button12Click();
  void Button14Click();
  void ScruteDossier2Fichier(const std::string& Nom);
  void Voirfichiersjournaux1Click();
  void ApplicationEvents1Exception(const std::exception& e);
  // Appends one line to today's log (callers test CheckBox_12 first); throws on failure.
  void AppendDailyLog(const std::string& line);
  // Adds a row at the end of the history list and scrolls it 100 pixels down.
  void AddHistoryRow(const core::HistoryRow& row);

  // --- settings store (tform1_settings.cpp) ---
  void RestoreSettings();  // before FormCreate
  void SaveSettings();     // SaveAll

  // --- network computers (tform1_network.cpp) ---
  void ecrireresau(const std::string& line);
  void Button24Click();
  void Button20Click();
  void ListBox2Click();
  void DeleteAt2(int index);
  void Button21Click();
  void Button28Click();
  void ShellTreeView3Change();
  void Button19Click();
  void Button26Click();
  void Button25Click();
  void Button27Click();
  void Button22Click();
  void Button23Click();
  // Line `index` of ListBox2 as the file holds it (bytes); "" when there is none.
  std::string NetworkLineAt(int index) const;
  // How the window reaches network computers; tests put their own. NetReachable: whether a
  // network path can be used now (its share served by a local folder). NetConnect: the
  // connection command, true when the computer accepts the login and the shares are usable.
  std::function<bool(const std::string& networkPath)> NetReachable;
  std::function<bool(const std::string& computer, const std::string& login, const std::string& password,
                     const std::vector<std::string>& shares)>
      NetConnect;
  int SmbPort = 0;  // 0: the usual SMB port (tests give their server's)
  core::RunNetwork& Network();
  NetworkTree* NetTree = nullptr;  // ShellTreeView3's contents

  // --- alerts (tform1_alerts.cpp) ---
  void SpeedButton16Click();
  void SpeedButton17Click();
  void SpeedButton18Click();
  void Button34Click();
  // Sound, window and e-mail as the settings ask, for a missing folder or computer.
  void RaiseAlerts(const std::string& errorText);
  // The e-mail only, for an error that reached the application-wide handler.
  void RaiseExceptionAlert(const std::string& errorText);
  std::unique_ptr<core::AlertSound> Sound;  // tests put their own
  std::string SmtpCaFile;  // certificates the mail trusts; "" = the system's (tests set their own)

  // --- caption export and language lookup (tform1_captions.cpp) ---
  std::string IniLang(const std::string& key) const;
  void SetLangStrings();
  void frenchClick();
  void EnglishClick();
  void SPANISHClick();
  void ecrire(const std::string& line);
  void Button17Click();
  void Button18Click();

  // --- timetable editor (tform1_editor.cpp) ---
  void Button6Click();
  void Button7Click();
  void TabSheet10Enter();
  void TabSheet3Enter();
  void Button10Click();
  void SpeedButton2Click();
  void SpeedButton1Click();
  void BitBtn1Click();
  void Edit13Enter();
  void Edit13MouseDown();
  void Edit13MouseUp();
  void JvXPBar4Items0Click();
  void JvXPBar4Items1Click();
  void JvXPBar4Items2Click();
  void JvXPBar4Items3Click();
  void JvXPBar4Items4Click();
  void JvXPBar4Items5Click();
  void JvXPBar4Items6Click();
  void JvXPBar4Items7Click();
  void JvXPBar4Items8Click();
  void JvXPBar4Items9Click();
  void JvXPBar2Items0Click();
  void JvXPBar2Items1Click();
  void JvXPBar2Items2Click();
  void JvXPBar1Items0Click();
  void JvXPBar1Items1Click();
  void JvXPBar1Items2Click();
  void JvXPBar1Items3Click();
  void JvXPBar1Items4Click();
  void JvXPBar1Items5Click();
  void JvXPBar1Items6Click();
  // Folder chooser of the editor's pickers; tests set their own.
  std::function<bool(const QString& title, std::string& folder, bool allowNewFolder)> ChooseFolder;

  // --- USB volumes (tform1_usb.cpp) ---
  // Watches the mount table under these roots (tests give their own), from now on.
  void WatchMounts(const platform::SystemRoots& roots);
  platform::SystemRoots UsbRoots;
  void CheckMounts();  // new mounts: one arrival each
  void WMDeviceChange(const platform::MountInfo& mount);
  void verifielistbox(const std::string& identity, const core::UsbVolume& volume);
  void ComboBox_1Change();
  void ComboBox_1Click();
  void Image10Click();
  void Image13Click();
  void Image11Click();
  // The folder of a USB entry on its volume, made when missing; throws the French error when
  // the volume named is not mounted where the entry says.
  std::string MakeUsbJobFolder(const std::string& source, const std::string& target);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void connectFrame();
  void connectTimetable();
  void connectRun();
  void connectQueue();
  void connectHistory();
  void connectSettings();
  void connectNetwork();
  void connectAlerts();
  void connectEditor();
  void connectCaptions();
  void connectUsb();
  void createComponents();
  void applyLook();
  void setNavigation(TransparentButton* coloured);
  void quickSource(int csidl, const std::string& below = {});
  void showQuickFolders();
  void editorHelp(const QString& text, const std::array<bool, 7>& days);
  void editorPreset(const QString& text, const std::array<bool, 7>& days, int hours, int minutes);
  void editorMessage(const QString& text);
  // Binds a signal to a handler that runs guarded (the signal's arguments are dropped).
  template <class Sender, class Signal>
  void bind(Sender* sender, Signal signal, void (TForm1::*handler)()) {
    connect(sender, signal, this, [this, handler] { Guarded([this, handler] { (this->*handler)(); }); });
  }

  ComponentRegistry registry_;
  bool button31Saves_ = false;  // Button31 saves a USB entry instead of going to step two
  core::MinuteTracker dueMinutes_;       // clock minutes Timer1Timer has evaluated
  core::MinuteTracker midnightMinutes_;  // clock minutes Timer4Timer has evaluated
  std::unique_ptr<core::RunNetwork> network_;  // made by connectNetwork
  struct RunParts;  // the backup run behind tform1_run.cpp, made on first use
  std::unique_ptr<RunParts, void (*)(RunParts*)> run_{nullptr, nullptr};
  std::unique_ptr<platform::MountWatcher> mountWatcher_;
  QSocketNotifier* mountNotifier_ = nullptr;  // mountinfo changed (POLLPRI)
  QTimer* mountPoll_ = nullptr;               // fallback when no change is signalled
  QTimer* trayWatch_ = nullptr;               // runs while the window is hidden behind the icon
};

extern TForm1* Form1;

}  // namespace ui
