#include "scheduler/core/captions.h"

#include <fcntl.h>
#include <unistd.h>

#include <stdexcept>

#include "platform/inifile.h"

namespace core {

std::string IniLang(const std::string& dataFolder, std::string_view language, std::string_view key) {
  const platform::IniFile ini(dataFolder + "lang.ini");
  std::string value = ini.ReadString(language, key, "");
  return value.empty() ? std::string(key) : value;
}

void ecrire(const std::string& dataFolder, std::string_view line) {
  const std::string path = dataFolder + "sourcelang.ini";
  const std::string text = std::string(line) + "\n";
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) throw std::runtime_error("Impossible d'écrire dans " + path);
  const ssize_t n = ::write(fd, text.data(), text.size());
  const bool closed = ::close(fd) == 0;
  if (n != static_cast<ssize_t>(text.size()) || !closed) throw std::runtime_error("Impossible d'écrire dans " + path);
}

}  // namespace core
