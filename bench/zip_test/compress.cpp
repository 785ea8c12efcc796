// zip_compress_bench: writes an archive of a folder through the engine's entry writer, the way
// an update stores files (deflate at the given level), for the compression benchmark.
//   zip_compress_bench -LEVEL OUT.zip DIR
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "updater/ziparchive/zaarchiver.h"
#include "updater/ziparchive/zadirmanager.h"
#include "updater/ziparchive/zaexcept.h"
#include "updater/ziparchive/zaextract.h"

using namespace ziparchive;
namespace fs = std::filesystem;

int main(int argc, char** argv) {
  if (argc != 4 || argv[1][0] != '-') {
    std::fprintf(stderr, "usage: zip_compress_bench -LEVEL OUT.zip DIR\n");
    return 2;
  }
  const int level = std::atoi(argv[1] + 1);
  const fs::path root = argv[3];
  std::vector<fs::path> files;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    if (e.is_regular_file()) files.push_back(e.path());
  }
  std::sort(files.begin(), files.end());
  try {
    TZipArchiver zip;
    zip.Zip64Mode = zmAuto;
    zip.FileName = argv[2];
    zip.OpenArchiveMode(kCreateArchiveMode);
    TZADirArray& dir = zip.FDirManager->CurrentDir;
    for (const fs::path& file : files) {
      struct stat st {};
      if (stat(file.c_str(), &st) != 0) continue;
      TDirItem item;
      item.Signature = kCentralHeaderSignature;
      item.SetName(fs::relative(file, root).generic_string());
      item.EditPending().SourceFileName = file.string();
      item.CompressionMethod = level > 0 ? 8 : 0;
      item.EntryCompressionMode = static_cast<uint8_t>(level);
      const uint32_t dos = UnixToDosDateTime(st.st_mtime);
      item.LastModDate = static_cast<uint16_t>(dos >> 16);
      item.LastModTime = static_cast<uint16_t>(dos);
      item.ExternalAttributes = 0x20;
      TZAFileStream source(file.string(), fmOpenRead | fmShareDenyNone);
      zip.FArchiveStream->Seek(0, soEnd);
      if (!zip.WriteItemHeaderAndData(*zip.FArchiveStream, item, &source)) return 1;
      dir.SetDirItemCount(dir.DirItemCount() + 1);
      dir.PutDirItem(dir.DirItemCount() - 1, item);
    }
    zip.FDirManager->WriteCentralDir();
    zip.CloseArchive();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zip_compress_bench: %s\n", e.what());
    return 1;
  }
  return 0;
}
