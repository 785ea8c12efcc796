#pragma once
// The update run of the updater window, free of Qt: the update page, the date comparison, the
// stop of the main program, the download, the installation and the restart.
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/stagedinstall.h"
#include "updater/httpget.h"
#include "updater/updatepage.h"
#include "updater/ziparchive/zaprompter.h"

namespace updater {

// In the program folder: the date of the release installed last ("YYYY-MM-DD"), put in place
// by the install itself.
inline constexpr const char* kReleaseRecord = ".Quillomet-version";

// What the run shows and asks of its window.
class UpdateView {
 public:
  virtual ~UpdateView() = default;
  virtual void SetStatus(const std::string& text) = 0;             // Label1
  virtual void SetLocalDateText(const std::string& text) = 0;      // Label3
  virtual void SetPageLines(const std::vector<std::string>& lines) = 0;  // Memo1
  virtual void SetUpdateEnabled(bool enabled) = 0;                 // BitBtn1
  virtual void SetProgressMax(int64_t max) = 0;
  virtual void SetProgress(int64_t position) = 0;
  virtual void ShowMessage(const std::string& text) = 0;
  // A failure's message (shown with the error icon).
  virtual void ShowFailure(const std::string& text) { ShowMessage(text); }
  // Handles pending window events; false once the window has been closed.
  virtual bool Pump() = 0;
  virtual void Close() = 0;
  // Answers the archive engine's questions.
  virtual ziparchive::Prompter* Prompter() = 0;
};

// Set when the updater is built (see the top CMakeLists.txt).
std::string BuiltServer();
std::string BuiltPublicKey();

struct UpdateConfig {
  std::string Folder;  // the updater's folder, with a trailing "/"
  std::string ExeFileName = "Quillomet";
  std::string ZipFileName = "Quillomet.zip";
  std::string Server = BuiltServer();
  // The publisher's Ed25519 public key, 64 hex digits; archives it did not sign are refused.
  std::string PublicKey = BuiltPublicKey();
  std::chrono::milliseconds StepPause{300};
  std::chrono::milliseconds StopGrace{5000};
  // Bytes free on the file system of a folder, empty when unknown; the download and the
  // unpacked files leave DiskMargin of it free.
  std::function<std::optional<uint64_t>(const std::string&)> FreeSpace = nullptr;
  uint64_t DiskMargin = uint64_t(64) << 20;
  // A download ends when it takes longer than this plus its length at this rate (bytes a second).
  std::chrono::milliseconds DownloadMinimumTime{std::chrono::minutes(2)};
  int64_t DownloadMinimumRate = 8 << 10;

  std::string ZipPath() const { return Folder + ZipFileName; }
  std::string ReleaseRecordPath() const { return Folder + kReleaseRecord; }
  std::string UpdatePageUrl() const { return Server + "/quillomet/update.html"; }
  std::string DownloadUrl() const { return Server + "/rv/" + ZipFileName; }
  std::string SignatureUrl() const { return DownloadUrl() + ".sig"; }
  // Bytes that may still be written in Folder; empty when unknown.
  std::optional<uint64_t> Room() const;
  // The file name without its extension.
  std::string MainProgramName() const;
};

class UpdateRun {
 public:
  UpdateRun(UpdateConfig config, UpdateView& view);

  UpdateConfig Config;
  ShortDateFormat DateFormat = ShortDateFormat::User();
  std::optional<std::chrono::year_month_day> RemoteDate;
  std::optional<std::chrono::year_month_day> LocalDate;

  // The whole run (BitBtn1Click).
  void Run();
  // Reads the update page into RemoteDate (Button5Click). False when its first line is no date.
  bool CheckPage();
  // Reads the main program's file date into LocalDate (Button2Click).
  void ReadLocalDate();
  // The release the folder holds, from its record, and the day the record was written; empty
  // when there is none or it is unreadable.
  struct ReleaseRecord {
    std::chrono::year_month_day Release;
    std::chrono::year_month_day Written;
    // Whether release is a later one. A release dated after the day it was installed counts as
    // of that day, as the program file's date does; it alone is never newer than itself.
    bool IsOlderThan(const std::chrono::year_month_day& release) const;
  };
  std::optional<ReleaseRecord> InstalledRelease() const;
  // Extracts the downloaded archive (ZipPath when this run downloaded none) and puts its files
  // in place as a whole, with the record of the release once one was verified (Button3Click).
  // Empty on success, else the French reason.
  std::string Extract();

  // Texts the run shows.
  std::string NoNewVersionText() const;
  std::string MissingProgramText() const;
  std::string UnreachableText(const std::string& why) const;

 private:
  // Progress of a transfer and of the extraction, on the window's one bar.
  void IdHTTP1WorkBegin(int64_t expected);
  void IdHTTP1Work(int64_t done);
  void IdHTTP1WorkEnd();
  void ZipArchiver1FileProgress(double progress);
  void Pause();
  // Gives the installed main program at least the date of the release it now is.
  void DateInstalledProgram();
  void Restart(bool& started);
  // Ends a run that installs nothing; the main program is started again if the run stopped it.
  void GiveUp(const std::string& message);
  // Downloads the signature and the archive and checks one with the other as the release of
  // RemoteDate; the archive is kept (under a name the next start removes) only when it is
  // authentic. Empty on success, else the message to show.
  std::string Download();
  HttpGet Client();

  UpdateView& view_;
  bool windowOpen_ = true;
  bool stopped_ = false;
  // The verified download and its release, for the install.
  std::string archive_;
  std::optional<std::chrono::year_month_day> release_;
  // Held from the download to the end of the install: the folder is this run's.
  platform::InstallLock lock_;
};

}  // namespace updater
