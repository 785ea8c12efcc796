#include "scheduler/core/usbvolume.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "scheduler/core/jobline.h"
#include "tests/support/testenv.h"

namespace {

TEST(UsbVolumeId, IdentityText) {
  EXPECT_EQ(core::UsbVolumeId("/media/u/E", std::string("SAVE"), 987u), "/media/u/E:-Quillomet-SAVE - 987");
  EXPECT_EQ(core::UsbVolumeId("/media/u/E", std::string(""), 4294967295u), "/media/u/E:-Quillomet- - 4294967295");
  EXPECT_EQ(core::UsbVolumeId("/media/u/E", std::nullopt, std::nullopt), "/media/u/E:-Quillomet-");
  // A label must not split the timetable line it is stored in.
  EXPECT_EQ(core::UsbVolumeId("/m", std::string("A|B\nC"), 1u), "/m:-Quillomet-A_B_C - 1");
  EXPECT_EQ(core::UsbVolumeKey("/media/u/E:-Quillomet-SAVE - 987"), ":-Quillomet-SAVE - 987");
  EXPECT_EQ(core::UsbVolumeKey("/srv/backup"), "");
  EXPECT_FALSE(core::UsbMountPointStorable("/media/u/a|b"));
  EXPECT_TRUE(core::UsbMountPointStorable("/media/u/MY KEY"));
}

TEST(UsbVolumeId, KnownIdentitiesStaySortedWithoutDoublets) {
  EXPECT_EQ(core::DeleteDoublets({"/m/b:-Quillomet-B - 2", "/m/a:-Quillomet-A - 1", "/m/B:-Quillomet-b - 2",
                                  "/m/b:-Quillomet-B - 2"}),
            (std::vector<std::string>{"/m/a:-Quillomet-A - 1", "/m/b:-Quillomet-B - 2"}));
  EXPECT_TRUE(core::DeleteDoublets({}).empty());
}

bool Mounted() { return true; }

std::string Entry(const std::string& source, const std::string& target, const std::string& sub = "1") {
  return "30|14|1|0|0|0|0|0|0|" + source + "|*.txt|" + target + "|" + sub + "|0|";
}

TEST(UsbArrivalJobs, MatchesTheSameVolumeAtItsNewMountPoint) {
  const std::string mount = testenv::makeDir("F").string();
  const std::filesystem::path existing = std::filesystem::path(mount) / "Photos";
  std::filesystem::create_directory(existing);
  const std::vector<std::string> lines = {
      "",
      Entry("/home/u/Docs/Work", "/media/u/E:-Quillomet-SAVE - 987"),
      Entry("/home/u/Other", "/media/u/E:-Quillomet-SAVE - 9870"),  // another serial that starts alike
      Entry("/home/u/Photos", "/media/u/E:-Quillomet-SAVE - 987", "0"),
      Entry("/home/u/Ends/", "/old/place:-Quillomet-SAVE - 987"),
      Entry("/home/u/Unknown", "/media/u/G:-Quillomet-"),
      Entry("/home/u/Plain", "/srv/SAVE - 987"),
  };
  const core::UsbArrival a = core::UsbArrivalJobs(lines, mount + ":-Quillomet-SAVE - 987", mount, Mounted);
  EXPECT_EQ(a.error, "");
  EXPECT_EQ(a.jobs, (std::vector<std::string>{
                        "/home/u/Docs/Work|" + mount + "/Work|*.txt|1",
                        "/home/u/Photos|" + mount + "/Photos|*.txt|0",
                        "/home/u/Ends/|" + mount + "/Quillomet|*.txt|1",
                    }));
  EXPECT_TRUE(std::filesystem::is_directory(mount + "/Work"));
  EXPECT_TRUE(std::filesystem::is_directory(mount + "/Quillomet"));
}

// An unreadable volume names none: not even an entry that holds the short form itself.
TEST(UsbArrivalJobs, AVolumeWithoutInformationMatchesNothing) {
  const std::string mount = testenv::makeDir("G").string();
  const std::vector<std::string> lines = {Entry("/home/u/Docs", "/media/u/E:-Quillomet-SAVE - 987"),
                                          Entry("/home/u/Any", "/media/u/X:-Quillomet-"),
                                          Entry("/home/u/Same", mount + ":-Quillomet-")};
  const core::UsbArrival a = core::UsbArrivalJobs(lines, mount + ":-Quillomet-", mount, Mounted);
  EXPECT_TRUE(a.jobs.empty());
  EXPECT_EQ(a.error, "");
  EXPECT_TRUE(std::filesystem::is_empty(mount));
  EXPECT_TRUE(core::UsbIdentityShort("/m:-Quillomet-"));
  EXPECT_FALSE(core::UsbIdentityShort("/m:-Quillomet- - 0"));
}

// Gone before its folders are made: its mount point is a plain folder of the system disk now.
TEST(UsbArrivalJobs, NothingIsMadeOnAVolumeNoLongerMounted) {
  const std::string mount = testenv::makeDir("gone").string();
  const std::string id = mount + ":-Quillomet-K - 1";
  int asked = 0;
  const core::UsbArrival a = core::UsbArrivalJobs({Entry("/a/First", id), Entry("/a/Second", id)}, id, mount, [&] {
    ++asked;
    return false;
  });
  EXPECT_TRUE(a.jobs.empty());
  EXPECT_EQ(a.error, "Impossible de créer " + mount + "/First : le volume USB n'est plus branché");
  EXPECT_EQ(asked, 1);
  EXPECT_TRUE(std::filesystem::is_empty(mount));
  EXPECT_EQ(core::MakeUsbFolder(mount + "/Other", false), "Impossible de créer " + mount + "/Other : le volume USB n'est plus branché");
  EXPECT_EQ(core::MakeUsbFolder(mount + "/Other", true), "");
  EXPECT_EQ(core::MakeUsbFolder("Other", true), "Impossible de créer Other");
}

TEST(UsbArrivalJobs, AFolderThatCannotBeMadeEndsTheArrival) {
  const std::string mount = testenv::makeDir("H").string();
  testenv::writeFile(std::filesystem::path(mount) / "Blocked", "a file where the folder goes");
  const std::string id = mount + ":-Quillomet-K - 1";
  const std::vector<std::string> lines = {Entry("/a/First", id), Entry("/a/Blocked", id), Entry("/a/Third", id)};
  const core::UsbArrival a = core::UsbArrivalJobs(lines, id, mount, Mounted);
  EXPECT_EQ(a.jobs, std::vector<std::string>{"/a/First|" + mount + "/First|*.txt|1"});
  EXPECT_EQ(a.error, "Impossible de créer " + mount + "/Blocked");
  EXPECT_FALSE(std::filesystem::exists(mount + "/Third"));
}

}  // namespace
