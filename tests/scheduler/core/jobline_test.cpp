#include "scheduler/core/jobline.h"

#include <gtest/gtest.h>

#include "scheduler/core/duetime.h"

using core::Job;

TEST(JobLine, ThreeShapesReadBack) {
  const std::string timetable = "30|14|1|0|0|0|0|0|0|/home/u/Docs|*.txt|/srv/b|0|1|";
  const struct {
    const char* name;
    std::string line;
    std::string expectedText;
    bool sub, overwrite;
  } cases[] = {
      {"due shape", core::DueJobLine(timetable), "/home/u/Docs|/srv/b|*.txt|0|1", false, true},
      {"test shape", core::TestJobLine("/home/u/Docs", "/srv/b", "*.txt", true, true),
       "/home/u/Docs|/srv/b|*.txt|1|1|", true, true},
      {"test shape, flags off", core::TestJobLine("/home/u/Docs", "/srv/b", "*.txt", false, false),
       "/home/u/Docs|/srv/b|*.txt|0|0|", false, false},
      {"prompt shape, no overwrite flag", core::PromptJobLine("/home/u/Docs", "/srv/b", "*.txt", "1"),
       "/home/u/Docs|/srv/b|*.txt|1", true, false},
      {"prompt shape without sub-folders", core::PromptJobLine("/home/u/Docs", "/srv/b", "*.txt", "0"),
       "/home/u/Docs|/srv/b|*.txt|0", false, false},
      {"empty sub field means sub-folders", "/home/u/Docs|/srv/b|*.txt||", "/home/u/Docs|/srv/b|*.txt||", true,
       false},
      {"overwrite only for 1", "/home/u/Docs|/srv/b|*.txt|x|oui", "/home/u/Docs|/srv/b|*.txt|x|oui", true, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.line, c.expectedText) << c.name;
    Job job = core::ReadJobLine(c.line);
    EXPECT_EQ(job.source, "/home/u/Docs") << c.name;
    EXPECT_EQ(job.target, "/srv/b") << c.name;
    EXPECT_EQ(job.filter, "*.txt") << c.name;
    EXPECT_EQ(job.subFolders, c.sub) << c.name;
    EXPECT_EQ(job.overwrite, c.overwrite) << c.name;
  }
}

TEST(JobLine, DispatchOnlyWhenIdleAndNoRun) {
  EXPECT_TRUE(core::DispatchAllowed("true", false));
  EXPECT_FALSE(core::DispatchAllowed("true", true));  // a stop still unwinding, or a pre-flight
  EXPECT_FALSE(core::DispatchAllowed("false", false));
  EXPECT_FALSE(core::DispatchAllowed("false", true));
  EXPECT_FALSE(core::DispatchAllowed("", false));
  EXPECT_FALSE(core::DispatchAllowed("True", false));
}

TEST(JobLine, UsbJobFolder) {
  const std::string id = ":-Quillomet-KEY - 3735928559";
  const struct {
    const char* source;
    std::string target;
    const char* folder;
  } cases[] = {
      {"/home/u/Work/Docs", "/media/u/KEY" + id, "/media/u/KEY/Docs"},
      {"/", "/media/u/KEY" + id, "/media/u/KEY/Quillomet"},
      {"/home/u/Work/", "/media/u/KEY" + id, "/media/u/KEY/Quillomet"},
      {"Docs", "/media/u/KEY" + id, "/media/u/KEY/Docs"},
      {"/home/u/Docs", "/media/u/KEY/" + id, "/media/u/KEY/Docs"},
      {"/home/u/Docs", "/media/u/my-key - 2" + id, "/media/u/my-key - 2/Docs"},
      {"/home/u/Docs", "/" + id, "/Docs"},
      {"/home/u/Docs", id, "Docs"},  // no mount point: relative, refused by the caller
  };
  for (const auto& c : cases) EXPECT_EQ(core::UsbJobFolder(c.source, c.target), c.folder) << c.target;
}
