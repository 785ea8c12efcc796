#include "platform/inifile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <optional>
#include <utility>

#include "platform/atomicfile.h"

namespace platform {

namespace {

constexpr size_t npos = std::string::npos;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// The name of a "[name]" line; the name runs to the first "]" (or the end of the line).
std::optional<std::string_view> HeaderName(std::string_view line) {
  line = Trim(line);
  if (line.empty() || line.front() != '[') return std::nullopt;
  line.remove_prefix(1);
  size_t close = line.find(']');
  if (close != npos) line = line.substr(0, close);
  return Trim(line);
}

// The key of a "key=value" line; comment lines and lines without "=" have none.
std::optional<std::string_view> KeyName(std::string_view line) {
  std::string_view t = Trim(line);
  if (t.empty() || t.front() == ';' || t.front() == '[') return std::nullopt;
  size_t eq = t.find('=');
  if (eq == npos) return std::nullopt;
  return Trim(t.substr(0, eq));
}

std::string_view RawValue(std::string_view line) {
  size_t eq = line.find('=');
  return eq == npos ? std::string_view() : line.substr(eq + 1);
}

bool IsQuote(char c) { return c == '"' || c == '\''; }

bool HasEnclosingQuotes(std::string_view s) {
  return s.size() >= 2 && IsQuote(s.front()) && s.front() == s.back();
}

bool HasLineBreakOrNul(std::string_view s) { return s.find_first_of(std::string_view("\r\n\0", 3)) != npos; }

bool StorableName(std::string_view name) {
  return !name.empty() && Trim(name).size() == name.size() && !HasLineBreakOrNul(name);
}

std::optional<std::string> ReadWholeFile(const std::filesystem::path& path, bool& missing) {
  missing = false;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    missing = errno == ENOENT || errno == ENOTDIR;
    return std::nullopt;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return std::nullopt;
  }
  std::string bytes;
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    bytes.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  return bytes;
}

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = AsciiLower(c);
  return out;
}

}  // namespace

void IniFile::Block::IndexKeys() {
  keys.clear();
  for (size_t i = 0; i < lines.size(); ++i) {
    if (std::optional<std::string_view> key = KeyName(lines[i])) keys.emplace(Lower(*key), i);
  }
}

void IniFile::IndexBlocks() {
  firstBlock_.clear();
  for (size_t b = 0; b < blocks_.size(); ++b) {
    if (blocks_[b].hasHeader) firstBlock_.emplace(blocks_[b].name, b);
  }
}

const IniFile::Block* IniFile::FindBlock(std::string_view section) const {
  auto it = firstBlock_.find(Lower(section));
  return it == firstBlock_.end() ? nullptr : &blocks_[it->second];
}

IniFile::Block* IniFile::FindBlock(std::string_view section) {
  return const_cast<Block*>(std::as_const(*this).FindBlock(section));
}

IniFile::IniFile(std::filesystem::path path, mode_t mode) : path_(std::move(path)), mode_(mode) {
  blocks_.emplace_back();
  bool missing = false;
  std::optional<std::string> bytes = ReadWholeFile(path_, missing);
  if (!bytes) {
    loaded_ = missing;
    return;
  }
  std::string_view rest = *bytes;
  // A byte-order mark left by an editor is not part of the first line.
  if (rest.substr(0, 3) == "\xEF\xBB\xBF") rest.remove_prefix(3);
  while (!rest.empty()) {
    size_t nl = rest.find('\n');
    std::string_view line = rest.substr(0, nl);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (std::optional<std::string_view> name = HeaderName(line)) {
      Block block;
      block.hasHeader = true;
      block.header = line;
      block.name = Lower(*name);
      blocks_.push_back(std::move(block));
    } else {
      blocks_.back().lines.emplace_back(line);
    }
    if (nl == npos) break;
    rest.remove_prefix(nl + 1);
  }
  for (Block& block : blocks_) block.IndexKeys();
  IndexBlocks();
}

std::string IniFile::ReadString(std::string_view section, std::string_view key, std::string_view def) const {
  const Block* block = FindBlock(section);
  if (!block) return std::string(def);
  auto it = block->keys.find(Lower(key));
  if (it == block->keys.end()) return std::string(def);
  return DecodeValue(RawValue(block->lines[it->second]));
}

int IniFile::ReadInteger(std::string_view section, std::string_view key, int def) const {
  std::string text = ReadString(section, key, "");
  std::string_view digits = Trim(text);
  bool plus = !digits.empty() && digits.front() == '+';
  if (plus) digits.remove_prefix(1);
  if (digits.empty() || (plus && digits.front() == '-')) return def;
  int value = 0;
  auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value, 10);
  if (ec != std::errc() || end != digits.data() + digits.size()) return def;
  return value;
}

bool IniFile::ReadBool(std::string_view section, std::string_view key, bool def) const {
  return ReadInteger(section, key, def ? 1 : 0) != 0;
}

bool IniFile::SectionExists(std::string_view section) const { return FindBlock(section) != nullptr; }

bool IniFile::ValueExists(std::string_view section, std::string_view key) const {
  const Block* block = FindBlock(section);
  return block && block->keys.count(Lower(key)) != 0;
}

std::vector<std::string> IniFile::ReadSection(std::string_view section) const {
  std::vector<std::string> keys;
  const Block* block = FindBlock(section);
  if (!block) return keys;
  for (size_t i = 0; i < block->lines.size(); ++i) {
    std::optional<std::string_view> name = KeyName(block->lines[i]);
    // The index holds the first line of every key: only that line names it.
    if (name && block->keys.at(Lower(*name)) == i) keys.emplace_back(*name);
  }
  return keys;
}

bool IniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  if (!StorableName(section) || section.find(']') != npos) return false;
  if (!StorableName(key) || key.find('=') != npos || key.front() == '[' || key.front() == ';') return false;
  if (HasLineBreakOrNul(value)) return false;
  std::string line = std::string(key) + "=" + EncodeValue(value);
  dirty_ = true;
  Block* block = FindBlock(section);
  if (!block) {
    Block added;
    added.hasHeader = true;
    added.header = "[" + std::string(section) + "]";
    added.name = Lower(section);
    blocks_.push_back(std::move(added));
    block = &blocks_.back();
    firstBlock_.emplace(block->name, blocks_.size() - 1);
  }
  const std::string lowered = Lower(key);
  if (auto it = block->keys.find(lowered); it != block->keys.end()) {
    block->lines[it->second] = std::move(line);
    return true;
  }
  // After the last non-blank line of the section, so blank separators stay before the next
  // one; only blank lines move, so the key index stays right.
  size_t insert = block->lines.size();
  while (insert > 0 && Trim(block->lines[insert - 1]).empty()) --insert;
  block->lines.insert(block->lines.begin() + static_cast<std::ptrdiff_t>(insert), std::move(line));
  block->keys.emplace(lowered, insert);
  return true;
}

bool IniFile::WriteInteger(std::string_view section, std::string_view key, int value) {
  return WriteString(section, key, std::to_string(value));
}

bool IniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
  return WriteString(section, key, value ? "1" : "0");
}

void IniFile::DeleteKey(std::string_view section, std::string_view key) {
  const std::string name = Lower(section), lowered = Lower(key);
  for (Block& block : blocks_) {
    if (!block.hasHeader || block.name != name) continue;
    const size_t before = block.lines.size();
    std::erase_if(block.lines, [&](const std::string& line) {
      std::optional<std::string_view> k = KeyName(line);
      return k && Lower(*k) == lowered;
    });
    if (block.lines.size() == before) continue;
    dirty_ = true;
    block.IndexKeys();
  }
}

void IniFile::EraseSection(std::string_view section) {
  const std::string name = Lower(section);
  const size_t before = blocks_.size();
  std::erase_if(blocks_, [&](const Block& block) { return block.hasHeader && block.name == name; });
  if (blocks_.size() == before) return;
  dirty_ = true;
  IndexBlocks();
}

bool IniFile::UpdateFile() {
  if (!loaded_) return false;
  if (!dirty_) return true;
  std::string bytes;
  for (const Block& block : blocks_) {
    if (block.hasHeader) {
      bytes += block.header;
      bytes += '\n';
    }
    for (const std::string& line : block.lines) {
      bytes += line;
      bytes += '\n';
    }
  }
  if (!WriteFileAtomic(path_, bytes, mode_)) return false;
  dirty_ = false;
  return true;
}

std::string IniFile::EncodeValue(std::string_view value) {
  bool edgeBlank = !value.empty() && (IsBlank(value.front()) || IsBlank(value.back()));
  if (edgeBlank || HasEnclosingQuotes(value)) return "\"" + std::string(value) + "\"";
  return std::string(value);
}

std::string IniFile::DecodeValue(std::string_view raw) {
  std::string_view v = Trim(raw);
  if (HasEnclosingQuotes(v)) v = v.substr(1, v.size() - 2);
  return std::string(v);
}

}  // namespace platform
