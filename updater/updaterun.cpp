#include "updater/updaterun.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <thread>

#include "platform/processes.h"
#include "platform/shell.h"
#include "updater/stagedinstall.h"
#include "updater/ziparchive/zaarchiver.h"
#include "updater/ziparchive/zaexcept.h"

namespace fs = std::filesystem;
using namespace std::chrono;

namespace updater {

namespace {

constexpr uint16_t kReadDenyWrite = 0x20;

year_month_day Today() { return updater::LocalDate(std::time(nullptr)); }

// A fresh folder beside the program files, so renames out of it never cross file systems.
std::string MakeTempFolder(const std::string& folder, const std::string& tag) {
  std::string tmpl = folder + "." + tag + "-XXXXXX";
  if (!mkdtemp(tmpl.data())) return {};
  return tmpl;
}

}  // namespace

std::string UpdateConfig::MainProgramName() const {
  const auto dot = ExeFileName.rfind('.');
  return dot == std::string::npos || dot == 0 ? ExeFileName : ExeFileName.substr(0, dot);
}

UpdateRun::UpdateRun(UpdateConfig config, UpdateView& view) : Config(std::move(config)), view_(view) {}

std::string UpdateRun::NoNewVersionText() const {
  return "Aucune nouvelle version de " + Config.MainProgramName() + "\rn'est disponible sur internet.";
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
  if (!got.Ok) {
    view_.SetStatus(NoNewVersionText());
    return true;
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

std::string UpdateRun::Extract() {
  const std::string staging = MakeTempFolder(Config.Folder, Config.MainProgramName() + "-nouveau");
  const std::string backup = MakeTempFolder(Config.Folder, Config.MainProgramName() + "-ancien");
  auto cleanUp = [&] {
    std::error_code ignored;
    if (!staging.empty()) fs::remove_all(staging, ignored);
    if (!backup.empty()) fs::remove_all(backup, ignored);
  };
  if (staging.empty() || backup.empty()) {
    const int err = errno;
    cleanUp();
    return "impossible de créer un dossier dans " + Config.Folder + " : " + std::strerror(err);
  }

  std::string failure;
  ziparchive::TZABatchResult batch;
  {
    ziparchive::TZipArchiver zip;
    zip.ExtractCorruptedFiles = false;
    zip.SetCompressionLevel(ziparchive::clFastest);
    zip.Options.FlushBuffers = true;
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
      zip.FileName = Config.ZipPath();
      zip.OpenArchiveMode(kReadDenyWrite);
      zip.BaseDir = staging;
      batch = zip.ExtractFiles("*.*", ziparchive::kDefaultSearchAttr, "");
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
  if (failure.empty() && batch.Done == 0) failure = "l'archive ne contient aucun fichier";
  if (failure.empty()) {
    const InstallResult installed = InstallStaged(staging, Config.Folder, backup);
    if (!installed.Ok) failure = installed.Message;
  }
  cleanUp();
  return failure;
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
  bool started = false;
  Restart(started);
  if (windowOpen_ && !message.empty()) view_.ShowFailure(message);
  view_.SetStatus("La mise à jour de " + Config.MainProgramName() + " n'a pas été installée.");
  view_.SetProgress(0);
  view_.SetUpdateEnabled(true);
}

void UpdateRun::Run() {
  const std::string name = Config.MainProgramName();
  view_.SetUpdateEnabled(false);
  windowOpen_ = true;
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
  if (!RemoteDate || !LocalDate || !(*RemoteDate > *LocalDate)) {
    view_.SetStatus(NoNewVersionText());
    view_.SetUpdateEnabled(true);
    return;
  }

  platform::KillProcessByName(Config.ExeFileName, Config.StopGrace);
  view_.SetStatus("Téléchargement des mises à jour " + name + ".");

  // The download goes to a file of its own; only a complete one becomes the archive.
  const std::string zipPath = Config.ZipPath();
  std::string partial = zipPath + ".XXXXXX";
  const int fd = ::mkostemp(partial.data(), O_CLOEXEC);
  if (fd < 0) {
    GiveUp("Erreur inconnue : impossible de créer " + zipPath + " : " + std::strerror(errno));
    return;
  }
  HttpResult got = Client().GetToFd(Config.DownloadUrl(), fd);
  if (got.Ok && (::fsync(fd) != 0 || ::fchmod(fd, 0644) != 0)) {
    got.Ok = false;
    got.Message = std::string("écriture impossible : ") + std::strerror(errno);
  }
  if (::close(fd) != 0 && got.Ok) {
    got.Ok = false;
    got.Message = std::string("écriture impossible : ") + std::strerror(errno);
  }
  if (got.Ok && ::rename(partial.c_str(), zipPath.c_str()) != 0) {
    got.Ok = false;
    got.Message = "impossible de créer " + zipPath + " : " + std::strerror(errno);
  }
  if (!got.Ok) {
    ::unlink(partial.c_str());
    GiveUp((got.ClientError ? "Erreur durant le téléchargement : " : "Erreur inconnue : ") + got.Message);
    return;
  }

  view_.SetStatus("Installation de la mise à jour " + name + ".");
  Pause();
  const std::string failure = Extract();
  ::unlink(zipPath.c_str());
  if (!failure.empty()) {
    GiveUp("L'installation de la mise à jour a échoué : " + failure + "\r\nAucun fichier de " + name +
           " n'a été remplacé.");
    return;
  }
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
