#include "foldersnapshot.h"

#include <sys/stat.h>

#include "testenv.h"

namespace fs = std::filesystem;

namespace testenv {

std::map<std::string, std::string> snapshot(const fs::path& root, const std::string& skipPrefix) {
  std::map<std::string, std::string> out;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    if (it.depth() == 0 && !skipPrefix.empty() && it->path().filename().string().rfind(skipPrefix, 0) == 0) {
      it.disable_recursion_pending();
      continue;
    }
    struct stat st;
    if (lstat(it->path().c_str(), &st) != 0) continue;
    std::string v = std::to_string(st.st_mode);
    if (S_ISREG(st.st_mode)) v += ":" + readFile(it->path());
    if (S_ISLNK(st.st_mode)) v += "->" + fs::read_symlink(it->path()).string();
    out[it->path().lexically_relative(root).string()] = v;
  }
  return out;
}

}  // namespace testenv
