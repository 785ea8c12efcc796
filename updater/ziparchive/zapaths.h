#pragma once
// Path toolkit of the archive engine: trailing separators, folder tests, drive tests, the
// expansion of names against a base folder and the stored name of a disk file.
// "/" and "\" both read as separators; a drive is a letter and ":" at the very start, and a
// share is "//server/share" (either separator). Everything is computed lexically: the
// process's current folder is read, never changed.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/drives.h"

namespace ziparchive {

enum TZAStorePathMode : uint8_t { spNoPath, spRelativePath, spFullPath, spFullPathWithDrive };

bool IsPathSeparator(char c);
// "X:" at the start, "//server/share" (up to the share's end), else "".
std::string DrivePart(std::string_view path);
// path with every "\" as "/".
std::string ToSlashes(std::string_view path);

// Appends "/" unless the path already ends with a separator ("" gives "/").
std::string AddSlash(std::string_view path);
// Removes one trailing separator.
std::string RemoveSlash(std::string_view path);
bool DirExists(const std::string& path);
// Creates the folder and its missing parents; true when the whole chain exists afterwards.
// made, when given, tells whether the folder itself was created by the call.
bool MakeDirs(const std::string& path, bool* made = nullptr);

bool IsFloppyDrive(std::string_view path);
// A floppy drive name, or a path on a mount whose device is removable.
bool IsRemovableDrive(std::string_view path);
// Where the drive queries read (tests); the default roots are the system's.
void SetDriveQueryRoots(const platform::SystemRoots& roots);
// The mount of the medium that holds path, when it is one the user swaps (a removable disk or
// a CD); none when the path lies on another kind of drive or nothing is mounted there.
std::optional<platform::MountInfo> RemovableMountOf(std::string_view path);
// Every such medium mounted now, in mount order.
std::vector<platform::MountInfo> RemovableMounts();

// Lexical full path: name against folder (folder itself made full against the current
// folder); "." and ".." folded (".." never climbs above the root or drive), "\" read as "/".
std::string FullPathOf(std::string_view name, std::string_view folder);

// AddSlash of folder, or of the current folder when folder is empty.
std::string ExpandAgainstBaseDir(std::string_view folder);
// Name made full against baseDir (the current folder when empty). An empty name gives the
// base folder itself as a full path, or baseDir unchanged when it has a drive or is missing.
std::string ExpandWithBaseDir(std::string_view baseDir, std::string_view name);

// Name under which fileName is stored ("/" separators). Never holds "..", "." or empty
// segments, and no leading separator except in spFullPathWithDrive; "" when nothing remains.
std::string StoredPathFor(std::string_view fileName, std::string_view baseDir, TZAStorePathMode mode);

}  // namespace ziparchive
