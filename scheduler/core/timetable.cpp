#include "scheduler/core/timetable.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/atomicfile.h"
#include "platform/files.h"
#include "scheduler/core/fields.h"

namespace fs = std::filesystem;

namespace core {
namespace {

std::string reason(int err) {
  switch (err) {
    case ENOSPC: return "disque plein";
    case EDQUOT: return "quota disque dépassé";
    case EACCES:
    case EPERM: return "accès refusé";
    case ENOENT:
    case ENOTDIR: return "dossier introuvable";
    case EROFS: return "support en lecture seule";
    case EISDIR: return "c'est un dossier";
    case EIO: return "erreur d'entrée/sortie";
    case EFBIG: return "fichier trop grand";
    default: return "erreur système " + std::to_string(err);
  }
}

bool fail(std::string* errorText, const char* what, const fs::path& path, int err) {
  if (errorText) *errorText = std::string(what) + " « " + path.string() + " » : " + reason(err);
  errno = err;
  return false;
}

std::string padTwo(std::string s) { return s.size() == 1 ? "0" + s : s; }

const char* ouiNon(std::string_view flag) { return flag == "1" ? "oui" : "non"; }

// Field n of a line as ScheduleLine::Parse reads it, with one more "|".
std::string_view fieldOf(std::string_view line, int n) { return FieldView(line, '|', n, LastField::EndedByText); }

}  // namespace

ScheduleLine ScheduleLine::Parse(std::string_view line) {
  // One more "|" lets a last field without its separator count; it changes nothing in a
  // complete line.
  std::string text(line);
  text += '|';
  ScheduleLine e;
  e.minutes = ExtractField(text, '|', 2);
  e.hours = ExtractField(text, '|', 3);
  for (int d = 0; d < 7; ++d) e.days[d] = ExtractField(text, '|', 4 + d);
  e.source = ExtractField(text, '|', 11);
  e.filter = ExtractField(text, '|', 12);
  e.target = ExtractField(text, '|', 13);
  e.subFolders = ExtractField(text, '|', 14);
  e.overwrite = ExtractField(text, '|', 15);
  return e;
}

std::string ScheduleLine::Text() const {
  std::string out;
  auto add = [&out](const std::string& f) {
    out += f;
    out += '|';
  };
  add(minutes);
  add(hours);
  for (const auto& d : days) add(d);
  add(source);
  add(filter);
  add(target);
  add(subFolders);
  add(overwrite);
  return out;
}

std::string ScheduleCaption(std::size_t index) {
  std::string s = std::to_string(index);
  if (s.size() < 3) s.insert(0, 3 - s.size(), '0');
  return s;
}

std::string_view ScheduleRowText(std::size_t index, std::string_view line, int column, std::string& scratch) {
  switch (column) {
    case 0: return scratch = ScheduleCaption(index);
    case 1: return scratch = padTwo(std::string(fieldOf(line, 3))) + ":" + padTwo(std::string(fieldOf(line, 2)));
    case 2: return fieldOf(line, 11);
    case 3: return fieldOf(line, 13);
    case 4: return fieldOf(line, 12);
    case 5: return scratch = ouiNon(fieldOf(line, 14));
    case 6: return scratch = ouiNon(fieldOf(line, 15));
    default: return {};
  }
}

int CompareText(std::string_view a, std::string_view b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    auto ca = static_cast<unsigned char>(a[i]), cb = static_cast<unsigned char>(b[i]);
    if (ca >= 'a' && ca <= 'z') ca -= 0x20;
    if (cb >= 'a' && cb <= 'z') cb -= 0x20;
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

ScheduleLoad LoadScheduleFile(const fs::path& path) {
  ScheduleLoad out;
  // A folder goes on to the read, which names it.
  const int fd = platform::OpenFileOnly(path.string(), O_RDONLY, 0, S_IFDIR);
  if (fd == platform::kNotAFile) {
    out.errorText = "Impossible de lire « " + path.string() + " » : ce n'est pas un fichier";
    out.ok = false;
    return out;
  }
  if (fd < 0 && errno == ENOENT) {
    std::string err;
    if (!CreateScheduleFile(path, &err)) {
      out.ok = false;
      out.errorText = err;
      return out;
    }
    out.created = true;
    out.lines.emplace_back();
    return out;
  }
  if (fd < 0) {
    fail(&out.errorText, "Impossible de lire", path, errno);
    out.ok = false;
    return out;
  }
  // Line by line into the list: memory stays near the file's size, however long a line is.
  FILE* in = ::fdopen(fd, "r");
  if (!in) {
    int err = errno;
    ::close(fd);
    fail(&out.errorText, "Impossible de lire", path, err);
    out.ok = false;
    return out;
  }
  char* line = nullptr;
  size_t capacity = 0;
  ssize_t n;
  while ((n = ::getline(&line, &capacity, in)) > 0) {
    size_t len = static_cast<size_t>(n);
    if (line[len - 1] == '\n') --len;
    if (len > 0 && line[len - 1] == '\r') --len;
    out.lines.emplace_back(line, len);
  }
  const int err = std::ferror(in) ? errno : 0;
  out.lines.shrink_to_fit();  // the list is kept: no room for half as many lines again
  std::free(line);
  std::fclose(in);
  if (err != 0) {
    fail(&out.errorText, "Impossible de lire", path, err);
    out.ok = false;
    out.lines.clear();
  }
  return out;
}

bool CreateScheduleFile(const fs::path& path, std::string* errorText) {
  if (!platform::WriteFileAtomic(path, "\n", 0644)) return fail(errorText, "Impossible de créer", path, errno);
  return true;
}

bool AppendLine(const fs::path& path, std::string_view line, std::string* errorText) {
  int fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CLOEXEC);
  if (fd < 0) return fail(errorText, "Impossible d'ajouter à", path, errno);
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    int err = errno;
    ::close(fd);
    return fail(errorText, "Impossible d'ajouter à", path, err);
  }
  std::string text;
  char last = '\n';
  if (st.st_size > 0 && ::pread(fd, &last, 1, st.st_size - 1) != 1) last = '\n';
  if (last != '\n') text += '\n';  // a hand-edited last line without its line break
  text.append(line);
  text += '\n';
  // One write: a short one (disk full) counts as a failure and is undone below.
  ssize_t n = ::write(fd, text.data(), text.size());
  if (n >= 0 && static_cast<size_t>(n) != text.size()) errno = ENOSPC;
  bool ok = n == static_cast<ssize_t>(text.size()) && ::fsync(fd) == 0;
  int err = errno;
  if (!ok) {
    int undone = ::ftruncate(fd, st.st_size);  // drop a partly written line
    (void)undone;
  }
  if (::close(fd) != 0 && ok) ok = false, err = errno;
  if (!ok) return fail(errorText, "Impossible d'ajouter à", path, err);
  return true;
}

bool AppendScheduleLine(const fs::path& path, const ScheduleLine& entry, std::string* errorText) {
  // The format has no escaping: a "|" or a line break inside a field would shift the fields
  // (and so the target) of the entry.
  std::string text = entry.Text();
  if (text.find_first_of("\r\n") != std::string::npos ||
      static_cast<int>(std::count(text.begin(), text.end(), '|')) != 14) {
    if (errorText) {
      *errorText = "Un dossier ou un filtre contient un caractère interdit (« | » ou un saut de ligne)";
    }
    errno = EINVAL;
    return false;
  }
  return AppendLine(path, text, errorText);
}

bool SaveScheduleFile(const fs::path& path, const std::vector<std::string>& lines, std::string* errorText) {
  if (lines.empty()) return true;
  std::string bytes;
  for (const auto& l : lines) {
    bytes += l;
    bytes += '\n';
  }
  mode_t mode = 0644;
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) mode = st.st_mode & 07777;
  if (!platform::WriteFileAtomic(path, bytes, mode)) return fail(errorText, "Impossible d'enregistrer", path, errno);
  return true;
}

bool DeleteScheduleLine(std::vector<std::string>& lines, std::size_t index) {
  if (index >= lines.size()) return false;
  if (index == 0) lines[0].clear();
  else lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(index));
  return true;
}

}  // namespace core
