#pragma once
// Purge of old daily logs: every "*.log" of the data folder last written before now - days.
#include <cstdint>
#include <ctime>
#include <string>

namespace core {

class TScruteDossier;

// True when a log last written at mtime is older than now minus days (local wall-clock time,
// to the second, in the DOS form's two-second steps). A time the DOS form cannot hold
// (before 1980) keeps the file.
bool LogIsExpired(std::int64_t mtime, std::time_t now, int days);

// The purge decision for one log file: deletes it when expired; true when it was deleted.
bool PurgeLogFile(const std::string& path, std::int64_t mtime, std::time_t now, int days);

// Walks folder (no sub-folders) with walker, deleting the expired "*.log" files; returns how
// many were deleted. A file that cannot be deleted is left and the purge goes on.
int PurgeLogs(TScruteDossier& walker, const std::string& folder, int days, std::time_t now);

}  // namespace core
