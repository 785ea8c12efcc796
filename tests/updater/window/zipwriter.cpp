#include "tests/updater/window/zipwriter.h"

#include <zlib.h>

namespace testzip {

namespace {

void Put16(std::string& s, uint32_t v) {
  s += char(v & 0xff);
  s += char((v >> 8) & 0xff);
}
void Put32(std::string& s, uint32_t v) {
  Put16(s, v & 0xffff);
  Put16(s, v >> 16);
}

}  // namespace

Entry UnixFile(std::string name, std::string data, uint32_t mode) {
  return {std::move(name), std::move(data), (3 << 8) | 20, (0100000u | mode) << 16};
}
Entry DosFile(std::string name, std::string data) { return {std::move(name), std::move(data), 20, 0x20}; }
Entry UnixLink(std::string name, std::string target) {
  return {std::move(name), std::move(target), (3 << 8) | 20, 0120777u << 16};
}
Entry Folder(std::string name) { return {std::move(name), "", (3 << 8) | 20, (040755u << 16) | 0x10}; }

std::string Archive(const std::vector<Entry>& entries) {
  std::string out, central;
  for (const auto& e : entries) {
    const uint32_t crc = uint32_t(crc32(0, reinterpret_cast<const Bytef*>(e.Data.data()), uInt(e.Data.size())));
    const uint32_t offset = uint32_t(out.size());
    Put32(out, 0x04034b50);
    Put16(out, 10);  // version needed
    Put16(out, 0);   // flags
    Put16(out, 0);   // stored
    Put16(out, 0);   // time
    Put16(out, 0x5821);  // 2024-01-01
    Put32(out, crc);
    Put32(out, uint32_t(e.Data.size()));
    Put32(out, uint32_t(e.Data.size()));
    Put16(out, uint32_t(e.Name.size()));
    Put16(out, 0);
    out += e.Name;
    out += e.Data;

    Put32(central, 0x02014b50);
    Put16(central, e.VersionMadeBy);
    Put16(central, 10);
    Put16(central, 0);
    Put16(central, 0);
    Put16(central, 0);
    Put16(central, 0x5821);
    Put32(central, crc);
    Put32(central, uint32_t(e.Data.size()));
    Put32(central, uint32_t(e.Data.size()));
    Put16(central, uint32_t(e.Name.size()));
    Put16(central, 0);  // extra
    Put16(central, 0);  // comment
    Put16(central, 0);  // disk
    Put16(central, 0);  // internal attributes
    Put32(central, e.ExternalAttributes);
    Put32(central, offset);
    central += e.Name;
  }
  const uint32_t centralOffset = uint32_t(out.size());
  out += central;
  Put32(out, 0x06054b50);
  Put16(out, 0);
  Put16(out, 0);
  Put16(out, uint32_t(entries.size()));
  Put16(out, uint32_t(entries.size()));
  Put32(out, uint32_t(central.size()));
  Put32(out, centralOffset);
  Put16(out, 0);
  return out;
}

}  // namespace testzip
