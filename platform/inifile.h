#pragma once
// Private-profile INI files: "[section]" headers and "key=value" lines.
//
// Reading follows the classic profile rules: section and key names compare without regard to
// ASCII letter case, names and values are trimmed of blanks, one pair of enclosing quotes
// (' or ") is stripped from a value, the first of duplicate sections or keys wins, and a
// missing file, section or key gives the caller's default.
//
// Changes are made in memory and written by UpdateFile() in one atomic replacement (temp file
// in the same folder, fsync, rename), so a failed write leaves the old file as it was. Lines the
// object does not touch are kept as they stand. Values that would not read back unchanged
// (edge blanks, enclosing quotes) are written inside double quotes.
#include <sys/types.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace platform {

class IniFile {
 public:
  // Reads the file at once; a missing file is an empty one. `mode` is the permission of the
  // file that UpdateFile() writes.
  explicit IniFile(std::filesystem::path path, mode_t mode = 0644);

  const std::filesystem::path& Path() const { return path_; }

  std::string ReadString(std::string_view section, std::string_view key, std::string_view def) const;
  // Optional sign and decimal digits, blanks around allowed; anything else gives `def`.
  int ReadInteger(std::string_view section, std::string_view key, int def) const;
  // An integer other than 0 is true; absent or non-numeric gives `def`.
  bool ReadBool(std::string_view section, std::string_view key, bool def) const;
  bool SectionExists(std::string_view section) const;
  bool ValueExists(std::string_view section, std::string_view key) const;
  // Keys of a section in file order (first occurrence of each).
  std::vector<std::string> ReadSection(std::string_view section) const;

  // False (and nothing changed) when the name or the value cannot be stored: an empty or
  // blank-edged name, a key holding "=" or starting with "[" or ";", a section holding "]",
  // any name or value holding a line break or a NUL.
  bool WriteString(std::string_view section, std::string_view key, std::string_view value);
  bool WriteInteger(std::string_view section, std::string_view key, int value);
  bool WriteBool(std::string_view section, std::string_view key, bool value);  // "1" / "0"
  // Removes every line of that key in every section of that name.
  void DeleteKey(std::string_view section, std::string_view key);
  // Removes every section of that name with its lines.
  void EraseSection(std::string_view section);

  // Writes the changes, if any, atomically. False when the write failed or when the file could
  // not be read at construction (other than missing): its content is never replaced blindly.
  bool UpdateFile();

  // The text written after "key=" for a value: quoted when edge blanks or an enclosing pair of
  // quotes would otherwise be lost on reading.
  static std::string EncodeValue(std::string_view value);
  // The value read from the text after "=": trimmed, one enclosing pair of quotes stripped.
  static std::string DecodeValue(std::string_view raw);

 private:
  // One "[name]" line with the lines up to the next one; the lines before the first header
  // form a block without a header. Each block indexes its keys (first occurrence), and the
  // file indexes the first block of every name, so lookups do not scan the file.
  struct Block {
    bool hasHeader = false;
    std::string header;  // the header line as it stands
    std::string name;    // its name, lower case
    std::vector<std::string> lines;
    std::unordered_map<std::string, size_t> keys;  // lower-case key -> first line
    void IndexKeys();
  };
  const Block* FindBlock(std::string_view section) const;
  Block* FindBlock(std::string_view section);
  void IndexBlocks();

  std::filesystem::path path_;
  mode_t mode_;
  std::vector<Block> blocks_;
  std::unordered_map<std::string, size_t> firstBlock_;  // lower-case name -> first block
  bool loaded_ = true;
  bool dirty_ = false;
};

}  // namespace platform
