#include "updater/ziparchive/zapaths.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "tests/support/testenv.h"

namespace fs = std::filesystem;
using namespace ziparchive;

namespace {

std::string cwd() { return fs::current_path().string(); }

// Stored names outside spFullPathWithDrive: no leading "/", no empty, "." or ".." segment.
void expectClean(const std::string& stored, const std::string& context) {
  EXPECT_TRUE(stored.empty() || stored[0] != '/') << context << " -> " << stored;
  EXPECT_EQ(stored.find('\\'), std::string::npos) << context;
  size_t i = 0;
  while (!stored.empty() && i <= stored.size()) {
    size_t j = stored.find('/', i);
    if (j == std::string::npos) j = stored.size();
    std::string seg = stored.substr(i, j - i);
    EXPECT_FALSE(seg.empty() || seg == "." || seg == "..") << context << " -> " << stored;
    i = j + 1;
  }
}

}  // namespace

TEST(ZAPaths, TrailingSeparatorsAndDrives) {
  EXPECT_EQ(AddSlash(""), "/");
  EXPECT_EQ(AddSlash("/data"), "/data/");
  EXPECT_EQ(AddSlash("/data/"), "/data/");
  EXPECT_EQ(AddSlash("C:\\data\\"), "C:\\data\\");
  EXPECT_EQ(RemoveSlash("/data//"), "/data/");
  EXPECT_EQ(RemoveSlash("a\\"), "a");
  EXPECT_EQ(RemoveSlash("a"), "a");
  struct Case {
    const char* path;
    const char* drive;
    bool floppy;
  } cases[] = {
      {"C:\\Data", "C:", false},  {"a:", "a:", true},          {"B:/x", "B:", true},
      {"\\\\srv\\share\\d", "//srv/share", false}, {"//srv/share", "//srv/share", false},
      {"/home/u/12:30.txt", "", false}, {"12:30.txt", "", false}, {"/a:", "", false},
      {"1:", "", false},          {"", "", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DrivePart(c.path), c.drive) << c.path;
    EXPECT_EQ(IsFloppyDrive(c.path), c.floppy) << c.path;
  }
  EXPECT_TRUE(IsRemovableDrive("a:\\arc.zip"));
  EXPECT_FALSE(IsRemovableDrive("\\\\srv\\share\\arc.zip"));
}

TEST(ZAPaths, FoldersAreMadeAndTestedWithoutDrivesOrShares) {
  auto root = testenv::testRoot();
  EXPECT_TRUE(MakeDirs((root / "a/b\\c").string()));
  EXPECT_TRUE(DirExists((root / "a/b/c").string()));
  testenv::writeFile(root / "file", "x");
  EXPECT_FALSE(MakeDirs((root / "file/sub").string()));  // ENOTDIR
  EXPECT_FALSE(DirExists((root / "file").string()));
  EXPECT_FALSE(DirExists("//tmp/x"));  // a share is never read as a local folder
  EXPECT_FALSE(MakeDirs("C:\\x"));
}

TEST(ZAPaths, ExpandWithBaseDirIsLexicalAndKeepsTheCurrentFolder) {
  auto root = testenv::testRoot();
  auto data = testenv::makeDir("Data").string();
  const std::string before = cwd();
  struct Case {
    std::string base, name, expected;
  } cases[] = {
      {data, "Docs/a.txt", data + "/Docs/a.txt"},
      {data + "/", "Docs\\..\\b.txt", data + "/b.txt"},
      {data, "/etc/./x", "/etc/x"},
      {data, "../../../../../../../../x", "/x"},
      {root.string() + "/missing", "a", root.string() + "/missing/a"},
      {"", "a/./b", before + "/a/b"},
      {data + "/", "", data},
      {"", "", before},
      {"D:", "", "D:"},
      {"D:\\x", "", "D:\\x"},
      {root.string() + "/missing", "", root.string() + "/missing"},
      {"relative-missing", "", "relative-missing"},
      {data, "\\\\srv\\share\\d\\..\\e", "//srv/share/e"},
      {data, "C:\\x\\..\\..\\y", "C:/y"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ExpandWithBaseDir(c.base, c.name), c.expected) << c.base << " + " << c.name;
  }
  EXPECT_EQ(ExpandAgainstBaseDir(""), before + "/");
  EXPECT_EQ(ExpandAgainstBaseDir(data), data + "/");
  EXPECT_EQ(cwd(), before);
}

TEST(ZAPaths, StoredNamesByModeForABaseFolder) {
  auto data = testenv::makeDir("Data").string();  // the base folder, which exists
  testenv::makeDir("Data/Docs");
  const std::string R = data.substr(1, data.size() - 6);  // the test root, no leading "/"
  struct Case {
    std::string file, noPath, relative, full, withDrive;
  } cases[] = {
      {data + "/Docs/a.txt", "a.txt", "Docs/a.txt", R + "/Data/Docs/a.txt", "/" + R + "/Data/Docs/a.txt"},
      {"Docs/a.txt", "a.txt", "Docs/a.txt", R + "/Data/Docs/a.txt", "/" + R + "/Data/Docs/a.txt"},
      {"Docs\\a.txt", "a.txt", "Docs/a.txt", R + "/Data/Docs/a.txt", "/" + R + "/Data/Docs/a.txt"},
      {"/" + R + "/Elsewhere/c.txt", "c.txt", R + "/Elsewhere/c.txt", R + "/Elsewhere/c.txt",
       "/" + R + "/Elsewhere/c.txt"},
      {"D:\\Other\\b.txt", "b.txt", "Other/b.txt", "Other/b.txt", "D:/Other/b.txt"},
      {"\\\\srv\\share\\d\\e.txt", "e.txt", "share/d/e.txt", "share/d/e.txt", "//srv/share/d/e.txt"},
      {"//srv/share/d/e.txt", "e.txt", "share/d/e.txt", "share/d/e.txt", "//srv/share/d/e.txt"},
      {data + "/Docs/", "Docs", "Docs", R + "/Data/Docs", "/" + R + "/Data/Docs"},
      {data, "Data", R + "/Data", R + "/Data", "/" + R + "/Data"},  // the base folder itself
      // A colon inside a Linux name is an ordinary character.
      {data + "/12:30.txt", "12:30.txt", "12:30.txt", R + "/Data/12:30.txt", "/" + R + "/Data/12:30.txt"},
      {"Docs/x:y:z", "x:y:z", "Docs/x:y:z", R + "/Data/Docs/x:y:z", "/" + R + "/Data/Docs/x:y:z"},
      // A trailing dot goes only as a lone "." segment.
      {"Docs/a.txt.", "a.txt.", "Docs/a.txt.", R + "/Data/Docs/a.txt.", "/" + R + "/Data/Docs/a.txt."},
      {"Docs/.", "Docs", "Docs", R + "/Data/Docs", "/" + R + "/Data/Docs"},
      {"Docs\\.", "Docs", "Docs", R + "/Data/Docs", "/" + R + "/Data/Docs"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(StoredPathFor(c.file, data, spNoPath), c.noPath) << c.file;
    EXPECT_EQ(StoredPathFor(c.file, data, spRelativePath), c.relative) << c.file;
    EXPECT_EQ(StoredPathFor(c.file, data, spFullPath), c.full) << c.file;
    EXPECT_EQ(StoredPathFor(c.file, data, spFullPathWithDrive), c.withDrive) << c.file;
  }
  for (auto mode : {spNoPath, spRelativePath, spFullPath}) {
    EXPECT_EQ(StoredPathFor("C:", data, mode), "") << int(mode);
    EXPECT_EQ(StoredPathFor("C:\\", data, mode), "") << int(mode);
    EXPECT_EQ(StoredPathFor("/", data, mode), "") << int(mode);
  }
}

TEST(ZAPaths, HostileDiskNamesNeverClimbOutOfAStoredName) {
  auto data = testenv::makeDir("Data").string();
  // A Linux file may be named "..\..\x": its backslashes still separate, before any folding.
  const char* names[] = {"..\\..\\x",        "../../x",         "a/../../../x",      "\\..\\x",
                         "a//b///c",         "./a/./b/.",       "Docs\\..\\..\\..\\..\\..\\..\\x",
                         "/../../etc/passwd", "C:\\..\\..\\x",  "\\\\srv\\share\\..\\..\\x",
                         "C:x\\..\\..\\y",    "//srv//share//x", "a\\b/c\\d",
                         "//../../x",        "\\\\..\\..\\x", "//./x",      "//srv/../../x"};
  for (const char* name : names) {
    for (auto mode : {spNoPath, spRelativePath, spFullPath}) {
      expectClean(StoredPathFor(name, data, mode), std::string(name) + " mode " + std::to_string(int(mode)));
    }
    std::string withDrive = StoredPathFor(name, data, spFullPathWithDrive);
    EXPECT_EQ(withDrive.find(".."), std::string::npos) << name;
    EXPECT_EQ(withDrive.find("\\"), std::string::npos) << name;
  }
  EXPECT_EQ(StoredPathFor("a//b///c", data, spRelativePath), "a/b/c");
  EXPECT_EQ(StoredPathFor("a\\b/c\\d", data, spRelativePath), "a/b/c/d");
  EXPECT_EQ(StoredPathFor("..\\..\\x", "/", spRelativePath), "x");
  EXPECT_EQ(StoredPathFor("//../../x", data, spFullPath), "x");
  EXPECT_EQ(StoredPathFor("//../../x", data, spFullPathWithDrive), "/x");
}

TEST(ZAPaths, RemovableDrivesAreTheMountsOfRemovableDevices) {
  platform::SystemRoots roots;
  roots.proc = (testenv::fixtures() / "drives-desktop/proc").string();
  roots.sys = (testenv::fixtures() / "drives-desktop/sys").string();
  SetDriveQueryRoots(roots);
  struct Case {
    const char* path;
    bool removable;
  } cases[] = {
      {"/media/u/KEY/arc.zip", true},   {"/media/u/MY KEY/sub/arc.zip", true}, {"/media/u/SD/arc.zip", true},
      {"/media/u/HDD/arc.zip", false},  {"/home/u/arc.zip", false},            {"/mnt/share/arc.zip", false},
      {"/tmp/ram/arc.zip", false},      {"/media/u/KEYS/arc.zip", false},       {"b:\\arc.zip", true},
      {"\\\\pc\\share\\arc.zip", false}, {"C:\\arc.zip", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsRemovableDrive(c.path), c.removable) << c.path;
  SetDriveQueryRoots({});
}
