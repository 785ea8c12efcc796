#include "scheduler/core/editorentry.h"

#include <gtest/gtest.h>

#include "tests/support/testenv.h"

namespace {

const std::string kSame = "impossible de copier sur un même répertoire";
constexpr std::array<bool, 7> kNoDay{};

core::EditorEntry Entry(int hours, int minutes, std::string source = "/home/u/Docs", std::string target = "/srv/copie") {
  core::EditorEntry e;
  e.hours = hours;
  e.minutes = minutes;
  e.source = std::move(source);
  e.target = std::move(target);
  return e;
}

TEST(EditorSummary, PhraseAsTheLabelsJoinIt) {
  const core::SummaryWords w;
  std::array<bool, 7> monTue{};
  monTue[0] = monTue[1] = true;
  std::array<bool, 7> sunday{};
  sunday[6] = true;
  struct {
    int hours, minutes;
    std::array<bool, 7> days;
    std::string text;
  } cases[] = {
      {0, 0, kNoDay, "Programmation   tout(es) les  0 Minutes "},
      {0, 5, kNoDay, "Programmation   tout(es) les  5 Minutes "},
      {1, 0, kNoDay, "Programmation   tout(es) les  1 Heures "},
      {2, 30, kNoDay, "Programmation   tout(es) les  2 Heures et 30 Minutes"},
      {12, 0, monTue, "Programmation  à  12 Heures ,  le lundi,  le mardi"},
      {0, 45, sunday, "Programmation  à  45 Minutes ,  le dimanche"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(core::SummaryText(w, c.hours, c.minutes, c.days), c.text) << c.hours << ":" << c.minutes;
  // The words come from the caller (translated captions).
  core::SummaryWords en;
  en.programmation = "Backup";
  en.toutesLes = "every";
  en.minutes = "min";
  EXPECT_EQ(core::SummaryText(en, 0, 3, kNoDay), "Backup every 3 min ");
}

TEST(EditorSave, RefusalsInTheirOrder) {
  const std::string usb = "/media/u/KEY:-Quillomet-KEY - 123";
  struct {
    core::EditorEntry entry;
    std::string message;
  } cases[] = {
      {Entry(0, 0), core::kIntervalMessage},
      {Entry(0, 0, "/a", "/a"), core::kIntervalMessage},  // the interval is checked first
      {Entry(0, 0, "/home/u/Docs", usb), ""},             // a USB entry has no interval
      {Entry(1, 0, "/a", "/a"), kSame},
      {Entry(0, 1, "/home/u/Docs", ""), kSame},
      {Entry(0, 1, "", "/srv/copie"), kSame},
      {Entry(0, 1, "", usb), kSame},
      {Entry(0, 1, "/home/u/Docs", "/home/u/docs"), ""},  // letter case makes another folder
      {Entry(0, 1, "/home/u/Docs", "/home/u/Docs/"), kSame},
      {Entry(0, 1, "/home/u/Docs", "/home/u/Docs/copie"), kSame},  // inside its own source
      {Entry(0, 1, "/home/u/Docs", "/home/u/Docs2"), ""},
      {Entry(0, 1, "/home/u/a|b", "/srv/copie"), core::kForbiddenCharacterMessage},
      {Entry(0, 1, "/home/u/Docs", "/srv/co\npie"), core::kForbiddenCharacterMessage},
  };
  for (const auto& c : cases)
    EXPECT_EQ(core::EditorRefusal(c.entry, kSame), c.message) << c.entry.source << " -> " << c.entry.target;
  core::EditorEntry badFilter = Entry(0, 1);
  badFilter.filter = "*.doc|*.xls";
  EXPECT_EQ(core::EditorRefusal(badFilter, kSame), core::kForbiddenCharacterMessage);
  badFilter.filter = "";  // an empty filter is accepted
  EXPECT_EQ(core::EditorRefusal(badFilter, kSame), "");
}

TEST(EditorSave, LineFieldsForTimedIntervalAndUsbEntries) {
  core::EditorEntry weekly = Entry(7, 5, "C:\\\\Docs\\\\Lettres", "D:\\\\Copie");
  weekly.days[0] = weekly.days[6] = true;
  weekly.subFolders = false;
  weekly.overwrite = true;
  EXPECT_EQ(core::EditorLine(weekly).Text(), "5|7|1|0|0|0|0|0|1|C:\\Docs\\\\Lettres|*.*|D:\\Copie|0|1|");

  EXPECT_EQ(core::EditorLine(Entry(0, 5)).Text(), "5|0|0|0|0|0|0|0|0|/home/u/Docs|*.*|/srv/copie|1|0|");

  core::EditorEntry usb = Entry(13, 40, "/home/u/Docs", "/media/u/KEY:-Quillomet-KEY - 123");
  usb.days[2] = true;
  EXPECT_EQ(core::EditorLine(usb).Text(), "1|0|1|1|1|1|1|1|1|/home/u/Docs|*.*|/media/u/KEY:-Quillomet-KEY - 123|1|0|");
  EXPECT_EQ(core::SingleDriveSeparator("a:\\\\\\\\b"), "a:\\\\\\b");  // one separator less per ":\\"
}

TEST(EditorSave, AppendsEachSaveAndRecreatesAVanishedFile) {
  const auto path = testenv::testRoot() / "quillo-vz.dat";
  testenv::writeFile(path, "\n");
  const core::EditorEntry e = Entry(0, 5);
  ASSERT_TRUE(core::SaveEditorEntry(path, e));
  ASSERT_TRUE(core::SaveEditorEntry(path, e));  // saved twice: two identical lines
  const std::string line = "5|0|0|0|0|0|0|0|0|/home/u/Docs|*.*|/srv/copie|1|0|\n";
  EXPECT_EQ(testenv::readFile(path), "\n" + line + line);

  const auto gone = testenv::testRoot() / "gone.dat";
  ASSERT_TRUE(core::SaveEditorEntry(gone, e));
  EXPECT_EQ(testenv::readFile(gone), "\n" + line);  // the entry lands on line 1, not line 0

  std::string error;
  const auto blocked = testenv::writeFile(testenv::testRoot() / "file", "x") / "quillo-vz.dat";  // ENOTDIR
  EXPECT_FALSE(core::SaveEditorEntry(blocked, e, &error));
  EXPECT_FALSE(error.empty());
}

}  // namespace
