#include "scheduler/ui/svgeditini.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QTableWidget>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>

#include "platform/inifile.h"
#include "tests/support/testenv.h"

namespace fs = std::filesystem;
using ui::TSvgEditIni;

namespace {

// A window with a few controls of each kind the main window holds, named like its own.
class SampleForm : public QWidget {
 public:
  explicit SampleForm(const char* name = "Form1") {
    setObjectName(name);
    Smtp_vz = Add<QLineEdit>("Smtp_vz");
    Smtp_vz->setText("smtp.designed");
    mot_de_passe = Add<QLineEdit>("mot_de_passe");
    Edit3 = Add<QLineEdit>("Edit3");
    Edit3->setText("/");
    CheckBox_13 = Add<QCheckBox>("CheckBox_13");
    CheckBox_16 = Add<QCheckBox>("CheckBox_16");
    CheckLundi = Add<QCheckBox>("CheckLundi");
    sup_a = Add<QSpinBox>("sup_a");
    sup_a->setRange(100, 500000);
    sup_a->setValue(6000);
    SpinEdit_1 = Add<QSpinBox>("SpinEdit_1");
    SpinEdit_1->setRange(1, 365);
    SpinEdit_1->setValue(15);
    Spinheures = Add<QSpinBox>("Spinheures");
    Spinheures->setRange(0, 23);
    Spinheures->setValue(12);
    ComboBox_1 = Add<QComboBox>("ComboBox_1");
    ComboBox_1->setEditable(true);
    ComboBox_1->addItems({"designed"});
    Message_vz = Add<QPlainTextEdit>("Message_vz");
    Message_vz->setPlainText("designed message");
  }

  template <class W>
  W* Add(const char* name) {
    auto* w = new W(this);
    w->setObjectName(name);
    components.push_back(w);
    return w;
  }

  TSvgEditIni* Store() {
    if (!store) {
      store = new TSvgEditIni(this, [this] { return components; });
      store->SauveComboBox = true;  // as on the main window
      store->FileName = testenv::testRoot() / "data" / "Quillomet" / "serie.ini";
    }
    return store;
  }

  std::function<void(QCloseEvent*)> onClose;
  std::vector<QObject*> components;
  TSvgEditIni* store = nullptr;
  QLineEdit *Smtp_vz, *mot_de_passe, *Edit3;
  QCheckBox *CheckBox_13, *CheckBox_16, *CheckLundi;
  QSpinBox *sup_a, *SpinEdit_1, *Spinheures;
  QComboBox* ComboBox_1;
  QPlainTextEdit* Message_vz;

 protected:
  void closeEvent(QCloseEvent* e) override {
    if (onClose) onClose(e);
  }
};

fs::path SettingsFile() { return testenv::testRoot() / "data" / "Quillomet" / "serie.ini"; }

void MakeDataFolder() { fs::create_directories(SettingsFile().parent_path()); }

}  // namespace

TEST(SvgEditIni, FirstRunDefaults) {
  MakeDataFolder();
  SampleForm form;
  form.CheckBox_13->setChecked(false);
  form.CheckLundi->setChecked(false);
  form.Store()->Loaded();
  EXPECT_TRUE(form.CheckBox_13->isChecked());
  EXPECT_TRUE(form.CheckBox_16->isChecked());
  EXPECT_TRUE(form.CheckLundi->isChecked());  // no "_" in the name: checked too
  EXPECT_EQ(form.sup_a->value(), 100);        // 0 raised to the minimum
  EXPECT_EQ(form.SpinEdit_1->value(), 1);
  EXPECT_EQ(form.Spinheures->value(), 0);
  EXPECT_EQ(form.ComboBox_1->count(), 0);
  EXPECT_EQ(form.Smtp_vz->text(), "smtp.designed");  // edits keep their designed text
  EXPECT_EQ(form.Edit3->text(), "/");
  EXPECT_EQ(form.Message_vz->toPlainText(), "designed message");  // memos are not kept here
  EXPECT_FALSE(fs::exists(SettingsFile()));                         // loading writes nothing
}

TEST(SvgEditIni, SaveAndLoadRoundTrip) {
  MakeDataFolder();
  {
    SampleForm form;
    form.Smtp_vz->setText("  smtp.example.org  ");
    form.mot_de_passe->setText("p@ss=\"word\"");
    form.Edit3->setText("/home/u");
    form.CheckBox_13->setChecked(false);
    form.CheckBox_16->setChecked(true);
    form.CheckLundi->setChecked(false);
    form.sup_a->setValue(4096);
    form.SpinEdit_1->setValue(30);
    form.Spinheures->setValue(7);
    form.ComboBox_1->clear();
    form.ComboBox_1->addItems({"/media/u/A:-Quillomet-A - 1", "/media/u/B:-Quillomet- - 2"});
    form.ComboBox_1->setCurrentIndex(1);
    ASSERT_TRUE(form.Store()->SaveAll());
  }
  const std::string text = testenv::readFile(SettingsFile());
  EXPECT_NE(text.find("[Form1]\n"), std::string::npos);
  EXPECT_NE(text.find("mot_de_passe=p@ss=\"word\"\n"), std::string::npos);  // as typed
  EXPECT_NE(text.find("[Form1ComboBox_1]\nL0=/media/u/A:-Quillomet-A - 1\nL1=/media/u/B:-Quillomet- - 2\nItemIndex=1\n"),
            std::string::npos);
  for (const char* absent : {"Edit3", "CheckLundi", "Spinheures", "Message_vz"}) {
    EXPECT_EQ(text.find(absent), std::string::npos) << absent;
  }
  struct stat st {};
  ASSERT_EQ(stat(SettingsFile().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);

  SampleForm back;
  back.Store()->Loaded();
  EXPECT_EQ(back.Smtp_vz->text(), "  smtp.example.org  ");  // edge blanks survive
  EXPECT_EQ(back.mot_de_passe->text(), "p@ss=\"word\"");
  EXPECT_EQ(back.Edit3->text(), "/");
  EXPECT_FALSE(back.CheckBox_13->isChecked());
  EXPECT_TRUE(back.CheckBox_16->isChecked());
  EXPECT_TRUE(back.CheckLundi->isChecked());  // never written: checked at every start
  EXPECT_EQ(back.sup_a->value(), 4096);       // two spin boxes keep their own values
  EXPECT_EQ(back.SpinEdit_1->value(), 30);
  EXPECT_EQ(back.Spinheures->value(), 0);
  ASSERT_EQ(back.ComboBox_1->count(), 2);
  EXPECT_EQ(back.ComboBox_1->currentIndex(), 1);
  EXPECT_EQ(back.ComboBox_1->itemText(1), "/media/u/B:-Quillomet- - 2");
}

TEST(SvgEditIni, SavingKeepsOtherContentAndShrunkListsLeaveNothingStale) {
  MakeDataFolder();
  testenv::writeFile(SettingsFile(),
                     "; written by hand\r\n[Other]\r\nkey=kept\r\n[Form1ComboBox_1]\r\nL0=a\r\nL1=b\r\nL2=c\r\n"
                     "ItemIndex=2\r\n[Form1]\r\nEdit_20=FRENCH\r\n");
  SampleForm form;
  form.ComboBox_1->clear();
  form.ComboBox_1->addItem("only");
  ASSERT_TRUE(form.Store()->SaveAll());
  platform::IniFile ini(SettingsFile());
  EXPECT_EQ(ini.ReadSection("Form1ComboBox_1"), (std::vector<std::string>{"L0", "ItemIndex"}));
  EXPECT_EQ(ini.ReadString("Form1ComboBox_1", "L0", ""), "only");
  EXPECT_EQ(ini.ReadString("Other", "key", ""), "kept");
  EXPECT_EQ(ini.ReadString("Form1", "Edit_20", ""), "FRENCH");  // a key of no control here stays
  SampleForm back;
  back.Store()->Loaded();
  ASSERT_EQ(back.ComboBox_1->count(), 1);
  EXPECT_EQ(back.ComboBox_1->itemText(0), "only");
}

// A list line the file cannot hold as it stands (a NUL read from a damaged file, a line break)
// is stored without it: a gap would lose every later line at the next start.
TEST(SvgEditIni, ListLinesThatCannotBeStoredLeaveNoGap) {
  MakeDataFolder();
  testenv::writeFile(SettingsFile(), std::string("[Form1ComboBox_1]\nL0=a\0b\nL1=c\nItemIndex=1\n", 42));
  SampleForm form;
  form.Store()->Loaded();
  ASSERT_EQ(form.ComboBox_1->count(), 2);
  form.ComboBox_1->addItem("d\ne\r\nf");
  ASSERT_TRUE(form.Store()->SaveAll());
  SampleForm back;
  back.Store()->Loaded();
  ASSERT_EQ(back.ComboBox_1->count(), 3);
  EXPECT_EQ(back.ComboBox_1->itemText(0), "ab");
  EXPECT_EQ(back.ComboBox_1->itemText(1), "c");
  EXPECT_EQ(back.ComboBox_1->itemText(2), "d e  f");
  EXPECT_EQ(back.ComboBox_1->currentIndex(), 1);
}

TEST(SvgEditIni, LoadRulesForHandWrittenValues) {
  const struct {
    const char* name;
    const char* file;
    int items, index;
    int supA;
    bool box13;
    const char* smtp;
  } cases[] = {
      {"index -1 selects nothing", "[Form1ComboBox_1]\nL0=a\nL1=b\nItemIndex=-1\n", 2, -1, 100, true, "smtp.designed"},
      {"index past the end is ignored", "[Form1ComboBox_1]\nL0=a\nL1=b\nItemIndex=2\n", 2, -1, 100, true,
       "smtp.designed"},
      {"index absent reads 0", "[Form1ComboBox_1]\nL0=a\n", 1, 0, 100, true, "smtp.designed"},
      {"lines stop at the first gap", "[Form1ComboBox_1]\nL0=a\nL2=c\nItemIndex=0\n", 1, 0, 100, true,
       "smtp.designed"},
      {"empty value empties the edit", "[Form1]\nSmtp_vz=\n", 0, -1, 100, true, ""},
      {"spin above its maximum", "[form1]\nSUP_A=9999999\n", 0, -1, 500000, true, "smtp.designed"},
      {"spin not a number", "[Form1]\nsup_a=beaucoup\n", 0, -1, 100, true, "smtp.designed"},
      {"box 0 unchecks", "[Form1]\nCheckBox_13=0\n", 0, -1, 100, false, "smtp.designed"},
      {"box not a number keeps the default", "[Form1]\nCheckBox_13=non\n", 0, -1, 100, true, "smtp.designed"},
      {"garbage lines are passed over", "\x01\x02garbage\n[Form1\nsup_a=200\n=\n", 0, -1, 200, true,
       "smtp.designed"},
      {"UTF-8 text as it stands", "[Form1]\nSmtp_vz=d\xc3\xa9st\n", 0, -1, 100, true, "d\xc3\xa9st"},
      {"a value in the old 8-bit code page keeps its accents", "[Form1]\nSmtp_vz=\"\xc9" "chec \xe9t\xe9\"\n", 0, -1,
       100, true, "\xc3\x89" "chec \xc3\xa9t\xc3\xa9"},
  };
  MakeDataFolder();
  for (const auto& c : cases) {
    testenv::writeFile(SettingsFile(), c.file);
    SampleForm form;
    form.Store()->Loaded();
    EXPECT_EQ(form.ComboBox_1->count(), c.items) << c.name;
    EXPECT_EQ(form.ComboBox_1->currentIndex(), c.index) << c.name;
    EXPECT_EQ(form.sup_a->value(), c.supA) << c.name;
    EXPECT_EQ(form.CheckBox_13->isChecked(), c.box13) << c.name;
    EXPECT_EQ(form.Smtp_vz->text().toStdString(), c.smtp) << c.name;
  }
}

TEST(SvgEditIni, CloseRunsTheOwnersHandlerThenSaves) {
  MakeDataFolder();
  SampleForm form;
  form.Store();
  form.show();
  int calls = 0;
  form.onClose = [&](QCloseEvent* e) {
    ++calls;
    EXPECT_FALSE(fs::exists(SettingsFile()));  // the owner's handler comes first
    form.Smtp_vz->setText("set by the close handler");
    e->ignore();  // "No": the window stays
  };
  EXPECT_FALSE(form.close());
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(form.isVisible());
  platform::IniFile ini(SettingsFile());
  EXPECT_EQ(ini.ReadString("Form1", "Smtp_vz", ""), "set by the close handler");

  form.onClose = [&](QCloseEvent* e) {
    ++calls;
    form.Smtp_vz->setText("accepted");
    e->accept();
  };
  EXPECT_TRUE(form.close());
  EXPECT_EQ(calls, 2);
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(platform::IniFile(SettingsFile()).ReadString("Form1", "Smtp_vz", ""), "accepted");
}

TEST(SvgEditIni, FailedSavesAreSilentAndLoseNothing) {
  // Data folder missing: the store never creates it.
  SampleForm form;
  EXPECT_FALSE(form.Store()->SaveAll());
  EXPECT_FALSE(fs::exists(SettingsFile().parent_path()));
  // Data folder is a file: ENOTDIR.
  testenv::writeFile(SettingsFile().parent_path(), "not a folder");
  EXPECT_FALSE(form.Store()->SaveAll());
  EXPECT_EQ(testenv::readFile(SettingsFile().parent_path()), "not a folder");
  // A value that cannot stand on one line keeps the earlier value; the rest is saved.
  fs::remove(SettingsFile().parent_path());
  MakeDataFolder();
  form.Smtp_vz->setText("first");
  ASSERT_TRUE(form.Store()->SaveAll());
  form.Smtp_vz->setText("two\nlines");
  form.SpinEdit_1->setValue(42);
  ASSERT_TRUE(form.Store()->SaveAll());
  platform::IniFile ini(SettingsFile());
  EXPECT_EQ(ini.ReadString("Form1", "Smtp_vz", ""), "first");
  EXPECT_EQ(ini.ReadInteger("Form1", "SpinEdit_1", 0), 42);
}

TEST(SvgEditIni, OtherKindsOfControlRoundTrip) {
  MakeDataFolder();
  auto fill = [](SampleForm& f) {
    f.Add<QDateTimeEdit>("Quand_1");
    f.Add<QRadioButton>("Radio_1");
    f.Add<QListWidget>("Liste_1");
    f.Add<QTableWidget>("Grille_1");
    f.Add<QTextEdit>("Riche_1");
    f.Store()->SauveMemo = f.Store()->SauveRichEdit = true;
    f.Store()->SauveListBox = f.Store()->SauveStringGrid = true;
  };
  {
    SampleForm form;
    fill(form);
    form.findChild<QDateTimeEdit*>("Quand_1")->setDateTime(QDateTime(QDate(2026, 12, 10), QTime(8, 30, 15)));
    form.findChild<QRadioButton*>("Radio_1")->setChecked(false);
    auto* list = form.findChild<QListWidget*>("Liste_1");
    list->addItems({"un", " deux "});
    list->setCurrentRow(1);
    auto* grid = form.findChild<QTableWidget*>("Grille_1");
    grid->setColumnCount(3);
    grid->setRowCount(2);
    grid->setItem(1, 2, new QTableWidgetItem(" cellule "));
    grid->setItem(0, 0, new QTableWidgetItem("   "));
    grid->setCurrentCell(1, 2);
    grid->setProperty("Tag", 7);
    form.findChild<QTextEdit*>("Riche_1")->setPlainText("l1\nl2");
    form.Message_vz->setPlainText("ligne 1\n\nligne 3");
    ASSERT_TRUE(form.Store()->SaveAll());
  }
  platform::IniFile ini(SettingsFile());
  EXPECT_EQ(ini.ReadSection("Form1Grille_1"),
            (std::vector<std::string>{"COLCOUNT", "ROWCOUNT", "COL", "ROW", "TAG", "C2L1"}));
  EXPECT_EQ(ini.ReadString("Form1Message_vz", "ItemIndex", ""), "0");
  SampleForm back;
  fill(back);
  back.Store()->Loaded();
  EXPECT_EQ(back.findChild<QDateTimeEdit*>("Quand_1")->dateTime(), QDateTime(QDate(2026, 12, 10), QTime(8, 30, 15)));
  EXPECT_FALSE(back.findChild<QRadioButton*>("Radio_1")->isChecked());
  auto* list = back.findChild<QListWidget*>("Liste_1");
  ASSERT_EQ(list->count(), 2);
  EXPECT_EQ(list->item(1)->text(), " deux ");
  EXPECT_EQ(list->currentRow(), 1);
  auto* grid = back.findChild<QTableWidget*>("Grille_1");
  EXPECT_EQ(grid->columnCount(), 3);
  EXPECT_EQ(grid->rowCount(), 2);
  EXPECT_EQ(grid->item(1, 2)->text(), " cellule ");
  EXPECT_EQ(grid->currentRow(), 1);
  EXPECT_EQ(grid->currentColumn(), 2);
  EXPECT_EQ(grid->property("Tag").toInt(), 7);
  EXPECT_EQ(back.findChild<QTextEdit*>("Riche_1")->toPlainText(), "l1\nl2");
  EXPECT_EQ(back.Message_vz->toPlainText(), "ligne 1\n\nligne 3");
}

TEST(SvgEditIni, LongValuesAndLongListsComeBackWholeAndQuickly) {
  MakeDataFolder();
  const QString longValue = QString(50000, QLatin1Char('v')) + "fin";
  QStringList items;
  for (int i = 0; i < 20000; ++i) items << QString("/media/u/V%1:-Quillomet-V - %1").arg(i);
  const auto start = std::chrono::steady_clock::now();
  for (int round = 0; round < 2; ++round) {  // the second save reads what the first wrote
    SampleForm form;
    form.Store()->Loaded();
    if (round == 0) {
      form.Smtp_vz->setMaxLength(longValue.size());
      form.Smtp_vz->setText(longValue);
      form.ComboBox_1->clear();
      form.ComboBox_1->addItems(items);
      form.ComboBox_1->setCurrentIndex(19999);
    }
    ASSERT_TRUE(form.Store()->SaveAll());
  }
  SampleForm back;
  back.Store()->Loaded();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(back.Smtp_vz->text(), longValue);
  ASSERT_EQ(back.ComboBox_1->count(), 20000);
  EXPECT_EQ(back.ComboBox_1->itemText(12345), items[12345]);
  EXPECT_EQ(back.ComboBox_1->currentIndex(), 19999);
  // Three loads and two saves of 20,000 items: a lookup that scans the file makes this
  // take many seconds.
  EXPECT_LT(seconds, 3.0);
}
