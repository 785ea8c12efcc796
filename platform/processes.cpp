#include "platform/processes.h"

#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <thread>

namespace platform {

namespace {

bool SameIgnoringAsciiCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : char(c); };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// Path of the process's executable; a program replaced on disk while it runs reads
// "path (deleted)", which still names it.
std::string ExecutablePath(const std::string& procRoot, pid_t pid) {
  char buf[PATH_MAX];
  const std::string link = procRoot + "/" + std::to_string(pid) + "/exe";
  const ssize_t n = readlink(link.c_str(), buf, sizeof buf - 1);
  if (n <= 0) return {};
  std::string path(buf, static_cast<size_t>(n));
  static const std::string deleted = " (deleted)";
  if (path.size() > deleted.size() && path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0)
    path.resize(path.size() - deleted.size());
  return path;
}

std::string FileName(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Folder(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// Gone, or a zombie waiting for its parent: either way it holds no files any more.
bool Ended(const std::string& procRoot, pid_t pid) {
  if (kill(pid, 0) != 0 && errno == ESRCH) return true;
  std::ifstream stat(procRoot + "/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return true;
  const auto paren = line.rfind(')');
  return paren != std::string::npos && paren + 2 < line.size() && (line[paren + 2] == 'Z' || line[paren + 2] == 'X');
}

bool WaitEnded(const std::string& procRoot, pid_t pid, std::chrono::milliseconds limit) {
  const auto until = std::chrono::steady_clock::now() + limit;
  while (!Ended(procRoot, pid)) {
    if (std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

}  // namespace

std::vector<pid_t> ProcessesNamed(const std::string& name, const std::string& procRoot) {
  std::vector<pid_t> found;
  DIR* dir = opendir(procRoot.c_str());
  if (!dir) return found;
  while (const dirent* e = readdir(dir)) {
    char* end = nullptr;
    const long pid = std::strtol(e->d_name, &end, 10);
    if (pid <= 0 || *end != '\0') continue;
    if (SameIgnoringAsciiCase(FileName(ExecutablePath(procRoot, pid_t(pid))), name)) found.push_back(pid_t(pid));
  }
  closedir(dir);
  std::sort(found.begin(), found.end());
  return found;
}

namespace {

bool Stop(pid_t pid, std::chrono::milliseconds grace, const std::string& procRoot) {
  if (kill(pid, SIGTERM) != 0) return errno == ESRCH;
  if (WaitEnded(procRoot, pid, grace)) return true;
  if (kill(pid, SIGKILL) != 0 && errno != ESRCH) return false;
  return WaitEnded(procRoot, pid, std::chrono::seconds(2));
}

}  // namespace

bool KillProcessByName(const std::string& name, std::chrono::milliseconds grace, const std::string& procRoot) {
  const auto pids = ProcessesNamed(name, procRoot);
  return !pids.empty() && Stop(pids.front(), grace, procRoot);
}

bool KillProgram(const std::string& path, std::chrono::milliseconds grace, const std::string& procRoot) {
  // The links in /proc name the real folder.
  char real[PATH_MAX];
  const std::string folder = ::realpath(Folder(path).empty() ? "." : Folder(path).c_str(), real) ? real : Folder(path);
  for (pid_t pid : ProcessesNamed(FileName(path), procRoot))
    if (Folder(ExecutablePath(procRoot, pid)) == folder) return Stop(pid, grace, procRoot);
  return false;
}

}  // namespace platform
