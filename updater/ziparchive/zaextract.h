#pragma once
// Safety rules of extraction: where an entry may land, when an existing file is replaced,
// which times and modes the written file gets, and the writer that never touches the
// target until the data has checked out.
#include <fcntl.h>
#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "updater/ziparchive/zanames.h"

namespace ziparchive {

// ---- target paths ----------------------------------------------------------------------

struct TZAExtractTarget {
  bool Refused = false;              // hostile or empty name: nothing may be written
  bool IsFolder = false;             // the entry only makes a folder (or nothing)
  std::filesystem::path Folder;      // folder the file lands in (to create with CreateDirs)
  std::filesystem::path File;        // the file to write; empty for a folder entry
};

// True for names that must never be joined to a base folder: empty, NUL bytes, a leading
// "/" (also "//host"), a leading drive "X:", or any ".." segment. Expects "/" separators.
bool IsHostileEntryName(std::string_view name);

// Joins an entry name ("\" or "/" separators) to the base folder. isFolder: the entry is
// a folder (attribute 0x10 or a name ending with a separator). handlerPath: the name was
// set by the caller's OnExtractFile handler, whose absolute paths are used as they stand.
// Every other name is checked both as given and after flattening when createDirs is off.
TZAExtractTarget ResolveExtractTarget(const std::filesystem::path& baseDir, std::string_view name,
                                      bool isFolder, bool createDirs, bool handlerPath);

// What is at a target path now; a link counts as itself, never as what it points to.
struct TZAExistingTarget {
  bool Exists = false;
  bool IsFolder = false;
  bool ReadOnly = false;              // a regular file without the owner-write bit
  uint32_t DosTime = 0;               // its modification time in DOS form
  std::optional<mode_t> Mode;         // permission bits of a regular file it replaces
};
TZAExistingTarget InspectTarget(const std::filesystem::path& target);

// ---- folders held open -----------------------------------------------------------------

// A folder held open (O_PATH) while files are written in it, so that their names are looked
// up in it without walking its path again. Its path is walked once, as any path walk does.
class TZAOpenFolder {
 public:
  explicit TZAOpenFolder(int fd) : fd_(fd) {}
  ~TZAOpenFolder();
  TZAOpenFolder(const TZAOpenFolder&) = delete;
  TZAOpenFolder& operator=(const TZAOpenFolder&) = delete;
  int Fd() const { return fd_; }

 private:
  int fd_;
};
using TZAFolderRef = std::shared_ptr<const TZAOpenFolder>;
// nullptr with errno set when the folder cannot be opened ("" is the current folder).
TZAFolderRef OpenFolder(const std::string& path);

// As InspectTarget, for a name in an open folder.
TZAExistingTarget InspectTargetIn(const TZAOpenFolder& folder, const std::string& name);

// ---- DOS times -------------------------------------------------------------------------

// Date in the high 16 bits, time in the low 16 bits.
inline uint32_t DosDateTime(uint16_t date, uint16_t time) {
  return (static_cast<uint32_t>(date) << 16) | time;
}
// Local-time conversions; disk times outside 1980-2107 are clamped to the ends of the range.
time_t DosDateTimeToUnix(uint32_t dosDateTime);
uint32_t UnixToDosDateTime(time_t t);

enum class TZAOverwriteRule { Always, Never, IfNewer, IfOlder };
// The time rules of an existing target: True when the disk file is to be kept.
// DOS date-times compare unsigned, so years from 2044 on stay after 1980.
bool KeepExistingByTime(TZAOverwriteRule rule, uint32_t diskTime, uint32_t entryTime);

// ---- modes -----------------------------------------------------------------------------

// Mode of an extracted file. A Unix-made entry with a stored mode gets its permission bits
// (no set-id or sticky bits; links and other types count as plain files of the default
// mode); any other entry keeps the mode of the file it replaces, else 0666 less the umask.
// The read-only attribute clears the write bits. setAttributes False: no stored value is used.
mode_t ExtractedFileMode(uint16_t versionMadeBy, uint32_t externalAttributes, bool setAttributes,
                         std::optional<mode_t> replacedMode, mode_t umaskBits);

// The process umask, read without changing it.
mode_t CurrentUmask();

// ---- the writer ------------------------------------------------------------------------

// Writes a file through an exclusive temp file in the target's folder; the target is
// replaced by rename only on Commit, so a link at the target is replaced, never followed,
// and any failure leaves the old file as it was and no temp file behind.
class TZASafeFileWriter {
 public:
  TZASafeFileWriter() = default;
  ~TZASafeFileWriter();
  TZASafeFileWriter(const TZASafeFileWriter&) = delete;
  TZASafeFileWriter& operator=(const TZASafeFileWriter&) = delete;

  // Creates the temp file, mode 0600; or, when the umask is given, the mode the file is to get,
  // so that Commit to that mode has no chmod to do. With folder (the open folder of the target),
  // names are looked up in it. False with errno set on failure.
  bool Open(const std::filesystem::path& target, mode_t mode = 0600, std::optional<mode_t> umaskBits = {},
            TZAFolderRef folder = {});
  bool IsOpen() const { return fd_ >= 0; }
  int Fd() const { return fd_; }
  const std::filesystem::path& TempPath() const { return temp_; }
  const std::filesystem::path& Target() const { return target_; }
  int64_t Written() const { return written_; }

  // Appends bytes; returns the count written (short only on a write error).
  int64_t Write(const void* data, int64_t count);

  // Sets mode and mtime, fsyncs when flush, closes and renames over the target (with noReplace,
  // only when no target exists: else False with EEXIST). False with errno set when any step
  // fails; the temp file is then removed.
  bool Commit(mode_t mode, time_t mtime, bool flush, bool noReplace = false);
  // Closes and removes the temp file; the target is not touched.
  void Discard();

 private:
  // The names the calls take: base names in folder_, else the paths as they stand.
  int At() const { return folder_ ? folder_->Fd() : AT_FDCWD; }
  std::string NameOf(const std::filesystem::path& path) const;

  int fd_ = -1;
  TZAFolderRef folder_;
  std::optional<mode_t> created_;  // mode of the temp file, when known
  int64_t written_ = 0;
  std::filesystem::path target_;
  std::filesystem::path temp_;
};

}  // namespace ziparchive
