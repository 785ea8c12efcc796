#pragma once
// A real SMTP server for mail tests: tests/support/smtp_server.py (aiosmtpd) run with
// /usr/bin/python3 on a free loopback port, stopped when the object goes.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/testenv.h"

namespace testenv {

inline bool HaveAiosmtpd() { return std::system("/usr/bin/python3 -c 'import aiosmtpd' >/dev/null 2>&1") == 0; }

class SmtpServer {
 public:
  // With a login "user:password", AUTH is offered and only that pair accepted; `options` are
  // more arguments of the script ("--cert", CERT, "--key", KEY, "--implicit-tls").
  explicit SmtpServer(const std::string& login = "", const std::vector<std::string>& options = {})
      : out_(makeDir("mail-" + std::to_string(Count()++))) {
    const std::string script = (fixtures().parent_path() / "support/smtp_server.py").string();
    int in[2], out[2];
    if (::pipe(in) != 0) return;
    if (::pipe(out) != 0) {
      ::close(in[0]);
      ::close(in[1]);
      return;
    }
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(in[0], 0);
      ::dup2(out[1], 1);
      const std::string errors = (out_ / "server.err").string();
      if (std::FILE* err = std::fopen(errors.c_str(), "w")) ::dup2(::fileno(err), 2);
      ::close(in[1]);
      ::close(out[0]);
      std::vector<std::string> args{"python3", script, out_.string()};
      if (!login.empty()) args.insert(args.end(), {"--login", login});
      args.insert(args.end(), options.begin(), options.end());
      std::vector<char*> argv;
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv("/usr/bin/python3", argv.data());
      ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    stdin_ = in[1];
    std::string line;
    char c;
    while (::read(out[0], &c, 1) == 1 && c != '\n') line += c;
    ::close(out[0]);
    port_ = std::atoi(line.c_str());
  }
  ~SmtpServer() {
    if (stdin_ >= 0) ::close(stdin_);
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  SmtpServer(const SmtpServer&) = delete;
  SmtpServer& operator=(const SmtpServer&) = delete;

  int port() const { return port_; }
  // The n-th message received (from 1): "MECHANISM login" or "-", sender, recipients, then
  // the raw message; waited for a little, "" when none came.
  std::string Message(int n) const {
    const std::filesystem::path path = out_ / (std::to_string(n) + ".txt");
    for (int i = 0; i < 100 && !std::filesystem::exists(path); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return std::filesystem::exists(path) ? readFile(path) : "";
  }
  bool Received(int n) const { return std::filesystem::exists(out_ / (std::to_string(n) + ".txt")); }
  // Every AUTH seen, one line each: "tls LOGIN user" or "plain LOGIN user".
  std::string AuthLog() const {
    const std::filesystem::path path = out_ / "auth.log";
    return std::filesystem::exists(path) ? readFile(path) : "";
  }

 private:
  static int& Count() {
    static int n = 0;
    return n;
  }
  std::filesystem::path out_;
  pid_t pid_ = -1;
  int stdin_ = -1;
  int port_ = 0;
};

}  // namespace testenv
