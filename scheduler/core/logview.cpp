#include "scheduler/core/logview.h"

#include <cerrno>
#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>

#include "platform/errortext.h"
#include "platform/files.h"
#include "scheduler/core/fields.h"

namespace core {
namespace {

// Closes the descriptor on every way out.
struct Fd {
  int fd;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

// "50 000": thousands set apart as French writes them.
std::string Grouped(std::size_t n) {
  std::string digits = std::to_string(n), out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += "\u00A0";
    out += digits[i];
  }
  return out;
}

}  // namespace

LogView ReadLogForViewer(const std::string& path, const LogViewLimits& limits) {
  Fd in{platform::OpenFileOnly(path, O_RDONLY)};
  if (in.fd < 0) {
    throw std::runtime_error("Impossible d'ouvrir le fichier journal " + path + " : " +
                             (in.fd == platform::kNotAFile ? "ce n'est pas un fichier" : platform::SystemErrorText(errno)));
  }

  LogView view;
  std::string line;
  bool cutting = false;  // the rest of the current line is skipped
  std::size_t kept = 0;
  auto endLine = [&] {
    if (!cutting && !line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > limits.maxLineBytes) {
      line.resize(Utf8PrefixLength(line, limits.maxLineBytes));
      view.cutLines = true;
    }
    kept += line.size();
    view.rows.push_back(ViewerRow(line));
    line.clear();
    cutting = false;
  };
  auto full = [&] { return view.rows.size() >= limits.maxRows || kept >= limits.maxTotalBytes; };

  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(in.fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      throw std::runtime_error("Impossible de lire le fichier journal " + path + " : " + platform::SystemErrorText(errno));
    }
    if (n == 0) break;
    std::string_view chunk(buffer, static_cast<std::size_t>(n));
    while (!chunk.empty()) {
      if (full()) {
        view.moreLines = true;
        return view;
      }
      const std::size_t nl = chunk.find('\n');
      const std::string_view piece = chunk.substr(0, nl);
      // Two bytes past the limit (one may be the CR of a CRLF) are enough to know the line is cut.
      if (!cutting) {
        const std::size_t room = limits.maxLineBytes + 2 - line.size();
        line.append(piece.substr(0, room));
        cutting = piece.size() >= room;
      }
      if (nl == std::string_view::npos) break;
      endLine();
      chunk.remove_prefix(nl + 1);
    }
  }
  if (!line.empty() || cutting) endLine();  // a last line without its line break
  return view;
}

std::string LogViewNotice(const LogView& view) {
  std::string notice;
  if (view.moreLines) {
    notice = "Journal trop volumineux : seules les " + Grouped(view.rows.size()) + " premières lignes sont affichées.";
  }
  if (view.cutLines) {
    if (!notice.empty()) notice += ' ';
    notice += "Les lignes trop longues sont affichées coupées.";
  }
  return notice;
}

}  // namespace core
