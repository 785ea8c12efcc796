#pragma once
// Writes archives with our own entry writer and directory writer, and decompresses an entry
// with our own reader, for the tests of the data path.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/testenv.h"
#include "updater/ziparchive/zaarchiver.h"
#include "updater/ziparchive/zadirmanager.h"
#include "updater/ziparchive/zacrypt.h"
#include "updater/ziparchive/zaentrydata.h"
#include "updater/ziparchive/zarecords.h"

namespace ourarchive {

using namespace ziparchive;

struct Source {
  Source(std::string n, std::string d, uint16_t m = kMethodDeflated, uint8_t level = 6, std::string pw = "")
      : name(std::move(n)), data(std::move(d)), method(m), mode(level), password(std::move(pw)) {}
  std::string name;
  std::string data;
  uint16_t method;
  uint8_t mode;
  std::string password;  // not empty: the entry is enciphered
};

// Writes the archive; returns the entries as written.
inline std::vector<TDirItem> WriteArchive(const std::filesystem::path& path, const std::vector<Source>& sources,
                                          TZip64Mode zip64 = zmAuto) {
  TZipArchiver z;
  z.Zip64Mode = zip64;
  z.FileName = path.string();
  z.OpenArchiveMode(kCreateArchiveMode);
  std::vector<TDirItem> written;
  TZADirArray& dir = z.FDirManager->CurrentDir;
  for (const Source& s : sources) {
    TDirItem item;
    item.Signature = kCentralHeaderSignature;
    item.SetName(s.name);
    item.CompressionMethod = s.method;
    item.EntryCompressionMode = s.mode;
    item.EditPending().EntryPassword = s.password;
    item.LastModTime = 0x6000;
    item.LastModDate = 0x58A6;
    item.ExternalAttributes = 0x20;
    TZAMemoryStream src;
    src.WriteBuffer(s.data.data(), static_cast<int64_t>(s.data.size()));
    z.FArchiveStream->Seek(0, soEnd);
    EXPECT_TRUE(z.WriteItemHeaderAndData(*z.FArchiveStream, item, &src));
    dir.SetDirItemCount(dir.DirItemCount() + 1);
    dir.PutDirItem(dir.DirItemCount() - 1, item);
    written.push_back(item);
  }
  z.FDirManager->WriteCentralDir();
  z.CloseArchive();
  return written;
}

// Decompresses entry index of the open archive into memory; false when its data do not check.
inline bool Unpack(TZipArchiver& z, int index, std::string& content) {
  const TDirItem& e = z.FDirManager->CurrentDir.DirItemAt(index);
  z.FArchiveStream->SetPosition(EffectiveLocalHeaderOffset(e));
  TZAMemoryStream out;
  const bool ok = z.DecompressItem(*z.FArchiveStream, out, e);
  content.assign(reinterpret_cast<const char*>(out.Memory()), static_cast<size_t>(out.Size()));
  return ok;
}

// A wrong password that fails the check byte of every enciphered entry of the archive: any
// wrong password passes one entry's check in 256.
inline std::string WrongPasswordFor(const std::filesystem::path& archive) {
  const std::string bytes = testenv::readFile(archive);
  const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
  TZipArchiver zip;
  zip.FileName = archive.string();
  zip.OpenArchiveMode(kOpenReadDenyNone);
  const TZADirArray& dir = zip.FDirManager->CurrentDir;
  for (int n = 0;; ++n) {
    const std::string password = "wrong" + (n > 0 ? std::to_string(n) : std::string());
    bool failsAll = true;
    for (int i = 0; i < dir.DirItemCount() && failsAll; ++i) {
      const TDirItem& e = dir.DirItemAt(i);
      if ((e.Flags & 1) == 0) continue;
      const uint8_t* local = p + EffectiveLocalHeaderOffset(e);
      TZACryptKeys keys;
      failsAll = !CheckItemPassword(local + 30 + GetU16(local + 26) + GetU16(local + 28), password, keys, e.Crc32,
                                    e.LastModTime, e.Flags);
    }
    if (failsAll) return password;
  }
}

}  // namespace ourarchive
