#include "scheduler/core/wave.h"

#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstring>

namespace core {
namespace {

void Put(std::string& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

}  // namespace

bool IsWaveFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  char head[12];
  const bool ok = ::read(fd, head, sizeof head) == static_cast<ssize_t>(sizeof head) &&
                  std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "WAVE", 4) == 0;
  ::close(fd);
  return ok;
}

std::string ToneWave(int hertz, int milliseconds, int sampleRate) {
  const std::uint32_t samples = static_cast<std::uint32_t>(static_cast<long long>(sampleRate) * milliseconds / 1000);
  const std::uint32_t dataBytes = samples * 2;
  std::string out = "RIFF";
  Put(out, 36 + dataBytes, 4);
  out += "WAVEfmt ";
  Put(out, 16, 4);
  Put(out, 1, 2);  // PCM
  Put(out, 1, 2);  // mono
  Put(out, static_cast<std::uint32_t>(sampleRate), 4);
  Put(out, static_cast<std::uint32_t>(sampleRate) * 2, 4);
  Put(out, 2, 2);
  Put(out, 16, 2);
  out += "data";
  Put(out, dataBytes, 4);
  const double step = 2 * M_PI * hertz / sampleRate;
  for (std::uint32_t i = 0; i < samples; ++i)
    Put(out, static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(12000 * std::sin(step * i)))), 2);
  return out;
}

}  // namespace core
