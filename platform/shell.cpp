#include "platform/shell.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

namespace platform {

std::string ProgramFolder() {
  char buf[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return ".";
  std::string path(buf, static_cast<size_t>(n));
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool SpawnDetached(const std::string& program, const std::string& argument) {
  int status_pipe[2];
  if (pipe2(status_pipe, O_CLOEXEC) != 0) return false;
  const pid_t child = fork();
  if (child < 0) {
    close(status_pipe[0]);
    close(status_pipe[1]);
    return false;
  }
  if (child == 0) {
    // Middle process: start the grandchild in its own session, then leave at once.
    setsid();
    const pid_t grandchild = fork();
    if (grandchild == 0) {
      const int devnull = open("/dev/null", O_RDWR);
      if (devnull >= 0) {
        dup2(devnull, STDIN_FILENO);
        dup2(devnull, STDOUT_FILENO);
        dup2(devnull, STDERR_FILENO);
      }
      if (argument.empty()) {
        execlp(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
      } else {
        execlp(program.c_str(), program.c_str(), argument.c_str(), static_cast<char*>(nullptr));
      }
      const int err = errno;
      (void)!write(status_pipe[1], &err, sizeof err);
      _exit(127);
    }
    _exit(grandchild < 0 ? 1 : 0);
  }
  close(status_pipe[1]);
  int st = 0;
  while (waitpid(child, &st, 0) < 0 && errno == EINTR) {
  }
  // The write end closes on a successful exec; a failed one sends its errno first.
  int err = 0;
  ssize_t got;
  do {
    got = read(status_pipe[0], &err, sizeof err);
  } while (got < 0 && errno == EINTR);
  close(status_pipe[0]);
  return WIFEXITED(st) && WEXITSTATUS(st) == 0 && got == 0;
}

void ShellOpen(const std::string& target) {
  if (target.empty()) return;
  const bool url = target.find("://") != std::string::npos;
  if (!url) {
    struct stat st;
    if (stat(target.c_str(), &st) != 0) return;
    if (S_ISREG(st.st_mode) && access(target.c_str(), X_OK) == 0) {
      SpawnDetached(target, "");
      return;
    }
  }
  SpawnDetached("xdg-open", target);
}

}  // namespace platform
