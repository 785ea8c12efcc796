// The main window's caption lookup and export.
#include <QAction>
#include <QLabel>
#include <QTimer>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <string>

#include "scheduler/ui/tform1.h"
#include "tests/support/testenv.h"

namespace {

class Captions : public ::testing::Test {
 protected:
  void SetUp() override {
    testenv::writeFile(Data() / "serie.ini", "[Form1]\n");
    form = std::make_unique<ui::TForm1>();
    form->Timer2->stop();
  }
  static std::filesystem::path Data() { return testenv::testRoot() / "data" / "Quillomet"; }
  std::unique_ptr<ui::TForm1> form;
};

TEST_F(Captions, WithoutLangIniEveryCaptionBecomesItsKey) {
  form->EnglishClick();
  form->SetLangStrings();
  EXPECT_EQ(form->Label44->text(), "Label44");
  EXPECT_EQ(form->CheckBox12->text(), "CheckBox12");
  EXPECT_EQ(form->SpeedButton4->text(), "SpeedButton4");
  EXPECT_EQ(form->Button31->text(), "Button31");
  EXPECT_EQ(form->GroupBox9->title(), "GroupBox9");
  EXPECT_EQ(form->PageControl1->tabText(3), "TabSheet4");
  EXPECT_EQ(form->Aide1->text(), "Aide1");
  EXPECT_EQ(form->ListView1->headerItem()->text(2), "listview1.Columns[2]");
  EXPECT_EQ(form->ListView2->headerItem()->text(0), "listview2.Columns[0]");
  // Pictures and the navigation bar are no captions.
  EXPECT_FALSE(form->Image10->pixmap().isNull());
  EXPECT_EQ(form->JvTransparentButton3->text(), "Historique");
}

TEST_F(Captions, LanguageHandlersAndTheLookupByLanguage) {
  testenv::writeFile(Data() / "lang.ini",
                     "[ENGLISH]\nlabel44=Cannot copy onto the same folder\nLISTVIEW2.columns[1]=Hours\nLabel2=\n"
                     "[SPANISH]\nLabel44=No se puede copiar en la misma carpeta\n");
  struct Case {
    void (ui::TForm1::*handler)();
    std::string language;
    QString label44;
  } cases[] = {{&ui::TForm1::EnglishClick, "ENGLISH", "Cannot copy onto the same folder"},
               {&ui::TForm1::SPANISHClick, "SPANISH", "No se puede copiar en la misma carpeta"},
               {&ui::TForm1::frenchClick, "FRENCH", "Label44"}};
  for (const Case& c : cases) {
    (form.get()->*c.handler)();
    EXPECT_EQ(form->LanguageName, c.language);
    EXPECT_EQ(form->Edit_20->text().toStdString(), c.language);
    form->SetLangStrings();
    EXPECT_EQ(form->Label44->text(), c.label44) << c.language;
  }
  form->EnglishClick();
  form->SetLangStrings();
  EXPECT_EQ(form->ListView2->headerItem()->text(1), "Hours");
  EXPECT_EQ(form->Label2->text(), "Label2");  // an empty value gives the key
}

TEST_F(Captions, ExportAppendsNameAndCaptionLines) {
  form->Button17->click();
  const std::string once = testenv::readFile(Data() / "sourcelang.ini");
  EXPECT_EQ(once.rfind("Listview1.columns[0]=\n", 0), 0u);
  for (const char* line : {"\nLabel44=impossible de copier sur un même répertoire\n", "\nAide1=&Aide\n",
                           "\nTabSheet4=Visualisation des programmations\n", "\nButton18="})
    EXPECT_NE(once.find(line), std::string::npos) << line;
  EXPECT_EQ(once.find("\nSpeedButton4="), std::string::npos);  // speed buttons are not exported
  EXPECT_EQ(once.find("\nImage10="), std::string::npos);
  form->Button18->click();  // does nothing
  form->Button17Click();
  EXPECT_EQ(testenv::readFile(Data() / "sourcelang.ini"), once + once);
}

}  // namespace
