#include "updater/stagedinstall.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <set>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace updater {

namespace {

struct Placed {
  fs::path Dest;
  fs::path Saved;  // empty when nothing stood there before
};

bool Exists(const fs::path& p) {
  std::error_code ec;
  return fs::symlink_status(p, ec).type() != fs::file_type::not_found && !ec;
}

void SyncFolder(const fs::path& dir) {
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

std::string Failure(const char* what, const fs::path& path, int err) {
  return std::string(what) + " « " + path.string() + " » : " + std::strerror(err);
}

}  // namespace

InstallResult InstallStaged(const fs::path& staging, const fs::path& target, const fs::path& backup) {
  InstallResult result;
  std::vector<fs::path> folders, files;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(staging, ec), end; !ec && it != end; it.increment(ec)) {
    const auto type = it->symlink_status(ec).type();
    if (ec) break;
    (type == fs::file_type::directory ? folders : files).push_back(fs::relative(it->path(), staging));
  }
  if (ec) {
    result.Message = Failure("Lecture impossible de", staging, ec.value());
    return result;
  }

  std::vector<fs::path> madeFolders;
  std::vector<Placed> placed;
  auto undo = [&] {
    for (auto p = placed.rbegin(); p != placed.rend(); ++p) {
      std::error_code ignored;
      if (p->Saved.empty()) fs::remove(p->Dest, ignored);
      else fs::rename(p->Saved, p->Dest, ignored);
    }
    for (auto d = madeFolders.rbegin(); d != madeFolders.rend(); ++d) {
      std::error_code ignored;
      fs::remove(*d, ignored);  // only when still empty
    }
  };

  for (const auto& rel : folders) {
    const fs::path dest = target / rel;
    std::error_code e;
    const auto type = fs::symlink_status(dest, e).type();
    if (type == fs::file_type::directory) continue;
    if (type != fs::file_type::not_found || !fs::create_directory(dest, e)) {
      result.Message = Failure("Impossible de créer le dossier", dest, e ? e.value() : EEXIST);
      undo();
      return result;
    }
    madeFolders.push_back(dest);
  }

  for (const auto& rel : files) {
    const fs::path dest = target / rel;
    Placed p{dest, {}};
    std::error_code e;
    if (Exists(dest)) {
      if (fs::symlink_status(dest, e).type() == fs::file_type::directory) {
        result.Message = Failure("Un dossier occupe la place du fichier", dest, EISDIR);
        undo();
        return result;
      }
      p.Saved = backup / rel;
      fs::create_directories(p.Saved.parent_path(), e);
      if (::rename(dest.c_str(), p.Saved.c_str()) != 0) {
        result.Message = Failure("Impossible de remplacer", dest, errno);
        undo();
        return result;
      }
    }
    if (::rename((staging / rel).c_str(), dest.c_str()) != 0) {
      const int err = errno;
      if (!p.Saved.empty()) {
        std::error_code ignored;
        fs::rename(p.Saved, dest, ignored);
      }
      result.Message = Failure("Impossible d'installer", dest, err);
      undo();
      return result;
    }
    placed.push_back(std::move(p));
  }

  std::set<fs::path> touched;
  for (const auto& p : placed) touched.insert(p.Dest.parent_path());
  for (const auto& dir : touched) SyncFolder(dir);
  result.Ok = true;
  result.Files = int(files.size());
  return result;
}

}  // namespace updater
