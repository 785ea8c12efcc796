#pragma once
// Runs tests/support/commitdriver.cpp (zacommit_driver): a change of an archive killed at a
// chosen step, or held there while the test does something else.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/testenv.h"
#include "tests/updater/ziparchive/zipwritekit.h"

namespace driverkit {

namespace fs = std::filesystem;

inline const std::string kDriver = std::string(QUILLOMET_BINARY_DIR) + "/bin/zacommit_driver";

// Bytes that do not compress, so that the tail spans several copy blocks.
inline std::string noise(size_t n, uint32_t seed) {
  std::string s(n, '\0');
  uint32_t x = seed * 2654435761u + 7;
  for (char& c : s) {
    x ^= x << 13, x ^= x >> 17, x ^= x << 5;
    c = char(x >> 24);
  }
  return s;
}

struct DriverRun {
  int status;  // exit status; 137 after the kill
  std::string output;
  // The engine code of a failure ("code N"), 0 when none.
  int Code() const {
    const size_t at = output.rfind("code ");
    return at == std::string::npos ? 0 : std::atoi(output.c_str() + at + 5);
  }
};

// step: a number (killed there), 0 (to the end) or "hold=NAME" (see HeldDriver).
inline DriverRun drive(const std::string& step, const fs::path& archive, const fs::path& temp,
                 const std::vector<std::string>& args) {
  std::string command = peertools::Quote(kDriver) + " " + peertools::Quote(step) + " " +
                        peertools::Quote(archive.string()) + " " + peertools::Quote(temp.string());
  for (const std::string& a : args) command += " " + peertools::Quote(a);
  DriverRun r{-1, {}};
  peertools::Run("exec 2>&1 </dev/null; " + command + "; echo \"status=$?\"", r.output);
  const size_t at = r.output.rfind("status=");
  if (at != std::string::npos) r.status = std::stoi(r.output.substr(at + 7));
  return r;
}

inline DriverRun drive(long step, const fs::path& archive, const fs::path& temp, const std::vector<std::string>& args) {
  return drive(std::to_string(step), archive, temp, args);
}

// A driver that waits at the first step of a name ("opened" once the archive is open) until
// Release(); the test runs another writer meanwhile. Nothing is timed: the test reads the
// driver's "held" line and then writes it a line.
class HeldDriver {
 public:
  HeldDriver(const std::string& at, const fs::path& archive, const fs::path& temp, const std::vector<std::string>& args) {
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) return;
    std::vector<std::string> argv = {kDriver, "hold=" + at, archive.string(), temp.string()};
    argv.insert(argv.end(), args.begin(), args.end());
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(in[0], 0);
      ::dup2(out[1], 1);
      ::dup2(out[1], 2);
      std::vector<char*> raw;
      for (std::string& a : argv) raw.push_back(a.data());
      raw.push_back(nullptr);
      ::execv(raw[0], raw.data());
      ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    toChild_ = in[1];
    fromChild_ = out[0];
  }
  HeldDriver(const HeldDriver&) = delete;
  HeldDriver& operator=(const HeldDriver&) = delete;
  ~HeldDriver() {
    if (pid_ > 0 && !ended_) {
      ::kill(pid_, SIGKILL);
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
    if (toChild_ >= 0) ::close(toChild_);
    if (fromChild_ >= 0) ::close(fromChild_);
  }
  // Reads the driver's output until it says it is held; false when it ended first.
  bool WaitHeld() {
    while (output_.find("held ") == std::string::npos) {
      if (!readSome()) return false;
    }
    return true;
  }
  // Lets the driver go on and waits for its end.
  DriverRun Release() {
    if (toChild_ >= 0) {
      [[maybe_unused]] ssize_t n = ::write(toChild_, "\n", 1);
      ::close(toChild_);
      toChild_ = -1;
    }
    while (readSome()) {
    }
    int status = 0;
    while (pid_ > 0 && ::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    ended_ = true;
    return DriverRun{WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), output_};
  }
  const std::string& Output() const { return output_; }

 private:
  bool readSome() {
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fromChild_, buffer, sizeof buffer)) < 0 && errno == EINTR) {
    }
    if (n <= 0) return false;
    output_.append(buffer, size_t(n));
    return true;
  }
  pid_t pid_ = -1;
  int toChild_ = -1, fromChild_ = -1;
  bool ended_ = false;
  std::string output_;
};

}  // namespace driverkit
