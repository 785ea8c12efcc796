// Archives made by other tools (tests/fixtures/zip/make-fixtures.sh) open through the
// component's open dispatch with the right names and sizes.
#include <gtest/gtest.h>

#include <utility>

#include "tests/support/testenv.h"
#include "updater/ziparchive/zaarchiver.h"
#include "updater/ziparchive/zadirmanager.h"

using namespace ziparchive;

namespace {

using Listing = std::vector<std::pair<std::string, int64_t>>;

Listing listingOf(const TZADirManager& m) {
  Listing l;
  for (int i = 0; i < m.CurrentDir.DirItemCount(); ++i) {
    const TDirItem& item = m.CurrentDir.DirItemAt(i);
    l.emplace_back(item.Name(), EffectiveUncompressedSize(item));
  }
  return l;
}

}  // namespace

TEST(ZipFixtures, EveryToolsArchiveListsItsEntries) {
  const Listing plain = {{"hello.txt", 16}, {"dir/", 0}, {"dir/data.bin", 1000}, {"caf\xC3\xA9.txt", 7}};
  const struct {
    const char* file;
    Listing entries;
    TZASpanningMode mode;
  } cases[] = {
      {"infozip-plain.zip", plain, smNone},
      {"infozip-zip64.zip", {{"hello.txt", 16}, {"dir/data.bin", 1000}}, smNone},
      {"infozip-stdin.zip", {{"-", 16}}, smNone},
      {"infozip-split.zip", {{"big.bin", 70000}, {"hello.txt", 16}}, smSplitting},
      {"7zz.zip", {{"caf\xC3\xA9.txt", 7}, {"dir/", 0}, {"dir/data.bin", 1000}, {"hello.txt", 16}}, smNone},
      {"bsdtar.zip", plain, smNone},
      {"python-utf8.zip", {{"R\xC3\xA9sum\xC3\xA9/na\xC3\xAFve \xE2\x82\xAC.txt", 7}, {"hello.txt", 16}}, smNone},
      {"python-zip64.zip", {{"dir/data.bin", 1000}, {"hello.txt", 16}}, smNone},
      {"python-pipe.zip", {{"hello.txt", 16}, {"dir/data.bin", 1000}}, smNone},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    TZipArchiver zip;
    zip.FileName = (testenv::fixtures() / "zip" / c.file).string();
    ASSERT_NO_THROW(zip.OpenArchiveMode(kOpenReadDenyNone));
    ASSERT_TRUE(zip.FDirManager);
    EXPECT_EQ(listingOf(*zip.FDirManager), c.entries);
    EXPECT_EQ(zip.SpanningMode(), c.mode);
    EXPECT_EQ(zip.FDirManager->StubSize, 0);
    zip.CloseArchive();
  }
}

TEST(ZipFixtures, SplitSetFoundWhateverTheCaseOfItsSuffix) {
  // Info-ZIP names the parts ".z01"; a set copied from a system that capitalises gets ".Z01".
  const auto dir = testenv::makeDir("upper");
  std::filesystem::copy_file(testenv::fixtures() / "zip" / "infozip-split.zip", dir / "SET.ZIP");
  std::filesystem::copy_file(testenv::fixtures() / "zip" / "infozip-split.z01", dir / "SET.Z01");
  const auto lower = testenv::makeDir("lower");
  std::filesystem::copy_file(testenv::fixtures() / "zip" / "infozip-split.zip", lower / "set.ZIP");
  std::filesystem::copy_file(testenv::fixtures() / "zip" / "infozip-split.z01", lower / "set.z01");
  for (const auto& path : {dir / "SET.ZIP", lower / "set.ZIP"}) {
    SCOPED_TRACE(path);
    TZipArchiver zip;
    zip.FileName = path.string();
    ASSERT_NO_THROW(zip.OpenArchiveMode(kOpenReadDenyNone));
    EXPECT_EQ(zip.SpanningMode(), smSplitting);
    EXPECT_FALSE(zip.SpanningOptions.AdvancedNaming);
    EXPECT_EQ(zip.FDirManager->CurrentDir.DirItemCount(), 2);
  }
}

TEST(ZipFixtures, StubInFrontOfEveryToolsArchiveIsFoundAndRepaired) {
  // A self-extractor made by putting a program in front of an archive, offsets unchanged.
  const std::string stub = "MZ" + std::string(4094, '\x90');
  for (const char* file : {"infozip-plain.zip", "infozip-zip64.zip", "infozip-stdin.zip", "7zz.zip", "bsdtar.zip",
                           "python-utf8.zip", "python-zip64.zip", "python-pipe.zip"}) {
    SCOPED_TRACE(file);
    const std::string original = testenv::readFile(testenv::fixtures() / "zip" / file);
    const auto path = testenv::writeFile(testenv::testRoot() / file, stub + original);
    TZipArchiver plain, stubbed;
    plain.FileName = (testenv::fixtures() / "zip" / file).string();
    stubbed.FileName = path.string();
    ASSERT_NO_THROW(plain.OpenArchiveMode(kOpenReadDenyNone));
    ASSERT_NO_THROW(stubbed.OpenArchiveMode(kOpenReadDenyNone));
    EXPECT_EQ(stubbed.FDirManager->StubSize, int64_t(stub.size()));
    const TZADirArray& a = plain.FDirManager->CurrentDir;
    const TZADirArray& b = stubbed.FDirManager->CurrentDir;
    ASSERT_EQ(a.DirItemCount(), b.DirItemCount());
    for (int i = 0; i < a.DirItemCount(); ++i)
      EXPECT_EQ(EffectiveLocalHeaderOffset(b.DirItemAt(i)), EffectiveLocalHeaderOffset(a.DirItemAt(i)) + int64_t(stub.size()))
          << a.DirItemAt(i).Name();
  }
}
