#include "scheduler/core/history.h"

#include <gtest/gtest.h>

#include <algorithm>

using core::HistoryRow;
using V = std::vector<std::string>;

TEST(HistoryRows, ImagesAndTexts) {
  const std::string t = "10:00:00";
  EXPECT_EQ(core::RunEndedRow(t, "/s", "/d", "*.*", false), (HistoryRow{0, V{t, "/s", "/d", "*.*", "non"}}));
  EXPECT_EQ(core::TargetMissingRow(t, "/s", "/d"), (HistoryRow{2, V{t, "/s", "Cible non présente /d"}}));
  EXPECT_EQ(core::SourceMissingRow(t, "/s", "/d"), (HistoryRow{2, V{t, "/s", "Source non présente /s", "/d"}}));
  EXPECT_EQ(core::NetworkRow(t, "/s", "//pc/x"), (HistoryRow{2, V{t, "/s", "Ordinateur Réseau non connecté...//pc/x"}}));
  EXPECT_EQ(core::FileErrorRow(t, "/s/f", "Pas assez d'espace disque ", "/d/f"),
            (HistoryRow{5, V{t, "/s/f", "Pas assez d'espace disque  : /d/f"}}));
  EXPECT_EQ(core::ExceptionRow(t, "boom", "/s/f"), (HistoryRow{2, V{t, "boom", "/s/f"}}));
  // A run's end that had errors, or was stopped without any.
  EXPECT_EQ(core::RunTroubleRow(t, "/s", "2 fichiers non copiés", "/d", "*.*", true, true),
            (HistoryRow{5, V{t, "/s", "2 fichiers non copiés : /d", "*.*", "oui"}}));
  EXPECT_EQ(core::RunTroubleRow(t, "/s", "Sauvegarde arrêtée avant la fin", "/d", "*.txt", false, false),
            (HistoryRow{2, V{t, "/s", "Sauvegarde arrêtée avant la fin : /d", "*.txt", "non"}}));
}

TEST(LogViewer, CaptionAndSortOrder) {
  EXPECT_EQ(core::ViewerCaption("20090305"), "Historique du 05/03/2009");
  EXPECT_EQ(core::ViewerCaption("2009"), "Historique du //2009");

  EXPECT_EQ(core::CompareAsciiNoCase("abc", "ABC"), 0);
  EXPECT_LT(core::CompareAsciiNoCase("abc", "abd"), 0);
  EXPECT_GT(core::CompareAsciiNoCase("é", "É"), 0);  // accented letters keep their case
  EXPECT_GT(core::CompareAsciiNoCase("_", "a"), 0);  // letters fold up: 'A' (0x41) sorts before '_' (0x5F)

  // Sorting by time puts error rows after the plain time of the same second.
  V times{"10:00:01", "10:00:00 Erreur F ", "10:00:00", "10:00:00 Erreur"};
  std::sort(times.begin(), times.end(),
            [](const std::string& a, const std::string& b) { return core::CompareAsciiNoCase(a, b) < 0; });
  EXPECT_EQ(times, (V{"10:00:00", "10:00:00 Erreur", "10:00:00 Erreur F ", "10:00:01"}));
}
