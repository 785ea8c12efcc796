// backup_run SRC DST [FILTER] [--subdirs] [--overwrite] [--hold-in-copy]
// Runs one backup job through the scheduler's run classes, without a window, and writes the
// same daily log lines into the data folder. Exit 0: done without error rows; 1: error rows;
// 2: not started. --hold-in-copy: in each pass of a copy, once part of the file is copied,
// prints "held" and waits for a line on its input, so a test can change the file meanwhile.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "scheduler/core/backuprun.h"
#include "scheduler/core/dailylog.h"
#include "scheduler/core/scrutedossier.h"

namespace {

std::string DataFolder() {
  std::string base;
  if (const char* x = std::getenv("XDG_DATA_HOME"); x && *x) base = x;
  else if (const char* h = std::getenv("HOME"); h && *h) base = std::string(h) + "/.local/share";
  else base = "/tmp";
  std::string folder = base + "/Quillomet/";
  std::error_code ec;
  std::filesystem::create_directories(base, ec);
  ::mkdir(folder.c_str(), 0700);
  return folder;
}

struct ConsoleView : core::RunView {
  int errors = 0;
  bool holdInCopy = false;
  int lastPercent = 0;
  bool heldThisPass = false;
  void Progress(int percent) override {
    if (percent < lastPercent) heldThisPass = false;  // a new file, or the same one copied again
    lastPercent = percent;
    if (!holdInCopy || heldThisPass || percent <= 0 || percent >= 100) return;
    heldThisPass = true;
    std::printf("held\n");
    std::fflush(stdout);
    for (int c = std::getchar(); c != '\n' && c != EOF; c = std::getchar()) {
    }
  }
  void Reported(const core::LastRunRow& r) override {
    if (r.image != 6) return;
    ++errors;
    std::fprintf(stderr, "%s%s : %s (%s)\n", r.message.c_str(), r.target.c_str(), r.source.c_str(), r.error.c_str());
  }
  void RaiseAlerts(const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }
};

int Usage() {
  std::fprintf(stderr, "usage: backup_run SRC DST [FILTER] [--subdirs] [--overwrite] [--hold-in-copy]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  core::RunJob job;
  ConsoleView view;
  int positional = 0;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--subdirs") job.subfolders = true;
    else if (a == "--overwrite") job.overwrite = true;
    else if (a == "--hold-in-copy") view.holdInCopy = true;
    else if (a.rfind("--", 0) == 0) return Usage();
    else if (positional == 0) job.source = a, ++positional;
    else if (positional == 1) job.target = a, ++positional;
    else if (positional == 2) job.filter = a, ++positional;
    else return Usage();
  }
  if (positional < 2) return Usage();

  core::DailyLog log(DataFolder());
  core::TScruteDossier walker;
  core::BackupRun run(walker, view, log);
  run.LoggingOn = [] { return true; };

  core::StartResult result;
  try {
    result = run.Start(job);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 2;
  }
  switch (result) {
    case core::StartResult::SameFolder:
      std::fprintf(stderr, "impossible de copier sur un même répertoire\n");
      return 2;
    case core::StartResult::SystemRoot:
      std::fprintf(stderr, "Vous devez sélectionner un répertoire ou un disque autre que C:\n");
      return 2;
    case core::StartResult::Busy:
    case core::StartResult::PreflightFailed:
      return 2;
    case core::StartResult::Ran:
      break;
  }
  const auto& c = run.Counters();
  std::printf("Fichiers traités : %d\nFichiers copiés : %d\nRépertoires scannés : %d\n", c.filesTreated,
              c.filesCopied, c.foldersScanned);
  if (c.filesNotCopied > 0) std::printf("Fichiers non copiés : %d\n", c.filesNotCopied);
  return view.errors == 0 ? 0 : 1;
}
