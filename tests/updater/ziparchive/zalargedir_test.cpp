// Changes to archives whose entries share one name: every entry keeps its own data through
// an append, a delete and a rename, with or without a central directory to read.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/updater/ziparchive/zipbuilder.h"
#include "tests/updater/ziparchive/zipwritekit.h"

using namespace zipwritekit;

namespace {

// The name and data of every entry, in directory order.
std::vector<std::pair<std::string, std::string>> entriesOf(const fs::path& path) {
  TZipArchiver zip;
  zip.FileName = path.string();
  zip.OpenArchiveMode(kOpenReadDenyNone);
  const TZADirArray& dir = zip.FDirManager->CurrentDir;
  std::vector<std::pair<std::string, std::string>> out;
  for (int i = 0; i < dir.DirItemCount(); ++i) {
    TZAMemoryStream m;
    zip.ExtractItemToStream(i, m);
    out.emplace_back(dir.DirItemAt(i).Name(), std::string(reinterpret_cast<const char*>(m.Memory()), size_t(m.Size())));
  }
  return out;
}

}  // namespace

TEST(ZipLargeDirectory, EntriesOfOneNameKeepTheirOwnDataThroughChanges) {
  constexpr int kEntries = 20000;
  for (bool withDirectory : {true, false}) {
    SCOPED_TRACE(withDirectory ? "with its directory" : "directory rebuilt from the local headers");
    zipbuilder::Builder b;
    std::vector<std::pair<std::string, std::string>> wanted;
    for (int i = 0; i < kEntries; ++i) {
      b.add(zipbuilder::fileEntry("same.txt", "data " + std::to_string(i) + "\n"));
      wanted.emplace_back("same.txt", "data " + std::to_string(i) + "\n");
    }
    const fs::path path = testenv::makeDir(withDirectory ? "one-name" : "one-name-rebuilt") / "same.zip";
    testenv::writeFile(path, withDirectory ? b.finish() : b.bytes);
    {
      TestArchiver zip;
      zip.FileName = path.string();
      zip.TempDir = testenv::makeDir(withDirectory ? "one-name-temp" : "one-name-rebuilt-temp").string();
      zip.OpenArchive();
      zip.BeginUpdate();
      AddText(zip, "appended.txt", "appended\n");
      zip.DeleteDirEntry(kEntries / 2);
      zip.EndUpdate();
    }
    wanted.erase(wanted.begin() + kEntries / 2);
    wanted.emplace_back("appended.txt", "appended\n");
    EXPECT_EQ(entriesOf(path), wanted);
    {
      TestArchiver zip;
      zip.FileName = path.string();
      zip.OpenArchive();
      zip.BeginUpdate();
      zip.RenameFile("same.txt", "first.txt");  // the first entry of the name
      zip.DeleteDirEntry(1);
      zip.EndUpdate();
    }
    wanted[0].first = "first.txt";
    wanted.erase(wanted.begin() + 1);
    EXPECT_EQ(entriesOf(path), wanted);
    std::string out;
    EXPECT_EQ(peertools::Run("unzip -tq " + peertools::Quote(path.string()), out), 0) << out.substr(0, 2000);
  }
}
