// Times a full walk of a generated tree (100,000 files in 5,000 folders by default) by
// TScruteDossier, with a file handler that reads each file's size and time, against
// `find SRC -type f -printf '%s %T@\n'` on the same tree in the same run, and prints the ratio.
//
//   walker_bench [--keep DIR] [--runs N]
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "scheduler/core/scrutedossier.h"

extern char** environ;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kTopFolders = 50;
constexpr int kSubFolders = 99;      // 50 + 50 * 99 = 5,000 folders
constexpr int kFilesPerFolder = 20;  // 100,000 files

void makeTree(const fs::path& root) {
  auto fill = [](const fs::path& dir) {
    fs::create_directories(dir);
    for (int f = 0; f < kFilesPerFolder; ++f) {
      std::string name = (dir / ("file" + std::to_string(f) + (f % 4 ? ".dat" : ".txt"))).string();
      int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      if (fd < 0 || ::write(fd, name.data(), static_cast<size_t>(f)) < 0) std::perror(name.c_str());
      if (fd >= 0) ::close(fd);
    }
  };
  for (int t = 0; t < kTopFolders; ++t) {
    fs::path top = root / ("top" + std::to_string(t));
    fill(top);
    for (int s = 0; s < kSubFolders; ++s) fill(top / ("sub" + std::to_string(s)));
  }
}

double walkerRun(const fs::path& root, long& files) {
  core::TScruteDossier w;
  w.Dossier = root.string();
  w.Filtre = "*.*";
  w.MaxPenetration = -1;
  long long bytes = 0;
  files = 0;
  w.OnFichier = [&](core::TScruteDossier* s, const std::string&) {
    bytes += s->CurrentSize + (s->CurrentMTime & 1);
    ++files;
  };
  w.Pump = [] {};
  auto t0 = Clock::now();
  w.Execute();
  auto t1 = Clock::now();
  if (bytes < 0) std::puts("");
  return std::chrono::duration<double, std::milli>(t1 - t0).count();
}

double findRun(const fs::path& root) {
  std::string src = root.string();
  std::vector<char*> argv = {const_cast<char*>("find"), src.data(), const_cast<char*>("-type"),
                             const_cast<char*>("f"), const_cast<char*>("-printf"),
                             const_cast<char*>("%s %T@\\n"), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  auto t0 = Clock::now();
  if (posix_spawnp(&pid, "find", &actions, nullptr, argv.data(), environ) != 0) {
    std::perror("find");
    std::exit(1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  auto t1 = Clock::now();
  posix_spawn_file_actions_destroy(&actions);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "find failed\n");
    std::exit(1);
  }
  return std::chrono::duration<double, std::milli>(t1 - t0).count();
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  fs::path keep;
  int runs = 7;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--keep" && i + 1 < argc) keep = argv[++i];
    else if (a == "--runs" && i + 1 < argc) runs = std::max(1, std::atoi(argv[++i]));
    else {
      std::fprintf(stderr, "usage: walker_bench [--keep DIR] [--runs N]\n");
      return 2;
    }
  }
  fs::path root = keep;
  bool temp = keep.empty();
  if (temp) {
    std::string tmpl = (fs::temp_directory_path() / "walker-bench-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) return 1;
    root = tmpl;
  }
  if (!fs::exists(root / "top0")) {
    auto t0 = Clock::now();
    makeTree(root);
    std::printf("tree: %d folders, %d files generated in %.0f ms under %s\n", kTopFolders * (1 + kSubFolders),
                kTopFolders * (1 + kSubFolders) * kFilesPerFolder,
                std::chrono::duration<double, std::milli>(Clock::now() - t0).count(), root.c_str());
  }

  long files = 0;
  walkerRun(root, files);  // warm the caches for both
  findRun(root);
  std::vector<double> w, f;
  for (int i = 0; i < runs; ++i) {  // interleaved so that both see the same machine state
    w.push_back(walkerRun(root, files));
    f.push_back(findRun(root));
  }
  double mw = median(w), mf = median(f);
  std::printf("files reported: %ld\n", files);
  std::printf("TScruteDossier: %.1f ms (median of %d)\n", mw, runs);
  std::printf("find -printf:   %.1f ms (median of %d)\n", mf, runs);
  std::printf("ratio walker/find: %.2f\n", mw / mf);
  if (temp) fs::remove_all(root);
  return 0;
}
