#include "testenv.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace testenv {

bool hasEnded(pid_t pid, int* status) {
  siginfo_t info{};
  if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid != pid) return false;
  if (status) *status = info.si_code == CLD_EXITED ? W_EXITCODE(info.si_status, 0) : W_EXITCODE(0, info.si_status);
  return true;
}
namespace {

fs::path g_root;
std::vector<fs::path> g_ended;  // every test folder of this process

class PrivateHome : public ::testing::EmptyTestEventListener {
  void OnTestStart(const ::testing::TestInfo&) override {
    std::string tmpl = (fs::temp_directory_path() / "quillomet-test-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    g_root = tmpl;
    for (const char* sub : {"home", "data", "runtime", "tmp"}) fs::create_directories(g_root / sub);
    fs::permissions(g_root / "runtime", fs::perms::owner_all, fs::perm_options::replace);
    setenv("HOME", (g_root / "home").c_str(), 1);
    setenv("XDG_DATA_HOME", (g_root / "data").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (g_root / "runtime").c_str(), 1);
    // The user's own config and cache folders (user-dirs.dirs...) never reach a test.
    unsetenv("XDG_CONFIG_HOME");
    unsetenv("XDG_CACHE_HOME");
  }
  void OnTestEnd(const ::testing::TestInfo&) override {
    std::error_code ec;
    if (!g_root.empty()) fs::remove_all(g_root, ec);
    g_ended.push_back(g_root);
    g_root.clear();
  }
};

}  // namespace

fs::path testRoot() { return g_root; }

std::tm makeTm(int year, int month, int day, int hour, int minute, int second) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_isdst = -1;
  return tm;
}

fs::path makeDir(const std::string& name) {
  fs::path p = g_root / "tmp" / name;
  fs::create_directories(p);
  return p;
}

fs::path writeFile(const fs::path& path, const std::string& bytes) {
  if (path.has_parent_path()) fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return path;
}

long statusKiB(const std::string& field) {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind(field + ":", 0) == 0) return std::stol(line.substr(field.size() + 1));
  return -1;
}

void resetPeakMemory() { std::ofstream("/proc/self/clear_refs") << "5"; }

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

fs::path fixtures() { return QUILLOMET_FIXTURES_DIR; }

void removeEndedRoots() {
  std::error_code ec;
  for (const fs::path& root : g_ended) fs::remove_all(root, ec);
}

void install() {
  ::testing::UnitTest::GetInstance()->listeners().Append(new PrivateHome);
}

}  // namespace testenv
