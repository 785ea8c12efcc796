#pragma once
// Runs part of a test as the unprivileged user nobody (uid and gid 65534, no supplementary
// groups) in a forked child, for checks that root's rights would hide. The test's own folder
// is opened for that user to pass through. Only `body`'s exit status comes back: anything more
// goes through a pipe or a file. Needs root.
#include <errno.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "tests/support/testenv.h"

namespace testenv {

// Status of a child that could not become nobody here (tests skip then).
inline constexpr int kCannotBecomeNobody = 125;

// The exit status of `body` run as nobody (0-255), 128 + the signal that ended it, or -1 when
// no child could be started.
inline int RunAsNobody(const std::function<int()>& body) {
  namespace fs = std::filesystem;
  for (const fs::path& folder : {testRoot(), testRoot() / "tmp"})
    fs::permissions(folder, fs::perms::others_exec, fs::perm_options::add);
  const pid_t pid = ::fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    if (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 || ::setresuid(65534, 65534, 65534) != 0)
      ::_exit(kCannotBecomeNobody);
    ::_exit(body() & 0xFF);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace testenv
