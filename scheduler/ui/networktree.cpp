#include "scheduler/ui/networktree.h"

#include <QEvent>
#include <QStandardItemModel>
#include <QTreeView>

#include <algorithm>

namespace ui {
namespace {

constexpr int kUrlRole = Qt::UserRole + 3;       // what to list below the node
constexpr int kComputerRole = Qt::UserRole + 4;  // whose login the listing uses
constexpr int kStateRole = Qt::UserRole + 5;     // kUnread, kReading, kRead
constexpr int kPlaceholderRole = Qt::UserRole + 6;
enum { kUnread, kReading, kRead };

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QVariant& v) { return v.toString().toStdString(); }

// Hidden shares ("C$", "IPC$") and everything that is no folder stay out of the tree.
bool IsFolderEntry(const platform::SmbEntry& e) {
  switch (e.kind) {
    case platform::SmbKind::Workgroup:
    case platform::SmbKind::Computer:
    case platform::SmbKind::Folder:
      return true;
    case platform::SmbKind::Share:
      return !e.name.empty() && e.name.back() != '$';
    default:
      return false;
  }
}

}  // namespace

NetworkTree::NetworkTree(QTreeView* view) : QObject(view), view_(view), model_(new QStandardItemModel(view)) {
  view_->setModel(model_);
  view_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(view_, &QTreeView::customContextMenuRequested, this, [this](const QPoint& pos) {
    const QModelIndex index = view_->indexAt(pos);
    if (index.isValid()) view_->setCurrentIndex(index);
  });
  connect(view_, &QTreeView::expanded, this, [this](const QModelIndex& index) { Expand(index); });
  view_->installEventFilter(this);
}

NetworkTree::~NetworkTree() = default;

QStandardItem* NetworkTree::AddNode(QStandardItem* parent, const QString& text, const std::string& path,
                                    const std::string& url, const std::string& computer, int row) {
  auto* item = new QStandardItem(text);
  item->setEditable(false);
  item->setData(Q(path), PathRole);
  item->setData(Q(url), kUrlRole);
  item->setData(Q(computer), kComputerRole);
  item->setData(kUnread, kStateRole);
  auto* placeholder = new QStandardItem(QStringLiteral("Chargement..."));
  placeholder->setEditable(false);
  placeholder->setSelectable(false);
  placeholder->setData(true, kPlaceholderRole);
  item->appendRow(placeholder);
  if (row < 0) parent->appendRow(item);
  else parent->insertRow(row, item);
  return item;
}

void NetworkTree::Reload(const std::vector<std::string>& computers) {
  ++generation_;
  model_->clear();
  for (const std::string& computer : computers)
    AddNode(model_->invisibleRootItem(), Q(computer), "//" + computer, platform::SmbUrl(computer), computer);
  workgroupsWanted_ = true;
  if (view_->isVisible()) LoadWorkgroups();
}

bool NetworkTree::eventFilter(QObject* watched, QEvent* event) {
  if (watched == view_ && event->type() == QEvent::Show && workgroupsWanted_) LoadWorkgroups();
  return QObject::eventFilter(watched, event);
}

// The workgroups come first once they are known.
void NetworkTree::LoadWorkgroups() {
  workgroupsWanted_ = false;
  const int generation = generation_;
  const platform::SmbOptions options = Options ? Options() : platform::SmbOptions{};
  Lister list = List;
  calls_.Run<std::optional<std::vector<platform::SmbEntry>>>(
      [list, options] { return list("smb://", {}, options); },
      [this, generation](std::optional<std::vector<platform::SmbEntry>> entries) {
        if (generation != generation_ || !entries) return;
        int row = 0;
        for (const platform::SmbEntry& e : *entries) {
          if (e.kind != platform::SmbKind::Workgroup) continue;
          AddNode(model_->invisibleRootItem(), Q(e.name), "", platform::SmbUrl(e.name), "", row++);
        }
        if (LevelLoaded) LevelLoaded();
      });
}

void NetworkTree::Expand(const QModelIndex& index) {
  if (QStandardItem* item = model_->itemFromIndex(index)) Load(item);
}

void NetworkTree::Load(QStandardItem* item) {
  if (item->data(kStateRole).toInt() != kUnread) return;
  item->setData(kReading, kStateRole);
  const std::string computer = S(item->data(kComputerRole));
  const std::string url = S(item->data(kUrlRole));
  const platform::SmbCredentials credentials =
      CredentialsOf && !computer.empty() ? CredentialsOf(computer) : platform::SmbCredentials{};
  const platform::SmbOptions options = Options ? Options() : platform::SmbOptions{};
  const QPersistentModelIndex index(item->index());
  const int generation = generation_;
  Lister list = List;
  calls_.Run<std::optional<std::vector<platform::SmbEntry>>>(
      [list, url, credentials, options] { return list(url, credentials, options); },
      [this, index, generation](std::optional<std::vector<platform::SmbEntry>> entries) {
        if (generation == generation_) Fill(index, entries);
      });
}

void NetworkTree::Fill(const QPersistentModelIndex& index,
                       const std::optional<std::vector<platform::SmbEntry>>& entries) {
  if (!index.isValid()) return;
  QStandardItem* item = model_->itemFromIndex(index);
  if (!item) return;
  item->setData(kRead, kStateRole);
  item->removeRows(0, item->rowCount());
  std::vector<platform::SmbEntry> shown;
  if (entries)
    std::copy_if(entries->begin(), entries->end(), std::back_inserter(shown), IsFolderEntry);
  std::sort(shown.begin(), shown.end(), [](const platform::SmbEntry& a, const platform::SmbEntry& b) {
    return QString::compare(Q(a.name), Q(b.name), Qt::CaseInsensitive) < 0;
  });
  const std::string path = S(item->data(PathRole));
  const std::string computer = S(item->data(kComputerRole));
  for (const platform::SmbEntry& e : shown) {
    if (e.kind == platform::SmbKind::Computer) {
      AddNode(item, Q(e.name), "//" + e.name, platform::SmbUrl(e.name), e.name);
      continue;
    }
    if (e.kind == platform::SmbKind::Workgroup) continue;
    // A share below its computer, a folder below its share or folder.
    const std::string child = path + "/" + e.name;
    const std::string rest = child.substr(std::min(child.size(), 2 + computer.size() + 1));
    const std::size_t slash = rest.find('/');
    const std::string share = rest.substr(0, slash);
    const std::string folder = slash == std::string::npos ? std::string() : rest.substr(slash + 1);
    AddNode(item, Q(e.name), child, platform::SmbUrl(computer, share, folder), computer);
  }
  if (LevelLoaded) LevelLoaded();
}

}  // namespace ui
