#include "platform/volumes.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "tests/support/testenv.h"
#include "tests/support/usbvolume.h"

namespace {

TEST(VolumeSerial, FromTypeAndUuid) {
  const struct {
    const char* type;
    const char* uuid;
    std::optional<std::uint32_t> serial;
  } cases[] = {
      {"vfat", "ABCD-1234", 0xABCD1234u},  // highest bit set: stays unsigned
      {"vfat", "0000-03DB", 987u},
      {"exfat", "1A2B-3C4D", 0x1A2B3C4Du},
      {"ntfs", "0123456789ABCDEF", 0x89ABCDEFu},  // low 32 bits of the 64-bit serial
      {"ext4", "0a1b2c3d-aaaa-bbbb-cccc-000000000000", 0x0A1B2C3Du},
      {"vfat", "", std::nullopt},
      {"vfat", "12-34", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(platform::VolumeSerialOf(c.type, c.uuid), c.serial) << c.type << " " << c.uuid;
}

using testenv::HaveMkfsVfat;
using testenv::MakeFatImage;

TEST(VolumeInformation, LabelAndSerialOfAFatImage) {
  if (!HaveMkfsVfat()) GTEST_SKIP() << "mkfs.vfat (dosfstools) is not installed";
  const std::string image = MakeFatImage();
  ASSERT_FALSE(image.empty());
  const auto info = platform::ReadVolumeInformation(image);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->label, "SAVE");
  EXPECT_EQ(info->serial, 987u);
}

TEST(VolumeInformation, NoneWithoutAFileSystem) {
  EXPECT_FALSE(platform::ReadVolumeInformation((testenv::testRoot() / "missing.img").string()));
  const auto blank = testenv::writeFile(testenv::testRoot() / "blank.img", std::string(1 << 20, '\0'));
  EXPECT_FALSE(platform::ReadVolumeInformation(blank.string()));
  EXPECT_FALSE(platform::ReadVolumeInformation(testenv::testRoot().string()));
}

// A mount table under a private proc root; the block devices are the desktop fixture's.
struct FakeTable {
  platform::SystemRoots roots;
  std::filesystem::path file;
  std::string text;
  FakeTable() {
    roots.proc = testenv::makeDir("proc").string();
    roots.sys = (testenv::fixtures() / "drives-desktop" / "sys").string();
    file = std::filesystem::path(roots.proc) / "self" / "mountinfo";
    std::filesystem::create_directories(file.parent_path());
    Add("22 1 259:2 / / rw - ext4 /dev/nvme0n1p2 rw");
  }
  void Add(const std::string& line) { testenv::writeFile(file, text += line + "\n"); }
  void Set(const std::string& all) { testenv::writeFile(file, text = all); }
};

std::vector<std::string> MountPoints(const std::vector<platform::MountInfo>& mounts) {
  std::vector<std::string> out;
  for (const auto& m : mounts) out.push_back(m.mountPoint);
  return out;
}

TEST(MountWatcher, ReportsEachNewLocalVolumeOnce) {
  FakeTable t;
  t.Add("41 22 8:17 / /media/u/KEY rw - vfat /dev/sdb1 rw");
  platform::MountWatcher w(t.roots);
  EXPECT_GE(w.Fd(), 0);
  EXPECT_TRUE(w.NewVolumes().empty()) << "mounts present at start are known";

  t.Add("42 22 8:33 / /media/u/HDD rw - ext4 /dev/sdc1 rw");
  t.Add("48 22 8:18 / /media/u/MY\\040KEY rw - vfat /dev/sdb2 rw");
  // Not volumes to back up onto: RAM disk, network, optical, a device /sys does not know, a
  // loop device, a fixed disk, an SD card's folder bound elsewhere.
  t.Add("49 22 0:52 / /tmp/ram rw - tmpfs tmpfs rw");
  t.Add("45 22 7:0 / /mnt/image rw - ext4 /dev/loop0 rw");
  t.Add("44 22 259:2 /home /srv/home rw - ext4 /dev/nvme0n1p2 rw");
  t.Add("51 22 179:1 /DCIM /mnt/photos rw - exfat /dev/mmcblk0p1 rw");
  t.Add("50 22 0:53 / /mnt/nfs rw - nfs4 srv:/export rw");
  t.Add("43 22 11:0 / /media/u/CDROM ro - iso9660 /dev/sr0 ro");
  t.Add("60 22 8:49 / /media/u/GONE rw - vfat /dev/sdd1 rw");
  // A second mount of a known device is no arrival.
  t.Add("54 22 8:17 / /srv/data rw - vfat /dev/sdb1 rw");
  EXPECT_EQ(MountPoints(w.NewVolumes()), (std::vector<std::string>{"/media/u/HDD", "/media/u/MY KEY"}));
  EXPECT_TRUE(w.NewVolumes().empty());
  // The card itself mounted whole is one.
  t.Add("52 22 179:1 / /media/u/SD rw - exfat /dev/mmcblk0p1 rw");
  EXPECT_EQ(MountPoints(w.NewVolumes()), std::vector<std::string>{"/media/u/SD"});

  // Unplugged, then plugged in again: a new arrival.
  t.Set("22 1 259:2 / / rw - ext4 /dev/nvme0n1p2 rw\n");
  EXPECT_TRUE(w.NewVolumes().empty());
  t.Add("70 22 8:17 / /media/u/KEY1 rw - vfat /dev/sdb1 rw");
  EXPECT_EQ(MountPoints(w.NewVolumes()), std::vector<std::string>{"/media/u/KEY1"});
}

TEST(MountWatcher, WithoutAMountTableNothingArrives) {
  platform::SystemRoots roots;
  roots.proc = testenv::makeDir("noproc").string();
  platform::MountWatcher w(roots);
  EXPECT_EQ(w.Fd(), -1);
  EXPECT_TRUE(w.NewVolumes().empty());
}

// A real loop mount of the FAT image, its device marked as a USB stick in a /sys of our own:
// the watcher sees it, the identity reads from its device, and the mount check follows it.
TEST(MountWatcher, SeesARealLoopMount) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting a loop device needs root";
  if (!HaveMkfsVfat()) GTEST_SKIP() << "mkfs.vfat (dosfstools) is not installed";
  const std::string image = MakeFatImage();
  ASSERT_FALSE(image.empty());
  const std::string point = testenv::makeDir("mnt").string();
  platform::SystemRoots roots;
  roots.sys = testenv::makeDir("sys").string();
  platform::MountWatcher real, marked(roots);
  testenv::LoopMount loop(image, point);
  if (!loop.mounted()) GTEST_SKIP() << "this machine cannot mount a FAT image on a loop device";
  const platform::MountInfo m = loop.info();
  testenv::MarkRemovable(roots.sys, m.major, m.minor, "sdy");
  EXPECT_TRUE(real.NewVolumes().empty()) << "a loop device is no USB stick";
  const auto fresh = marked.NewVolumes();
  ASSERT_EQ(fresh.size(), 1u);
  EXPECT_EQ(fresh[0].mountPoint, point);
  const auto info = platform::ReadVolumeInformation(fresh[0], roots);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->label, "SAVE");
  EXPECT_EQ(info->serial, 987u);
  EXPECT_TRUE(platform::StillMounted(point, m.major, m.minor, roots));
  loop.Unmount();
  EXPECT_FALSE(platform::StillMounted(point, m.major, m.minor, roots));
}

// Label and serial from udev's database when the device itself cannot be read.
TEST(VolumeInformation, FromUdevWhenTheDeviceIsUnreadable) {
  platform::SystemRoots roots;
  roots.run = testenv::makeDir("run").string();
  testenv::writeFile(std::filesystem::path(roots.run) / "udev" / "data" / "b8:17",
                     "S:disk/by-uuid/0000-03DB\nE:ID_FS_LABEL=MY_KEY\nE:ID_FS_LABEL_ENC=MY\\x20KEY\\x2f\\xc3\\xa9\n"
                     "E:ID_FS_UUID=0000-03DB\nE:ID_FS_TYPE=vfat\n");
  platform::MountInfo m;
  m.major = 8;
  m.minor = 17;
  m.source = (testenv::testRoot() / "no-such-device").string();
  const auto info = platform::ReadVolumeInformation(m, roots);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->label, "MY KEY/é");
  EXPECT_EQ(info->serial, 987u);
  m.minor = 18;
  EXPECT_FALSE(platform::ReadVolumeInformation(m, roots)) << "no udev record, no information";
}

}  // namespace
