#include "platform/smbshare.h"

#include <fcntl.h>
#include <libsmbclient.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <vector>

#include "platform/errortext.h"

namespace platform {
namespace {

constexpr int kMountTimeoutMs = 30000;

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

void Copy(char* to, int size, const std::string& from) {
  if (size <= 0) return;
  std::strncpy(to, from.c_str(), static_cast<std::size_t>(size) - 1);
  to[size - 1] = '\0';
}

void Authenticate(SMBCCTX* ctx, const char*, const char*, char*, int, char* user, int userLen, char* password,
                  int passwordLen) {
  const auto* c = static_cast<const SmbCredentials*>(smbc_getOptionUserData(ctx));
  Copy(user, userLen, c->login);
  Copy(password, passwordLen, c->password);
}

// Names that go into URLs, mount sources and credential files as they are.
bool SafeName(const std::string& name) {
  if (name.empty() || name[0] == '-') return false;
  for (unsigned char c : name)
    if (c < 0x20 || c == 0x7F || c == '/' || c == '\\' || c == ',' || c == '=' || c == ':' || c == '@') return false;
  return true;
}

bool SafeCredential(const std::string& text) { return text.find_first_of(std::string("\r\n\0", 3)) == std::string::npos; }

std::string UrlPart(const std::string& s) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : s) {
    if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~' || c >= 0x80) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += digits[c >> 4];
      out += digits[c & 15];
    }
  }
  return out;
}

}  // namespace

bool RunCommand(const std::vector<std::string>& argv, const std::string& input, int timeoutMs, std::string* error) {
  int in[2];
  if (::pipe2(in, O_CLOEXEC) != 0) {
    if (error) *error = platform::SystemErrorText(errno);
    return false;
  }
  const pid_t pid = ::fork();
  if (pid < 0) {
    if (error) *error = platform::SystemErrorText(errno);
    ::close(in[0]);
    ::close(in[1]);
    return false;
  }
  if (pid == 0) {
    ::dup2(in[0], 0);
    const int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0) ::dup2(null, 1), ::dup2(null, 2);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  ::close(in[0]);
  ::signal(SIGPIPE, SIG_IGN);
  for (std::size_t done = 0; done < input.size();) {
    const ssize_t n = ::write(in[1], input.data() + done, input.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  ::close(in[1]);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  int status = 0;
  for (;;) {
    const pid_t r = ::waitpid(pid, &status, WNOHANG);
    if (r == pid) break;
    if (r < 0 && errno != EINTR) return false;
    if (std::chrono::steady_clock::now() >= deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      if (error) *error = argv[0] + ": délai dépassé";
      return false;
    }
    ::poll(nullptr, 0, 20);
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
  if (error) *error = argv[0] + (WIFEXITED(status) ? ": code " + std::to_string(WEXITSTATUS(status)) : ": arrêté");
  return false;
}

namespace {

std::string RuntimeFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  return runtime && *runtime ? std::string(runtime) : std::string();
}

bool PercentDecode(const std::string& s, std::string& out) {
  out.clear();
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '%') {
      out += s[i];
      continue;
    }
    if (i + 2 >= s.size() || !std::isxdigit(static_cast<unsigned char>(s[i + 1])) ||
        !std::isxdigit(static_cast<unsigned char>(s[i + 2])))
      return false;
    out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
    i += 2;
  }
  return true;
}

std::map<std::string, SmbCredentials>& Remembered() {
  static std::map<std::string, SmbCredentials> known;
  return known;
}

// Whether gvfs's FUSE folder is mounted (another file system than the runtime folder's).
bool GvfsFuseMounted() {
  const std::string runtime = RuntimeFolder();
  struct stat folder, fuse;
  return !runtime.empty() && ::stat(runtime.c_str(), &folder) == 0 && ::stat((runtime + "/gvfs").c_str(), &fuse) == 0 &&
         fuse.st_dev != folder.st_dev;
}

// gvfs's FUSE folder lists a new mount once it hears of it, a little after the mount tool
// has returned: the share is connected once its folder is there.
bool GvfsFolderShown(const std::string& computer, const std::string& share, std::string* error) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kMountTimeoutMs);
  while (!ShareUsable(computer, share)) {
    if (!GvfsFuseMounted() || std::chrono::steady_clock::now() >= deadline) {
      if (error) *error = "le dossier du partage n'est pas apparu dans " + RuntimeFolder() + "/gvfs";
      return false;
    }
    ::poll(nullptr, 0, 20);
  }
  return true;
}

}  // namespace

std::string SmbUrl(const std::string& computer, const std::string& share, const std::string& folder) {
  std::string url = "smb://" + UrlPart(computer);
  if (share.empty()) return url + "/";
  url += "/" + UrlPart(share);
  std::size_t start = 0;
  while (start < folder.size()) {
    std::size_t end = folder.find('/', start);
    if (end == std::string::npos) end = folder.size();
    if (end > start) url += "/" + UrlPart(folder.substr(start, end - start));
    start = end + 1;
  }
  return url;
}

std::optional<std::vector<SmbEntry>> SmbList(const std::string& url, const SmbCredentials& credentials,
                                             const SmbOptions& options) {
  // The library keeps global state that is not guarded here: one call at a time.
  static std::mutex library;
  std::lock_guard<std::mutex> lock(library);
  SMBCCTX* ctx = smbc_new_context();
  if (!ctx) return std::nullopt;
  SmbCredentials creds = credentials;
  smbc_setDebug(ctx, 0);
  smbc_setTimeout(ctx, options.timeoutMs);
  if (options.port > 0) smbc_setPort(ctx, static_cast<uint16_t>(options.port));
  smbc_setOptionUserData(ctx, &creds);
  smbc_setFunctionAuthDataWithContext(ctx, Authenticate);
  smbc_setOptionNoAutoAnonymousLogin(ctx, !credentials.login.empty());
  std::optional<std::vector<SmbEntry>> entries;
  if (smbc_init_context(ctx)) {
    if (SMBCFILE* dir = smbc_getFunctionOpendir(ctx)(ctx, url.c_str())) {
      entries.emplace();
      while (const smbc_dirent* d = smbc_getFunctionReaddir(ctx)(ctx, dir)) {
        const std::string name = d->name;
        if (name.empty() || name == "." || name == "..") continue;
        SmbKind kind = SmbKind::Other;
        switch (d->smbc_type) {
          case SMBC_WORKGROUP: kind = SmbKind::Workgroup; break;
          case SMBC_SERVER: kind = SmbKind::Computer; break;
          case SMBC_FILE_SHARE: kind = SmbKind::Share; break;
          case SMBC_DIR: kind = SmbKind::Folder; break;
          default: break;
        }
        entries->push_back({name, kind});
      }
      smbc_getFunctionClosedir(ctx)(ctx, dir);
    }
  }
  smbc_free_context(ctx, 1);
  return entries;
}

bool SmbComputerReachable(const std::string& computer, const SmbCredentials& credentials, const SmbOptions& options) {
  return SafeName(computer) && SmbList(SmbUrl(computer), credentials, options).has_value();
}

SmbCredentials RememberedCredentials(const std::string& computer) {
  auto it = Remembered().find(Lower(computer));
  return it == Remembered().end() ? SmbCredentials{} : it->second;
}

void RememberCredentials(const std::string& computer, const SmbCredentials& credentials) {
  Remembered()[Lower(computer)] = credentials;
}

bool MountShare(const std::string& computer, const std::string& share, const SmbCredentials& c,
                const SmbOptions& options, std::string* error, const CommandRunner& run) {
  if (!SafeName(computer) || !SafeName(share) || !SafeCredential(c.login) || !SafeCredential(c.password) ||
      c.login.find_first_of(",=") != std::string::npos) {
    if (error) *error = "nom ou identifiant refusé";
    return false;
  }
  const bool session = std::getenv("DBUS_SESSION_BUS_ADDRESS") && *std::getenv("DBUS_SESSION_BUS_ADDRESS");
  if (::geteuid() != 0 || session) {
    const std::string port = options.port > 0 ? ":" + std::to_string(options.port) : std::string();
    const std::string url = "smb://" + UrlPart(computer) + port + "/" + UrlPart(share);
    // gio asks for the user, the domain (kept as offered) and the password.
    const bool mounted = c.login.empty() ? run({"gio", "mount", "-a", url}, "", kMountTimeoutMs, error)
                                         : run({"gio", "mount", url}, c.login + "\n\n" + c.password + "\n",
                                               kMountTimeoutMs, error);
    return mounted && GvfsFolderShown(computer, share, error);
  }
  std::string base = RuntimeFolder();
  if (base.empty()) base = "/run";
  const std::string point = base + "/Quillomet/smb/" + Lower(computer) + "/" + Lower(share);
  std::error_code ec;
  std::filesystem::create_directories(point, ec);
  ::chmod((base + "/Quillomet").c_str(), 0700);
  const char* tmp = std::getenv("TMPDIR");
  std::string name = std::string(tmp && *tmp ? tmp : "/tmp") + "/quillomet-cifs-XXXXXX";
  const int fd = ::mkstemp(name.data());
  if (fd < 0) {
    if (error) *error = platform::SystemErrorText(errno);
    return false;
  }
  const std::string text = c.login.empty() ? std::string("username=guest\npassword=\n")
                                           : "username=" + c.login + "\npassword=" + c.password + "\n";
  const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ::close(fd);
  bool ok = false;
  if (written) {
    std::string mountOptions = "credentials=" + name + (c.login.empty() ? ",guest" : "");
    if (options.port > 0) mountOptions += ",port=" + std::to_string(options.port);
    ok = run({"mount.cifs", "//" + computer + "/" + share, point, "-o", mountOptions}, "", kMountTimeoutMs, error);
  } else if (error) {
    *error = platform::SystemErrorText(errno);
  }
  ::unlink(name.c_str());
  return ok;
}

GvfsShare ParseGvfsShareName(const std::string& name) {
  const std::string prefix = "smb-share:";
  if (name.rfind(prefix, 0) != 0) return {};
  GvfsShare g;
  std::size_t start = prefix.size();
  while (start <= name.size()) {
    std::size_t end = name.find(',', start);
    if (end == std::string::npos) end = name.size();
    const std::string pair = name.substr(start, end - start);
    const auto eq = pair.find('=');
    std::string value;
    if (eq != std::string::npos && PercentDecode(pair.substr(eq + 1), value)) {
      const std::string key = pair.substr(0, eq);
      if (key == "server") g.server = value;
      if (key == "share") g.share = value;
    }
    start = end + 1;
  }
  if (g.server.empty() || g.share.empty()) return {};
  return g;
}

bool ShareUsable(const std::string& computer, const std::string& share, const SystemRoots& roots) {
  if (computer.empty() || share.empty()) return false;
  const std::string local = ShareLocalPath("//" + computer + "/" + share, roots);
  struct stat st;
  return !local.empty() && ::stat(local.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string ShareLocalPath(const std::string& networkPath, const SystemRoots& roots) {
  if (networkPath.size() < 3 || networkPath[0] != '/' || networkPath[1] != '/') return {};
  const std::size_t serverEnd = networkPath.find('/', 2);
  if (serverEnd == std::string::npos) return {};
  const std::size_t shareEnd = networkPath.find('/', serverEnd + 1);
  const std::string server = networkPath.substr(2, serverEnd - 2);
  const std::string share = networkPath.substr(serverEnd + 1, shareEnd == std::string::npos ? std::string::npos
                                                                                             : shareEnd - serverEnd - 1);
  if (server.empty() || share.empty()) return {};
  const std::string rest = shareEnd == std::string::npos ? std::string() : networkPath.substr(shareEnd);
  const std::string wanted = Lower("//" + server + "/" + share);

  std::string found;
  for (const MountInfo& m : Mounts(roots)) {
    if (m.fsType != "cifs" && m.fsType != "smb3") continue;
    std::string source = m.source;
    while (source.size() > 2 && source.back() == '/') source.pop_back();
    if (Lower(source) == wanted) found = m.mountPoint;  // the last mount covers earlier ones
  }
  if (!found.empty()) return found + rest;

  const std::string runtime = RuntimeFolder();
  if (runtime.empty()) return {};
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(runtime + "/gvfs", ec)) {
    const GvfsShare g = ParseGvfsShareName(entry.path().filename().string());
    if (!g.server.empty() && Lower(g.server) == Lower(server) && Lower(g.share) == Lower(share))
      return entry.path().string() + rest;
  }
  return {};
}

}  // namespace platform
