#include "updater/updaterun.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <thread>

#include "platform/atomicfile.h"
#include "platform/drives.h"
#include "platform/errortext.h"
#include "platform/files.h"
#include "platform/processes.h"
#include "platform/shell.h"
#include "platform/stagedinstall.h"
#include "updater/signature.h"
#include "updater/ziparchive/zaarchiver.h"
#include "updater/ziparchive/zaexcept.h"

namespace fs = std::filesystem;
using namespace std::chrono;

namespace updater {

namespace {

constexpr uint16_t kReadDenyWrite = 0x20;

year_month_day Today() { return updater::LocalDate(std::time(nullptr)); }

// A fresh folder beside the program files, so renames out of it never cross file systems.
std::string Megabytes(uint64_t bytes) { return std::to_string((bytes + (1 << 20) - 1) >> 20) + " Mo"; }

// A name that does not stay inside the program folder: absolute, with a drive, or going up.
bool LeavesFolder(const std::string& name) {
  if (!name.empty() && (name[0] == '/' || (name.size() > 1 && name[1] == ':'))) return true;
  return ("/" + name + "/").find("/../") != std::string::npos;
}

// A name the install keeps for itself at the top of the program folder: its journal (and the
// journal's temp file), staging and backup folders, the release record.
bool Reserved(const std::string& name) {
  const fs::path normal = fs::path(name).lexically_normal();
  if (normal.empty()) return false;
  const std::string top = normal.begin()->string();
  const std::string journalTemp = std::string(".") + platform::kInstallJournal + ".";
  return top == platform::kInstallJournal || top == kReleaseRecord || top.rfind(journalTemp, 0) == 0 ||
         top.rfind(platform::kStagingPrefix, 0) == 0 || top.rfind(platform::kBackupPrefix, 0) == 0;
}

bool HoldsAFile(const fs::path& folder) {
  std::error_code ec;
  for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
    if (it->is_regular_file(ec)) return true;
  return false;
}

std::optional<year_month_day> ParseIsoDate(const std::string& text) {
  int y = 0;
  unsigned m = 0, d = 0;
  char end = 0;
  if (text.size() != 10 || std::sscanf(text.c_str(), "%4d-%2u-%2u%c", &y, &m, &d, &end) != 3) return std::nullopt;
  const year_month_day date{year(y), month(m), day(d)};
  if (!date.ok() || IsoDate(date) != text) return std::nullopt;
  return date;
}

// Refuses an archive that holds a link or a special file (never installed), a name outside the
// program folder or one the install keeps for itself, or files that would not fit in the room
// left on the disk.
std::string CheckEntries(ziparchive::TZipArchiver& zip, std::optional<uint64_t> room, const std::string& folder) {
  ziparchive::TZAArchiveItem item;
  uint64_t total = 0;
  for (bool found = zip.FindFirstItem("*.*", item, ziparchive::kDefaultSearchAttr, ""); found;
       found = zip.FindNextItem(item)) {
    std::string name = item.StoredPath + item.ItemName;
    std::replace(name.begin(), name.end(), '\\', '/');
    const mode_t type = mode_t(item.ExternalFileAttributes >> 16) & S_IFMT;
    if (type != 0 && type != S_IFREG && type != S_IFDIR)
      return "l'archive contient un lien ou un fichier spécial, qui ne sera pas installé : « " + name + " »";
    if (LeavesFolder(name))
      return "l'archive contient un fichier hors du dossier du programme, qui ne sera pas installé : « " + name + " »";
    if (Reserved(name))
      return "l'archive contient un fichier au nom réservé à l'installation, qui ne sera pas installé : « " + name + " »";
    total += uint64_t(std::max<int64_t>(item.UncompressedSize, 0));
  }
  if (room && total > *room)
    return "les fichiers de la mise à jour (" + Megabytes(total) + ") ne tiennent pas sur le disque de " + folder +
           " (" + Megabytes(*room) + " disponibles)";
  return {};
}

}  // namespace

std::string BuiltServer() { return QUILLOMET_UPDATE_SERVER; }

std::string BuiltPublicKey() { return QUILLOMET_UPDATE_PUBLIC_KEY; }

std::optional<uint64_t> UpdateConfig::Room() const {
  const auto free = FreeSpace ? FreeSpace(Folder) : platform::FreeSpace(Folder);
  if (!free) return std::nullopt;
  return *free > DiskMargin ? *free - DiskMargin : 0;
}

std::string UpdateConfig::MainProgramName() const {
  const auto dot = ExeFileName.rfind('.');
  return dot == std::string::npos || dot == 0 ? ExeFileName : ExeFileName.substr(0, dot);
}

UpdateRun::UpdateRun(UpdateConfig config, UpdateView& view) : Config(std::move(config)), view_(view) {}

std::string UpdateRun::NoNewVersionText() const {
  return "Aucune nouvelle version de " + Config.MainProgramName() + "\rn'est disponible sur internet.";
}

std::string UpdateRun::UnreachableText(const std::string& why) const {
  return "Le serveur de mise à jour n'a pas pu être joint (" + Config.Server + ") :\r" + why;
}

std::string UpdateRun::MissingProgramText() const {
  return "La mise à jour, ne trouve pas le fichier d'origine\r" + Config.ExeFileName + " sur votre ordinateur.";
}

HttpGet UpdateRun::Client() {
  HttpGet http;
  http.Pump = [this] { return windowOpen_ = windowOpen_ && view_.Pump(); };
  http.Progress.WorkBegin = [this](int64_t expected) { IdHTTP1WorkBegin(expected); };
  http.Progress.Work = [this](int64_t done) { IdHTTP1Work(done); };
  http.Progress.WorkEnd = [this] { IdHTTP1WorkEnd(); };
  http.MinimumTime = Config.DownloadMinimumTime;
  http.MinimumRate = Config.DownloadMinimumRate;
  return http;
}

void UpdateRun::IdHTTP1WorkBegin(int64_t expected) {
  view_.SetProgressMax(expected);
  view_.SetProgress(0);
}

void UpdateRun::IdHTTP1Work(int64_t done) { view_.SetProgress(done); }

void UpdateRun::IdHTTP1WorkEnd() { view_.SetProgress(0); }

void UpdateRun::ZipArchiver1FileProgress(double progress) {
  view_.SetProgress(int64_t(progress));
  windowOpen_ = windowOpen_ && view_.Pump();
}

bool UpdateRun::CheckPage() {
  std::string body;
  const HttpResult got = Client().GetToString(Config.UpdatePageUrl(), body);
  // A page that cannot be had says nothing about new versions.
  if (!got.Ok) {
    view_.SetStatus(UnreachableText(got.Message));
    return false;
  }
  const auto lines = LoadMemoFromMemoryStream(body);
  view_.SetPageLines(lines);
  const std::string& first = lines.front();
  if (first == "0" || first.empty()) {
    view_.SetPageLines({});
    view_.SetStatus("Pas de réponse, essayez de nouveau dans un moment");
    return true;
  }
  const auto date = DateFormat.Parse(first, Today());
  if (!date) {
    view_.SetStatus("La page de mise à jour ne donne pas une date lisible :\r« " + first + " »");
    return false;
  }
  RemoteDate = *date;
  return true;
}

void UpdateRun::ReadLocalDate() {
  const std::string path = Config.Folder + Config.ExeFileName;
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) {
    view_.SetStatus(MissingProgramText());
    return;
  }
  const year_month_day date = updater::LocalDate(st.st_mtime);
  view_.SetLocalDateText(DateFormat.Format(date));
  LocalDate = date;
}

bool UpdateRun::ReleaseRecord::IsOlderThan(const year_month_day& release) const {
  return release != Release && release > std::min({Release, Written, Today()});
}

std::optional<UpdateRun::ReleaseRecord> UpdateRun::InstalledRelease() const {
  // Never waits on a FIFO or a device put in its place.
  const int fd = platform::OpenFileOnly(Config.ReleaseRecordPath(), O_RDONLY);
  if (fd < 0) return std::nullopt;
  char text[32];
  const ssize_t n = ::read(fd, text, sizeof text);
  struct stat st {};
  const bool dated = ::fstat(fd, &st) == 0;
  ::close(fd);
  if (n <= 0 || !dated) return std::nullopt;
  std::string line(text, size_t(n));
  if (!line.empty() && line.back() == '\n') line.pop_back();
  const auto release = ParseIsoDate(line);
  if (!release) return std::nullopt;
  return ReleaseRecord{*release, updater::LocalDate(st.st_mtime)};
}

std::string UpdateRun::Extract() {
  platform::InstallLock ownLock;
  if (!lock_.Held() && !ownLock.Acquire(Config.Folder))
    return "une autre installation est en cours dans " + Config.Folder;
  const fs::path staging = platform::MakeStagingFolder(Config.Folder);
  if (staging.empty()) return "impossible de créer un dossier dans " + Config.Folder + " : " + platform::SystemErrorText(errno);

  std::string failure;
  ziparchive::TZABatchResult batch;
  {
    ziparchive::TZipArchiver zip;
    zip.Name = "ZipArchiver1";
    zip.ExtractCorruptedFiles = false;
    zip.SetCompressionLevel(ziparchive::clFastest);
    // The whole staging folder is flushed to disk at once before anything is put in place.
    zip.Options.FlushBuffers = false;
    zip.Options.OEMFileNames = true;
    zip.Zip64Mode = ziparchive::zmDisabled;
    // An archive without its directory is a cut or damaged one: never pieced together here.
    zip.FOpenDamaged = false;
    zip.SetPrompter(view_.Prompter());
    view_.SetProgressMax(100);
    zip.OnFileProgress = [this](ziparchive::TZABaseArchiver*, const std::string&, double progress,
                                ziparchive::TZAProcessOperation, ziparchive::TZAProgressPhase, bool&) {
      ZipArchiver1FileProgress(progress);
    };
    try {
      zip.FileName = archive_.empty() ? Config.ZipPath() : archive_;
      zip.OpenArchiveMode(kReadDenyWrite);
      failure = CheckEntries(zip, Config.Room(), Config.Folder);
      if (failure.empty()) {
        zip.BaseDir = staging;
        batch = zip.ExtractFiles("*.*", ziparchive::kDefaultSearchAttr, "");
      }
      zip.CloseArchive();
    } catch (const ziparchive::EZAException& e) {
      failure = std::string("l'archive est endommagée ou illisible (") + e.what() + ")";
    } catch (const std::exception& e) {
      failure = e.what();
    }
  }
  if (failure.empty() && !batch.Succeeded())
    failure = batch.Cancelled ? "extraction interrompue" : std::to_string(batch.Failed) + " fichier(s) endommagé(s)";
  if (failure.empty() && batch.Skipped > 0)
    failure = std::to_string(batch.Skipped) + " fichier(s) n'ont pas pu être extraits";
  // The record of the release goes in with the files, so it changes only with them; an archive
  // without files installs nothing, not even the record.
  if (failure.empty() && release_ && HoldsAFile(staging) &&
      !platform::WriteFileAtomic(staging / kReleaseRecord, IsoDate(*release_) + "\n", 0644))
    failure = "impossible d'écrire dans " + staging.string() + " : " + platform::SystemErrorText(errno);
  if (failure.empty()) {
    const platform::InstallResult installed = platform::InstallStaged(staging, Config.Folder, Config.ExeFileName);
    if (!installed.Ok) failure = installed.Message;
  }
  // Left to the next start when the journal still needs it.
  std::error_code ignored;
  if (!fs::exists(fs::path(Config.Folder) / platform::kInstallJournal, ignored)) fs::remove_all(staging, ignored);
  return failure;
}

void UpdateRun::DateInstalledProgram() {
  // The installed version is the page's release (a date to come counts as today): a program
  // file dated earlier would be offered the same update at every later check.
  const year_month_day release = std::min(*RemoteDate, Today());
  const std::string program = Config.Folder + Config.ExeFileName;
  struct stat st;
  if (::stat(program.c_str(), &st) != 0 || !(updater::LocalDate(st.st_mtime) < release)) return;
  std::tm noon{};
  noon.tm_year = int(release.year()) - 1900;
  noon.tm_mon = int(unsigned(release.month())) - 1;
  noon.tm_mday = int(unsigned(release.day()));
  noon.tm_hour = 12;
  noon.tm_isdst = -1;
  const timespec times[2] = {{0, UTIME_OMIT}, {std::mktime(&noon), 0}};
  ::utimensat(AT_FDCWD, program.c_str(), times, 0);
}

void UpdateRun::Pause() {
  const auto until = steady_clock::now() + Config.StepPause;
  while (steady_clock::now() < until) {
    windowOpen_ = windowOpen_ && view_.Pump();
    std::this_thread::sleep_for(milliseconds(10));
  }
}

void UpdateRun::Restart(bool& started) {
  const std::string program = Config.Folder + Config.ExeFileName;
  started = ::access(program.c_str(), X_OK) == 0 && platform::SpawnDetached(program, "");
}

void UpdateRun::GiveUp(const std::string& message) {
  // Over: another updater may try while the message is up.
  lock_.Release();
  bool started = false;
  if (stopped_) Restart(started);
  if (windowOpen_ && !message.empty()) view_.ShowFailure(message);
  view_.SetStatus("La mise à jour de " + Config.MainProgramName() + " n'a pas été installée.");
  view_.SetProgress(0);
  view_.SetUpdateEnabled(true);
}

std::string UpdateRun::Download() {
  const std::string nothing = "\r\nRien n'a été installé.";
  if (!IsPublicKey(Config.PublicKey))
    return "La mise à jour ne peut pas être vérifiée : aucune clé de signature n'est intégrée à ce programme." +
           nothing;
  std::string signature;
  const HttpResult signed_ = Client().GetToString(Config.SignatureUrl(), signature, 4096);
  if (!signed_.Ok && signed_.Status != 404 && signed_.Status != 410)
    return (signed_.ClientError ? "Erreur durant le téléchargement : " : "Erreur inconnue : ") + signed_.Message;
  if (!signed_.Ok || signature.empty()) return "La mise à jour n'est pas signée : elle peut venir de n'importe qui." + nothing;

  // The download goes to a file of its own, which the next start removes whenever this run is
  // killed; only a complete, authentic one is kept for the install.
  std::string partial = Config.Folder + platform::kStagingPrefix + "XXXXXX.zip";
  const int fd = ::mkostemps(partial.data(), 4, O_CLOEXEC);
  if (fd < 0) return "Erreur inconnue : impossible de créer un fichier dans " + Config.Folder + " : " + platform::SystemErrorText(errno);
  const auto room = Config.Room();
  HttpResult got = Client().GetToFd(Config.DownloadUrl(), fd, room ? int64_t(std::min<uint64_t>(*room, INT64_MAX)) : -1);
  if (got.TooLarge)
    got.Message = "la mise à jour ne tient pas sur le disque de " + Config.Folder + " (" + Megabytes(*room) +
                  " disponibles)";
  if (got.Ok && ::fsync(fd) != 0) {
    got.Ok = false;
    got.Message = std::string("écriture impossible : ") + platform::SystemErrorText(errno);
  }
  SignatureCheck check = SignatureCheck::Invalid;
  if (got.Ok) check = VerifyReleaseSignature(Config.PublicKey, fd, *RemoteDate, signature);
  if (::close(fd) != 0 && got.Ok) {
    got.Ok = false;
    got.Message = std::string("écriture impossible : ") + platform::SystemErrorText(errno);
  }
  std::string failure;
  if (!got.Ok)
    failure = (got.ClientError || got.TooLarge ? "Erreur durant le téléchargement : " : "Erreur inconnue : ") + got.Message;
  else if (check != SignatureCheck::Valid)
    failure = "La signature de la mise à jour n'est pas valable : l'archive a été modifiée, n'est pas celle de la "
              "version du " + DateFormat.Format(*RemoteDate) + " annoncée, ou ne vient pas de l'éditeur de " +
              Config.MainProgramName() + "." + nothing;
  if (!failure.empty()) {
    ::unlink(partial.c_str());
    return failure;
  }
  archive_ = partial;
  release_ = *RemoteDate;
  return {};
}

void UpdateRun::Run() {
  const std::string name = Config.MainProgramName();
  view_.SetUpdateEnabled(false);
  windowOpen_ = true;
  stopped_ = false;
  const std::string program = Config.Folder + Config.ExeFileName;
  if (::access(program.c_str(), F_OK) != 0) {
    view_.SetStatus(MissingProgramText());
    return;
  }
  if (!CheckPage()) {
    view_.SetUpdateEnabled(true);
    return;
  }
  ReadLocalDate();
  // Newer than the program file and than the release installed last: a file date alone can be
  // set back by any copy.
  const auto installed = InstalledRelease();
  if (!RemoteDate || !LocalDate || !(*RemoteDate > *LocalDate) || (installed && !installed->IsOlderThan(*RemoteDate))) {
    view_.SetStatus(NoNewVersionText());
    view_.SetUpdateEnabled(true);
    return;
  }

  // Nothing is stopped before the archive is here and known to come from the publisher.
  view_.SetStatus("Téléchargement des mises à jour " + name + ".");
  if (!lock_.Acquire(Config.Folder)) {
    GiveUp("Une autre mise à jour de " + name + " est en cours.");
    return;
  }
  struct Unlock {
    platform::InstallLock& lock;
    ~Unlock() { lock.Release(); }
  } unlock{lock_};
  const std::string refused = Download();
  if (!refused.empty()) {
    GiveUp(refused);
    return;
  }
  platform::KillProgram(Config.Folder + Config.ExeFileName, Config.StopGrace);
  stopped_ = true;

  const std::string zipPath = Config.ZipPath();
  view_.SetStatus("Installation de la mise à jour " + name + ".");
  Pause();
  const std::string failure = Extract();
  ::unlink(archive_.c_str());
  archive_.clear();
  release_.reset();
  // An archive by that name is an earlier updater's, left behind.
  ::unlink(zipPath.c_str());
  lock_.Release();
  if (!failure.empty()) {
    GiveUp("L'installation de la mise à jour a échoué : " + failure + "\r\nAucun fichier de " + name +
           " n'a été remplacé.");
    return;
  }
  DateInstalledProgram();
  view_.SetStatus("Mise à jour de " + name + " terminée.");
  Pause();
  bool started = false;
  Restart(started);
  view_.SetUpdateEnabled(true);
  view_.ShowMessage("La mise à jour de " + name + " est terminée et installée.\r\n" + name +
                    (started ? " à été redémarré automatiquement." : " n'a pas pu être redémarré."));
  view_.Close();
}

}  // namespace updater
