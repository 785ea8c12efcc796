#pragma once
// Small stored (uncompressed) ZIP archives built byte by byte, for entries that common tools do
// not make: another host system, DOS attributes only, Unix links.
#include <cstdint>
#include <string>
#include <vector>

namespace testzip {

struct Entry {
  std::string Name;  // "/" at the end for a folder
  std::string Data;
  uint16_t VersionMadeBy = (3 << 8) | 20;  // Unix
  uint32_t ExternalAttributes = 0100644u << 16;
};

// A Unix file with the mode, a DOS file (archive bit only), a Unix symbolic link, a folder.
Entry UnixFile(std::string name, std::string data, uint32_t mode = 0644);
Entry DosFile(std::string name, std::string data);
Entry UnixLink(std::string name, std::string target);
Entry Folder(std::string name);

std::string Archive(const std::vector<Entry>& entries);

}  // namespace testzip
