#include "scheduler/core/captions.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "tests/support/testenv.h"

namespace {

TEST(IniLang, LooksUpByLanguageAndFallsBackToTheKey) {
  const std::string folder = testenv::makeDir("data").string() + "/";
  EXPECT_EQ(core::IniLang(folder, "ENGLISH", "Label44"), "Label44") << "no lang.ini";
  testenv::writeFile(folder + "lang.ini",
                     "[FRENCH]\nLabel44=Heure\n[english]\nlabel44=Time\nListview1.columns[0]=Date\nButton1=\n");
  EXPECT_EQ(core::IniLang(folder, "ENGLISH", "Label44"), "Time");
  EXPECT_EQ(core::IniLang(folder, "FRENCH", "Label44"), "Heure");
  EXPECT_EQ(core::IniLang(folder, "ENGLISH", "listview1.Columns[0]"), "Date") << "keys ignore case";
  EXPECT_EQ(core::IniLang(folder, "ENGLISH", "Button1"), "Button1") << "empty value";
  EXPECT_EQ(core::IniLang(folder, "SPANISH", "Label44"), "Label44") << "missing section";
}

TEST(CaptionExport, AppendsAcrossExportsAndReportsFailure) {
  const std::string folder = testenv::makeDir("data").string() + "/";
  core::ecrire(folder, "Label1=Heure");
  core::ecrire(folder, "Memo1=a\nb");
  core::ecrire(folder, "Label1=Heure");
  EXPECT_EQ(testenv::readFile(folder + "sourcelang.ini"), "Label1=Heure\nMemo1=a\nb\nLabel1=Heure\n");
  testenv::writeFile(testenv::testRoot() / "file", "x");
  EXPECT_THROW(core::ecrire((testenv::testRoot() / "file").string() + "/", "x=y"), std::runtime_error);
}

}  // namespace
