#include "platform/drives.h"

#include <gtest/gtest.h>

#include "tests/support/testenv.h"

namespace {

platform::SystemRoots Desktop() {
  const auto root = testenv::fixtures() / "drives-desktop";
  return {(root / "proc").string(), (root / "sys").string()};
}

TEST(Drives, KindOfTheMountThatHoldsThePath) {
  using K = platform::DriveKind;
  struct Case {
    const char* path;
    K kind;
    const char* flag;
  } cases[] = {
      {"/media/u/KEY/Sauvegardes", K::Removable, "1"},  // USB stick: RM bit of its disk
      {"/media/u/KEY", K::Removable, "1"},
      {"/media/u/MY KEY/docs", K::Removable, "1"},      // escaped blank in the mount point
      {"/media/u/HDD/backup", K::Fixed, "0"},           // USB hard disk: no RM bit
      {"/media/u/CDROM/disc", K::CdRom, "1"},
      {"/media/u/DVD", K::CdRom, "1"},                  // udf on a drive sysfs does not know
      {"/media/u/SD/photos", K::Removable, "1"},        // MMC card
      {"/tmp/x/y", K::RamDisk, "1"},
      {"/tmp/ram/z", K::RamDisk, "1"},                  // ramfs inside tmpfs
      {"/mnt/share/dir", K::Remote, "0"},               // cifs
      {"/mnt/nfs", K::Remote, "0"},
      {"/run/user/1000/gvfs/smb-share:server=pc,share=s", K::Remote, "0"},
      {"/mnt/image/inside", K::Fixed, "0"},             // loop device
      {"/home/u/Documents", K::Fixed, "0"},             // the root file system
      {"/media/u/KEYS", K::Fixed, "0"},                 // a prefix of a name is not the mount
      {"/srv/data/x", K::Removable, "1"},               // the later of two mounts on one point
      {"/media/u/KEY/../HDD/x", K::Fixed, "0"},
      {"", K::NoRoot, "0"},
      {"relative/path", K::NoRoot, "0"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(platform::DriveKindOf(c.path, Desktop()), c.kind) << c.path;
    EXPECT_EQ(platform::RemovableDriveFlag(c.path, Desktop()), c.flag) << c.path;
  }
}

TEST(Drives, MountDetails) {
  const auto m = platform::MountOf("/mnt/share/a/b", Desktop());
  ASSERT_TRUE(m);
  EXPECT_EQ(m->mountPoint, "/mnt/share");
  EXPECT_EQ(m->fsType, "cifs");
  EXPECT_EQ(m->source, "//pc/share");
  const auto key = platform::MountOf("/media/u/KEY/f", Desktop());
  ASSERT_TRUE(key);
  EXPECT_EQ(key->major, 8u);
  EXPECT_EQ(key->minor, 17u);
}

TEST(Drives, UnreadableMountTableKnowsNoDrive) {
  const platform::SystemRoots none{(testenv::testRoot() / "noproc").string(), (testenv::testRoot() / "nosys").string()};
  EXPECT_EQ(platform::DriveKindOf("/home", none), platform::DriveKind::NoRoot);
  EXPECT_EQ(platform::RemovableDriveFlag("/home", none), "0");
}

TEST(Drives, RealMachineAnswersForItsOwnFolders) {
  // The test's own folder lies on some real mount; a missing sub-folder is looked up by its parent.
  const std::string here = testenv::testRoot().string();
  EXPECT_NE(platform::DriveKindOf(here), platform::DriveKind::NoRoot);
  EXPECT_EQ(platform::DriveKindOf(here + "/not/yet/made"), platform::DriveKindOf(here));
  EXPECT_EQ(platform::DriveKindOf("/dev/shm"), platform::DriveKind::RamDisk);
}

TEST(Drives, SpaceOfTheFileSystem) {
  const std::string here = testenv::testRoot().string();
  const auto free = platform::FreeSpace(here);
  ASSERT_TRUE(free);
  EXPECT_GT(platform::espacedisk(here), 0);
  EXPECT_LE(*free / 1048576u, static_cast<std::uint64_t>(platform::espacedisk(here)));
  EXPECT_FALSE(platform::FreeSpace(here + "/missing"));
  EXPECT_EQ(platform::espacedisk(here + "/missing"), 0);
  EXPECT_EQ(platform::espacedisk(""), 0);
}

}  // namespace
