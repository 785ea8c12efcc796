// Network computers page, reconnection and the alerts of the main window.
#include <sys/stat.h>

#include <QApplication>
#include <QEventLoop>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QStandardItemModel>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <functional>

#include <condition_variable>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <stdexcept>

#include "scheduler/core/alerts.h"
#include "scheduler/core/backuprun.h"
#include "scheduler/core/fields.h"
#include "scheduler/core/netlist.h"
#include "scheduler/ui/listimages.h"
#include "scheduler/ui/listitems.h"
#include "scheduler/ui/networktree.h"
#include "scheduler/ui/slotguard.h"
#include "scheduler/ui/tform1.h"
#include "tests/support/smtpserver.h"
#include "tests/support/testca.h"
#include "tests/support/modalbox.h"
#include "tests/support/testenv.h"

namespace {

namespace fs = std::filesystem;
using Calls = std::vector<std::string>;
std::string S(const QString& s) { return s.toStdString(); }

struct SoundRecorder : core::AlertSound {
  Calls* calls;
  explicit SoundRecorder(Calls* c) : calls(c) {}
  bool PlayFile(const std::string& path) override {
    calls->push_back("play " + path);
    return true;
  }
  void Beep() override { calls->push_back("beep"); }
  void Tone(int hz, int ms) override { calls->push_back("tone " + std::to_string(hz) + " " + std::to_string(ms)); }
  void PlayFailed() override { calls->push_back("sound box"); }
};

class NetworkWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    testenv::writeFile(testenv::testRoot() / "data" / "Quillomet" / "serie.ini", "[Form1]\n");
    form = std::make_unique<ui::TForm1>();
    for (QTimer* t : {form->Timer1, form->Timer2, form->Timer3, form->Timer4}) t->stop();
    for (QCheckBox* c : {form->CheckBox_12, form->CheckBox_13, form->CheckBox_14, form->CheckBox_16})
      c->setChecked(false);
    form->Sound = std::make_unique<SoundRecorder>(&calls);
    form->NetConnect = [this](const std::string& c, const std::string& l, const std::string& p,
                              const std::vector<std::string>& shares) {
      std::string joined;
      for (const std::string& s : shares) joined += (joined.empty() ? "" : ",") + s;
      calls.push_back("connect " + c + " " + l + " " + p + " [" + joined + "]");
      return reachable;
    };
    form->NetReachable = [this](const std::string& path) {
      calls.push_back("reachable " + path);
      return reachable;
    };
    form->NetTree->List = [](const std::string&, const platform::SmbCredentials&, const platform::SmbOptions&) {
      return std::optional<std::vector<platform::SmbEntry>>();
    };
    form->NetTree->LevelLoaded = [this] { ++levels; };
  }
  std::string ListFile() const { return core::NetworkListPath(ui::DataFolder); }
  void Add(const QString& computer, const QString& login, const QString& password) {
    form->Edit19->setText(computer);
    form->MaskEdit1->setText(login);
    form->MaskEdit2->setText(password);
    form->Button20Click();
  }
  std::string TodayLog() const {
    const fs::path p = ui::DataFolder + core::DateStamp(core::LocalTime(std::time(nullptr))) + ".log";
    return fs::exists(p) ? testenv::readFile(p) : "";
  }
  template <class F>
  QString WithBox(F body) {
    return testenv::WithBox(body);
  }
  void MailSettings(int port) {
    form->Smtp_vz->setText(QString::fromStdString("127.0.0.1:" + std::to_string(port)));
    form->Email_v->setText("moi@example.org");
    form->Email_D->setText("toi@example.org");
    form->Sujet_vz->setText("Alerte");
  }

  // Runs the event loop until `n` levels of the tree have arrived since the test began.
  void WaitForLevels(int n) {
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    deadline.start(30000);
    form->NetTree->LevelLoaded = [&] {
      if (++levels >= n) loop.quit();
    };
    if (levels < n) loop.exec();
    form->NetTree->LevelLoaded = [this] { ++levels; };
    ASSERT_GE(levels, n) << "the network tree did not fill in time";
  }

  // "Rétablir" for PC1 during a run from /home/u/docs to one of its shares.
  void ReconnectPC1() {
    form->Edit3->setText("/home/u/docs");
    form->Edit4->setText("//PC1/share/docs");
    form->Edit12->setText("false");
    form->ScruteDossier1.Stop = false;
    form->Edit19->setText("PC1");
    form->Button19Click();
  }
  std::unique_ptr<ui::TForm1> form;
  Calls calls;
  bool reachable = true;
  int levels = 0;
};

TEST_F(NetworkWindow, AddSelectAndRemoveComputers) {
  Add("PC1", "Quentin", "Vivaldi[1]\\");
  Add("SERVER", "admin", "pw");
  ASSERT_EQ(form->ListBox2->count(), 2);
  const std::vector<std::string> lines = core::ReadNetworkList(ListFile());
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].rfind("PC1\\", 0), 0u);
  struct stat st;
  ASSERT_EQ(::stat(ListFile().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  form->Edit19->clear();
  form->ListBox2->setCurrentRow(0);
  EXPECT_TRUE(form->Button21->isEnabled());
  EXPECT_EQ(S(form->Edit19->text()), "PC1");
  EXPECT_EQ(S(form->MaskEdit1->text()), "Quentin");
  EXPECT_EQ(S(form->MaskEdit2->text()), "Vivaldi[1]\\");

  form->Button21Click();
  EXPECT_FALSE(form->Button21->isEnabled());
  EXPECT_EQ(core::ReadNetworkList(ListFile()), std::vector<std::string>{lines[1]});
  form->ListBox2->setCurrentRow(0);
  form->Button21Click();
  EXPECT_FALSE(fs::exists(ListFile()));  // removing the only line leaves no file

  // The list comes back from the file at start-up.
  Add("NAS", "", "");
  form.reset();
  form = std::make_unique<ui::TForm1>();
  ASSERT_EQ(form->ListBox2->count(), 1);
  EXPECT_EQ(S(form->ListBox2->item(0)->text()), "NAS\\\\");
}

// Damaged lists with a line of 20 MB, its long part in each field in turn: the line is shown
// cut and kept whole, each field reaches the page and the tree cut, and the whole start with the
// page shown stays within a small multiple of the line's size. A huge computer name made a tree
// row of a gigabyte, a huge blank height and seconds of freeze.
TEST_F(NetworkWindow, EveryShapeOfAHugeLineStaysBounded) {
  const std::size_t size = 20u << 20;
  const std::string x(size, 'x');
  std::string invalid;  // no UTF-8: lone continuations, 0xFE, 0xFF, a cut lead
  while (invalid.size() < size) invalid += "\x80\xBF\xFE\xFF\xC3";
  const struct {
    const char* shape;
    std::string line;
  } cases[] = {
      {"no separator", std::string(20000000, 'A')},
      {"huge computer", "grosserveur" + x + "\\log\\pwd"},
      {"huge login", "PC1\\" + x + "\\pw"},
      {"huge password", "PC1\\log\\" + x},
      {"NUL bytes", "PC" + std::string(size, '\0') + std::string("\\l\0g\\p\0", 7)},
      {"invalid UTF-8", "PC" + invalid + "\\\x80\\\xFF"},
  };
  const std::string other = core::NetworkLine({"NAS", "bob", "pw"});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.shape);
    testenv::writeFile(ListFile(), c.line + "\n" + other + "\n");
    form.reset();
    testenv::resetPeakMemory();
    const long before = testenv::statusKiB("VmRSS");
    form = std::make_unique<ui::TForm1>();
    form->NetTree->List = [](const std::string&, const platform::SmbCredentials&, const platform::SmbOptions&) {
      return std::optional<std::vector<platform::SmbEntry>>();
    };
    form->PageControl1->setCurrentWidget(form->TabSheet6);
    form->show();
    form->grab();  // the list and the tree are laid out and painted
    QApplication::processEvents();
    ASSERT_EQ(form->ListBox2->count(), 2);
    const QString shown = form->ListBox2->item(0)->text();
    EXPECT_TRUE(shown.endsWith(QString::fromUtf8(ui::kCutMark)));
    EXPECT_LE(shown.size(), static_cast<qsizetype>(ui::kShownBytes + 1));
    EXPECT_EQ(form->NetworkLineAt(0), c.line);
    EXPECT_EQ(S(form->ListBox2->item(1)->text()), other);

    // The tree offers the computer by a cut name (a character at most for each byte kept), on a
    // row of one line.
    QTreeView* tree = form->ShellTreeView3;
    const QModelIndex computer = tree->model()->index(0, 0);
    ASSERT_TRUE(computer.isValid());
    EXPECT_LE(computer.data().toString().size(), 1020);
    EXPECT_LE(computer.data(ui::NetworkTree::PathRole).toString().size(), 1022);
    EXPECT_LE(tree->visualRect(computer).height(), 3 * tree->fontMetrics().height());

    // Choosing the line fills the fields cut.
    form->ListBox2->setCurrentRow(0);
    for (const QLineEdit* edit : {form->Edit19, form->MaskEdit1, form->MaskEdit2})
      EXPECT_LE(edit->text().size(), 1020) << S(edit->objectName());
    form->grab();

    // Removing the other line writes the huge one back whole.
    form->ListBox2->setCurrentRow(1);
    form->Button21Click();
    EXPECT_EQ(testenv::readFile(ListFile()), c.line + "\n");
    const long grown = testenv::statusKiB("VmHWM") - before;
    if (before < 0 || grown <= 0) continue;  // no peak memory figures here
    EXPECT_LT(grown * 1024, static_cast<long>(6 * size)) << grown << " KiB above the start";
  }
}

// A network that answers only when the test lets it, as a slow one does.
struct SlowNetwork {
  std::mutex mutex;
  std::condition_variable cv;
  bool open = false;
  std::vector<std::string> asked;  // url and login, in order

  ui::NetworkTree::Lister Lister() {
    return [this](const std::string& url, const platform::SmbCredentials& c, const platform::SmbOptions&)
               -> std::optional<std::vector<platform::SmbEntry>> {
      std::unique_lock<std::mutex> lock(mutex);
      cv.wait(lock, [this] { return open; });
      asked.push_back(url + " " + c.login);
      using K = platform::SmbKind;
      if (url == "smb://") return std::vector<platform::SmbEntry>{{"WORKGROUP", K::Workgroup}};
      if (url == "smb://WORKGROUP/") return std::vector<platform::SmbEntry>{{"PC2", K::Computer}, {"SERVER", K::Computer}};
      if (url == "smb://SERVER/")
        return std::vector<platform::SmbEntry>{{"public", K::Share}, {"IPC$", K::Other}, {"C$", K::Share}, {"lp", K::Other}};
      if (url == "smb://SERVER/public") return std::vector<platform::SmbEntry>{{"file.txt", K::Other}, {"Docs", K::Folder}};
      return std::nullopt;
    };
  }
  void Open() {
    std::lock_guard<std::mutex> lock(mutex);
    open = true;
    cv.notify_all();
  }
};

std::vector<std::string> Children(const QAbstractItemModel& model, const QModelIndex& parent = {}) {
  std::vector<std::string> names;
  for (int i = 0; i < model.rowCount(parent); ++i) names.push_back(S(model.index(i, 0, parent).data().toString()));
  return names;
}

// The tree shows the listed computers at once and the rest of the network as it arrives,
// folders only; a node's path decides Edit19; a right click selects.
TEST_F(NetworkWindow, TreeBrowsesTheNetworkWithoutWaitingForIt) {
  SlowNetwork network;
  // Whatever happens below, the listings end before the network they wait on goes.
  struct Finish {
    SlowNetwork& network;
    std::unique_ptr<ui::TForm1>& form;
    ~Finish() {
      network.Open();
      form.reset();
    }
  } finish{network, form};
  form->NetTree->List = network.Lister();
  Add("SERVER", "a", "b");
  QTreeView* tree = form->ShellTreeView3;
  const QAbstractItemModel& model = *tree->model();
  ASSERT_EQ(Children(model), std::vector<std::string>{"SERVER"});

  form->show();
  form->PageControl1->setCurrentWidget(form->TabSheet6);
  const QModelIndex server = model.index(0, 0);
  tree->expand(server);
  QApplication::processEvents();  // the window goes on while the network is silent
  EXPECT_EQ(Children(model, server), std::vector<std::string>{"Chargement..."});

  network.Open();
  WaitForLevels(2);
  EXPECT_EQ(Children(model), (std::vector<std::string>{"WORKGROUP", "SERVER"}));
  const QModelIndex shares = model.index(1, 0);
  EXPECT_EQ(Children(model, shares), std::vector<std::string>{"public"});
  tree->expand(model.index(0, 0, shares));
  tree->expand(model.index(0, 0));
  WaitForLevels(4);
  EXPECT_EQ(Children(model, model.index(0, 0, shares)), std::vector<std::string>{"Docs"});
  EXPECT_EQ(Children(model, model.index(0, 0)), (std::vector<std::string>{"PC2", "SERVER"}));
  // The computer's own login lists its shares and folders; workgroups go without one.
  EXPECT_NE(std::find(network.asked.begin(), network.asked.end(), "smb://SERVER/public a"), network.asked.end());
  EXPECT_NE(std::find(network.asked.begin(), network.asked.end(), "smb://WORKGROUP/ "), network.asked.end());

  const QModelIndex docs = model.index(0, 0, model.index(0, 0, shares));
  tree->setCurrentIndex(docs);
  EXPECT_EQ(S(form->Edit19->text()), "SERVER");
  tree->setCurrentIndex(model.index(0, 0));  // a workgroup has no path
  EXPECT_EQ(S(form->Edit19->text()), "");
  tree->scrollTo(docs);
  emit tree->customContextMenuRequested(tree->visualRect(docs).center());
  EXPECT_EQ(tree->currentIndex(), docs);
  EXPECT_EQ(S(form->Edit19->text()), "SERVER");
}

TEST_F(NetworkWindow, ReconnectionTriesTheFirstLineContainingTheName) {
  Add("PC1", "first", "1");
  Add("PC", "second", "2");
  calls.clear();
  form->Edit23->setText("PC");
  form->Button25Click();
  EXPECT_EQ(calls, (Calls{"connect PC1 first 1 []"}));
  EXPECT_EQ(S(form->Edit22->text()), "La Connexion est établie...");

  calls.clear();
  form->Edit23->setText("NAS");
  form->Button25Click();
  EXPECT_TRUE(calls.empty());
  form->Edit23->clear();
  form->Button25Click();
  EXPECT_TRUE(calls.empty());
}

// The connection command mounts the shares of that computer that the run fields and the
// timetable's jobs use, each once.
TEST_F(NetworkWindow, ConnectionCommandTakesTheSharesTheJobsUse) {
  const auto line = [](const std::string& source, const std::string& target) {
    return "0|7|1|1|1|1|1|0|0|" + source + "|*.*|" + target + "|1|0|";
  };
  for (const std::string& l : {line("/home/u/docs", "//PC1/Sauvegardes/docs"), line("//pc1/Photos", "/media/usb"),
                                line("/home/u", "//other/c"), line("/home/u/x", "//pc1/sauvegardes/x")})
    form->ScheduleLines.push_back(l);
  form->Edit3->setText("/home/u/run");
  form->Edit4->setText("//PC1/Run/target");
  form->Edit19->setText("pc1");
  form->MaskEdit1->setText("bob");
  form->MaskEdit2->setText("pw");
  form->Button19Click();
  EXPECT_EQ(calls, Calls{"connect pc1 bob pw [Run,Sauvegardes,Photos]"});
  EXPECT_EQ(S(form->Edit22->text()), "La Connexion est établie...");
}

TEST_F(NetworkWindow, EmptyComputerNameAsksForOne) {
  form->Edit19->clear();
  form->Button19Click();
  EXPECT_EQ(S(form->Edit22->text()), "Sélectionner l'ordinateur réseau...");
  form->Button26Click();
  EXPECT_EQ(S(form->Edit22->text()), "Sélectionner l'ordinateur réseau...");
  EXPECT_TRUE(calls.empty());
}

TEST_F(NetworkWindow, AComputerThatStaysUnreachableIsReportedInFull) {
  reachable = false;
  form->CheckBox_12->setChecked(true);
  form->CheckBox_13->setChecked(true);
  form->CheckBox_14->setChecked(true);
  form->hide();
  ReconnectPC1();
  EXPECT_EQ(S(form->Edit22->text()), "Non connecté...");
  EXPECT_EQ(calls, (Calls{"connect PC1   [share]", "connect PC1   [share]", "beep", "tone 100 500"}));
  EXPECT_TRUE(form->isVisible());
  ASSERT_EQ(form->ListView1->topLevelItemCount(), 1);
  const QTreeWidgetItem* row = form->ListView1->topLevelItem(0);
  EXPECT_EQ(ui::ListImageOf(row), 2);
  EXPECT_EQ(S(row->text(2)), "/home/u/docs");
  EXPECT_EQ(S(row->text(3)), "Ordinateur Réseau non connecté...//PC1/share/docs");
  const std::string log = TodayLog();
  EXPECT_NE(log.find(" Erreur;/home/u/docs;Ordinateur Réseau non connecté...  //PC1/share/docs;;;"), std::string::npos)
      << log;
  EXPECT_TRUE(form->ScruteDossier1.Stop);
  EXPECT_EQ(S(form->Edit12->text()), "true");
}

TEST_F(NetworkWindow, PreflightReconnectsAnUnreachableComputerBeforeTheFolderTests) {
  reachable = false;
  Add("pc", "bob", "pw");
  calls.clear();
  const std::string source = testenv::makeDir("src").string();
  form->Edit3->setText(QString::fromStdString(source));
  form->Edit4->setText("//pc/share/x");
  form->Edit12->setText("true");
  form->Button13Click();
  EXPECT_EQ(S(form->Edit23->text()), "pc");
  ASSERT_GE(calls.size(), 2u);
  EXPECT_EQ(calls[0], "reachable //pc/share/x");
  EXPECT_EQ(calls[1], "connect pc bob pw [share]");
  // The run's target then counts as missing.
  const QTreeWidgetItem* last = form->ListView1->topLevelItem(form->ListView1->topLevelItemCount() - 1);
  EXPECT_EQ(S(last->text(3)), "Cible non présente //pc/share/x");
}

TEST_F(NetworkWindow, MissingMailFieldsShowTheBoxAndKeepTheErrorText) {
  form->Edit20->setText("Source non présente /s");
  form->Smtp_vz->clear();
  const QString text = WithBox([&] { form->Button34Click(); });
  EXPECT_TRUE(text.startsWith("Vous devez indiquer les renseignements suivant :")) << S(text);
  EXPECT_TRUE(text.contains("Ou décochez l'option \"Envoyer E-mail\" "));
  EXPECT_EQ(S(form->Edit20->text()), "Source non présente /s");
}

TEST_F(NetworkWindow, TestMailReachesARealServer) {
  if (!testenv::HaveAiosmtpd()) GTEST_SKIP() << "python3-aiosmtpd is not installed (scripts/install-deps.sh installs it)";
  testenv::SmtpServer server("alice:pw");
  ASSERT_GT(server.port(), 0);
  MailSettings(server.port());
  form->user_name->setText("alice");  // a login without a password: no AUTH
  form->Edit20->clear();
  form->Message_vz->setPlainText("Bureau\nÉtage 2");
  form->Button34Click();
  const std::string mail = server.Message(1);
  ASSERT_FALSE(mail.empty());
  EXPECT_EQ(mail.rfind("-\nmoi@example.org\ntoi@example.org\n", 0), 0u) << mail;
  EXPECT_NE(mail.find("Subject: Alerte\r\n"), std::string::npos);
  // The body is base64: decode it with Python's own mail reader.
  const fs::path raw = testenv::writeFile(testenv::testRoot() / "raw.eml", mail.substr(mail.find("Date:")));
  const std::string body = testenv::testRoot() / "body.txt";
  ASSERT_EQ(std::system(("/usr/bin/python3 -c \"import email,sys; m=email.message_from_bytes(open(sys.argv[1],'rb').read());"
                         " open(sys.argv[2],'w',encoding='utf-8').write(m.get_payload(decode=True).decode('utf-8'))\" '" +
                         raw.string() + "' '" + body + "'")
                            .c_str()),
            0);
  const std::string text = testenv::readFile(body);
  EXPECT_EQ(text.rfind(" \r\nQuillomet vous informe !\r\nUne erreur est survenue lors de votre sauvegarde.\r\n \r\n"
                       "Erreur : . \r\nDate et heure : ", 0),
            0u)
      << text;
  EXPECT_NE(text.find("\r\n \r\nBureau\r\nÉtage 2\r\n"), std::string::npos) << text;

  // With both login and password the mail goes with AUTH LOGIN; the error text is emptied.
  form->mot_de_passe->setText("pw");
  form->Edit20->setText("Cible non présente /t");
  form->Button34Click();
  EXPECT_EQ(server.Message(2).rfind("LOGIN alice\n", 0), 0u);
  EXPECT_TRUE(form->Edit20->text().isEmpty());
}

// "host:port" in the server setting; the login goes inside STARTTLS, verified against the CA
// the window is given.
TEST_F(NetworkWindow, TestMailUsesTheServerPortAndStarttls) {
  if (!testenv::HaveAiosmtpd()) GTEST_SKIP() << "python3-aiosmtpd is not installed (scripts/install-deps.sh installs it)";
  if (!testenv::HaveOpenssl()) GTEST_SKIP() << "openssl is not installed (scripts/install-deps.sh installs it)";
  const testenv::TestCa ca = testenv::MakeTestCa();
  ASSERT_TRUE(ca.ok);
  testenv::SmtpServer server("alice:pw", {"--cert", ca.serverCert.string(), "--key", ca.serverKey.string()});
  ASSERT_GT(server.port(), 0);
  MailSettings(server.port());
  form->SmtpCaFile = ca.caCert.string();
  form->user_name->setText("alice");
  form->mot_de_passe->setText("pw");
  form->Edit20->setText("Cible non présente /t");
  form->Button34Click();
  EXPECT_EQ(server.Message(1).rfind("LOGIN alice\n", 0), 0u);
  EXPECT_EQ(server.AuthLog(), "tls LOGIN alice\n");
  EXPECT_TRUE(form->Edit20->text().isEmpty());
}

TEST_F(NetworkWindow, MailFailuresAfterTheConnectionReachTheHandlerAndKeepTheText) {
  if (!testenv::HaveAiosmtpd()) GTEST_SKIP() << "python3-aiosmtpd is not installed (scripts/install-deps.sh installs it)";
  testenv::SmtpServer server("alice:pw");
  ASSERT_GT(server.port(), 0);
  MailSettings(server.port());
  form->user_name->setText("alice");
  form->mot_de_passe->setText("wrong");
  form->Edit20->setText("Cible non présente /t");
  try {
    form->Button34Click();
    ADD_FAILURE() << "a refused login went unreported";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Erreur lors de l'envoi de l'E-mail : l'identifiant ou le mot de passe a été refusé par le "
                           "serveur de messagerie (réponse 535)");
  }
  EXPECT_EQ(S(form->Edit20->text()), "Cible non présente /t");

  // No server at all: silent, the text stays.
  form->Smtp_vz->setText("127.0.0.1:1");
  form->Button34Click();
  EXPECT_EQ(S(form->Edit20->text()), "Cible non présente /t");
}

// The window alert brings the window back from wherever "Réduire" left it: hidden behind the
// icon, or minimised on a desktop without a notification area.
TEST_F(NetworkWindow, TheWindowAlertRestoresAHiddenOrMinimisedWindow) {
  reachable = false;
  form->CheckBox_14->setChecked(true);
  const std::pair<const char*, std::function<void()>> starts[] = {
      {"hidden", [this] { form->hide(); }},
      {"minimised", [this] { form->showMinimized(); }},
      {"reduced", [this] { form->show(); form->Button5Click(); }},
  };
  for (const auto& [what, start] : starts) {
    start();
    ReconnectPC1();
    EXPECT_TRUE(form->isVisible()) << what;
    EXPECT_FALSE(form->isMinimized()) << what;
  }
}

TEST_F(NetworkWindow, AnExceptionSendsTheMailButNeitherSoundsNorShows) {
  if (!testenv::HaveAiosmtpd()) GTEST_SKIP() << "python3-aiosmtpd is not installed (scripts/install-deps.sh installs it)";
  testenv::SmtpServer server;
  ASSERT_GT(server.port(), 0);
  MailSettings(server.port());
  form->CheckBox_13->setChecked(true);
  form->CheckBox_14->setChecked(true);
  form->CheckBox_16->setChecked(true);
  form->hide();
  form->Edit3->setText("/s");
  form->Edit4->setText("/t");
  ui::Guarded([] { throw std::runtime_error("boom"); });
  EXPECT_TRUE(calls.empty());
  EXPECT_FALSE(form->isVisible());
  EXPECT_FALSE(server.Message(1).empty());
  EXPECT_TRUE(form->Edit20->text().isEmpty());
}

TEST_F(NetworkWindow, SoundFileThatCannotBePlayedShowsTheBox) {
  form.reset();
  form = std::make_unique<ui::TForm1>();  // with the window's own sound
  form->on_equeued->setText(QString::fromStdString(testenv::writeFile(testenv::testRoot() / "x.wav", "text").string()));
  const QString text = WithBox([&] { form->SpeedButton17Click(); });
  EXPECT_EQ(S(text), "Il y a un problème avec le son wav ! Peux être le chemin indiqué n'est pas le bon...");
  form->on_equeued->clear();
  EXPECT_TRUE(WithBox([&] { form->SpeedButton17Click(); }).isEmpty());
}

}  // namespace
