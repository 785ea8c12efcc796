#include "scheduler/core/logview.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/errortext.h"
#include "platform/files.h"
#include "scheduler/core/fields.h"
#include "scheduler/core/history.h"

namespace core {
namespace {

// "50 000": thousands set apart as French writes them.
std::string Grouped(std::size_t n) {
  std::string digits = std::to_string(n), out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += "\u00A0";
    out += digits[i];
  }
  return out;
}

// Eight bytes of a text from byte from, as CompareAsciiNoCase sees them, in one number that
// orders the same way; zeros past the end.
std::uint64_t SortDigit(const char* text, std::size_t length, std::size_t from) {
  std::uint64_t digit = 0;
  for (std::size_t i = from; i < from + 8; ++i) {
    unsigned char c = i < length ? static_cast<unsigned char>(text[i]) : 0;
    if (c >= 'a' && c <= 'z') c = static_cast<unsigned char>(c - 32);
    digit = (digit << 8) | c;
  }
  return digit;
}

// A large block written once, page after page (the text of a log, the keys of a sort): in pages
// of 2 MiB where the system allows, that costs a few hundred page faults instead of one every 4 KiB.
void PreferLargePages(char* block, std::size_t size) {
  const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  const auto from = (reinterpret_cast<std::uintptr_t>(block) + page - 1) / page * page;
  const auto to = (reinterpret_cast<std::uintptr_t>(block) + size) / page * page;
  if (size >= (8u << 20) && to > from) ::madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
}

}  // namespace

std::string_view LogField(std::string_view line, int column) {
  return FieldView(line, ';', column + 1, LastField::EndedByText);
}

int ViewerImage(std::string_view first) {
  if (first.find("Erreur F") != std::string_view::npos) return 2;
  if (first.find("Erreur") != std::string_view::npos) return 0;
  return 1;
}

LogView LogView::Read(const std::string& path, const LogViewLimits& limits) {
  platform::Fd in{platform::OpenFileOnly(path, O_RDONLY)};
  if (in.fd < 0) {
    throw std::runtime_error("Impossible d'ouvrir le fichier journal " + path + " : " +
                             (in.fd == platform::kNotAFile ? "ce n'est pas un fichier" : platform::SystemErrorText(errno)));
  }
  auto readError = [&](int error) {
    return std::runtime_error("Impossible de lire le fichier journal " + path + " : " + platform::SystemErrorText(error));
  };
  struct stat st {};
  if (::fstat(in.fd, &st) != 0) throw readError(errno);

  // The file as long as it is now: what a run appends meanwhile is left for the next opening.
  // Of a larger log than the budget, the newest part from the first line that starts in it.
  const std::uint64_t size = static_cast<std::uint64_t>(std::max<off_t>(st.st_size, 0));
  const std::uint64_t budget = std::min<std::uint64_t>(limits.maxTotalBytes, UINT32_MAX - 1);
  const std::size_t maxRows = std::max<std::size_t>(limits.maxRows, 1);
  LogView view;
  std::uint64_t pos = 0;
  bool skipping = false;  // up to the first line break: the end of a line begun before the budget
  if (size > budget) {
    pos = size - budget - 1;  // from the byte before, which tells whether a line starts there
    skipping = true;
    view.olderLeftOut_ = true;
  }
  view.text_.reserve(static_cast<std::size_t>(size - pos));
  PreferLargePages(view.text_.data(), view.text_.capacity());
  view.starts_.push_back(0);

  bool cutting = false;  // the rest of the current line is skipped
  auto endLine = [&] {
    const std::size_t start = view.starts_.back();
    if (!cutting && view.text_.size() > start && view.text_.back() == '\r') view.text_.pop_back();
    if (view.text_.size() - start > limits.maxLineBytes) {
      view.text_.resize(start + Utf8PrefixLength(std::string_view(view.text_).substr(start), limits.maxLineBytes));
      view.cutLines_ = true;
    }
    view.starts_.push_back(static_cast<std::uint32_t>(view.text_.size()));
    cutting = false;
    // The offsets of a file of empty lines stay bounded too.
    if (view.rows() > maxRows + maxRows / 2) view.dropOldest(view.rows() - maxRows);
  };

  std::vector<char> buffer(1u << 18);
  std::uint64_t remaining = size - pos;
  while (remaining > 0) {
    const ssize_t n = ::pread(in.fd, buffer.data(), std::min<std::uint64_t>(buffer.size(), remaining),
                              static_cast<off_t>(pos));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw readError(errno);
    if (n == 0) break;  // the file was cut meanwhile
    pos += static_cast<std::uint64_t>(n);
    remaining -= static_cast<std::uint64_t>(n);
    std::string_view chunk(buffer.data(), static_cast<std::size_t>(n));
    if (skipping) {
      const std::size_t nl = chunk.find('\n');
      if (nl == std::string_view::npos) continue;
      chunk.remove_prefix(nl + 1);
      skipping = false;
    }
    while (!chunk.empty()) {
      const void* found = std::memchr(chunk.data(), '\n', chunk.size());
      const std::size_t nl = found ? static_cast<std::size_t>(static_cast<const char*>(found) - chunk.data())
                                   : std::string_view::npos;
      const std::string_view piece = chunk.substr(0, nl);
      // Two bytes past the limit (one may be the CR of a CRLF) are enough to know the line is cut.
      if (!cutting) {
        const std::size_t room = limits.maxLineBytes + 2 - (view.text_.size() - view.starts_.back());
        view.text_.append(piece.substr(0, room));
        cutting = piece.size() >= room;
      }
      if (nl == std::string_view::npos) break;
      endLine();
      chunk.remove_prefix(nl + 1);
    }
  }
  if (view.text_.size() > view.starts_.back() || cutting) endLine();  // a last line without its line break
  if (view.rows() > maxRows) view.dropOldest(view.rows() - maxRows);
  return view;
}

void LogView::dropOldest(std::size_t lines) {
  const std::uint32_t base = starts_[lines];
  text_.erase(0, base);
  starts_.erase(starts_.begin(), starts_.begin() + static_cast<std::ptrdiff_t>(lines));
  for (std::uint32_t& s : starts_) s -= base;
  olderLeftOut_ = true;
}

std::string_view LogView::text(std::size_t row, int column) const { return LogField(line(row), column); }

int LogView::image(std::size_t row) const { return ViewerImage(text(row, 1)); }

int LogView::compare(std::size_t row1, std::size_t row2, int column) const {
  if (column < 1) return 0;  // the captions, all empty
  return CompareAsciiNoCase(text(row1, column), text(row2, column));
}

void LogView::sortBy(int column) {
  if (column < 1 || column >= kColumns || rows() < 2) return;
  // Eight bytes of each row's text at a time: the rows are sorted by their first eight, then
  // each group that ties there and goes on by the next eight, and so on. Where two texts agree
  // up to the end of the shorter one, the shorter comes first; equal texts keep their order.
  struct Key {
    std::uint64_t digit;
    std::uint32_t start, length;  // of the text in text_
    std::uint32_t row, line;
  };
  const char* base = text_.data();
  std::vector<Key> keys;
  keys.reserve(rows());
  PreferLargePages(reinterpret_cast<char*>(keys.data()), keys.capacity() * sizeof(Key));
  keys.resize(rows());
  for (std::size_t row = 0; row < keys.size(); ++row) {
    const std::size_t line = lineOf(row);
    const std::string_view field = LogField(lineAt(line), column);
    keys[row] = {SortDigit(field.data(), field.size(), 0), static_cast<std::uint32_t>(field.data() - base),
                 static_cast<std::uint32_t>(field.size()), static_cast<std::uint32_t>(row),
                 static_cast<std::uint32_t>(line)};
  }
  auto nextDigits = [&](std::size_t from, std::size_t to, std::size_t depth) {
    for (std::size_t i = from; i < to; ++i) keys[i].digit = SortDigit(base + keys[i].start, keys[i].length, 8 * depth);
  };
  struct Group {
    std::size_t from, to, depth;
  };
  std::vector<Group> groups{{0, keys.size(), 0}};
  while (!groups.empty()) {
    auto [from, to, depth] = groups.back();
    groups.pop_back();
    if (to - from < 2) continue;
    // Bytes that all the group's texts share, and no text ends in, need no sorting.
    for (;;) {
      bool same = true, ends = false;
      for (std::size_t i = from; i < to && same && !ends; ++i) {
        same = keys[i].digit == keys[from].digit;
        ends = keys[i].length <= 8 * (depth + 1);
      }
      if (!same || ends) break;
      nextDigits(from, to, ++depth);
    }
    const std::uint32_t reach = static_cast<std::uint32_t>(std::min<std::size_t>(8 * (depth + 1), UINT32_MAX));
    auto ended = [reach](const Key& k) { return k.length <= reach ? k.length : UINT32_MAX; };
    std::sort(keys.begin() + static_cast<std::ptrdiff_t>(from), keys.begin() + static_cast<std::ptrdiff_t>(to),
              [&](const Key& a, const Key& b) {
                if (a.digit != b.digit) return a.digit < b.digit;
                if (ended(a) != ended(b)) return ended(a) < ended(b);
                return a.row < b.row;
              });
    // In each run of one digit, the texts that end there come first, in order; the others go on.
    for (std::size_t i = from; i < to;) {
      std::size_t j = i, goesOn = i;
      while (j < to && keys[j].digit == keys[i].digit) ++j;
      while (goesOn < j && keys[goesOn].length <= reach) ++goesOn;
      if (j - goesOn >= 2) {
        nextDigits(goesOn, j, depth + 1);
        groups.push_back({goesOn, j, depth + 1});
      }
      i = j;
    }
  }
  order_.resize(keys.size());
  for (std::size_t i = 0; i < keys.size(); ++i) order_[i] = keys[i].line;
}

std::array<std::size_t, LogView::kColumns> LogView::longestRows() const {
  std::array<std::size_t, kColumns> row{}, length{};
  for (std::size_t r = 0; r < rows(); ++r) {
    std::string_view rest = line(r);
    for (int c = 1; c < kColumns; ++c) {
      const std::size_t sep = rest.find(';');
      const std::size_t n = std::min(sep, rest.size());
      if (n > length[c]) {
        length[c] = n;
        row[c] = r;
      }
      if (sep == std::string_view::npos) break;
      rest.remove_prefix(sep + 1);
    }
  }
  return row;
}

std::string LogViewNotice(const LogView& view) {
  std::string notice;
  if (view.olderLinesLeftOut()) {
    notice = "Journal trop volumineux : ses lignes les plus anciennes ne sont pas affichées, seules les " +
             Grouped(view.rows()) + " dernières le sont.";
  }
  if (view.cutLines()) {
    if (!notice.empty()) notice += ' ';
    notice += "Les lignes trop longues sont affichées coupées.";
  }
  return notice;
}

}  // namespace core
