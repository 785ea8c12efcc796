#include "tests/updater/ziparchive/ziptestkit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "tests/support/testenv.h"

namespace fs = std::filesystem;

namespace ziptestkit {

namespace {

std::string Hex(const std::string& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

const char* kWriter = R"(import sys, zipfile
with zipfile.ZipFile(sys.argv[2], "w") as z:
    for line in open(sys.argv[1]).read().splitlines():
        name, data, attr, host, time, method = line.split("\t")
        zi = zipfile.ZipInfo("x", tuple(int(t) for t in time.split(",")))
        zi.filename = bytes.fromhex(name).decode("utf-8", "surrogateescape")
        zi.create_system = int(host)
        zi.external_attr = int(attr)
        zi.compress_type = int(method)
        z.writestr(zi, bytes.fromhex(data))
)";

}  // namespace

ZEntry UnixEntry(const std::string& name, const std::string& data, unsigned mode) {
  ZEntry e;
  e.name = name;
  e.data = data;
  e.host = kHostUnix;
  e.attr = mode << 16;
  return e;
}

fs::path MakeZip(const fs::path& zip, const std::vector<ZEntry>& entries) {
  const fs::path dir = zip.parent_path();
  fs::create_directories(dir);
  const fs::path script = testenv::writeFile(dir / "writer.py", kWriter);
  std::ostringstream spec;
  for (const auto& e : entries) {
    spec << Hex(e.name) << '\t' << Hex(e.data) << '\t' << e.attr << '\t' << e.host << '\t';
    for (size_t i = 0; i < e.time.size(); ++i) spec << (i ? "," : "") << e.time[i];
    spec << '\t' << e.method << '\n';
  }
  const fs::path specFile = testenv::writeFile(dir / "spec.txt", spec.str());
  const int rc = Shell("/usr/bin/python3 '" + script.string() + "' '" + specFile.string() + "' '" + zip.string() + "'");
  EXPECT_EQ(rc, 0) << "python3 zipfile could not write " << zip;
  fs::remove(script);
  fs::remove(specFile);
  return zip;
}

void Damage(const fs::path& file, const std::string& marker) {
  std::string bytes = testenv::readFile(file);
  const size_t at = bytes.find(marker);
  ASSERT_NE(at, std::string::npos) << "marker not in " << file;
  bytes[at + marker.size() - 1] ^= 0x01;
  testenv::writeFile(file, bytes);
}

std::vector<std::string> TreeOf(const fs::path& root) {
  std::vector<std::string> out;
  if (!fs::exists(root)) return out;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    std::string rel = fs::relative(it->path(), root).generic_string();
    if (it->is_directory() && !it->is_symlink()) rel += "/";
    out.push_back(rel);
  }
  std::sort(out.begin(), out.end());
  return out;
}

int Shell(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace ziptestkit
