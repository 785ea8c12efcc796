// Network computers and share reconnection.
#include <QApplication>
#include <QListWidget>
#include <QTreeView>

#include <algorithm>
#include <ctime>

#include "platform/smbshare.h"
#include "scheduler/core/backuprun.h"
#include "scheduler/core/dailylog.h"
#include "scheduler/core/fields.h"
#include "scheduler/core/history.h"
#include "scheduler/core/netconnect.h"
#include "scheduler/core/netlist.h"
#include "scheduler/core/timetable.h"
#include "scheduler/ui/listitems.h"
#include "scheduler/ui/networktree.h"
#include "scheduler/ui/slotguard.h"
#include "scheduler/ui/tform1.h"

namespace ui {
namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.toStdString(); }

std::string ListPath() { return core::NetworkListPath(DataFolder); }

std::vector<std::string> Lines(const TForm1& f) {
  std::vector<std::string> lines;
  for (int i = 0; i < f.ListBox2->count(); ++i) lines.push_back(f.NetworkLineAt(i));
  return lines;
}

void FillCredentials(TForm1& f, const std::string& line) {
  const core::NetworkComputerEntry e = core::ParseNetworkLine(line);
  f.Edit19->setText(Q(e.computer));
  f.MaskEdit1->setText(Q(e.login));
  f.MaskEdit2->setText(Q(e.password));
}

// The backup run reaches computers through the window's hooks and its reconnection.
class FormNetwork : public core::RunNetwork {
 public:
  explicit FormNetwork(TForm1& f) : f_(f) {}
  bool Reachable(const std::string& networkPath) override { return f_.NetReachable(networkPath); }
  void Reconnect(const std::string& computer) override {
    f_.Edit23->setText(Q(computer));
    f_.Button25Click();
  }
  std::string LocalPath(const std::string& networkPath) override { return platform::ShareLocalPath(networkPath); }

 private:
  TForm1& f_;
};

// Logins are checked and shares mounted on this machine.
class PlatformShares : public core::ShareAccess {
 public:
  explicit PlatformShares(const platform::SmbOptions& options) : options_(options) {}
  bool Authenticate(const std::string& computer, const std::string& login, const std::string& password) override {
    if (!platform::SmbComputerReachable(computer, {login, password}, options_)) return false;
    platform::RememberCredentials(computer, {login, password});
    return true;
  }
  bool Usable(const std::string& computer, const std::string& share) override {
    return platform::ShareUsable(computer, share);
  }
  void Mount(const std::string& computer, const std::string& share, const std::string& login,
             const std::string& password) override {
    platform::MountShare(computer, share, {login, password}, options_);
  }

 private:
  platform::SmbOptions options_;
};

platform::SmbOptions SmbOptionsOf(const TForm1& f) {
  platform::SmbOptions options;
  options.port = f.SmbPort;
  return options;
}

// Every folder the jobs may use: the run fields, then the timetable's sources and targets.
std::vector<std::string> JobPaths(const TForm1& f) {
  std::vector<std::string> paths{S(f.Edit4->text()), S(f.Edit3->text())};
  for (const std::string& line : f.ScheduleLines) {
    const core::ScheduleLine entry = core::ScheduleLine::Parse(line);
    paths.push_back(entry.target);
    paths.push_back(entry.source);
  }
  return paths;
}

}  // namespace

core::RunNetwork& TForm1::Network() { return *network_; }

void TForm1::connectNetwork() {
  network_ = std::make_unique<FormNetwork>(*this);
  NetReachable = [this](const std::string& path) {
    const std::string computer = core::NetworkComputer(path), share = core::NetworkShare(path);
    if (share.empty())
      return platform::SmbComputerReachable(computer, platform::RememberedCredentials(computer), SmbOptionsOf(*this));
    return platform::ShareUsable(computer, share);
  };
  NetConnect = [this](const std::string& computer, const std::string& login, const std::string& password,
                      const std::vector<std::string>& shares) {
    PlatformShares access(SmbOptionsOf(*this));
    return core::ConnectComputer(access, computer, login, password, shares);
  };

  NetTree = new NetworkTree(ShellTreeView3);
  NetTree->Options = [this] { return SmbOptionsOf(*this); };
  NetTree->CredentialsOf = [this](const std::string& computer) {
    for (int i = 0; i < ListBox2->count(); ++i) {
      const core::NetworkComputerEntry e = core::ParseNetworkLine(NetworkLineAt(i));
      if (core::SameNetworkName(e.computer, computer)) return platform::SmbCredentials{e.login, e.password};
    }
    return platform::RememberedCredentials(computer);
  };
  connect(ShellTreeView3->selectionModel(), &QItemSelectionModel::currentChanged, this,
          Guard([this] { ShellTreeView3Change(); }));
  bind(Button24, &QAbstractButton::clicked, &TForm1::Button24Click);
  bind(Button20, &QAbstractButton::clicked, &TForm1::Button20Click);
  connect(ListBox2, &QListWidget::itemSelectionChanged, this, Guard([this] { ListBox2Click(); }));
  bind(Button21, &QAbstractButton::clicked, &TForm1::Button21Click);
  bind(Button28, &QAbstractButton::clicked, &TForm1::Button28Click);
  bind(Button19, &QAbstractButton::clicked, &TForm1::Button19Click);
  bind(Button26, &QAbstractButton::clicked, &TForm1::Button26Click);
  bind(Button25, &QAbstractButton::clicked, &TForm1::Button25Click);
  bind(Button27, &QAbstractButton::clicked, &TForm1::Button27Click);
  bind(Button22, &QAbstractButton::clicked, &TForm1::Button22Click);
  bind(Button23, &QAbstractButton::clicked, &TForm1::Button23Click);
}

std::string TForm1::NetworkLineAt(int index) const {
  if (index < 0 || index >= ListBox2->count()) return {};
  return ItemText(*ListBox2->item(index));
}

void TForm1::ecrireresau(const std::string& line) { core::AppendNetworkLine(ListPath(), line); }

void TForm1::Button24Click() {
  ListBox2->clear();
  // A damaged file's huge line is shown cut and kept whole.
  for (const std::string& line : core::ReadNetworkList(ListPath())) AddItemText(*ListBox2, line);
  // The tree offers the listed computers beside the workgroups of the network.
  std::vector<std::string> computers;
  for (int i = 0; i < ListBox2->count(); ++i) {
    const std::string computer = core::ParseNetworkLine(NetworkLineAt(i)).computer;
    if (!computer.empty() && std::none_of(computers.begin(), computers.end(), [&](const std::string& c) {
          return core::SameNetworkName(c, computer);
        }))
      computers.push_back(computer);
  }
  NetTree->Reload(computers);
}

void TForm1::Button20Click() {
  ecrireresau(core::NetworkLine({S(Edit19->text()), S(MaskEdit1->text()), S(MaskEdit2->text())}));
  Button24Click();
}

void TForm1::ListBox2Click() {
  const int index = ListBox2->currentRow();
  if (index < 0 || !ListBox2->currentItem() || !ListBox2->currentItem()->isSelected()) {
    Button21->setEnabled(false);
    return;
  }
  Button21->setEnabled(true);
  FillCredentials(*this, NetworkLineAt(index));
}

void TForm1::DeleteAt2(int index) {
  if (index >= 0 && index < ListBox2->count()) delete ListBox2->takeItem(index);
}

void TForm1::Button21Click() {
  const QList<QListWidgetItem*> selected = ListBox2->selectedItems();
  if (!selected.isEmpty()) DeleteAt2(ListBox2->row(selected.first()));
  Button28Click();
  Button21->setEnabled(false);
}

void TForm1::Button28Click() {
  core::RewriteNetworkList(ListPath(), Lines(*this));
}

void TForm1::ShellTreeView3Change() {
  const QModelIndex index = ShellTreeView3->currentIndex();
  const std::string path = index.isValid() ? S(index.data(NetworkTree::PathRole).toString()) : std::string();
  Edit19->setText(Q(core::ComputerOfTreePath(path)));
}

namespace {

enum class Attempt { NoComputer, Reachable, Unreachable };

// The connection command for Edit19: the login, then the shares the jobs use on that computer.
Attempt ConnectAndTest(TForm1& f, bool pumpOnce) {
  if (f.Edit19->text().isEmpty()) {
    f.Edit22->setText(QStringLiteral("Sélectionner l'ordinateur réseau..."));
    return Attempt::NoComputer;
  }
  const std::string computer = S(f.Edit19->text());
  const bool connected = f.NetConnect(computer, S(f.MaskEdit1->text()), S(f.MaskEdit2->text()),
                                      core::SharesOfComputer(computer, JobPaths(f)));
  if (pumpOnce) QApplication::processEvents();
  return connected ? Attempt::Reachable : Attempt::Unreachable;
}

}  // namespace

void TForm1::Button19Click() {
  switch (ConnectAndTest(*this, true)) {
    case Attempt::NoComputer:
      return;
    case Attempt::Reachable:
      Edit22->setText(QStringLiteral("La Connexion est établie..."));
      return;
    case Attempt::Unreachable:
      Edit22->setText(QStringLiteral("Non connecté..."));
      Button26Click();
      return;
  }
}

void TForm1::Button26Click() {
  const Attempt attempt = ConnectAndTest(*this, false);
  if (attempt == Attempt::NoComputer) return;
  if (attempt == Attempt::Reachable) {
    Edit22->setText(QStringLiteral("Connexion ok..."));
    return;
  }
  Edit22->setText(QStringLiteral("Non connecté..."));
  const std::string source = S(Edit3->text()), target = S(Edit4->text());
  RaiseAlerts("Ordinateur Réseau non connecté..." + target);
  const std::string t = core::TimeText(core::LocalTime(std::time(nullptr)));
  AddHistoryRow(core::NetworkRow(t, source, target));
  if (CheckBox_12->isChecked()) AppendDailyLog(core::NetworkLogLine(t, source, target));
  ScruteDossier1.Stop = true;
  Edit12->setText(QStringLiteral("true"));
}

void TForm1::Button25Click() {
  const std::vector<std::string> lines = Lines(*this);
  const int index = core::FirstLineContaining(lines, S(Edit23->text()));
  if (index < 0) return;
  FillCredentials(*this, lines[static_cast<std::size_t>(index)]);
  Button19Click();
}

void TForm1::Button27Click() {
  const std::vector<std::string> lines = Lines(*this);
  const std::string name = S(Edit23->text());
  for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
    if (it->find(name) == std::string::npos) continue;
    FillCredentials(*this, *it);
    return;
  }
}

void TForm1::Button22Click() {}
void TForm1::Button23Click() {}

}  // namespace ui
