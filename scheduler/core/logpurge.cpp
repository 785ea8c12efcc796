#include "scheduler/core/logpurge.h"

#include <unistd.h>

#include "platform/filetimes.h"
#include "scheduler/core/scrutedossier.h"

namespace core {

bool LogIsExpired(std::int64_t mtime, std::time_t now, int days) {
  auto dos = platform::DosDateTime(static_cast<std::time_t>(mtime));
  if (!dos) return false;
  auto written = platform::DosToWallClock(*dos);
  if (!written) return false;
  std::int64_t limit = platform::WallClock(now) - static_cast<std::int64_t>(days) * 86400;
  return *written < limit;
}

bool PurgeLogFile(const std::string& path, std::int64_t mtime, std::time_t now, int days) {
  return LogIsExpired(mtime, now, days) && ::unlink(path.c_str()) == 0;
}

int PurgeLogs(TScruteDossier& walker, const std::string& folder, int days, std::time_t now) {
  int deleted = 0;
  walker.Dossier = folder;
  walker.Filtre = "*.log";
  walker.SousDossier = false;
  walker.OnFichier = [&](TScruteDossier* sender, const std::string& nom) {
    if (PurgeLogFile(nom, sender->CurrentMTime, now, days)) ++deleted;
  };
  walker.Execute();
  return deleted;
}

}  // namespace core
