#pragma once
// The commit's journal: the old tail of an archive, kept in a file beside it from before the
// archive is cut until its new directory is on the disk. A commit cut short (a kill, a crash)
// is undone from it the next time the engine opens the archive.
//
// A journal is put back only into the unfinished commit it was written for: the journal is a
// plain file of one link, owned by the archive's owner (or root) and writable by no one else;
// the archive is the same file (device, inode, birth time); it is not a whole archive (no end
// record whose directory ends where the record starts); what follows the cut starts as a
// commit writes it; and its bytes in front of the cut still have the SHA-256 the journal
// recorded (of samples spread over them and of their last block). Any other journal is stale:
// never applied nor followed, and replaced by the next commit unless a live commit holds it.
//
// Layout: a 128-byte header (TZAJournalHeader, CRC-32 at its end), then the tail's bytes. The
// archive is only cut once the journal is sealed (state 1) and flushed; until then the next
// open drops it. The commit holds a write lock on the journal, and its TZAArchiveLock on the
// archive, so that no other process takes a live commit for a dead one.
#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "updater/ziparchive/zastreams.h"

namespace ziparchive {

class TZABaseArchiver;
class TZAArchiveLock;

struct TZAJournalHeader {
  static constexpr int64_t kSize = 128;
  uint32_t State = 0;  // 0: being written, 1: sealed
  uint64_t Device = 0, Inode = 0;
  bool HasBirth = false;  // the file system tells birth times
  int64_t BirthSec = 0;
  uint32_t BirthNsec = 0;
  int64_t Cut = 0, TailLength = 0;
  std::array<uint8_t, 32> HeadHash{};  // SHA-256 of the samples in front of the cut
  // The archive may be its head closed by a directory of its own at the cut (a failed
  // restore): that whole archive is still to be undone.
  bool HeadOnly = false;

  void Encode(uint8_t* raw) const;  // kSize bytes
  // False for what is no whole header of this engine (other magic, short, torn).
  bool Decode(const uint8_t* raw, int64_t length);
};

class TZACommitJournal {
 public:
  // The journal of an archive: its name followed by ".journal", in its folder.
  static std::string NameFor(const std::string& archive);

  // The journal of a commit that cuts the locked archive at cut; a stale journal under its
  // name is replaced. None when no journal can be kept beside the archive (a folder without
  // create rights, a link or no plain file under its name, a file system without locks, an
  // archive of another user): the commit then keeps the tail elsewhere. Code 36 when another commit's journal is there (a
  // live one, or a killed one that the next open puts back); 19 or 46 when it cannot be written.
  static std::unique_ptr<TZACommitJournal> Begin(const TZAArchiveLock& archive, int64_t cut,
                                                 const TZABaseArchiver* owner);
  // Closes the journal; one never sealed is removed.
  ~TZACommitJournal();
  TZACommitJournal(const TZACommitJournal&) = delete;
  TZACommitJournal& operator=(const TZACommitJournal&) = delete;

  // A stream over the tail's bytes (position 0 is the archive's cut position).
  TZAStream* NewTailStream();
  // Flushes the tail and marks it whole: from here on the next open puts the old archive back.
  void Seal(int64_t tailLength);
  bool Sealed() const { return sealed_; }
  // Before a failed restore closes the head of the archive with a directory of its own at the
  // cut: that archive is still put back whole at the next open. False when it cannot be
  // recorded (the head must then stay without a directory).
  bool MarkHeadOnly();
  // The new archive is on the disk: the journal is unsealed, then removed. False when it
  // could be neither unsealed nor removed for good (it would undo the commit at the next open).
  bool Remove();
  const std::string& Name() const { return name_; }

  // At the open of an archive: the journal of its unfinished commit puts the old archive back;
  // one of a commit that never cut it, or that finished, goes; a stale one is left alone.
  // Nothing is done while a commit holds the archive or the journal, or when neither can be
  // locked. Code 48 when the archive holds an unfinished change but cannot be written (a
  // read-only folder or medium), code 46 when the old tail cannot be written back (the journal
  // then stays for the next open).
  static void Recover(const std::string& archive, const TZABaseArchiver* owner);

  // Called at each step of a commit, of a recovery and of an open that may write, with the
  // step's name (for tests that stop a process at a chosen step); none by default.
  static void (*StepHook)(const char* step);
  static void Step(const char* step) {
    if (StepHook != nullptr) StepHook(step);
  }

 private:
  TZACommitJournal(std::string name, int fd, const TZAJournalHeader& header, const TZABaseArchiver* owner);
  std::string name_;
  const TZABaseArchiver* owner_ = nullptr;
  int fd_ = -1;
  TZAJournalHeader header_;
  bool sealed_ = false;
  bool removed_ = false;
};

}  // namespace ziparchive
