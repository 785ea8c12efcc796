#include <QCheckBox>
#include <QComboBox>
#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QSpinBox>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "platform/inifile.h"
#include "scheduler/ui/tform1.h"
#include "tests/support/testenv.h"

namespace fs = std::filesystem;

namespace {

fs::path SettingsFile() { return testenv::testRoot() / "data" / "Quillomet" / "serie.ini"; }

}  // namespace

TEST(TForm1Settings, FirstRunDefaults) {
  ui::TForm1 form;
  for (QCheckBox* box : {form.CheckBox_12, form.CheckBox_13, form.CheckBox_14, form.CheckBox_15, form.CheckBox_17,
                         form.supp_peri, form.CheckBox10})
    EXPECT_TRUE(box->isChecked()) << box->objectName().toStdString();
  EXPECT_FALSE(form.CheckBox_16->isChecked());  // the creation handler's first-run value
  EXPECT_FALSE(form.CheckLundi->isChecked());   // day boxes: unchecked by the creation handler
  EXPECT_EQ(form.SpinEdit_1->value(), 15);
  EXPECT_EQ(form.sup_a->value(), 100);  // 0 raised to its minimum
  EXPECT_EQ(form.Spinheures->value(), 0);
  EXPECT_EQ(form.SpinMinutes->value(), 0);
  EXPECT_EQ(form.ComboBox_1->count(), 0);
  EXPECT_FALSE(fs::exists(SettingsFile()));  // written at the first save only
}

TEST(TForm1Settings, SavedValuesComeBackAtTheNextStart) {
  {
    ui::TForm1 form;
    form.Smtp_vz->setText("smtp.example.org  ");
    form.mot_de_passe->setText(" secret ");
    form.CheckBox_13->setChecked(false);
    form.CheckBox_16->setChecked(true);
    form.sup_a->setValue(4096);
    form.SpinEdit_1->setValue(30);
    form.Spinheures->setValue(7);
    form.ComboBox_1->addItems({"/media/u/A:-Quillomet-A - 1", "/media/u/B:-Quillomet-B - 2"});
    form.ComboBox_1->setCurrentIndex(0);
    form.SaveSettings();
  }
  platform::IniFile ini(SettingsFile());
  for (const std::string& key : ini.ReadSection("Form1")) {
    EXPECT_NE(key.find('_'), std::string::npos) << key;
    EXPECT_NE(key.rfind("qt_", 0), 0u) << key;  // Qt's inner editors are never keys
  }
  EXPECT_FALSE(ini.SectionExists("Form1Message_vz"));
  EXPECT_EQ(ini.ReadString("Form1", "mot_de_passe", ""), " secret ");

  ui::TForm1 back;
  EXPECT_EQ(back.Smtp_vz->text(), "smtp.example.org  ");
  EXPECT_EQ(back.mot_de_passe->text(), " secret ");
  EXPECT_FALSE(back.CheckBox_13->isChecked());
  EXPECT_TRUE(back.CheckBox_16->isChecked());  // not a first run: no first-run override
  EXPECT_EQ(back.sup_a->value(), 4096);        // each spin box keeps its own value
  EXPECT_EQ(back.SpinEdit_1->value(), 30);
  EXPECT_EQ(back.Spinheures->value(), 0);  // no "_": never kept
  EXPECT_EQ(ui::CopyThreshold, 4096ull * 1048576);
  ASSERT_EQ(back.ComboBox_1->count(), 2);
  EXPECT_EQ(back.ComboBox_1->currentIndex(), 0);
}

TEST(TForm1Settings, HidingSavesTheSettings) {
  ui::TForm1 form;
  form.Smtp_vz->setText("on hide");
  form.Button5Click();
  EXPECT_EQ(platform::IniFile(SettingsFile()).ReadString("Form1", "Smtp_vz", ""), "on hide");
}

// "Quitter" answered "Non": the window only hides, and the settings are written all the same.
TEST(TForm1Settings, RefusedCloseSavesTheSettings) {
  ui::TForm1 form;
  form.show();
  form.Smtp_vz->setText("on close");
  bool asked = false;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    asked = true;
    for (QAbstractButton* b : box->buttons())
      if (b->text() == "Non") b->click();
  });
  EXPECT_FALSE(form.close());
  EXPECT_TRUE(asked);
  EXPECT_EQ(platform::IniFile(SettingsFile()).ReadString("Form1", "Smtp_vz", ""), "on close");
}
