#pragma once
// TScruteDossier: walks a folder tree on the calling thread and reports, folder by folder, the
// regular files that match a ";"-separated mask list (mask after mask), then the sub-folders,
// parents before children. Long walks stay responsive through the injected Pump, called about
// every PumpInterval while the walk runs.
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace core {

class TScruteDossier;

using TScruteEvent = std::function<void(TScruteDossier* Sender, const std::string& Nom)>;
using TNotifyEvent = std::function<void(TScruteDossier* Sender)>;
// A folder that could not be opened or read to its end, with the errno of the failure.
using TScruteErrorEvent = std::function<void(TScruteDossier* Sender, const std::string& Nom, int error)>;

// A folder as the file system knows it, whatever path leads to it.
struct FolderId {
  std::uint64_t dev = 0;
  std::uint64_t ino = 0;
  bool operator==(const FolderId&) const = default;
};

class TScruteDossier {
 public:
  TScruteDossier() = default;
  TScruteDossier(const TScruteDossier&) = delete;
  TScruteDossier& operator=(const TScruteDossier&) = delete;

  // Walk parameters; OnExecute may still change them for the walk it starts.
  std::string Dossier = "/";
  std::string Filtre = "*.*";
  bool SousDossier = true;
  int MaxPenetration = 10000;  // deepest level walked, root = 0; negative = no limit
  // A folder neither reported nor entered wherever it shows up in the tree (a backup's
  // target reached through a mount or a bind mount inside the source).
  std::optional<FolderId> Excluded;

  TScruteEvent OnFichier;  // one file found
  TScruteEvent OnDossier;  // one sub-folder found, before it is entered
  TNotifyEvent OnCreate;   // kept for the form; never fired
  TNotifyEvent OnExecute;  // first step of a walk
  TNotifyEvent OnFinExecute;  // last step of a walk, also after a stop
  TScruteErrorEvent OnErreur;  // a folder that cannot be read (one that vanished is not reported)

  // Event pump (the scheduler binds it to the Qt event loop); may be empty.
  std::function<void()> Pump;
  std::chrono::milliseconds PumpInterval{30};

  // Progress of the walk, kept after it ends.
  std::string CurrentFile;
  std::string CurrentFolder;
  std::int64_t CurrentSize = 0;  // size of the last file reported
  std::int32_t CurrentTime = 0;  // its last-write time, packed DOS form (local time); 0 outside 1980-2107
  std::int64_t CurrentMTime = 0;  // the same time in seconds since the epoch
  int Depth = 0;

  bool Stop = false;     // set by anyone to end the walk at the next entry
  bool Running = false;  // true while a walk runs

  // Walks the tree; does nothing while a walk of this instance runs. An exception from a
  // handler leaves at once (no OnFinExecute) with Running cleared.
  void Execute();

 private:
  struct Walk;
  void ScanFolder(Walk& walk, int level, const std::string& folder);
  void PumpMaybe(Walk& walk);
};

}  // namespace core
