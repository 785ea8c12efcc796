#include "scheduler/core/dailylog.h"

#include "tests/support/testenv.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <stdexcept>

namespace {

std::time_t At(int y, int mo, int d, int h, int mi, int s) {
  std::tm tm{};
  tm.tm_year = y - 1900, tm.tm_mon = mo - 1, tm.tm_mday = d;
  tm.tm_hour = h, tm.tm_min = mi, tm.tm_sec = s, tm.tm_isdst = -1;
  return std::mktime(&tm);
}

}  // namespace

TEST(DailyLogLines, EveryFormat) {
  const std::string t = "09:05:07";
  struct Case {
    std::string line, expected;
  } cases[] = {
      {core::RunLogLine(t, "/src", "/dst", "*.*", true), "09:05:07;/src;/dst;*.*;oui;"},
      {core::RunLogLine(t, "/src", "/dst", "*.doc;*.txt", false), "09:05:07;/src;/dst;*.doc;*.txt;non;"},
      {core::TargetMissingLogLine(t, "/src", "/dst"), "09:05:07 Erreur;/src;Cible non présente  /dst;;;"},
      {core::SourceMissingLogLine(t, "/src", "/dst"), "09:05:07 Erreur;/src;Source non présente  /dst;;;"},
      {core::NetworkLogLine(t, "/src", "//pc/share"),
       "09:05:07 Erreur;/src;Ordinateur Réseau non connecté...  //pc/share;;;"},
      {core::FileErrorLogLine(t, "/src/a", "Pas assez d'espace disque ", "/dst/a"),
       "09:05:07 Erreur F ;/src/a;Pas assez d'espace disque  : /dst/a;;;"},
      {core::LockLogLine(t, "/src/a", "/dst/a"),
       "09:05:07 Erreur F ;/src/a;Le processus ne peut pas accéder au fichier car un autre processus en a "
       "verrouillé une partie;/dst/a;;;"},
      {core::ExceptionLogLine(t, "boom", "/src/a"), "09:05:07 Erreur F ;boom;/src/a;;;"},
      // A name holding line breaks stays on one line.
      {core::FileErrorLogLine(t, "/src/two\nlines\r", "msg", "/dst/two\nlines\r"),
       "09:05:07 Erreur F ;/src/two lines ;msg : /dst/two lines ;;;"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.line, c.expected);
}

TEST(DailyLog, AppendsToTheFileOfTheDayOfEachLine) {
  auto dir = testenv::makeDir("data");
  std::time_t now = At(2009, 3, 5, 23, 59, 59);
  core::DailyLog log(dir.string(), [&] { return now; });
  EXPECT_EQ(log.PathFor(now), (dir / "20090305.log").string());
  EXPECT_EQ(log.TimeNow(), "23:59:59");
  log.Append("one");
  log.Append("two");
  now += 1;  // midnight: a new file
  log.Append("three");
  EXPECT_EQ(testenv::readFile(dir / "20090305.log"), "one\ntwo\n");
  EXPECT_EQ(testenv::readFile(dir / "20090306.log"), "three\n");
}

TEST(DailyLog, FailureThrowsAndKeepsWhatWasThere) {
  auto dir = testenv::makeDir("data");
  auto file = testenv::writeFile(dir / "plain", "x");
  core::DailyLog broken(file.string());  // ENOTDIR
  EXPECT_THROW(broken.Append("line"), std::runtime_error);

  std::time_t now = At(2020, 1, 2, 3, 4, 5);
  core::DailyLog log(dir.string(), [&] { return now; });
  log.Append("kept");
  EXPECT_EQ(testenv::readFile(dir / "20200102.log"), "kept\n");
}

// Today's log planted as a FIFO or a folder: the line fails at once, nothing waits for a reader.
TEST(DailyLog, WhatIsNotAFileIsRefusedWithoutBlocking) {
  auto dir = testenv::makeDir("data");
  std::time_t now = At(2020, 1, 2, 3, 4, 5);
  core::DailyLog log(dir.string(), [&] { return now; });
  ASSERT_EQ(::mkfifo(log.PathFor(now).c_str(), 0600), 0);
  try {
    log.Append("line");
    ADD_FAILURE() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()).rfind("Impossible d'ouvrir le fichier journal " + log.PathFor(now), 0), 0u) << e.what();
  }
  now += 86400;
  std::filesystem::create_directory(log.PathFor(now));
  EXPECT_THROW(log.Append("line"), std::runtime_error);
}
