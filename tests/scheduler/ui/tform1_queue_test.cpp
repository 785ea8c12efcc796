#include <QListWidget>
#include <QTimer>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <stdexcept>

#include "scheduler/core/backuprun.h"
#include "scheduler/core/fields.h"
#include "scheduler/ui/listitems.h"
#include "scheduler/ui/tform1.h"
#include "scheduler/ui/tform4.h"
#include "tests/support/testenv.h"
#include "tests/support/usbvolume.h"

namespace fs = std::filesystem;

namespace {

fs::path DataFolder() { return testenv::testRoot() / "data" / "Quillomet"; }

// A later run (no first-run help), alerts off so a failed pre-flight shows nothing.
void WriteSettings() {
  testenv::writeFile(DataFolder() / "serie.ini",
                     "[Form1]\nCheckBox_12=0\nCheckBox_13=0\nCheckBox_14=0\nCheckBox_16=0\n");
}

std::time_t LocalAt(int mday, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = 2026 - 1900;
  t.tm_mon = 11;
  t.tm_mday = mday;  // 7 December 2026 is a Monday
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  t.tm_isdst = -1;
  return std::mktime(&t);
}

std::vector<std::string> Queue(const ui::TForm1& form) { return ui::ItemTexts(*form.ListBox3); }

// The timetable as the window holds it, with the file's size recorded so the per-minute
// reload test leaves it alone.
void SetTimetable(ui::TForm1& form, const std::vector<std::string>& lines) {
  std::string bytes;
  for (const std::string& l : lines) bytes += l + "\n";
  testenv::writeFile(DataFolder() / "quillo-vz.dat", bytes);
  ui::ScheduleFileSize = static_cast<std::int32_t>(bytes.size());
  form.ScheduleLines = lines;
}

void AddRow(QTreeWidget& view, const std::string& source, const std::string& target, const char* sub,
            const char* bdd) {
  auto* row = new QTreeWidgetItem(&view);
  row->setText(0, QString::number(view.topLevelItemCount()));
  row->setText(1, "12:00");
  row->setText(2, QString::fromStdString(source));
  row->setText(3, QString::fromStdString(target));
  row->setText(4, "*.txt");
  row->setText(5, sub);
  row->setText(6, bdd);
}

class QueueWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteSettings();
    form = std::make_unique<ui::TForm1>();
    form->Timer1->stop();
    form->Timer3->stop();
    form->Timer4->stop();
    form->Clock = [this] { return now; };
  }
  std::unique_ptr<ui::TForm1> form;
  std::time_t now = 0;
};

}  // namespace

TEST_F(QueueWindow, DueTickQueuesEachClockMinuteOnce) {
  SetTimetable(*form, {
                          "",
                          "30|14|1|0|0|0|0|0|0|/home/u/A|*.txt|/srv/a|1|0|",     // Mondays 14:30
                          "1|0|0|0|0|0|0|0|0|/home/u/B|*.*|/srv/b|0|1|",         // every minute
                          "31|14|1|1|1|1|1|1|1|/home/u/C|*.*|/media/u/K:-Quillomet-K - 1|1|0|",  // USB
                      });
  now = LocalAt(7, 14, 30, 5);
  form->Timer1Timer();
  EXPECT_EQ(form->Timer1->interval(), 60000);
  EXPECT_EQ(Queue(*form), (std::vector<std::string>{"/home/u/A|/srv/a|*.txt|1|0", "/home/u/B|/srv/b|*.*|0|1"}));
  now = LocalAt(7, 14, 30, 58);  // a second tick in the same minute
  form->Timer1Timer();
  EXPECT_EQ(Queue(*form).size(), 2u);
  now = LocalAt(7, 14, 32, 2);  // late: 14:31 is caught up
  form->Timer1Timer();
  EXPECT_EQ(Queue(*form).size(), 4u);
  now = LocalAt(7, 18, 0, 0);  // after a suspend: only the tick's own minute
  form->Timer1Timer();
  EXPECT_EQ(Queue(*form).size(), 5u);
}

// The road of one scheduled backup: the due tick queues the entry, the dispatch tick runs it.
TEST_F(QueueWindow, DueJobIsDispatchedAndRun) {
  const fs::path source = testenv::makeDir("source"), target = testenv::makeDir("target");
  testenv::writeFile(source / "sub" / "a.txt", "alpha");
  testenv::writeFile(source / "b.doc", "beta");
  SetTimetable(*form, {"", "15|0|0|0|0|0|0|0|0|" + source.string() + "|*.txt|" + target.string() + "|1|0|"});
  now = LocalAt(8, 10, 45, 3);
  form->Timer1Timer();
  ASSERT_EQ(Queue(*form).size(), 1u);
  form->Timer3Timer();
  EXPECT_TRUE(Queue(*form).empty());
  EXPECT_EQ(testenv::readFile(target / "sub" / "a.txt"), "alpha");
  EXPECT_FALSE(fs::exists(target / "b.doc"));
  EXPECT_EQ(form->Edit12->text(), "true");
  EXPECT_FALSE(form->RunBusy());
}

TEST_F(QueueWindow, DispatchTakesTheFirstJobIntoTheRunFields) {
  ui::TForm4 prompt;
  ui::Form4 = &prompt;
  const std::string source = (testenv::testRoot() / "absent source").string();
  const std::string target = (testenv::testRoot() / "absent target").string();
  ui::AddItemText(*form->ListBox3, source + "|" + target + "|*.doc|0|1");  // due shape
  ui::AddItemText(*form->ListBox3, source + "|" + target + "|*.odt|1");     // prompt shape
  form->Edit21->setText("x");
  form->Timer3Timer();
  // The folders do not exist: the pre-flight refuses the job and leaves the run fields filled.
  EXPECT_EQ(form->Edit3->text().toStdString(), source);
  EXPECT_EQ(form->Edit4->text().toStdString(), target);
  EXPECT_EQ(form->Edit2->text(), "*.doc");
  EXPECT_FALSE(form->CheckBox1->isChecked());
  EXPECT_TRUE(form->CheckBox13->isChecked());
  EXPECT_EQ(prompt.Label3->text().toStdString(), target);
  EXPECT_EQ(form->Edit21->text(), "");
  EXPECT_EQ(Queue(*form), (std::vector<std::string>{source + "|" + target + "|*.odt|1"}));
  form->Edit12->setText("true");
  form->Timer3Timer();
  EXPECT_EQ(form->Edit2->text(), "*.odt");
  EXPECT_TRUE(form->CheckBox1->isChecked());
  EXPECT_FALSE(form->CheckBox13->isChecked());  // no overwrite field: off
  EXPECT_TRUE(Queue(*form).empty());
  form->Edit12->setText("true");
  form->Timer3Timer();
  EXPECT_EQ(form->Edit21->text(), "rien");
  ui::Form4 = nullptr;
}

TEST_F(QueueWindow, DispatchWaitsWhileARunIsUnderWay) {
  ui::AddItemText(*form->ListBox3, "/a|/b|*.*|1|0");
  form->Edit21->setText("x");
  const struct {
    const char* name;
    const char* idle;
    bool walking;
  } cases[] = {
      {"run going", "false", false},
      {"stop still unwinding: marker true, walk not returned", "true", true},
      {"marker false and walk running", "false", true},
  };
  for (const auto& c : cases) {
    form->Edit12->setText(c.idle);
    form->ScruteDossier1.Running = c.walking;
    form->Timer3Timer();
    EXPECT_EQ(Queue(*form).size(), 1u) << c.name;
    EXPECT_EQ(form->Edit21->text(), "x") << c.name;
    EXPECT_EQ(form->Edit3->text(), "/") << c.name;
  }
  form->ScruteDossier1.Running = false;
}

// A pre-flight pumps events (here: while it asks whether a computer answers) with the idle
// marker still "true": a dispatch tick then must leave the next job in the queue.
TEST_F(QueueWindow, DispatchWaitsDuringAPreflight) {
  struct TickingNetwork : core::RunNetwork {
    ui::TForm1* form = nullptr;
    std::vector<std::string> queueSeen;
    bool Reachable(const std::string&) override {
      form->Timer3Timer();
      queueSeen = Queue(*form);
      return true;
    }
    void Reconnect(const std::string&) override {}
    std::string LocalPath(const std::string&) override { return ""; }
  } network;
  network.form = form.get();
  form->BackupRun().Network = &network;
  const std::string absent = (testenv::testRoot() / "absent").string();
  ui::AddItemText(*form->ListBox3, "//pc/share/docs|" + absent + "|*.*|1|0");
  ui::AddItemText(*form->ListBox3, "/home/u/next|" + absent + "|*.*|1|0");
  form->Edit21->setText("x");
  form->Timer3Timer();
  EXPECT_EQ(network.queueSeen, (std::vector<std::string>{"/home/u/next|" + absent + "|*.*|1|0"}));
  EXPECT_EQ(form->Edit3->text().toStdString(), "//pc/share/docs");  // the inner tick took no job
  EXPECT_EQ(Queue(*form).size(), 1u);
  form->BackupRun().Network = nullptr;
}

TEST_F(QueueWindow, HistoryClearedByTheTickThatCoversMidnight) {
  auto addRow = [this] { new QTreeWidgetItem(form->ListView1, QStringList{"", "23:59:01", "/a", "ok"}); };
  addRow();
  now = LocalAt(9, 23, 59, 58);
  form->Timer4Timer();
  EXPECT_EQ(form->ListView1->topLevelItemCount(), 1);
  now = LocalAt(10, 0, 1, 3);  // late tick: 00:00 had no tick of its own
  form->Timer4Timer();
  EXPECT_EQ(form->ListView1->topLevelItemCount(), 0);
  addRow();
  now = LocalAt(10, 0, 2, 0);
  form->Timer4Timer();
  EXPECT_EQ(form->ListView1->topLevelItemCount(), 1);
}

TEST_F(QueueWindow, TestQueueingLowestSelectedRowFirstAndUsbFolders) {
  const fs::path mount = testenv::makeDir("media/KEY");
  testenv::MountTable table;
  table.AddStick(17, mount.string(), "/dev/sdb1", "KEY", "0000-04D2");
  form->WatchMounts(table.roots);
  const std::string usb = mount.string() + ":-Quillomet-KEY - 1234";
  AddRow(*form->ListView2, "/home/u/R0", "/srv/r0", "oui", "non");
  AddRow(*form->ListView2, "/home/u/R1", "/srv/r1", "oui", "non");
  AddRow(*form->ListView2, "/home/u/R2", "/srv/r2", "oui", "non");
  AddRow(*form->ListView2, "/home/u/Work/Docs", usb, "non", "oui");
  AddRow(*form->ListView2, "/", usb, "oui", "oui");
  AddRow(*form->ListView2, "/home/u/R5", "/srv/r5", "non", "oui");
  for (int i : {2, 3, 4, 5}) form->ListView2->topLevelItem(i)->setSelected(true);
  form->Button29Click();
  EXPECT_EQ(Queue(*form), (std::vector<std::string>{
                              "/home/u/R5|/srv/r5|*.txt|0|1|",
                              "/|" + (mount / "Quillomet").string() + "|*.txt|1|1|",
                              "/home/u/Work/Docs|" + (mount / "Docs").string() + "|*.txt|0|1|",
                              "/home/u/R2|/srv/r2|*.txt|1|0|",
                          }));
  EXPECT_TRUE(fs::is_directory(mount / "Docs"));
  EXPECT_TRUE(fs::is_directory(mount / "Quillomet"));
}

TEST_F(QueueWindow, TestQueueingStopsAtAUsbFolderThatCannotBeMade) {
  const std::string absent = (testenv::testRoot() / "not mounted").string();
  AddRow(*form->ListView2, "/home/u/R0", "/srv/r0", "oui", "non");
  AddRow(*form->ListView2, "/home/u/Docs", absent + ":-Quillomet-KEY - 1", "oui", "non");
  AddRow(*form->ListView2, "/home/u/R2", "/srv/r2", "oui", "non");
  AddRow(*form->ListView2, "/home/u/Docs", ":-Quillomet-KEY - 1", "oui", "non");
  for (int i : {0, 1, 2}) form->ListView2->topLevelItem(i)->setSelected(true);
  try {
    form->Button29Click();
    ADD_FAILURE() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()), "Impossible de créer " + absent + "/Docs : le volume USB n'est plus branché");
  }
  // The row below, handled first, stays queued; the one above is not.
  EXPECT_EQ(Queue(*form), (std::vector<std::string>{"/home/u/R2|/srv/r2|*.txt|1|0|"}));
  EXPECT_FALSE(fs::exists(absent));
  // An identity without a mount point is never made relative to the working folder.
  form->ListBox3->clear();
  form->ListView2->clearSelection();
  form->ListView2->topLevelItem(3)->setSelected(true);
  EXPECT_THROW(form->Button29Click(), std::runtime_error);
  EXPECT_TRUE(Queue(*form).empty());
}
