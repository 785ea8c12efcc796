#pragma once
// USB volumes for tests: a FAT image labelled SAVE with the serial number 987, a mount table
// and a /sys of our own that make a device look like a USB stick, and a real loop mount.
#include <sys/mount.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/drives.h"
#include "tests/support/testenv.h"

namespace testenv {

inline bool HaveMkfsVfat() { return std::system("command -v mkfs.vfat >/dev/null 2>&1") == 0; }

// A 2 MiB FAT image labelled SAVE with the serial number 987 (0x000003DB); "" on failure.
inline std::string MakeFatImage(const std::string& name = "key.img") {
  const std::string image = (testRoot() / name).string();
  const std::string cmd = "mkfs.vfat -C -n SAVE -i 000003DB '" + image + "' 2048 >/dev/null 2>&1";
  return std::system(cmd.c_str()) == 0 ? image : std::string();
}

// A private /sys in which the block device M:m is the partition `name`1 of a removable disk
// on a USB bus.
inline void MarkRemovable(const std::string& sysRoot, unsigned major, unsigned minor, const std::string& name) {
  namespace fs = std::filesystem;
  const fs::path disk = fs::path(sysRoot) / "devices" / "usb9" / "block" / name;
  fs::create_directories(disk / (name + "1"));
  std::ofstream(disk / "removable") << "1\n";
  std::ofstream(disk / (name + "1") / "partition") << "1\n";
  fs::create_directories(fs::path(sysRoot) / "dev" / "block");
  const fs::path link = fs::path(sysRoot) / "dev" / "block" / (std::to_string(major) + ":" + std::to_string(minor));
  fs::remove(link);
  fs::create_symlink(fs::path("../../devices/usb9/block") / name / (name + "1"), link);
}

// A mount table under a private proc root, written whole on each change.
struct MountTable {
  platform::SystemRoots roots;
  std::filesystem::path file;
  std::string text;
  MountTable() {
    roots.proc = makeDir("proc").string();
    roots.sys = makeDir("sys").string();
    roots.run = makeDir("run").string();
    file = std::filesystem::path(roots.proc) / "self" / "mountinfo";
    std::filesystem::create_directories(file.parent_path());
    Set("22 1 259:2 / / rw - ext4 /dev/nvme0n1p2 rw\n");
  }
  void Add(const std::string& line) { Set(text + line + "\n"); }
  void Set(const std::string& all) { writeFile(file, text = all); }
  // A USB stick 8:minor mounted at `point` (no blanks in it). Its file system is the image
  // `source`, or when a FAT serial such as "0000-04D2" is given, the one udev's database
  // describes (the device itself cannot be read).
  void AddStick(unsigned minor, const std::string& point, const std::string& source, const std::string& label = "",
                const std::string& uuid = "") {
    MarkRemovable(roots.sys, 8, minor, "sd" + std::string(1, static_cast<char>('a' + minor / 16)));
    if (!uuid.empty())
      writeFile(std::filesystem::path(roots.run) / "udev" / "data" / ("b8:" + std::to_string(minor)),
                "E:ID_FS_LABEL=" + label + "\nE:ID_FS_UUID=" + uuid + "\nE:ID_FS_TYPE=vfat\n");
    Add(std::to_string(60 + minor) + " 22 8:" + std::to_string(minor) + " / " + point + " rw - vfat " + source + " rw");
  }
};

// A real loop mount of an image, undone when it goes out of scope.
class LoopMount {
 public:
  LoopMount(const std::string& image, const std::string& point) : point_(point) {
    if (::geteuid() != 0) return;
    const std::string cmd = "mount -o loop '" + image + "' '" + point + "' 2>/dev/null";
    mounted_ = std::system(cmd.c_str()) == 0;
  }
  ~LoopMount() { Unmount(); }
  LoopMount(const LoopMount&) = delete;
  LoopMount& operator=(const LoopMount&) = delete;
  bool mounted() const { return mounted_; }
  // The mount as the real mount table shows it.
  platform::MountInfo info() const { return platform::MountAt(point_).value_or(platform::MountInfo{}); }
  // Pulled out: the mount point becomes a plain folder again at once (open files keep the
  // detached file system alive; mount's loop device goes with its last user).
  void Unmount() {
    if (mounted_) ::umount2(point_.c_str(), MNT_DETACH);
    mounted_ = false;
  }

 private:
  std::string point_;
  bool mounted_ = false;
};

}  // namespace testenv
