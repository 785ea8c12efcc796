#pragma once
// Helpers of the write-side tests: archives written through the update interface, their
// contents read back by our engine and by the peers, and streams that fail on purpose.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/testenv.h"
#include "tests/updater/ziparchive/peertools.h"
#include "updater/ziparchive/zaarchiver.h"
#include "updater/ziparchive/zadirmanager.h"
#include "updater/ziparchive/zaexcept.h"

namespace zipwritekit {

using namespace ziparchive;
namespace fs = std::filesystem;

using Contents = std::map<std::string, std::string>;

// Passes everything to an owned stream; once armed, the write that passes the allowed
// number of bytes is cut short (ENOSPC), once. Counts what was written.
class FailingStream : public TZAStream {
 public:
  explicit FailingStream(TZAStream* inner) : inner_(inner) {}
  ~FailingStream() override { delete inner_; }
  int64_t Read(void* b, int64_t n) override { return inner_->Read(b, n); }
  int64_t Write(const void* b, int64_t n) override {
    if (allowed_ >= 0 && n > allowed_) {
      const int64_t part = inner_->Write(b, allowed_);
      allowed_ = -1;
      lastError_ = ENOSPC;
      Written += part;
      return part;
    }
    if (allowed_ >= 0) allowed_ -= n;
    const int64_t done = inner_->Write(b, n);
    Written += done;
    return done;
  }
  int64_t Seek(int64_t o, TZASeekOrigin origin) override { return inner_->Seek(o, origin); }
  int64_t Size() override { return inner_->Size(); }
  void SetSize(int64_t s) override { inner_->SetSize(s); }
  // The next bytes writes pass; the one after fails.
  void Arm(int64_t bytes) { allowed_ = bytes; }
  int64_t Written = 0;

 private:
  TZAStream* inner_;
  int64_t allowed_ = -1;
};

// An archiver whose temporary files and journal tails can fail and are counted.
class TestArchiver : public TZipArchiver {
 public:
  TZAStream* NewTempStream(std::string& fileName) override {
    ++TempFiles;
    auto* s = new FailingStream(TZipArchiver::NewTempStream(fileName));
    if (TempFailAfter >= 0) s->Arm(TempFailAfter);
    return s;
  }
  TZAStream* NewJournalTail(TZACommitJournal& journal) override {
    ++Journals;
    auto* s = new FailingStream(TZipArchiver::NewJournalTail(journal));
    if (TempFailAfter >= 0) s->Arm(TempFailAfter);
    return s;
  }
  // Wraps the open archive's stream (the archiver still frees it).
  FailingStream& WrapArchiveStream() {
    auto* s = new FailingStream(FArchiveStream);
    FArchiveStream = s;
    FDirManager->ArchiveStream = s;
    return *s;
  }
  int TempFiles = 0;
  int Journals = 0;  // tails copied into the journal beside the archive
  int64_t TempFailAfter = -1;
};

inline void AddText(TZABaseArchiver& zip, const std::string& name, const std::string& data) {
  auto* s = new TZAMemoryStream;
  s->WriteBuffer(data.data(), int64_t(data.size()));
  zip.AddStream(s, true, name);
}

// A new archive at path holding the entries (in order), at the given compression mode.
inline void MakeArchive(const fs::path& path, const std::vector<std::pair<std::string, std::string>>& entries,
                        int mode = 6) {
  TZipArchiver zip;
  zip.FileName = path.string();
  zip.SetCompressionMode(mode);
  zip.OpenArchiveMode(kCreateArchiveMode);
  zip.BeginUpdate();
  for (const auto& [name, data] : entries) AddText(zip, name, data);
  zip.EndUpdate();
  zip.CloseArchive();
}

// One update of the archive at path: opened, changed, committed and closed.
inline void Update(const fs::path& path, const std::function<void(TZipArchiver&)>& change) {
  TZipArchiver zip;
  zip.FileName = path.string();
  zip.OpenArchive();
  zip.BeginUpdate();
  change(zip);
  zip.EndUpdate();
  zip.CloseArchive();
}

// Every entry's content as our engine reads it; a failing entry fails the test.
inline Contents ReadBack(TZABaseArchiver& zip) {
  Contents out;
  const TZADirArray& dir = zip.FDirManager->CurrentDir;
  for (int i = 0; i < dir.DirItemCount(); ++i) {
    TZAMemoryStream m;
    try {
      zip.ExtractItemToStream(i, m);
    } catch (const std::exception& e) {
      ADD_FAILURE() << dir.DirItemAt(i).Name() << ": " << e.what();
    }
    out[std::string(dir.DirItemAt(i).Name())] = std::string(reinterpret_cast<const char*>(m.Memory()), size_t(m.Size()));
  }
  return out;
}

inline Contents ReadBack(const fs::path& path, const std::string& password = {}) {
  TZipArchiver zip;
  zip.FileName = path.string();
  zip.Password = password;
  zip.OpenArchiveMode(kOpenReadDenyNone);
  return ReadBack(zip);
}

// What Python's zipfile reads: name -> content (hex-free: the test data is text or bytes).
inline Contents PythonReads(const fs::path& path, const std::string& password = {}) {
  const fs::path out = path.string() + ".py-out";
  const std::string script =
      "import sys, zipfile\n"
      "z = zipfile.ZipFile(sys.argv[1])\n"
      "pw = sys.argv[3].encode() if len(sys.argv) > 3 else None\n"
      "bad = z.testzip() if pw is None else None\n"
      "assert bad is None, bad\n"
      "with open(sys.argv[2], 'wb') as f:\n"
      "    for i in z.infolist():\n"
      "        d = z.read(i, pwd=pw)\n"
      "        f.write(i.filename.encode('utf-8') + b'\\0' + str(len(d)).encode() + b'\\0' + d)\n";
  const fs::path py = testenv::writeFile(path.string() + ".py", script);
  std::string log;
  const int rc = peertools::Run("/usr/bin/python3 " + peertools::Quote(py.string()) + " " +
                                    peertools::Quote(path.string()) + " " + peertools::Quote(out.string()) +
                                    (password.empty() ? "" : " " + peertools::Quote(password)),
                                log);
  EXPECT_EQ(rc, 0) << "python zipfile on " << path << "\n" << log;
  Contents c;
  const std::string bytes = rc == 0 ? testenv::readFile(out) : std::string();
  for (size_t p = 0; p < bytes.size();) {
    const size_t z1 = bytes.find('\0', p), z2 = bytes.find('\0', z1 + 1);
    const size_t n = std::stoul(bytes.substr(z1 + 1, z2 - z1 - 1));
    c[bytes.substr(p, z1 - p)] = bytes.substr(z2 + 1, n);
    p = z2 + 1 + n;
  }
  fs::remove(py);
  fs::remove(out);
  return c;
}

// unzip -t and 7zz t accept the archive.
inline void PeersAccept(const fs::path& path, const std::string& password = {}) {
  const std::string q = peertools::Quote(path.string());
  std::string out;
  ASSERT_TRUE(peertools::Have("unzip") && peertools::Have("7zz")) << "run scripts/install-deps.sh";
  EXPECT_EQ(peertools::Run("LC_ALL=C.UTF-8 unzip -t " + (password.empty() ? "" : "-P " + peertools::Quote(password) + " ") + q, out), 0)
      << out;
  EXPECT_NE(out.find("No errors detected"), std::string::npos) << out;
  EXPECT_EQ(peertools::Run("7zz t -p" + peertools::Quote(password) + " " + q, out), 0) << out;
  EXPECT_NE(out.find("Everything is Ok"), std::string::npos) << out;
}

// True when a commit's journal is left beside the archive.
inline bool JournalLeft(const fs::path& archive) { return fs::exists(TZACommitJournal::NameFor(archive.string())); }

inline std::vector<std::string> TempFilesIn(const fs::path& folder) {
  std::vector<std::string> found;
  for (const auto& e : fs::directory_iterator(folder))
    if (e.path().filename().string().rfind("FC", 0) == 0) found.push_back(e.path().string());
  return found;
}

}  // namespace zipwritekit
