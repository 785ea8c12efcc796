#pragma once
// The network neighbourhood in a tree view: the workgroups with their computers, the computers
// of the network list, the shares of a computer and the folders below; folders only. A node's
// level is read when it is first expanded, in the background, so the window never waits for
// the network. A right click selects the node under the mouse.
#include <QObject>
#include <QPersistentModelIndex>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/smbshare.h"
#include "scheduler/ui/backgroundcalls.h"

class QStandardItem;
class QStandardItemModel;
class QTreeView;

namespace ui {

class NetworkTree : public QObject {
 public:
  // Node data: "//computer", "//computer/share[/folder...]"; "" for a workgroup.
  static constexpr int PathRole = Qt::UserRole + 2;

  explicit NetworkTree(QTreeView* view);
  ~NetworkTree() override;

  // Lists one "smb://" URL; runs on a worker thread.
  using Lister = std::function<std::optional<std::vector<platform::SmbEntry>>(
      const std::string& url, const platform::SmbCredentials& credentials, const platform::SmbOptions& options)>;
  Lister List = [](const std::string& url, const platform::SmbCredentials& c, const platform::SmbOptions& o) {
    return platform::SmbList(url, c, o);
  };
  // Asked on the window thread before each listing.
  std::function<platform::SmbCredentials(const std::string& computer)> CredentialsOf;
  std::function<platform::SmbOptions()> Options;
  // After each level has been put in the tree.
  std::function<void()> LevelLoaded;

  // Empties the tree, then shows these computers and, once read, the workgroups (asked for
  // when the tree is first shown).
  void Reload(const std::vector<std::string>& computers);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void LoadWorkgroups();
  QStandardItem* AddNode(QStandardItem* parent, const QString& text, const std::string& path, const std::string& url,
                         const std::string& computer, int row = -1);
  void Expand(const QModelIndex& index);
  void Load(QStandardItem* item);
  void Fill(const QPersistentModelIndex& index, const std::optional<std::vector<platform::SmbEntry>>& entries);

  QTreeView* view_;
  QStandardItemModel* model_;
  int generation_ = 0;  // a reload drops the levels still being read
  bool workgroupsWanted_ = false;
  BackgroundCalls calls_{this};
};

}  // namespace ui
