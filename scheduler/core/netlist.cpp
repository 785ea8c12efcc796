#include "scheduler/core/netlist.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/atomicfile.h"
#include "platform/errortext.h"
#include "platform/files.h"
#include "scheduler/core/fields.h"

namespace core {
namespace {

constexpr unsigned char kKey = 0x5B;
constexpr std::size_t kMaxCharacters = 255;
// What 255 characters of UTF-8 may take.
constexpr std::size_t kMaxBytes = 4 * kMaxCharacters;
constexpr char kEscape = '@';

void XorInPlace(std::string& text) {
  for (char& c : text) c = static_cast<char>(static_cast<unsigned char>(c) ^ kKey);
}

std::string Xor(std::string_view text) {
  std::string out(text);
  XorInPlace(out);
  return out;
}

bool Plain(unsigned char c) { return c >= 0x20 && c < 0x7F && c != '\\' && c != kEscape; }

// The first 255 characters of a text, never cut inside one, and at most kMaxBytes bytes
// whatever the text holds.
std::string_view FirstCharacters(std::string_view text) {
  text = text.substr(0, Utf8PrefixLength(text, kMaxBytes));
  std::size_t characters = 0, end = 0;
  for (; end < text.size(); ++end) {
    if ((static_cast<unsigned char>(text[end]) & 0xC0) != 0x80 && ++characters > kMaxCharacters) break;
  }
  return text.substr(0, end);
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

[[noreturn]] void Fail(const std::string& what, const std::string& path, int error) {
  throw std::runtime_error(what + path + " : " + platform::SystemErrorText(error));
}

// Opened without blocking, so a FIFO in the list's place fails here instead of waiting; a
// device other than a file (/dev/full) is still written to and reports its own error.
int OpenList(const std::string& path, int flags, const std::string& what) {
  const int fd = platform::OpenFileOnly(path, flags, 0600, S_IFCHR);
  if (fd == platform::kNotAFile) throw std::runtime_error(what + path + " : ce n'est pas un fichier");
  return fd;
}

}  // namespace

std::string ScrambleCredential(std::string_view text) { return Xor(FirstCharacters(text)); }

std::string EncodeCredential(std::string_view clear) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (char ch : ScrambleCredential(clear)) {
    const auto c = static_cast<unsigned char>(ch);
    if (Plain(c)) {
      out += ch;
    } else {
      out += kEscape;
      out += digits[c >> 4];
      out += digits[c & 0xF];
    }
  }
  return out;
}

std::string DecodeCredential(std::string_view stored) {
  std::string scrambled;
  // Bytes past what the longest credential takes are never read.
  for (std::size_t i = 0; i < stored.size() && scrambled.size() < kMaxBytes; ++i) {
    int hi, lo;
    if (stored[i] == kEscape && i + 2 < stored.size() && (hi = HexValue(stored[i + 1])) >= 0 &&
        (lo = HexValue(stored[i + 2])) >= 0) {
      scrambled += static_cast<char>(hi * 16 + lo);
      i += 2;
    } else {
      scrambled += stored[i];
    }
  }
  XorInPlace(scrambled);
  return std::string(FirstCharacters(scrambled));
}

std::string NetworkLine(const NetworkComputerEntry& e) {
  return e.computer + "\\" + EncodeCredential(e.login) + "\\" + EncodeCredential(e.password);
}

NetworkComputerEntry ParseNetworkLine(std::string_view line) {
  const auto field = [line](int n) { return FieldView(line, '\\', n, LastField::EndedByText); };
  return NetworkComputerEntry{std::string(FirstCharacters(field(2))), DecodeCredential(field(3)),
                              DecodeCredential(field(4))};
}

int FirstLineContaining(const std::vector<std::string>& lines, std::string_view name) {
  if (name.empty()) return -1;
  for (std::size_t i = 0; i < lines.size(); ++i)
    if (lines[i].find(name) != std::string::npos) return static_cast<int>(i);
  return -1;
}

std::string ComputerOfTreePath(const std::string& path) {
  if (path.find("//") == std::string::npos) return path;
  return ExtractField(path + "/", '/', 4);
}

std::string NetworkListPath(const std::string& dataFolder) { return dataFolder + "reseau.ini"; }

std::vector<std::string> ReadNetworkList(const std::string& path) {
  std::vector<std::string> lines;
  const int fd = OpenList(path, O_RDONLY, "Impossible de lire ");
  if (fd < 0) {
    if (errno == ENOENT) return lines;
    Fail("Impossible de lire ", path, errno);
  }
  std::string bytes;
  char buffer[8192];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;
      ::close(fd);
      Fail("Impossible de lire ", path, error);
    }
    if (n == 0) break;
    bytes.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  std::size_t start = 0;
  while (start < bytes.size()) {
    std::size_t end = bytes.find('\n', start);
    if (end == std::string::npos) end = bytes.size();
    std::string line = bytes.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

void AppendNetworkLine(const std::string& path, std::string_view line) {
  const int fd = OpenList(path, O_WRONLY | O_APPEND | O_CREAT, "Impossible d'ouvrir ");
  if (fd < 0) Fail("Impossible d'ouvrir ", path, errno);
  ::fchmod(fd, 0600);
  const std::string bytes = std::string(line) + "\n";
  const ssize_t n = ::write(fd, bytes.data(), bytes.size());
  const int error = n < 0 ? errno : ENOSPC;
  if (::close(fd) != 0 && n == static_cast<ssize_t>(bytes.size())) Fail("Impossible d'écrire dans ", path, errno);
  if (n != static_cast<ssize_t>(bytes.size())) Fail("Impossible d'écrire dans ", path, error);
}

void RewriteNetworkList(const std::string& path, const std::vector<std::string>& lines) {
  if (lines.empty()) {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) Fail("Impossible de supprimer ", path, errno);
    return;
  }
  std::string bytes;
  for (const std::string& line : lines) bytes += line + "\n";
  if (!platform::WriteFileAtomic(path, bytes, 0600)) Fail("Impossible d'écrire dans ", path, errno);
}

}  // namespace core
