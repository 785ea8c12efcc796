// Network computers and share reconnection.
#include <QApplication>
#include <QListWidget>
#include <QStandardItemModel>
#include <QTreeView>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <thread>

#include "platform/smbshare.h"
#include "scheduler/core/backuprun.h"
#include "scheduler/core/dailylog.h"
#include "scheduler/core/fields.h"
#include "scheduler/core/history.h"
#include "scheduler/core/netlist.h"
#include "scheduler/ui/slotguard.h"
#include "scheduler/ui/tform1.h"

namespace ui {
namespace {

constexpr int kLineBytes = Qt::UserRole + 1;  // the line as the file holds it
constexpr int kTreePath = Qt::UserRole + 2;   // "//computer" or "//computer/share"

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
  bool ComputerReachable(const std::string& computer) override { return f_.NetReachable(computer); }
  void Reconnect(const std::string& computer) override {
    f_.Edit23->setText(Q(computer));
    f_.Button25Click();
  }
  std::string LocalPath(const std::string& networkPath) override { return platform::ShareLocalPath(networkPath); }

 private:
  TForm1& f_;
};

// Mounts the shares of that computer that the run fields name and that no mount serves yet.
void ConnectShares(const TForm1& f, const std::string& computer, const platform::SmbCredentials& credentials) {
  platform::RememberCredentials(computer, credentials);
  for (const QLineEdit* edit : {f.Edit4, f.Edit3}) {
    const std::string path = S(edit->text());
    if (!core::IsNetworkPath(path) || core::NetworkComputer(path) != computer) continue;
    const std::string share = core::ExtractField(path + "/", '/', 5);
    if (share.empty() || !platform::ShareLocalPath("//" + computer + "/" + share).empty()) continue;
    platform::MountShare(computer, share, credentials);
  }
}

void AddTreeNode(QStandardItem* parent, const QString& text, const std::string& path) {
  auto* item = new QStandardItem(text);
  item->setData(Q(path), kTreePath);
  item->setEditable(false);
  parent->appendRow(item);
}

}  // namespace

core::RunNetwork& TForm1::Network() { return *network_; }

void TForm1::connectNetwork() {
  network_ = std::make_unique<FormNetwork>(*this);
  NetReachable = [](const std::string& computer) {
    return platform::SmbComputerReachable(computer, platform::RememberedCredentials(computer));
  };
  NetConnect = [this](const std::string& computer, const std::string& login, const std::string& password) {
    ConnectShares(*this, computer, {login, password});
  };
  NetWait = [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };

  auto* model = new QStandardItemModel(ShellTreeView3);
  ShellTreeView3->setModel(model);
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
  return ListBox2->item(index)->data(kLineBytes).toByteArray().toStdString();
}

void TForm1::ecrireresau(const std::string& line) { core::AppendNetworkLine(ListPath(), line); }

void TForm1::Button24Click() {
  ListBox2->clear();
  for (const std::string& line : core::ReadNetworkList(ListPath())) {
    auto* item = new QListWidgetItem(QString::fromUtf8(line.data(), static_cast<int>(line.size())), ListBox2);
    item->setData(kLineBytes, QByteArray::fromStdString(line));
  }
  // The tree offers the listed computers and the shares mounted now.
  auto* model = static_cast<QStandardItemModel*>(ShellTreeView3->model());
  model->clear();
  std::vector<std::string> computers;
  for (int i = 0; i < ListBox2->count(); ++i) {
    const std::string computer = core::ParseNetworkLine(NetworkLineAt(i)).computer;
    if (!computer.empty() && std::find(computers.begin(), computers.end(), computer) == computers.end())
      computers.push_back(computer);
  }
  for (const std::string& computer : computers) AddTreeNode(model->invisibleRootItem(), Q(computer), "//" + computer);
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
  const std::string path = index.isValid() ? S(index.data(kTreePath).toString()) : std::string();
  Edit19->setText(Q(core::ComputerOfTreePath(path)));
}

namespace {

enum class Attempt { NoComputer, Reachable, Unreachable };

// The connection command for Edit19, the fixed wait, then whether the computer answers.
Attempt ConnectAndTest(TForm1& f, bool pumpOnce) {
  if (f.Edit19->text().isEmpty()) {
    f.Edit22->setText(QStringLiteral("Sélectionner l'ordinateur réseau..."));
    return Attempt::NoComputer;
  }
  const std::string computer = S(f.Edit19->text());
  f.NetConnect(computer, S(f.MaskEdit1->text()), S(f.MaskEdit2->text()));
  f.NetWait(3000);
  if (pumpOnce) QApplication::processEvents();
  return f.NetReachable(computer) ? Attempt::Reachable : Attempt::Unreachable;
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
  NetWait(3000);
  const std::vector<std::string> lines = Lines(*this);
  const int index = core::FirstLineContaining(lines, S(Edit23->text()));
  if (index < 0) return;
  FillCredentials(*this, lines[static_cast<std::size_t>(index)]);
  NetWait(1000);
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
