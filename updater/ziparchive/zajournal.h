#pragma once
// The commit's journal: the old tail of an archive, kept in a file beside it from before the
// archive is cut until its new directory is on the disk. A commit cut short (a kill, a crash)
// is undone from it the next time the engine opens the archive.
//
// Layout: a 64-byte header (magic, state, identity of the archive, cut position, tail length,
// CRC-32 of the bytes in front of the cut, CRC-32 of the header), then the tail's bytes. The
// archive is only cut once the journal is sealed (state 1) and flushed; until then the next
// open drops it. While a commit runs it holds a write lock on the archive (an open file
// description lock), so that no other process takes a live commit for a dead one.
#include <cstdint>
#include <memory>
#include <string>

#include "updater/ziparchive/zastreams.h"

namespace ziparchive {

class TZABaseArchiver;

class TZACommitJournal {
 public:
  // The journal of an archive: its name followed by ".journal", in its folder.
  static std::string NameFor(const std::string& archive);

  // Locks the archive and creates its journal for a commit that cuts it at cut. Code 36 when
  // another commit holds the archive or a journal is already there; code 19 when the journal
  // cannot be created (a folder without room or rights).
  TZACommitJournal(const std::string& archive, int64_t cut, const TZABaseArchiver* owner);
  // Closes the journal and releases the lock; the file stays unless Remove ran.
  ~TZACommitJournal();
  TZACommitJournal(const TZACommitJournal&) = delete;
  TZACommitJournal& operator=(const TZACommitJournal&) = delete;

  // A stream over the tail's bytes (position 0 is the archive's cut position).
  TZAStream* NewTailStream();
  // Flushes the tail and marks it whole: from here on the next open puts the old archive back.
  void Seal(int64_t tailLength);
  bool Sealed() const { return sealed_; }
  // The new archive is on the disk: the journal goes. False when it could not be removed nor
  // unsealed (it would undo the commit at the next open).
  bool Remove();
  const std::string& Name() const { return name_; }

  // At the open of an archive: a sealed journal puts the old archive back, an unsealed one
  // goes. Nothing is done while another commit holds the archive, when the archive cannot be
  // written, or when the journal belongs to other bytes than the archive holds now. Code 46
  // when the old tail cannot be written back (the journal then stays for the next open).
  static void Recover(const std::string& archive, const TZABaseArchiver* owner);

  // Called at each step of a commit and of a recovery with the step's name (for tests that
  // stop a process at a chosen step); none by default.
  static void (*StepHook)(const char* step);
  static void Step(const char* step) {
    if (StepHook != nullptr) StepHook(step);
  }

 private:
  std::string archive_, name_;
  const TZABaseArchiver* owner_ = nullptr;
  int lockFd_ = -1;  // the archive, opened for its lock and its identity
  int fd_ = -1;      // the journal
  int64_t cut_ = 0;
  bool sealed_ = false;
  bool removed_ = false;
};

}  // namespace ziparchive
