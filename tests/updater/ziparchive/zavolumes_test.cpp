#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "tests/support/testenv.h"
#include "tests/updater/ziparchive/peertools.h"
#include "tests/updater/ziparchive/zipbuilder.h"
#include "updater/ziparchive/zaarchiver.h"
#include "updater/ziparchive/zadirmanager.h"
#include "updater/ziparchive/zaexcept.h"
#include "updater/ziparchive/zavolumes.h"

using namespace ziparchive;
namespace fs = std::filesystem;

TEST(ZipVolumes, VolumeNames) {
  const struct {
    const char* name;
    int32_t n;
    TZASpanningMode mode;
    bool advanced, sfx;
    const char* expected;
  } cases[] = {
      {"/b/arc.zip", 0, smSplitting, true, false, "/b/arc_001.zip"},
      {"/b/arc.zip", 0, smSplitting, false, false, "/b/arc.z01"},
      {"/b/arc.zip", 9, smSplitting, false, false, "/b/arc.z10"},
      {"/b/arc.zip", 999, smSplitting, true, false, "/b/arc_1000.zip"},
      {"/b/ARC.ZIP", 0, smSplitting, false, false, "/b/ARC.Z01"},
      {"/b/arc.zip", -1, smSplitting, false, false, "/b/arc.zip"},
      {"/b/arc.exe", 0, smSplitting, true, true, "/b/arc.exe"},
      {"/b/arc.exe", 3, smSplitting, false, true, "/b/arc.z04"},
      {"/b/arc.exe", -1, smSplitting, true, true, "/b/arc.zip"},
      {"/b/ARC.EXE", -1, smSplitting, true, true, "/b/ARC.ZIP"},
      {"/b/arc.zip", 0, smSpanning, true, false, "/b/arc_001.zip"},
      {"/b/arc.zip", 2, smSpanning, false, false, "/b/arc.zip"},
      {"/b/arc.zip", 1, smSpanning, true, true, "/b/arc_002.exe"},
      {"/b/arc.zip", -1, smSpanning, true, false, "/b/arc.zip"},
      {"/b/arc.zip", 4, smNone, true, false, "/b/arc.zip"},
      {"noext", 0, smSplitting, false, false, "noext.z01"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(VolumeFileNameFor(c.name, c.n, c.mode, c.advanced, c.sfx), c.expected)
        << c.name << " volume " << c.n << " mode " << int(c.mode);
  EXPECT_EQ(OtherCaseVolumeFileName("/b/arc.zip", 0, smSplitting, false, false), "/b/arc.Z01");
  EXPECT_TRUE(IsSfxName("/b/Setup.EXE"));
  EXPECT_FALSE(IsSfxName("/b/exe.zip"));
}

namespace {

std::string randomBytes(size_t n, unsigned seed) {
  std::mt19937 r(seed);
  std::string s(n, '\0');
  for (char& c : s) c = char(r());
  return s;
}

// Writes a split archive as the update writer would: local headers kept whole on a volume,
// data across volumes, then the directory.
class SplitWriter {
 public:
  explicit SplitWriter(const fs::path& file, int64_t volumeSize = 65536, TZASpanningMode mode = smSplitting,
                       TZAOnRequestBlankVolumeEvent blank = nullptr) {
    zip.FileName = file.string();
    zip.SetSpanningMode(mode);
    zip.OnRequestBlankVolume = std::move(blank);
    zip.SpanningOptions.AdvancedNaming = false;
    zip.SpanningOptions.VolumeSize = vsCustom;
    zip.SpanningOptions.SetCustomVolumeSize(volumeSize);
    zip.OpenArchiveMode(kCreateArchiveMode);
  }

  void add(const std::string& name, const std::string& data) {
    zipbuilder::Entry e;
    e.name = name;
    e.data = data;
    const std::string header = zipbuilder::Builder::localHeader(e);
    zip.WriteAcrossVolumesChecked(header.data(), int64_t(header.size()), zip.FArchiveStream, zip.FVolumeInfo, 0,
                                  nullptr);
    TZADirArray& dir = zip.FDirManager->CurrentDir;
    dir.SetDirItemCount(dir.DirItemCount() + 1);
    TDirItem& item = dir.EditDirItem(dir.DirItemCount() - 1);
    std::string central = zipbuilder::Builder::centralHeader(e);
    DecodeCentralHeader(reinterpret_cast<const uint8_t*>(central.data()), item);
    item.SetName(name);
    item.DiskNumberStart = uint16_t(zip.FVolumeInfo.VolumeNumber);
    item.LocalHeaderOffset = uint32_t(zip.FArchiveStream->Size() - int64_t(header.size()));
    zip.WriteAcrossVolumesChecked(data.data(), int64_t(data.size()), zip.FArchiveStream, zip.FVolumeInfo, -1,
                                  nullptr);
  }

  void finish() {
    zip.FDirManager->WriteCentralDir();
    zip.CloseArchive();
  }

  TZipArchiver zip;
};

std::vector<std::string> filesIn(const fs::path& dir) {
  std::vector<std::string> v;
  for (const auto& e : fs::directory_iterator(dir)) v.push_back(e.path().filename().string());
  std::sort(v.begin(), v.end());
  return v;
}

void expectPeer(const std::string& command, const std::string& mustShow) {
  std::string out;
  EXPECT_EQ(peertools::Run(command, out), 0) << command << "\n" << out;
  EXPECT_NE(out.find(mustShow), std::string::npos) << command << "\n" << out;
}

}  // namespace

TEST(ZipVolumes, SplitSetWrittenHereIsReadHereAndByPeers) {
  const fs::path dir = testenv::makeDir("split");
  {
    SplitWriter w(dir / "set.zip");
    w.add("one.bin", randomBytes(50000, 1));
    w.add("two.bin", randomBytes(50000, 2));
    w.add("three.txt", "small\n");
    w.add("four.bin", randomBytes(50000, 4));
    w.finish();
  }
  EXPECT_EQ(filesIn(dir), (std::vector<std::string>{"set.z01", "set.z02", "set.zip"}));
  EXPECT_EQ(fs::file_size(dir / "set.z01"), 65536u);
  EXPECT_EQ(fs::file_size(dir / "set.z02"), 65536u);

  TZipArchiver zip;
  zip.FileName = (dir / "set.zip").string();
  zip.OpenArchiveMode(kOpenReadDenyNone);
  EXPECT_EQ(zip.SpanningMode(), smSplitting);
  EXPECT_FALSE(zip.SpanningOptions.AdvancedNaming);
  const TZADirArray& entries = zip.FDirManager->CurrentDir;
  ASSERT_EQ(entries.DirItemCount(), 4);
  EXPECT_EQ(entries.DirItemAt(0).DiskNumberStart, 0);
  EXPECT_EQ(entries.DirItemAt(3).Name(), "four.bin");
  EXPECT_EQ(entries.DirItemAt(3).DiskNumberStart, 1);  // 50000 + 50000 + 6 bytes before it
  TZAEndRecord end = zip.FDirManager->EndRecordFields();
  EXPECT_EQ(end.ThisVolume, 2);
  zip.CloseArchive();

  const std::string set = peertools::Quote((dir / "set.zip").string());
  if (!peertools::Have("7zz") || !peertools::Have("zip") || !peertools::Have("unzip"))
    GTEST_SKIP() << "7zz, zip or unzip missing: run scripts/install-deps.sh";
  expectPeer("7zz t " + set, "Everything is Ok");
  const std::string joined = peertools::Quote((dir / "joined.zip").string());
  expectPeer("zip -s 0 " + set + " --out " + joined + " && unzip -t " + joined, "No errors detected");
}

TEST(ZipVolumes, DirectorySpreadOverSeveralVolumes) {
  const fs::path dir = testenv::makeDir("spread");
  {
    SplitWriter w(dir / "many.zip");
    for (int i = 0; i < 2000; ++i) w.add("folder/a-rather-long-entry-name-" + std::to_string(i) + ".txt", "");
    w.finish();
  }
  EXPECT_GE(filesIn(dir).size(), 5u);
  TZipArchiver zip;
  zip.FileName = (dir / "many.zip").string();
  zip.OpenArchiveMode(kOpenReadDenyNone);
  ASSERT_EQ(zip.FDirManager->CurrentDir.DirItemCount(), 2000);
  EXPECT_EQ(zip.FDirManager->CurrentDir.DirItemAt(1999).Name(), "folder/a-rather-long-entry-name-1999.txt");
  TZAEndRecord end = zip.FDirManager->EndRecordFields();
  EXPECT_LT(end.DirStartVolume, end.ThisVolume);
  zip.CloseArchive();
  if (peertools::Have("7zz")) expectPeer("7zz t " + peertools::Quote((dir / "many.zip").string()), "Files: 2000");
}

TEST(ZipVolumes, BlockLargerThanAnEmptyVolumeFailsInsteadOfMakingVolumes) {
  const fs::path dir = testenv::makeDir("toolarge");
  SplitWriter w(dir / "big.zip");
  const std::string header(70000, 'h');
  try {
    w.zip.WriteAcrossVolumesChecked(header.data(), int64_t(header.size()), w.zip.FArchiveStream, w.zip.FVolumeInfo,
                                    0, nullptr);
    ADD_FAILURE() << "no exception";
  } catch (const EZAException& e) {
    EXPECT_EQ(e.NativeError, 46);
  }
  // Bytes that may be split fill the volumes in turn.
  w.zip.WriteAcrossVolumesChecked(header.data(), int64_t(header.size()), w.zip.FArchiveStream, w.zip.FVolumeInfo,
                                  -1, nullptr);
  EXPECT_EQ(w.zip.FVolumeInfo.VolumeNumber, 1);
  w.zip.CloseArchive();
  EXPECT_EQ(filesIn(dir), (std::vector<std::string>{"big.z01", "big.z02"}));
}

TEST(ZipVolumes, VolumeWrittenInThisRunIsNotTakenAsABlankOne) {
  const fs::path dir = testenv::makeDir("reuse");
  SplitWriter w(dir / "arc.zip");
  const std::string first = (dir / "arc.z01").string();
  // A handler that keeps offering the first volume again.
  int asked = 0;
  w.zip.OnRequestBlankVolume = [&](TZABaseArchiver*, int32_t, std::string& name, bool&) {
    ++asked;
    name = first;
  };
  const std::string data = randomBytes(70000, 9);
  try {
    w.zip.WriteAcrossVolumesChecked(data.data(), int64_t(data.size()), w.zip.FArchiveStream, w.zip.FVolumeInfo, -1,
                                    nullptr);
    ADD_FAILURE() << "no exception";
  } catch (const EZAException& e) {
    EXPECT_EQ(e.NativeError, 45);  // refused, then the default disk-full answer cancels
  }
  EXPECT_EQ(asked, 1);
  w.zip.CloseArchive();
  EXPECT_TRUE(testenv::readFile(first) == data.substr(0, 65536)) << "the first volume is kept whole";
}

TEST(ZipVolumes, SpanningModeDetectedFromTheEndRecord) {
  const fs::path dir = testenv::makeDir("detect");
  zipbuilder::Builder b;
  zipbuilder::Entry e;
  e.name = "last.txt";
  b.add(e);
  zipbuilder::EndOptions on2;
  on2.thisVolume = 2;
  on2.dirStartVolume = 2;
  const std::string disk2 = b.finish(on2);
  zipbuilder::Builder single;
  single.add(e);
  const std::string disk0 = single.finish();

  struct Case {
    const char* what;
    std::string archive;
    std::vector<std::string> others;
    TZASpanningMode before, mode;
    bool advanced;
  } cases[] = {
      {"disk 2 with arc.Z02 beside it", disk2, {"arc.Z02"}, smNone, smSplitting, false},
      {"disk 2 with arc_002.zip beside it", disk2, {"arc_002.zip"}, smNone, smSplitting, true},
      {"disk 0 whatever was set before", disk0, {}, smSplitting, smNone, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(dir);
    fs::create_directories(dir);
    testenv::writeFile(dir / "arc.zip", c.archive);
    for (const std::string& other : c.others) testenv::writeFile(dir / other, "");
    TZipArchiver zip;
    zip.FileName = (dir / "arc.zip").string();
    zip.SetSpanningMode(c.before);
    zip.OpenArchiveMode(kOpenReadDenyNone);
    EXPECT_EQ(zip.SpanningMode(), c.mode);
    EXPECT_EQ(zip.SpanningOptions.AdvancedNaming, c.advanced);
    EXPECT_EQ(zip.FDirManager->CurrentDir.DirItemCount(), 1);
    zip.CloseArchive();
  }
}

TEST(ZipVolumes, ArchiveWithoutEndRecordIsDamagedWhenDamagedArchivesAreRefused) {
  zipbuilder::Builder b;
  zipbuilder::Entry e;
  e.name = "only.txt";
  e.data = "local header only";
  b.add(e);
  const auto path = testenv::writeFile(testenv::testRoot() / "cut.zip", b.bytes);
  TZipArchiver zip;
  zip.FileName = path.string();
  zip.FOpenDamaged = false;
  try {
    zip.OpenArchiveMode(kOpenReadDenyNone);
    ADD_FAILURE() << "no exception";
  } catch (const EZAException& ex) {
    EXPECT_EQ(ex.NativeError, 48);
  }
  EXPECT_FALSE(zip.Active());
  // With damaged archives allowed (the default) the directory is rebuilt.
  zip.FOpenDamaged = true;
  zip.OpenArchiveMode(kOpenReadDenyNone);
  ASSERT_EQ(zip.FDirManager->CurrentDir.DirItemCount(), 1);
  EXPECT_EQ(zip.FDirManager->CurrentDir.DirItemAt(0).Name(), "only.txt");
}

TEST(ZipVolumes, Zip64RecordsOfASplitArchiveNameTheRealVolumes) {
  const fs::path dir = testenv::makeDir("split64");
  {
    SplitWriter w(dir / "wide.zip", 1 << 20);
    for (int i = 0; i < 65535; ++i) w.add("e" + std::to_string(i), "");
    w.finish();
  }
  TZipArchiver zip;
  zip.FileName = (dir / "wide.zip").string();
  zip.OpenArchiveMode(kOpenReadDenyNone);
  const TZADirManager& m = *zip.FDirManager;
  ASSERT_TRUE(m.IsZip64);
  EXPECT_EQ(m.CurrentDir.DirItemCount(), 65535);
  const TZAEndRecord end = m.EndRecordFields();
  const TZAZip64EndRecord z = m.Zip64EndRecordFields();
  const TZAZip64Locator loc = m.Zip64LocatorFields();
  const uint32_t last = uint32_t(filesIn(dir).size() - 1);
  EXPECT_GE(last, 4u);
  EXPECT_EQ(end.ThisVolume, last);
  EXPECT_EQ(z.ThisVolume, last);
  EXPECT_EQ(loc.Zip64EndVolume, last);
  EXPECT_EQ(loc.TotalVolumes, last + 1);
  EXPECT_EQ(z.DirStartVolume, end.DirStartVolume);
  EXPECT_LT(z.DirStartVolume, last);
  zip.CloseArchive();
  if (peertools::Have("7zz")) expectPeer("7zz t " + peertools::Quote((dir / "wide.zip").string()), "Files: 65535");
}

TEST(ZipVolumes, SpannedArchiveFollowsTheNamesTheRequestsGive) {
  // Each "disk" is a folder; the handlers name the volume on it.
  const fs::path root = testenv::makeDir("disks");
  auto disk = [&](int number) {
    fs::create_directories(root / ("disk" + std::to_string(number)));
    return (root / ("disk" + std::to_string(number)) / "arc.zip").string();
  };
  const std::string data = randomBytes(150000, 3);
  {
    SplitWriter w(disk(1), 65536, smSpanning,
                  [&](TZABaseArchiver*, int32_t number, std::string& name, bool&) { name = disk(number); });
    w.add("payload.bin", data);
    w.add("after.txt", "after\n");
    w.finish();
  }
  // Every volume is kept on its own disk; none is replaced by another.
  EXPECT_TRUE(testenv::readFile(disk(1)).substr(30 + 11, 1000) == data.substr(0, 1000));
  EXPECT_EQ(fs::file_size(disk(1)), 65536u);
  EXPECT_EQ(fs::file_size(disk(2)), 65536u);
  EXPECT_TRUE(fs::exists(disk(3)));

  TZipArchiver zip;
  zip.FileName = disk(3);
  zip.OnRequestMiddleVolume = [&](TZABaseArchiver*, int32_t number, std::string& name, bool&) { name = disk(number); };
  zip.OnRequestFirstVolume = [&](TZABaseArchiver*, std::string& name, bool&) { name = disk(1); };
  zip.OnRequestLastVolume = [&](TZABaseArchiver*, std::string& name, bool&) { name = disk(3); };
  zip.OpenArchiveMode(kOpenReadDenyNone);
  EXPECT_EQ(zip.SpanningMode(), smSpanning);
  ASSERT_EQ(zip.FDirManager->CurrentDir.DirItemCount(), 2);
  EXPECT_EQ(zip.FDirManager->CurrentDir.DirItemAt(1).Name(), "after.txt");
  EXPECT_EQ(zip.FDirManager->CurrentDir.DirItemAt(1).DiskNumberStart, 2);
}

TEST(ZipVolumes, NewArchiveStartsWithItsStub) {
  const fs::path dir = testenv::makeDir("sfx");
  const std::string stub = "MZ" + std::string(70000, 's');
  testenv::writeFile(dir / "stub.bin", stub);
  {
    TZipArchiver zip;
    zip.FileName = (dir / "single.exe").string();
    zip.SFXStub = (dir / "stub.bin").string();
    zip.OpenArchiveMode(kCreateArchiveMode);
    EXPECT_EQ(zip.FDirManager->StubSize, int64_t(stub.size()));
    EXPECT_EQ(zip.FArchiveStream->Size(), int64_t(stub.size()));
    zip.FDirManager->WriteCentralDir();
    zip.CloseArchive();
  }
  EXPECT_TRUE(testenv::readFile(dir / "single.exe").substr(0, stub.size()) == stub);
  TZipArchiver back;
  back.FileName = (dir / "single.exe").string();
  back.OpenArchiveMode(kOpenReadDenyNone);
  EXPECT_EQ(back.FDirManager->StubSize, int64_t(stub.size())) << "an empty archive's stub is all before its end record";

  // A first volume too small for the stub.
  TZipArchiver split;
  split.FileName = (dir / "split.exe").string();
  split.SFXStub = (dir / "stub.bin").string();
  split.SetSpanningMode(smSplitting);
  split.SpanningOptions.VolumeSize = vsCustom;
  split.SpanningOptions.SetCustomVolumeSize(65536);
  try {
    split.OpenArchiveMode(kCreateArchiveMode);
    ADD_FAILURE() << "no exception";
  } catch (const EZAException& e) {
    EXPECT_EQ(e.NativeError, 47);
  }
  EXPECT_FALSE(split.Active());
}

TEST(ZipVolumes, CopyAcrossVolumesReportsProgressAndStopsWhenTheSourceEnds) {
  const fs::path dir = testenv::makeDir("copy");
  SplitWriter w(dir / "copy.zip", 1000000);
  std::vector<std::pair<int, double>> progress;
  w.zip.OnCopyTempFileProgress = [&](TZABaseArchiver*, double value, TZAProgressPhase phase, bool&) {
    progress.emplace_back(int(phase), value);
  };
  const std::string data = randomBytes(2500000, 5);
  TZAMemoryStream source;
  source.WriteBuffer(data.data(), int64_t(data.size()));
  source.SetPosition(0);
  bool cancel = false;
  int64_t copied = w.zip.CopyStreamAcrossVolumes(source, w.zip.FArchiveStream, w.zip.FVolumeInfo, cancel, -1, -1,
                                                 nullptr, true);
  EXPECT_EQ(copied, int64_t(data.size()));
  EXPECT_EQ(w.zip.FVolumeInfo.VolumeNumber, 2);
  ASSERT_GE(progress.size(), 3u);
  EXPECT_EQ(progress.front(), std::make_pair(int(ppStart), 0.0));
  EXPECT_EQ(progress.back(), std::make_pair(int(ppEnd), 100.0));
  EXPECT_EQ(progress[progress.size() - 2], std::make_pair(int(ppProcess), 100.0));

  // Asked for more than the source holds: the copy ends with what there was.
  source.SetPosition(int64_t(data.size()) - 10);
  copied = w.zip.CopyStreamAcrossVolumes(source, w.zip.FArchiveStream, w.zip.FVolumeInfo, cancel, 5000, -1, nullptr,
                                         false);
  EXPECT_EQ(copied, 10);
  w.zip.CloseArchive();
  EXPECT_TRUE(testenv::readFile(dir / "copy.z01") == data.substr(0, 1000000));
}

TEST(ZipVolumes, SelfExtractingSplitSetOpensFromItsFirstVolume) {
  const fs::path dir = testenv::makeDir("sfxsplit");
  {
    SplitWriter w(dir / "setup.exe");
    w.add("one.bin", randomBytes(50000, 11));
    w.add("two.bin", randomBytes(50000, 12));
    w.add("three.bin", randomBytes(50000, 13));
    w.finish();
  }
  // Volume 0 keeps the program's name, the last one is "<name>.zip".
  EXPECT_EQ(filesIn(dir), (std::vector<std::string>{"setup.exe", "setup.z02", "setup.zip"}));
  TZipArchiver zip;
  zip.FileName = (dir / "setup.exe").string();
  zip.OpenArchiveMode(kOpenReadDenyNone);
  EXPECT_EQ(zip.SpanningMode(), smSplitting);
  ASSERT_EQ(zip.FDirManager->CurrentDir.DirItemCount(), 3);
  EXPECT_EQ(zip.FDirManager->CurrentDir.DirItemAt(2).Name(), "three.bin");
}

namespace {

// A desktop's mount table, written by the test: the system disk and the media in the drives
// now, each mounted in a folder of the test named after its label. Media labels are refused
// and recorded, as for a user without the rights.
class Desktop {
 public:
  Desktop() : root_(testenv::makeDir("desktop")) {
    roots_.proc = (root_ / "proc").string();
    roots_.sys = (testenv::fixtures() / "drives-desktop/sys").string();
    fs::create_directories(root_ / "proc" / "self");
    Mount({});
    SetDriveQueryRoots(roots_);
    SetVolumeLabeller([this](const platform::MountInfo& m, const std::string& label) {
      labels.push_back(fs::path(m.mountPoint).filename().string() + " " + label);
      return false;
    });
  }
  ~Desktop() {
    SetDriveQueryRoots({});
    SetVolumeLabeller(nullptr);
  }

  fs::path MountPoint(const std::string& label) const { return root_ / "media" / "u" / label; }

  // The media mounted now: label -> device ("8:17", "8:18" and "179:1" are removable disks,
  // "11:0" a CD drive).
  void Mount(const std::vector<std::pair<std::string, std::string>>& media) {
    std::string table = "22 1 259:2 / / rw,relatime shared:1 - ext4 /dev/nvme0n1p2 rw\n";
    int id = 40;
    for (const auto& [label, device] : media) {
      fs::create_directories(MountPoint(label));
      const char* type = device == "11:0" ? "iso9660" : "vfat";
      table += std::to_string(id++) + " 22 " + device + " / " + MountPoint(label).string() + " rw,nosuid shared:2 - " +
               type + " /dev/sdx rw\n";
    }
    testenv::writeFile(root_ / "proc" / "self" / "mountinfo", table);
  }

  std::vector<std::string> labels;

 private:
  fs::path root_;
  platform::SystemRoots roots_;
};

}  // namespace

TEST(ZipVolumes, SpannedVolumesFollowTheMediumWhereverItIsMounted) {
  Desktop desk;
  const char* devices[] = {"8:17", "8:18", "179:1"};
  desk.Mount({{"DISK1", devices[0]}});
  const fs::path archive = desk.MountPoint("DISK1") / "backups" / "arc.zip";
  const std::string data = randomBytes(150000, 21);
  std::vector<std::string> asked;
  int diskFull = 0;
  {
    int inDrive = 1;
    SplitWriter w(archive, 65536, smSpanning, [&](TZABaseArchiver*, int32_t number, std::string& name, bool& cancel) {
      asked.push_back(std::to_string(number) + " " + fs::path(name).parent_path().parent_path().filename().string());
      cancel = asked.size() > 10;
      if (number == inDrive) return;
      if (inDrive != 0) {
        // The full disk comes out: the drive is empty when the request is made.
        desk.Mount({});
        inDrive = 0;
        return;
      }
      // The next disk goes in, with an unrelated card mounted elsewhere; the desktop mounts
      // the disk under its own label.
      desk.Mount({{"CARD", devices[2]}, {"DISK" + std::to_string(number), devices[(number - 1) % 2]}});
      inDrive = number;
    });
    w.zip.OnDiskFull = [&](TZABaseArchiver*, int32_t, const std::string&, bool& cancel) {
      ++diskFull;
      cancel = true;
    };
    w.add("payload.bin", data);
    w.add("after.txt", "after\n");
    w.finish();
    EXPECT_EQ(w.zip.FileName, (desk.MountPoint("DISK3") / "backups" / "arc.zip").string());
  }
  // An empty drive is asked for again: never a stream error, a full disk, or a file on the
  // system disk under the empty mount point.
  EXPECT_EQ(asked, (std::vector<std::string>{"1 DISK1", "2 DISK1", "2 DISK1", "3 DISK2", "3 DISK2"}));
  EXPECT_EQ(diskFull, 0);
  for (int disk = 1; disk <= 3; ++disk) {
    const fs::path mount = desk.MountPoint("DISK" + std::to_string(disk));
    EXPECT_EQ(filesIn(mount), (std::vector<std::string>{"backups"})) << disk;
    EXPECT_EQ(filesIn(mount / "backups"), (std::vector<std::string>{"arc.zip"})) << disk;
  }
  EXPECT_TRUE(filesIn(desk.MountPoint("CARD")).empty());
  EXPECT_EQ(fs::file_size(desk.MountPoint("DISK1") / "backups" / "arc.zip"), 65536u);
  // Each medium is labelled (and the refusal ignored).
  EXPECT_EQ(desk.labels, (std::vector<std::string>{"DISK1 pkback# 001", "DISK2 pkback# 002", "DISK3 pkback# 003"}));

  // Reading: the last disk is in; each other disk comes back at a mount of another name, the
  // second one burnt to a CD.
  desk.Mount({{"DISK3", devices[2]}});
  auto insert = [&](int disk) {
    const fs::path from = desk.MountPoint("DISK" + std::to_string(disk));
    const std::string label = "KEY" + std::to_string(disk);
    if (fs::exists(from)) fs::rename(from, desk.MountPoint(label));
    desk.Mount({{label, disk == 2 ? "11:0" : devices[(disk - 1) % 2]}});
  };
  int requests = 0;
  TZipArchiver zip;
  zip.SpanningOptions.AdvancedNaming = false;  // as written: every disk holds an "arc.zip"
  zip.FileName = (desk.MountPoint("DISK3") / "backups" / "arc.zip").string();
  zip.OnRequestFirstVolume = [&](TZABaseArchiver*, std::string&, bool& cancel) {
    cancel = ++requests > 10;
    insert(1);
  };
  zip.OnRequestMiddleVolume = [&](TZABaseArchiver*, int32_t number, std::string&, bool& cancel) {
    cancel = ++requests > 10;
    insert(number);
  };
  zip.OnRequestLastVolume = [&](TZABaseArchiver*, std::string&, bool& cancel) {
    cancel = ++requests > 10;
    insert(3);
  };
  zip.OpenArchiveMode(kOpenReadDenyNone);
  EXPECT_EQ(zip.SpanningMode(), smSpanning);
  const fs::path out = testenv::makeDir("out");
  zip.BaseDir = out.string();
  const TZABatchResult r = zip.ExtractFiles("*.*", 0x28BF, "");
  EXPECT_TRUE(r.Succeeded());
  EXPECT_TRUE(testenv::readFile(out / "payload.bin") == data);
  EXPECT_EQ(testenv::readFile(out / "after.txt"), "after\n");
  EXPECT_LE(requests, 4);
}

TEST(ZipVolumes, FreeSpaceOfASpannedVolumeIsItsMediumsOnly) {
  Desktop desk;
  desk.Mount({{"DISK1", "8:17"}});
  TZipArchiver zip;
  zip.SetSpanningMode(smSpanning);
  const std::string onMedium = (desk.MountPoint("DISK1") / "missing-folder" / "arc.zip").string();
  EXPECT_GT(zip.FreeSpaceOfDrive(onMedium), 65536);
  std::string name = onMedium;
  EXPECT_TRUE(zip.FollowMedium(name));
  ASSERT_TRUE(zip.FMedium);
  // The medium is taken out; its mount point stays behind on the system disk.
  desk.Mount({});
  EXPECT_EQ(zip.FreeSpaceOfDrive(onMedium), -1);
  EXPECT_EQ(zip.FreeSpaceOfDrive((desk.MountPoint("DISK1") / "arc.zip").string()), -1);
  EXPECT_FALSE(zip.FollowMedium(name));
  // Volumes in plain folders: the folder's own disk, none when the folder is not there.
  zip.FMedium.reset();
  const fs::path plain = testenv::makeDir("plain");
  EXPECT_GT(zip.FreeSpaceOfDrive((plain / "arc.zip").string()), 0);
  EXPECT_EQ(zip.FreeSpaceOfDrive((plain / "gone" / "arc.zip").string()), -1);
}
