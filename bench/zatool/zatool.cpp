// zatool: lists, tests or extracts an archive through the engine.
//   zatool list ARCHIVE [MASK]       one line per entry: sizes, method, CRC-32, time, name
//   zatool test [-q] ARCHIVE [MASK]  checks every entry's data, one line per entry (-q: failures only);
//                         fails too for an encrypted entry it cannot check (no password) and for
//                         an archive without its directory
//   zatool extract [-F] ARCHIVE DIR [MASK]   writes the entries matching MASK under DIR;
//                         files on a removable drive are flushed one by one (-F: never).
//                         Failures are reported and passed over.
//   zatool add [-P PASSWORD] [-0..-9] ARCHIVE PATH...   adds files, and folders with everything
//                         below them, named relative to the current folder; creates the archive
//   zatool delete ARCHIVE NAME...    removes entries (a folder with everything below it)
//   zatool rename ARCHIVE OLD NEW    renames an entry (a folder with everything below it)
// MASK selects entries as the engine's search does (default "*.*").
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "updater/ziparchive/zaarchiver.h"
#include "updater/ziparchive/zadirmanager.h"
#include "updater/ziparchive/zaentrydata.h"
#include "updater/ziparchive/zaexcept.h"

using namespace ziparchive;

namespace {

int usage() {
  std::fprintf(stderr,
               "usage: zatool list ARCHIVE [MASK]\n       zatool test [-q] ARCHIVE [MASK]\n"
               "       zatool extract [-F] ARCHIVE DIR [MASK]\n"
               "       zatool add [-P PASSWORD] [-0..-9] ARCHIVE PATH...\n"
               "       zatool delete ARCHIVE NAME...\n       zatool rename ARCHIVE OLD NEW\n");
  return 2;
}

std::string methodName(uint16_t method) {
  switch (method) {
    case 0: return "Stored";
    case 8: return "Deflate";
    case 9: return "Deflate64";
    default: return "M" + std::to_string(method);
  }
}

// Calls visit with the index of every entry that the mask selects; returns their count.
template <class Visit>
int forEachMatch(TZipArchiver& zip, const std::string& mask, Visit visit) {
  TZAArchiveItem found;
  int count = 0;
  for (bool ok = zip.FindFirstItem(mask, found, kDefaultSearchAttr, ""); ok; ok = zip.FindNextItem(found)) {
    visit(found.InternalSearchRec.ItemIndex);
    ++count;
  }
  return count;
}

int list(TZipArchiver& zip, const std::string& mask) {
  const TZADirArray& dir = zip.FDirManager->CurrentDir;
  if (zip.FDirManager->IsRebuilt)
    std::fprintf(stderr, "zatool: damaged archive: no central directory; entries rebuilt from their local headers\n");
  std::printf("%12s %12s %-9s %-8s %-19s %s\n", "Length", "Compressed", "Method", "CRC-32", "Modified", "Name");
  int64_t total = 0, packed = 0;
  const int count = forEachMatch(zip, mask, [&](int i) {
    const TDirItem& item = dir.DirItemAt(i);
    const int64_t size = EffectiveUncompressedSize(item), csize = EffectiveCompressedSize(item);
    total += size;
    packed += csize;
    const unsigned d = item.LastModDate, t = item.LastModTime;
    std::printf("%12lld %12lld %-9s %08x %04u-%02u-%02u %02u:%02u:%02u %.*s\n", (long long)size, (long long)csize,
                methodName(item.CompressionMethod).c_str(), item.Crc32, 1980 + (d >> 9), (d >> 5) & 15, d & 31,
                t >> 11, (t >> 5) & 63, (t & 31) * 2, int(item.Name().size()), item.Name().data());
  });
  std::printf("%12lld %12lld %d entries\n", (long long)total, (long long)packed, count);
  return 0;
}

// Decompresses every selected entry to a discarding sink; 1 when any fails, when an entry
// could not be checked (encrypted, no password) or when the archive has no directory.
int test(TZipArchiver& zip, const std::string& mask, bool quiet) {
  const TZADirArray& dir = zip.FDirManager->CurrentDir;
  const bool rebuilt = zip.FDirManager->IsRebuilt;
  if (rebuilt) std::printf("DAMAGED archive: no central directory; entries rebuilt from their local headers\n");
  int failed = 0, unchecked = 0;
  const int count = forEachMatch(zip, mask, [&](int i) {
    TZADiscardStream sink;
    std::string why;
    zip.FSkip = false;
    try {
      zip.ExtractItemToStream(i, sink);
    } catch (const EZAException& e) {
      why = e.NativeError == 8 ? DataStatusText(zip.FLastDataStatus) : e.what();
    } catch (const std::exception& e) {
      why = e.what();
    }
    const std::string name(dir.DirItemAt(i).Name());
    if (!why.empty()) {
      ++failed;
      std::printf("FAILED  %s: %s\n", name.c_str(), why.c_str());
    } else if (zip.FSkip) {
      ++unchecked;
      std::printf("SKIPPED %s: encrypted, no password given: data not checked\n", name.c_str());
    } else if (!quiet) {
      std::printf("OK      %s\n", name.c_str());
    }
  });
  if (failed == 0 && unchecked == 0 && !rebuilt) {
    std::printf("No errors in %d entries\n", count);
    return 0;
  }
  if (failed > 0) std::printf("%d of %d entries failed\n", failed, count);
  if (unchecked > 0) std::printf("%d of %d entries not checked\n", unchecked, count);
  if (rebuilt) std::printf("Archive damaged: directory missing, %d entries found from their local headers\n", count);
  return 1;
}

int extract(int argc, char** argv) {
  int a = 2;
  const bool flush = !(a < argc && std::strcmp(argv[a], "-F") == 0);
  if (!flush) ++a;
  if (argc - a != 2 && argc - a != 3) return usage();
  TZipArchiver zip;
  zip.FileName = argv[a];
  zip.OpenArchiveMode(kOpenReadDenyNone);
  zip.BaseDir = argv[a + 1];
  zip.Options.FlushBuffers = flush;
  zip.OnProcessFileFailure = [](TZABaseArchiver*, const std::string& name, TZAProcessOperation, int32_t,
                                int32_t, const std::string& message, TZAAction& action) {
    std::fprintf(stderr, "zatool: %s: %s\n", name.c_str(), message.c_str());
    action = fxaIgnore;
  };
  const TZABatchResult r = zip.ExtractFiles(argc - a == 3 ? argv[a + 2] : "*.*", kDefaultSearchAttr, "");
  std::printf("%d extracted, %d skipped, %d failed\n", r.Done, r.Skipped, r.Failed);
  // A skipped entry (encrypted, and no password can be given here) was not extracted.
  return r.Succeeded() && r.Skipped == 0 ? 0 : 1;
}

// Failures of single entries are reported and passed over; the rest is written.
void reportFailures(TZipArchiver& zip, int& failed) {
  zip.OnProcessFileFailure = [&failed](TZABaseArchiver*, const std::string& name, TZAProcessOperation, int32_t,
                                       int32_t, const std::string& message, TZAAction& action) {
    std::fprintf(stderr, "zatool: %s : %s\n", name.c_str(), message.c_str());
    ++failed;
    action = fxaIgnore;
  };
}

int add(int argc, char** argv) {
  TZipArchiver zip;
  zip.Zip64Mode = zmAuto;  // files and archives past 4 GiB
  int a = 2;
  for (; a < argc && argv[a][0] == '-' && argv[a][1] != '\0'; ++a) {
    if (std::strcmp(argv[a], "-P") == 0 && a + 1 < argc) {
      zip.Password = argv[++a];
    } else if (argv[a][1] >= '0' && argv[a][1] <= '9' && argv[a][2] == '\0') {
      zip.SetCompressionMode(argv[a][1] - '0');
    } else {
      return usage();
    }
  }
  if (argc - a < 2) return usage();
  int failed = 0;
  reportFailures(zip, failed);
  zip.FileName = argv[a];
  zip.OpenArchive();
  zip.BeginUpdate();
  for (int i = a + 1; i < argc; ++i) {
    try {
      zip.AddFiles(argv[i]);
    } catch (const EZAException& e) {
      std::fprintf(stderr, "zatool: %s : introuvable, rien n'est ajouté pour ce nom\n", argv[i]);
      ++failed;
    }
  }
  const int entries = zip.FDirManager->CurrentDir.DirItemCount();
  zip.EndUpdate();
  zip.CloseArchive();
  std::printf("%d entries\n", entries);
  return failed > 0 ? 1 : 0;
}

// Indexes of the entries called name, or lying below the folder name, in directory order.
std::vector<int> indexesUnder(TZipArchiver& zip, std::string name) {
  std::vector<int> found;
  for (char& c : name)
    if (c == '\\') c = '/';
  const std::string folder = name.empty() || name.back() == '/' ? name : name + "/";
  const TZADirArray& dir = zip.FDirManager->CurrentDir;
  for (int i = 0; i < dir.DirItemCount(); ++i) {
    const std::string_view entry = dir.DirItemAt(i).Name();
    if (entry == name || entry.starts_with(folder)) found.push_back(i);
  }
  return found;
}

std::vector<std::string> namesUnder(TZipArchiver& zip, const std::string& name) {
  std::vector<std::string> found;
  for (int i : indexesUnder(zip, name)) found.emplace_back(zip.FDirManager->CurrentDir.DirItemAt(i).Name());
  return found;
}

int removeOrRename(int argc, char** argv, bool rename) {
  if (argc < 4 || (rename && argc != 5)) return usage();
  TZipArchiver zip;
  zip.Zip64Mode = zmAuto;
  int failed = 0;
  reportFailures(zip, failed);
  zip.FileName = argv[2];
  zip.OpenArchiveMode(kOpenReadWriteDenyWrite);
  // Every name must be there before anything changes.
  std::vector<std::vector<std::string>> targets;
  for (int i = 3; i < (rename ? 4 : argc); ++i) {
    targets.push_back(namesUnder(zip, argv[i]));
    if (targets.back().empty()) {
      std::fprintf(stderr, "zatool: %s : aucune entrée de ce nom dans l'archive, elle reste inchangée\n", argv[i]);
      return 1;
    }
  }
  if (rename && !namesUnder(zip, argv[4]).empty()) {
    std::fprintf(stderr, "zatool: %s : ce nom existe déjà dans l'archive, elle reste inchangée\n", argv[4]);
    return 1;
  }
  zip.BeginUpdate();
  if (rename) {
    std::string from = argv[3], to = argv[4];
    for (char& c : from)
      if (c == '\\') c = '/';
    for (char& c : to)
      if (c == '\\') c = '/';
    for (const std::string& entry : targets[0]) {
      if (entry == from) {
        zip.RenameFile(entry, to);
      } else {
        // Below a renamed folder: the folder part changes.
        const std::string folder = from.back() == '/' ? from : from + "/";
        const std::string newFolder = to.empty() || to.back() == '/' ? to : to + "/";
        zip.RenameFile(entry, newFolder + entry.substr(folder.size()));
      }
    }
  } else {
    // All in one pass, by index: no name is looked up, whatever the number of entries of
    // the same name or below the folder.
    std::vector<int> doomed;
    for (int i = 3; i < argc; ++i) {
      const std::vector<int> found = indexesUnder(zip, argv[i]);
      doomed.insert(doomed.end(), found.begin(), found.end());
    }
    zip.DeleteDirEntries(std::move(doomed));
  }
  zip.EndUpdate();
  zip.CloseArchive();
  return failed > 0 ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string verb = argc >= 2 ? argv[1] : "";
  if (verb == "add" || verb == "delete" || verb == "rename") {
    try {
      return verb == "add" ? add(argc, argv) : removeOrRename(argc, argv, verb == "rename");
    } catch (const std::exception& e) {
      std::fprintf(stderr, "zatool: %s\n", e.what());
      return 1;
    }
  }
  if (argc >= 2 && std::strcmp(argv[1], "extract") == 0) {
    try {
      return extract(argc, argv);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "zatool: %s\n", e.what());
      return 1;
    }
  }
  if (argc < 3) return usage();
  const std::string command = argv[1];
  if (command != "list" && command != "test") return usage();
  int a = 2;
  const bool quiet = command == "test" && std::strcmp(argv[a], "-q") == 0;
  if (quiet) ++a;
  if (argc - a != 1 && argc - a != 2) return usage();
  const std::string mask = argc - a == 2 ? argv[a + 1] : "*.*";
  try {
    TZipArchiver zip;
    zip.FileName = argv[a];
    zip.OpenArchiveMode(kOpenReadDenyNone);
    return command == "list" ? list(zip, mask) : test(zip, mask, quiet);
  } catch (const EZAException& e) {
    std::fprintf(stderr, "zatool: %s\n", e.what());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zatool: %s\n", e.what());
  }
  return 1;
}
