#include "updater/updaterun.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include <map>

#include "platform/processes.h"
#include "platform/stagedinstall.h"
#include "tests/support/foldersnapshot.h"
#include "tests/support/testenv.h"
#include "tests/updater/window/httpserver.h"
#include "tests/updater/window/testkey.h"
#include "tests/updater/window/zipwriter.h"

namespace fs = std::filesystem;
using namespace updater;

namespace {

struct RecordingView : UpdateView {
  std::vector<std::string> Statuses, Messages;
  std::vector<std::string> Page;
  std::string LocalDateText;
  bool Enabled = true;
  bool Closed = false;
  int64_t Max = 100, Position = 0, HighestPosition = 0;
  ziparchive::HeadlessPrompter Headless;
  // When set, whether another updater could take this folder while each message is shown.
  std::string LockProbe;
  std::vector<bool> FolderFreeAtMessage;

  void SetStatus(const std::string& t) override { Statuses.push_back(t); }
  void SetLocalDateText(const std::string& t) override { LocalDateText = t; }
  void SetPageLines(const std::vector<std::string>& l) override { Page = l; }
  void SetUpdateEnabled(bool e) override { Enabled = e; }
  void SetProgressMax(int64_t m) override { Max = m; }
  void SetProgress(int64_t p) override {
    Position = p;
    HighestPosition = std::max(HighestPosition, p);
  }
  void ShowMessage(const std::string& t) override {
    Messages.push_back(t);
    if (!LockProbe.empty()) {
      platform::InstallLock other;
      FolderFreeAtMessage.push_back(other.Acquire(LockProbe));
    }
  }
  bool Pump() override { return !Closed; }
  void Close() override { Closed = true; }
  ziparchive::Prompter* Prompter() override { return &Headless; }
};

bool HaveZip() { return std::system("command -v zip >/dev/null 2>&1") == 0; }

void SetDate(const fs::path& p, int y, int m, int d, int hour) {
  std::tm tm{};
  tm.tm_year = y - 1900;
  tm.tm_mon = m - 1;
  tm.tm_mday = d;
  tm.tm_hour = hour;
  tm.tm_isdst = -1;
  const timespec t{std::mktime(&tm), 0};
  const timespec times[2] = {t, t};
  ASSERT_EQ(utimensat(AT_FDCWD, p.c_str(), times, 0), 0);
}

ShortDateFormat DayMonthYear() { return ShortDateFormat::FromStrftime("%d/%m/%Y"); }

// A program folder with a running main program (a copy of yes under the program's name: it
// runs until stopped, also when started again without arguments),
// the updater's test server and a view that records what the run shows.
class UpdateRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveZip()) GTEST_SKIP() << "zip (Info-ZIP) is not installed";
    folder = testenv::makeDir("install");
    // A name of its own per test program, so no other test's process can be hit.
    exe = "Quillomet-t" + std::to_string(getpid());
    fs::copy_file("/usr/bin/yes", folder / exe);
    testenv::writeFile(folder / "lisezmoi.txt", "ancienne version\n");
    SetDate(folder / exe, 2024, 3, 11, 23);
    config.Folder = folder.string() + "/";
    config.ExeFileName = exe;
    config.ZipFileName = "Quillomet.zip";
    config.Server = server.Base();
    config.PublicKey = publisher.PublicHex();
    config.StepPause = std::chrono::milliseconds(0);
    config.StopGrace = std::chrono::milliseconds(3000);
  }
  void TearDown() override {
    for (pid_t p : children) {
      kill(p, SIGKILL);
      waitpid(p, nullptr, 0);
    }
    StopRestarted();
  }

  // The program a run started again is one of ours too; it is gone when this returns.
  void StopRestarted() {
    for (int i = 0; i < 300; ++i) {
      const auto left = platform::ProcessesNamed(exe);
      if (left.empty()) return;
      for (pid_t p : left) kill(p, SIGKILL);
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

  // The main program, or a copy of it in another folder.
  pid_t StartMainProgram(fs::path program = {}) {
    if (program.empty()) program = folder / exe;
    const pid_t pid = fork();
    if (pid == 0) {
      const int devnull = open("/dev/null", O_WRONLY);
      dup2(devnull, STDOUT_FILENO);
      execl(program.c_str(), exe.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    children.push_back(pid);
    auto started = [&] {
      const auto named = platform::ProcessesNamed(exe);
      return std::find(named.begin(), named.end(), pid) != named.end();
    };
    for (int i = 0; i < 200 && !started(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return pid;
  }
  // Still running right after a run: a run that stops the program waits for its end.
  // Neither reaps (testenv::hasEnded): TearDown's kill of a child that ended reaches no other process.
  static bool StillRuns(pid_t pid) { return !testenv::hasEnded(pid) && kill(pid, 0) == 0; }
  static bool Exited(pid_t pid) {
    for (int i = 0; i < 300; ++i) {
      if (testenv::hasEnded(pid)) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  // An Info-ZIP archive of the new version: the main program (a script that leaves a mark when
  // started), a changed text file and a file in a sub-folder.
  std::string NewVersionArchive() {
    const fs::path src = testenv::makeDir("nouveau");
    testenv::writeFile(src / exe, "#!/bin/sh\necho started > \"$(dirname \"$0\")/restarted\"\n");
    fs::permissions(src / exe, fs::perms(0755));
    testenv::writeFile(src / "lisezmoi.txt", "nouvelle version\n");
    testenv::writeFile(src / "aide" / "guide.txt", std::string(200000, 'g'));
    const fs::path zip = testenv::testRoot() / "new.zip";
    const std::string cmd = "cd '" + src.string() + "' && zip -q -r '" + zip.string() + "' .";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
    return testenv::readFile(zip);
  }

  // One whole run, dates in the day/month/year form.
  void RunUpdate(RecordingView& v) {
    UpdateRun run(config, v);
    run.DateFormat = DayMonthYear();
    run.Run();
  }

  void ServePage(const std::string& body) { server.Set("/quillomet/update.html", {200, body}); }
  // The archive and the publisher's signature of it as the release of that day.
  void ServeArchive(testhttp::Reply reply, const std::string& release = "2024-03-12") {
    server.Set("/rv/Quillomet.zip.sig", {200, publisher.SignRelease(reply.Body, release)});
    server.Set("/rv/Quillomet.zip", std::move(reply));
  }

  // Nothing of the new version in the folder, and no archive or temporary file left.
  void ExpectOldInstallation() {
    EXPECT_EQ(testenv::readFile(folder / "lisezmoi.txt"), "ancienne version\n");
    EXPECT_FALSE(fs::exists(folder / "aide"));
    EXPECT_EQ(fs::file_size(folder / exe), fs::file_size("/usr/bin/yes"));
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{exe, "lisezmoi.txt"}));
  }
  static void ExpectOneMessageStarting(const RecordingView& v, const std::string& start) {
    ASSERT_EQ(v.Messages.size(), 1u);
    EXPECT_EQ(v.Messages[0].rfind(start, 0), 0u) << v.Messages[0];
  }
  void ExpectRestartedOldProgram() {
    // The old program was started again: it runs under its name.
    bool running = false;
    for (int i = 0; i < 200 && !running; ++i) {
      running = !platform::ProcessesNamed(exe).empty();
      if (!running) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(running);
  }

  testhttp::Server server;
  testkey::KeyPair publisher;
  fs::path folder;
  std::string exe;
  UpdateConfig config;
  RecordingView view;
  std::vector<pid_t> children;
};

TEST_F(UpdateRunTest, LaterPageDateStopsInstallsRestartsAndCloses) {
  const pid_t running = StartMainProgram();
  ServePage("12/03/2024\r\nnotes de version\r\n");
  ServeArchive({200, NewVersionArchive()});
  RunUpdate(view);

  EXPECT_TRUE(Exited(running)) << "the running main program was not stopped";
  EXPECT_EQ(testenv::readFile(folder / "lisezmoi.txt"), "nouvelle version\n");
  EXPECT_EQ(testenv::readFile(folder / "aide" / "guide.txt"), std::string(200000, 'g'));
  for (int i = 0; i < 300 && !fs::exists(folder / "restarted"); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(fs::exists(folder / "restarted")) << "the new main program was not started";
  EXPECT_FALSE(fs::exists(folder / "Quillomet.zip"));
  for (const auto& e : fs::directory_iterator(folder))
    if (e.path().filename() != kReleaseRecord)
      EXPECT_NE(e.path().filename().string()[0], '.') << e.path() << " left behind";
  EXPECT_EQ(testenv::readFile(folder / kReleaseRecord), "2024-03-12\n");

  EXPECT_EQ(view.Page, (std::vector<std::string>{"12/03/2024", "notes de version"}));
  EXPECT_EQ(view.LocalDateText, "11/03/2024");
  EXPECT_EQ(view.Statuses, (std::vector<std::string>{"Téléchargement des mises à jour " + exe + ".",
                                                      "Installation de la mise à jour " + exe + ".",
                                                      "Mise à jour de " + exe + " terminée."}));
  ASSERT_EQ(view.Messages.size(), 1u);
  EXPECT_EQ(view.Messages[0], "La mise à jour de " + exe + " est terminée et installée.\r\n" + exe +
                                  " à été redémarré automatiquement.");
  EXPECT_TRUE(view.Closed);
  EXPECT_TRUE(view.Enabled);
  EXPECT_EQ(view.Max, 100);  // extraction shows percentages
  EXPECT_EQ(server.Requests(),
            (std::vector<std::string>{"/quillomet/update.html", "/rv/Quillomet.zip.sig", "/rv/Quillomet.zip"}));
}

TEST_F(UpdateRunTest, OnlyTheProgramOfTheUpdatedFolderIsStopped) {
  const fs::path other = testenv::makeDir("autre-installation") / exe;
  fs::copy_file("/usr/bin/yes", other);
  const pid_t elsewhere = StartMainProgram(other);
  const pid_t running = StartMainProgram();
  ASSERT_LT(elsewhere, running) << "pids wrapped around";
  ServePage("12/03/2024\r\n");
  ServeArchive({200, NewVersionArchive()});
  RunUpdate(view);

  EXPECT_TRUE(Exited(running)) << "the program of the updated folder was not stopped";
  EXPECT_TRUE(StillRuns(elsewhere)) << "the same program run from another folder was stopped";
  EXPECT_EQ(testenv::readFile(folder / "lisezmoi.txt"), "nouvelle version\n");
}

TEST_F(UpdateRunTest, NoUpdateUnlessThePageDateIsLater) {
  struct Case {
    const char* body;
    std::vector<std::string> statuses;
  };
  const std::string none = "Aucune nouvelle version de " + exe + "\rn'est disponible sur internet.";
  const std::string noAnswer = "Pas de réponse, essayez de nouveau dans un moment";
  const Case cases[] = {
      {"11/03/2024\r\n12/03/2030\r\n", {none}},  // same day as the file, later hour
      {"10/03/2024", {none}},
      {"", {noAnswer, none}},
      {"0\n", {noAnswer, none}},
  };
  const pid_t running = StartMainProgram();
  for (const auto& c : cases) {
    ServePage(c.body);
    RecordingView v;
    RunUpdate(v);
    EXPECT_EQ(v.Statuses, c.statuses) << c.body;
    EXPECT_TRUE(v.Enabled) << c.body;
    EXPECT_TRUE(v.Messages.empty()) << c.body;
  }
  EXPECT_FALSE(Exited(running)) << "stopped without an update";
  EXPECT_EQ(server.Requests().size(), 4u);  // no download asked for
}

// A page that cannot be had says so and why, never that there is nothing new.
TEST_F(UpdateRunTest, PageThatCannotBeHadSaysTheServerWasNotReached) {
  server.Set("/ailleurs.html", {200, "01/01/2030"});
  server.Set("/quillomet/update.html", {302, "", "Location: /ailleurs.html\r\n"});
  struct Case {
    std::string base, why;
  };
  const Case cases[] = {
      {server.Base() + "/absent", "HTTP/1.1 404"},
      {server.Base(), "HTTP/1.1 302"},  // a redirect to a page that would say yes
      {"http://127.0.0.1:1", "la connexion au serveur a été refusée ou est impossible"},
  };
  const pid_t running = StartMainProgram();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.base);
    config.Server = c.base;
    RecordingView v;
    UpdateRun run(config, v);
    run.DateFormat = DayMonthYear();
    run.Run();
    ASSERT_EQ(v.Statuses.size(), 1u);
    const std::string head = "Le serveur de mise à jour n'a pas pu être joint (" + c.base + ") :\r";
    EXPECT_EQ(v.Statuses[0].rfind(head + c.why, 0), 0u) << v.Statuses[0];
    EXPECT_EQ(v.Statuses[0].find("Aucune nouvelle version"), std::string::npos);
    EXPECT_TRUE(v.Enabled);
    EXPECT_TRUE(v.Messages.empty());
    EXPECT_FALSE(run.RemoteDate.has_value());
  }
  EXPECT_TRUE(StillRuns(running));
  for (const auto& r : server.Requests()) EXPECT_NE(r, "/ailleurs.html") << "redirect followed";
}

TEST_F(UpdateRunTest, RemoteDateIsKeptWhenALaterPageFails) {
  ServePage("12/03/2024");
  ServeArchive({500, "panne"});
  UpdateRun run(config, view);
  run.DateFormat = DayMonthYear();
  run.CheckPage();
  ASSERT_TRUE(run.RemoteDate.has_value());
  server.Set("/quillomet/update.html", {404, ""});
  run.CheckPage();
  EXPECT_EQ(*run.RemoteDate, std::chrono::year_month_day(std::chrono::year(2024), std::chrono::month(3),
                                                          std::chrono::day(12)));
}

TEST_F(UpdateRunTest, PageWithoutADateEndsTheRunWithAFrenchText) {
  ServePage("bientôt\r\n");
  RunUpdate(view);
  ASSERT_EQ(view.Statuses.size(), 1u);
  EXPECT_EQ(view.Statuses[0], "La page de mise à jour ne donne pas une date lisible :\r« bientôt »");
  EXPECT_TRUE(view.Enabled);
}

TEST_F(UpdateRunTest, MissingMainProgramStopsBeforeAnyRequest) {
  fs::remove(folder / exe);
  UpdateRun run(config, view);
  run.Run();
  EXPECT_EQ(view.Statuses, std::vector<std::string>(
                               {"La mise à jour, ne trouve pas le fichier d'origine\r" + exe + " sur votre ordinateur."}));
  EXPECT_FALSE(view.Enabled);
  EXPECT_TRUE(server.Requests().empty());
}

// A failed, cut or damaged download never touches the installation: the message says what went
// wrong, no file of the download is left, and the main program runs: never stopped when the
// download fails, started again when the archive proves damaged once unpacked.
TEST_F(UpdateRunTest, FailedDownloadOrDamagedArchiveLeavesTheInstallationWhole) {
  const std::string archive = NewVersionArchive();
  std::string badCrc = archive;
  // Flip a byte inside the stored data of the large, highly compressible entry.
  const auto at = badCrc.find("aide/guide.txt");
  ASSERT_NE(at, std::string::npos);
  badCrc[at + 14 + 40] ^= 0x55;
  struct Case {
    const char* what;
    testhttp::Reply reply;
    std::string messageStart;
    bool stops;
  };
  const Case cases[] = {
      {"HTTP error", {500, "panne"}, "Erreur durant le téléchargement : HTTP/1.1 500", false},
      {"cut transfer", testhttp::Reply::Cut(archive, long(archive.size() / 2)),
       "Erreur durant le téléchargement : le transfert a été coupé avant la fin", false},
      {"not an archive", {200, "<html>maintenance</html>"}, "L'installation de la mise à jour a échoué : ", true},
      {"archive without its end", {200, archive.substr(0, archive.size() - 40)},
       "L'installation de la mise à jour a échoué : ", true},
      {"damaged entry", {200, badCrc}, "L'installation de la mise à jour a échoué : ", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const pid_t running = StartMainProgram();
    ServePage("12/03/2024");
    ServeArchive(c.reply);
    RecordingView v;
    RunUpdate(v);
    if (c.stops) {
      EXPECT_TRUE(Exited(running));
      ExpectRestartedOldProgram();
    } else {
      EXPECT_TRUE(StillRuns(running)) << "stopped for a download that failed";
    }
    ExpectOldInstallation();
    ASSERT_EQ(v.Messages.size(), 1u);
    EXPECT_EQ(v.Messages[0].rfind(c.messageStart, 0), 0u) << v.Messages[0];
    EXPECT_EQ(v.Statuses.back(), "La mise à jour de " + exe + " n'a pas été installée.");
    EXPECT_TRUE(v.Enabled);
    EXPECT_FALSE(v.Closed);
    StopRestarted();
  }
}

TEST_F(UpdateRunTest, ClosingTheWindowDuringTheDownloadStopsIt) {
  ServePage("12/03/2024");
  const std::string archive = NewVersionArchive();
  // Far longer than the run may take once its window is closed (the stall ends when it hangs up).
  ServeArchive(testhttp::Reply::Stalled(archive, std::chrono::seconds(60)));
  struct ClosingView : RecordingView {
    int pumps = 0;
    bool Pump() override { return ++pumps < 20; }
  } v;
  UpdateRun run(config, v);
  run.DateFormat = DayMonthYear();
  const auto start = std::chrono::steady_clock::now();
  run.Run();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
  ExpectOldInstallation();
  EXPECT_TRUE(v.Messages.empty());
}

// The engine's texts name the archive component, as the user is to see them.
TEST_F(UpdateRunTest, EngineTextsNameTheArchiveComponent) {
  UpdateRun run(config, view);
  const std::string failure = run.Extract();
  EXPECT_EQ(failure, "l'archive est endommagée ou illisible (ZipArchiver1: File \"" + config.ZipPath() +
                         "\" not found - Native error: 00012)");
  EXPECT_EQ(testenv::readFile(folder / "lisezmoi.txt"), "ancienne version\n");
}

// A server that sends an announced archive too slowly ends the download with the reason, frees
// the folder and leaves the program running.
TEST_F(UpdateRunTest, ADownloadTooSlowForItsLengthEnds) {
  const pid_t running = StartMainProgram();
  const auto before = testenv::snapshot(folder);
  config.DownloadMinimumTime = std::chrono::milliseconds(300);
  config.DownloadMinimumRate = 1 << 20;
  ServePage("12/03/2024");
  ServeArchive(testhttp::Reply::Trickle(NewVersionArchive(), std::chrono::milliseconds(50)));
  view.LockProbe = folder.string();
  const auto start = std::chrono::steady_clock::now();
  RunUpdate(view);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
  ExpectOneMessageStarting(view, "Erreur durant le téléchargement : la connexion est trop lente : le transfert n'était "
                                 "pas fini après ");
  EXPECT_EQ(view.FolderFreeAtMessage, std::vector<bool>{true});
  EXPECT_TRUE(StillRuns(running));
  EXPECT_EQ(testenv::snapshot(folder), before);
  EXPECT_TRUE(view.Enabled);
}

}  // namespace

namespace {

// Nothing that is not the publisher's is installed, and nothing is stopped for it: the folder
// stays byte for byte as it was, with the old program running.
TEST_F(UpdateRunTest, RefusedUpdatesLeaveTheFolderAsItWasWithTheProgramRunning) {
  const std::string archive = NewVersionArchive();
  std::string tampered = archive;
  tampered[tampered.find("nouvelle version")] = 'N';
  const testkey::KeyPair stranger;
  const std::string notSigned = "La mise à jour n'est pas signée";
  const std::string badSignature = "La signature de la mise à jour n'est pas valable";
  struct Case {
    const char* what;
    std::string body;
    testhttp::Reply signature;
    std::string key;
    std::string messageStart;
    bool downloads;
  };
  const Case cases[] = {
      {"no signature published", archive, {404, "absent"}, publisher.PublicHex(), notSigned, false},
      {"empty signature", archive, {200, ""}, publisher.PublicHex(), notSigned, false},
      {"signed by another key", archive, {200, stranger.SignRelease(archive, "2024-03-12")}, publisher.PublicHex(), badSignature, true},
      {"archive changed after signing", tampered, {200, publisher.SignRelease(archive, "2024-03-12")}, publisher.PublicHex(), badSignature,
       true},
      {"signature that is none", archive, {200, "signature"}, publisher.PublicHex(), badSignature, true},
      {"no key built in", archive, {200, publisher.SignRelease(archive, "2024-03-12")}, "", "La mise à jour ne peut pas être vérifiée",
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const pid_t running = StartMainProgram();
    const auto before = testenv::snapshot(folder);
    ServePage("12/03/2024");
    server.Set("/rv/Quillomet.zip", {200, c.body});
    server.Set("/rv/Quillomet.zip.sig", c.signature);
    config.PublicKey = c.key;
    const size_t asked = server.Requests().size();
    RecordingView v;
    v.LockProbe = folder.string();
    RunUpdate(v);
    EXPECT_TRUE(StillRuns(running));
    EXPECT_EQ(testenv::snapshot(folder), before);
    EXPECT_EQ(v.FolderFreeAtMessage, std::vector<bool>{true}) << "a run over still keeps other updaters out";
    ASSERT_EQ(v.Messages.size(), 1u);
    EXPECT_EQ(v.Messages[0].rfind(c.messageStart, 0), 0u) << v.Messages[0];
    EXPECT_NE(v.Messages[0].find("Rien n'a été installé."), std::string::npos) << v.Messages[0];
    EXPECT_EQ(v.Statuses.back(), "La mise à jour de " + exe + " n'a pas été installée.");
    EXPECT_TRUE(v.Enabled);
    const auto requests = server.Requests();
    EXPECT_EQ(requests.back() == "/rv/Quillomet.zip", c.downloads);
    EXPECT_EQ(requests.size() - asked, c.key.empty() ? 1u : c.downloads ? 3u : 2u);
    StopRestarted();
  }
}

// Archives made where files have no Unix modes install with the modes of the files they replace;
// a link is never installed, and an archive of folders alone installs nothing.
TEST_F(UpdateRunTest, ModesLinksAndFolderOnlyArchives) {
  const std::string script = "#!/bin/sh\necho started > \"$(dirname \"$0\")/restarted\"\n";
  fs::permissions(folder / "lisezmoi.txt", fs::perms(0640));
  const fs::path outside = testenv::testRoot() / "dehors.txt";
  struct Case {
    const char* what;
    std::vector<testzip::Entry> entries;
    const char* failure;  // nullptr: installs
  };
  // The one that installs comes last: the others expect the old version.
  const Case cases[] = {
      {"link named like the program",
       {testzip::UnixLink(exe, "/bin/sh"), testzip::UnixFile("lisezmoi.txt", "nouvelle version\n")},
       "l'archive contient un lien ou un fichier spécial, qui ne sera pas installé : « "},
      {"folders only", {testzip::Folder("aide/"), testzip::Folder("aide/images/")},
       "l'archive ne contient aucun fichier"},
      {"name going up", {testzip::UnixFile(exe, script), testzip::UnixFile("../dehors.txt", "x")},
       "fichier hors du dossier du programme, qui ne sera pas installé : « ../dehors.txt »"},
      {"name going up from a folder", {testzip::UnixFile(exe, script), testzip::UnixFile("aide/../../dehors.txt", "x")},
       "fichier hors du dossier du programme"},
      {"absolute name", {testzip::UnixFile(exe, script), testzip::UnixFile(outside.string(), "x")},
       "fichier hors du dossier du programme"},
      {"name going up the DOS way", {testzip::DosFile(exe, script), testzip::DosFile("..\\dehors.txt", "x")},
       "fichier hors du dossier du programme"},
      {"the install's journal", {testzip::UnixFile(exe, script), testzip::UnixFile(".Quillomet-installation", "x")},
       "fichier au nom réservé à l'installation, qui ne sera pas installé : « .Quillomet-installation »"},
      {"a backup folder", {testzip::UnixFile(exe, script), testzip::UnixFile(".Quillomet-ancien-abc/lisezmoi.txt", "x")},
       "fichier au nom réservé à l'installation"},
      {"a staging folder under another spelling",
       {testzip::UnixFile(exe, script), testzip::UnixFile("./.Quillomet-nouveau-abc/f", "x")},
       "fichier au nom réservé à l'installation"},
      {"the journal's temp file the DOS way", {testzip::DosFile(exe, script), testzip::DosFile(".\\..Quillomet-installation.x", "x")},
       "fichier au nom réservé à l'installation"},
      {"the release record", {testzip::UnixFile(exe, script), testzip::UnixFile(".Quillomet-version", "2099-01-01\n")},
       "fichier au nom réservé à l'installation"},
      {"made on DOS", {testzip::DosFile(exe, script), testzip::DosFile("lisezmoi.txt", "nouvelle version\n")}, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SetDate(folder / exe, 2024, 3, 11, 23);
    const pid_t running = StartMainProgram();
    ServePage("12/03/2024");
    ServeArchive({200, testzip::Archive(c.entries)});
    RecordingView v;
    RunUpdate(v);
    EXPECT_TRUE(Exited(running));
    ASSERT_EQ(v.Messages.size(), 1u);
    if (!c.failure) {
      EXPECT_EQ(v.Messages[0].rfind("La mise à jour de " + exe + " est terminée et installée.", 0), 0u) << v.Messages[0];
      EXPECT_EQ(fs::status(folder / exe).permissions(), fs::perms(0755));
      EXPECT_EQ(fs::status(folder / "lisezmoi.txt").permissions(), fs::perms(0640));
      EXPECT_EQ(testenv::readFile(folder / "lisezmoi.txt"), "nouvelle version\n");
      for (int i = 0; i < 300 && !fs::exists(folder / "restarted"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      EXPECT_TRUE(fs::exists(folder / "restarted")) << "the new program does not start";
    } else {
      EXPECT_NE(v.Messages[0].find(c.failure), std::string::npos) << v.Messages[0];
      EXPECT_EQ(v.Messages[0].find("terminée et installée"), std::string::npos);
      ExpectOldInstallation();
      EXPECT_FALSE(fs::exists(outside));
      ExpectRestartedOldProgram();
      StopRestarted();
    }
  }
}

// A new file keeps the read and execute bits its entry asks for, never set-user, set-group,
// sticky or group and other write bits; a replaced file keeps the mode it had.
TEST_F(UpdateRunTest, NewFilesLoseSpecialAndSharedWriteBits) {
  struct Case {
    const char* name;
    uint32_t mode;
    fs::perms installed;
  };
  const Case cases[] = {
      {"outil", 06777, fs::perms(0755)},  {"collant", 01777, fs::perms(0755)}, {"partage.txt", 0666, fs::perms(0644)},
      {"prive.txt", 0600, fs::perms(0600)}, {"groupe", 02750, fs::perms(0750)}, {"lisezmoi.txt", 06777, fs::perms(0640)},
  };
  fs::permissions(folder / "lisezmoi.txt", fs::perms(0640));
  std::vector<testzip::Entry> entries{testzip::UnixFile(exe, "#!/bin/sh\nexit 0\n", 06777)};
  for (const auto& c : cases) entries.push_back(testzip::UnixFile(c.name, "x", c.mode));
  ServePage("12/03/2024");
  ServeArchive({200, testzip::Archive(entries)});
  RunUpdate(view);
  ASSERT_EQ(view.Messages.size(), 1u);
  EXPECT_EQ(view.Messages[0].rfind("La mise à jour de " + exe + " est terminée et installée.", 0), 0u) << view.Messages[0];
  for (const auto& c : cases) EXPECT_EQ(fs::status(folder / c.name).permissions(), c.installed) << c.name;
  EXPECT_EQ(fs::status(folder / exe).permissions(), fs::perms(0755));
  StopRestarted();
}

// "Newer" is decided by the release the folder records at each install as well as by the
// program's file date, which any copy can set back; a release is only good as the one it was
// signed for, so an old release cannot pose as a later one. A release dated in days to come
// counts, like the program's date, as of the day it was installed: it is not offered again,
// and the later releases are not refused until its date.
TEST_F(UpdateRunTest, AnOlderReleaseIsNeverInstalled) {
  const std::string archive = NewVersionArchive();
  const std::string none = "Aucune nouvelle version de " + exe + "\rn'est disponible sur internet.";
  struct Case {
    const char* what;
    const char* record;  // nullptr: none
    const char* page;
    std::string signedAs;
    bool installs;
    int written[3];  // the record's file date; {}: now
  };
  const Case cases[] = {
      {"an older release with its own signature, under a later date", nullptr, "12/03/2024", "2024-03-01", false, {}},
      {"the archive's bytes signed alone", nullptr, "12/03/2024", "", false, {}},
      {"a release older than the installed one", "2024-03-20\n", "12/03/2024", "2024-03-12", false, {}},
      {"the installed release again", "2024-03-12\n", "12/03/2024", "2024-03-12", false, {}},
      {"a record that is no date", "demain\n", "12/03/2024", "2024-03-12", true, {}},
      {"a release after the installed one", "2024-03-11\n", "12/03/2024", "2024-03-12", true, {}},
      {"a release after one dated in days to come", "2099-01-01\n", "12/03/2024", "2024-03-12", true, {2024, 3, 11}},
      {"the release dated in days to come again", "2099-01-01\n", "01/01/2099", "2099-01-01", false, {2024, 3, 11}},
      {"a release older than the day the one to come was installed", "2099-01-01\n", "12/03/2024", "2024-03-12",
       false, {2024, 3, 20}},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    folder = testenv::makeDir("install-" + std::to_string(++n));
    config.Folder = folder.string() + "/";
    fs::copy_file("/usr/bin/yes", folder / exe);
    testenv::writeFile(folder / "lisezmoi.txt", "ancienne version\n");
    SetDate(folder / exe, 2024, 3, 11, 23);
    if (c.record) testenv::writeFile(folder / kReleaseRecord, c.record);
    if (c.written[0]) SetDate(folder / kReleaseRecord, c.written[0], c.written[1], c.written[2], 12);
    const pid_t running = StartMainProgram();
    ServePage(c.page);
    server.Set("/rv/Quillomet.zip", {200, archive});
    server.Set("/rv/Quillomet.zip.sig",
               {200, c.signedAs.empty() ? publisher.Sign(archive) : publisher.SignRelease(archive, c.signedAs)});
    RecordingView v;
    RunUpdate(v);
    if (c.installs) {
      EXPECT_EQ(testenv::readFile(folder / "lisezmoi.txt"), "nouvelle version\n");
      EXPECT_EQ(testenv::readFile(folder / kReleaseRecord), "2024-03-12\n");
    } else {
      EXPECT_TRUE(StillRuns(running));
      EXPECT_EQ(testenv::readFile(folder / "lisezmoi.txt"), "ancienne version\n");
      EXPECT_EQ(fs::exists(folder / kReleaseRecord), c.record != nullptr);
      if (c.record) {
        EXPECT_EQ(v.Statuses.back(), none);
        EXPECT_TRUE(v.Messages.empty());
      } else {
        ExpectOneMessageStarting(v, "La signature de la mise à jour n'est pas valable : l'archive a été modifiée, "
                                    "n'est pas celle de la version du 12/03/2024 annoncée");
      }
    }
    EXPECT_TRUE(v.Enabled);
    kill(running, SIGKILL);
    StopRestarted();
  }
}

// The download stops at the room the program folder's disk has left (less a margin), whatever
// the server announces or sends; the unpacked files must fit too.
TEST_F(UpdateRunTest, DownloadAndUnpackedFilesStayWithinTheFreeSpace) {
  config.FreeSpace = [this](const std::string& f) -> std::optional<uint64_t> {
    EXPECT_EQ(f, config.Folder);
    return config.DiskMargin + (1 << 20);
  };
  // Announced, then nothing more for a minute: refused without waiting for the body.
  testhttp::Reply announced = testhttp::Reply::Stalled("PK", std::chrono::seconds(60));
  announced.DeclaredLength = 5L << 20;
  testenv::writeFile(testenv::testRoot() / "gros.bin", std::string(3 << 20, '\0'));
  const fs::path bigZip = testenv::testRoot() / "gros.zip";
  ASSERT_EQ(std::system(("cd '" + testenv::testRoot().string() + "' && zip -q gros.zip gros.bin").c_str()), 0);
  testhttp::Reply big(200, testenv::readFile(bigZip));
  const std::string tooBig = "Erreur durant le téléchargement : la mise à jour ne tient pas sur le disque de " +
                             config.Folder + " (1 Mo disponibles)";
  struct Case {
    const char* what;
    testhttp::Reply reply;
    std::string message;
    bool stops;
  };
  const Case cases[] = {
      {"endless body", testhttp::Reply::Unending(), tooBig, false},
      {"announced beyond the room", announced, tooBig, false},
      {"unpacked beyond the room", big,
       "L'installation de la mise à jour a échoué : les fichiers de la mise à jour (3 Mo) ne tiennent pas sur le "
       "disque de " + config.Folder + " (1 Mo disponibles)",
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const pid_t running = StartMainProgram();
    const auto before = testenv::snapshot(folder);
    ServePage("12/03/2024");
    ServeArchive(c.reply);
    RecordingView v;
    RunUpdate(v);
    EXPECT_EQ(testenv::snapshot(folder), before);
    ASSERT_EQ(v.Messages.size(), 1u);
    EXPECT_EQ(v.Messages[0].rfind(c.message, 0), 0u) << v.Messages[0];
    if (c.stops) {
      ExpectRestartedOldProgram();
    } else {
      EXPECT_TRUE(StillRuns(running));
    }
    StopRestarted();
  }
}

}  // namespace

// A release whose page is dated after the files in its archive is installed once, not at every
// check; a page dated in days to come dates the program today, and its record keeps it from
// being offered again.
TEST_F(UpdateRunTest, TheInstalledProgramIsDatedAsItsRelease) {
  using namespace std::chrono;
  const year_month_day today = updater::LocalDate(std::time(nullptr));
  struct Case {
    const char* what;
    const char* page;
    const char* release;
    year_month_day dated;
  };
  const Case cases[] = {
      {"files made before the release day", "12/03/2024", "2024-03-12", 2024y / March / 12},
      {"release day to come", "01/01/2099", "2099-01-01", today},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SetDate(folder / exe, 2023, 6, 1, 10);
    ServePage(c.page);
    // The archive's files are dated 1 January 2024.
    ServeArchive({200, testzip::Archive({testzip::UnixFile(exe, "#!/bin/sh\nexit 0\n", 0755)})}, c.release);
    RecordingView v;
    RunUpdate(v);
    ASSERT_EQ(v.Messages.size(), 1u);
    EXPECT_EQ(v.Messages[0].rfind("La mise à jour de " + exe + " est terminée et installée.", 0), 0u) << v.Messages[0];
    struct stat st;
    ASSERT_EQ(::stat((folder / exe).c_str(), &st), 0);
    EXPECT_EQ(updater::LocalDate(st.st_mtime), c.dated);

    RecordingView again;
    RunUpdate(again);
    EXPECT_TRUE(again.Messages.empty());
    EXPECT_EQ(again.Statuses.back(), "Aucune nouvelle version de " + exe + "\rn'est disponible sur internet.");
    StopRestarted();
  }
}

// Whatever stands in place of the release record, the run neither hangs nor installs over it.
TEST_F(UpdateRunTest, AFifoInPlaceOfTheReleaseRecordIsNoRecord) {
  const pid_t running = StartMainProgram();
  ASSERT_EQ(mkfifo((folder / kReleaseRecord).c_str(), 0644), 0);
  ServePage("12/03/2024");
  ServeArchive({200, NewVersionArchive()});
  RunUpdate(view);
  EXPECT_TRUE(Exited(running));
  ExpectOneMessageStarting(view, "L'installation de la mise à jour a échoué : un fichier spécial (tube, socket ou "
                                 "périphérique) occupe la place du fichier « " + (folder / kReleaseRecord).string());
  EXPECT_EQ(testenv::readFile(folder / "lisezmoi.txt"), "ancienne version\n");
  EXPECT_TRUE(fs::is_fifo(folder / kReleaseRecord));
  EXPECT_EQ(view.Statuses.back(), "La mise à jour de " + exe + " n'a pas été installée.");
  ExpectRestartedOldProgram();
}

// The download's file cannot be made in the program folder (here its name is longer than a
// path may be): the run says so in French, downloads and stops nothing, and installs nothing.
TEST_F(UpdateRunTest, ADownloadFileThatCannotBeCreatedInstallsNothing) {
  // The folder, with its "/", leaves room for the program's name and the release record, not
  // for the download's name (29 bytes).
  const size_t length = 4070;
  fs::path deep = folder;
  const size_t needed = length - 1 - deep.string().size();  // each part takes a "/" too
  const size_t parts = (needed + 200) / 201;
  for (size_t i = 0; i < parts; ++i) deep /= std::string((needed - parts) / parts + (i < (needed - parts) % parts), 'd');
  ASSERT_EQ(deep.string().size() + 1, length);
  fs::create_directories(deep);
  fs::copy_file(folder / exe, deep / exe);
  fs::copy_file(folder / "lisezmoi.txt", deep / "lisezmoi.txt");
  SetDate(deep / exe, 2024, 3, 11, 23);
  config.Folder = deep.string() + "/";
  const pid_t running = StartMainProgram(deep / exe);
  const auto before = testenv::snapshot(deep);
  ServePage("12/03/2024");
  ServeArchive({200, NewVersionArchive()});
  RunUpdate(view);
  EXPECT_TRUE(StillRuns(running));
  EXPECT_EQ(testenv::snapshot(deep), before);
  ExpectOneMessageStarting(view, "Erreur inconnue : impossible de créer un fichier dans " + config.Folder + " : ");
  EXPECT_EQ(view.Statuses.back(), "La mise à jour de " + exe + " n'a pas été installée.");
  EXPECT_TRUE(view.Enabled);
  EXPECT_FALSE(view.Closed);
  EXPECT_EQ(server.Requests(), (std::vector<std::string>{"/quillomet/update.html", "/rv/Quillomet.zip.sig"}));
}

