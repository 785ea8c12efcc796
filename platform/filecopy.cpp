#include "platform/filecopy.h"

#include "platform/errortext.h"
#include "platform/files.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <sys/syscall.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <random>
#include <vector>

namespace platform {
namespace {

constexpr char kTempPrefix[] = ".quillomet-";
constexpr char kTempSuffix[] = ".part";
// In-kernel copies go in large steps; read/write through a smaller buffer. Progress is
// reported after each step.
constexpr std::size_t kChunk = 8 << 20;
constexpr std::size_t kBuffer = 1 << 20;

// The record getdents64 fills.
struct Dirent64 {
  ino64_t d_ino;
  off64_t d_off;
  unsigned short d_reclen;
  unsigned char d_type;
  char d_name[];
};

CopyResult Failure(int error) {
  CopyResult r;
  r.error = error;
  r.message = SystemErrorText(error);
  return r;
}

std::string FolderOf(const std::string& path) {
  auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Whether an error of copy_file_range means "not between these files": read/write then.
bool KernelCopyRefused(int error) {
  return error == EXDEV || error == ENOSYS || error == EINVAL || error == EOPNOTSUPP || error == EBADF ||
         error == ETXTBSY;
}

bool ReadWriteAll(int in, int out, std::uint64_t& done, std::uint64_t total,
                  const CopyProgress& progress, bool& cancelled) {
  std::vector<char> buf(kBuffer);
  for (;;) {
    ssize_t n = ::read(in, buf.data(), buf.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return true;
    for (ssize_t off = 0; off < n;) {
      ssize_t w = ::write(out, buf.data() + off, static_cast<std::size_t>(n - off));
      if (w < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      off += w;
    }
    done += static_cast<std::uint64_t>(n);
    if (progress && !progress(done, total)) {
      cancelled = true;
      return false;
    }
  }
}

// copy_file_range until end of file; falls back to read/write when the kernel or the file
// systems refuse it before the first byte.
bool CopyData(int in, int out, std::uint64_t total, const CopyProgress& progress, bool& cancelled) {
  std::uint64_t done = 0;
  // A file is copied as long as it was when opened; only an empty one is read to its end
  // (some file systems show contents behind a size of 0).
  while (total == 0 || done < total) {
    ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, kChunk, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (done == 0 && KernelCopyRefused(errno)) {
        return ReadWriteAll(in, out, done, total, progress, cancelled);
      }
      return false;
    }
    if (n == 0) {
      // Some file systems (procfs-like) report nothing through copy_file_range.
      if (done == 0 && total > 0) return ReadWriteAll(in, out, done, total, progress, cancelled);
      return true;
    }
    done += static_cast<std::uint64_t>(n);
    if (progress && !progress(done, total)) {
      cancelled = true;
      return false;
    }
  }
  return true;
}

// Copies [from, to) at the same offsets, through the kernel while it takes it, with progress
// after every chunk. False with errno set on failure (or `cancelled`); `short_` is set when
// the source ended before `to`.
bool CopyRange(int in, int out, off_t from, off_t to, bool& inKernel, std::vector<char>& buf, bool& short_,
               std::uint64_t total, const CopyProgress& progress, bool& cancelled) {
  off_t inOff = from, outOff = from;
  auto advanced = [&] {
    if (!progress || progress(static_cast<std::uint64_t>(inOff), total)) return true;
    cancelled = true;
    return false;
  };
  while (inOff < to) {
    const std::size_t want = static_cast<std::size_t>(std::min<off_t>(to - inOff, static_cast<off_t>(kChunk)));
    if (inKernel) {
      const ssize_t n = ::copy_file_range(in, &inOff, out, &outOff, want, 0);
      if (n > 0) {
        if (!advanced()) return false;
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && !KernelCopyRefused(errno)) return false;
      inKernel = false;  // refused, or nothing through it (procfs-like): read/write
      continue;
    }
    if (buf.empty()) buf.resize(kBuffer);
    const ssize_t n = ::pread(in, buf.data(), std::min(want, buf.size()), inOff);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) {
      short_ = true;
      return true;
    }
    for (ssize_t off = 0; off < n;) {
      const ssize_t w = ::pwrite(out, buf.data() + off, static_cast<std::size_t>(n - off), outOff + off);
      if (w < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      off += w;
    }
    inOff += n;
    outOff += n;
    if (!advanced()) return false;
  }
  return true;
}

// A file with holes: only its data segments are copied, at their offsets, and the size is set
// at the end, so the holes stay holes in the target.
bool CopySparse(int in, int out, std::uint64_t total, const CopyProgress& progress, bool& cancelled) {
  const off_t end = static_cast<off_t>(total);
  bool inKernel = true, short_ = false;
  std::vector<char> buf;
  for (off_t pos = 0; pos < end && !short_;) {
    const off_t data = ::lseek(in, pos, SEEK_DATA);
    if (data < 0) {
      if (errno == ENXIO) break;  // only a hole up to the end
      return false;
    }
    if (data >= end) break;
    off_t hole = ::lseek(in, data, SEEK_HOLE);
    if (hole < 0) return false;
    hole = std::min(hole, end);
    if (!CopyRange(in, out, data, hole, inKernel, buf, short_, total, progress, cancelled)) return false;
    pos = hole;
  }
  if (::ftruncate(out, end) != 0) return false;
  if (progress && !progress(total, total)) {  // a trailing hole ends the file
    cancelled = true;
    return false;
  }
  return true;
}

// Fewer blocks than the size takes: holes (or a compressing file system, where looking for
// holes costs two calls).
bool HasHoles(const struct stat& st) {
  return st.st_size > 0 && static_cast<std::uint64_t>(st.st_blocks) * 512 < static_cast<std::uint64_t>(st.st_size);
}

}  // namespace

bool IsCopyTempName(const std::string& name) {
  const std::size_t pre = sizeof kTempPrefix - 1, suf = sizeof kTempSuffix - 1;
  if (name.size() != pre + 6 + suf) return false;
  return name.compare(0, pre, kTempPrefix) == 0 &&
         name.compare(name.size() - suf, suf, kTempSuffix) == 0;
}

int RemoveCopyTemps(const std::string& folder) {
  Fd dir{::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
  return dir.fd < 0 ? 0 : RemoveCopyTempsAt(dir.fd);
}

int RemoveCopyTempsAt(int dirfd) {
  // getdents64 straight on the descriptor: no second open of the folder.
  alignas(8) char buf[32768];
  int removed = 0;
  for (;;) {
    long n = ::syscall(SYS_getdents64, dirfd, buf, sizeof buf);
    if (n <= 0) break;
    for (long off = 0; off < n;) {
      auto* e = reinterpret_cast<struct Dirent64*>(buf + off);
      off += e->d_reclen;
      if (e->d_name[0] != '.' || !IsCopyTempName(e->d_name)) continue;
      struct stat st;
      if (::fstatat(dirfd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
          ::unlinkat(dirfd, e->d_name, 0) == 0)
        ++removed;
    }
  }
  return removed;
}

namespace {

bool SameState(const struct stat& a, const struct stat& b) {
  return a.st_size == b.st_size && a.st_mtim.tv_sec == b.st_mtim.tv_sec &&
         a.st_mtim.tv_nsec == b.st_mtim.tv_nsec && a.st_ctim.tv_sec == b.st_ctim.tv_sec &&
         a.st_ctim.tv_nsec == b.st_ctim.tv_nsec && a.st_ino == b.st_ino;
}

// A temp file of our own pattern, created in dirfd without following links.
int CreateTemp(int dirfd, std::string& name) {
  static const char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::mt19937_64 random{std::random_device{}() ^ static_cast<std::uint64_t>(::getpid())};
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::uint64_t bits = random();
    name = kTempPrefix;
    for (int i = 0; i < 6; ++i, bits >>= 6) name += kChars[bits % 62];
    name += kTempSuffix;
    int fd = ::openat(dirfd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

// Sets the times again while the file's modification time is not the one wanted, for a
// short while (the late close comes within milliseconds; a loaded machine may take longer).
void KeepModificationTime(int dirfd, const std::string& name, const struct timespec times[2]) {
  for (int look = 0; look < 50; ++look) {
    struct stat now;
    if (::fstatat(dirfd, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0) return;
    if (now.st_mtim.tv_sec == times[1].tv_sec) return;
    if (::utimensat(dirfd, name.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) return;
    ::usleep(20000);
  }
}

}  // namespace

CopyResult CopyFileReplacing(const std::string& source, const std::string& target,
                             const CopyProgress& progress) {
  const auto slash = target.find_last_of('/');
  Fd dir{::open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
  if (dir.fd < 0) return Failure(errno);
  return CopyFileInto(source, dir.fd, slash == std::string::npos ? target : target.substr(slash + 1), progress);
}

CopyResult CopyFileInto(const std::string& source, int dirfd, const std::string& name,
                        const CopyProgress& progress) {
  StagedCopy staged;
  CopyResult r = StageCopyInto(source, dirfd, name, progress, staged);
  return r.ok ? CommitCopy(staged) : r;
}

CopyResult StageCopyInto(const std::string& source, int dirfd, const std::string& name,
                         const CopyProgress& progress, StagedCopy& staged) {
  // O_NONBLOCK so that a FIFO does not block the open; only regular files are copied.
  Fd in{::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY)};
  if (in.fd < 0) return Failure(errno);
  struct stat st;
  if (::fstat(in.fd, &st) != 0) return Failure(errno);
  if (S_ISDIR(st.st_mode)) return Failure(EISDIR);
  if (!S_ISREG(st.st_mode)) return Failure(EINVAL);  // O_NONBLOCK does nothing to a regular file

  std::string temp;
  Fd out{CreateTemp(dirfd, temp)};
  if (out.fd < 0) return Failure(errno);

  auto fail = [&](int error) {
    ::close(out.release());
    ::unlinkat(dirfd, temp.c_str(), 0);
    return Failure(error);
  };

  // The copy holds the source as it was from one look to the next; a source that changed in
  // between (a file still being written) is copied again.
  for (int attempt = 1;; ++attempt) {
    bool cancelled = false;
    const std::uint64_t size = static_cast<std::uint64_t>(st.st_size);
    if (!(HasHoles(st) ? CopySparse(in.fd, out.fd, size, progress, cancelled)
                       : CopyData(in.fd, out.fd, size, progress, cancelled)))
      return fail(cancelled ? ECANCELED : errno);
    struct stat after;
    if (::fstat(in.fd, &after) != 0) return fail(errno);
    if (SameState(st, after)) break;
    if (attempt == kCopyTries) {
      CopyResult r = fail(EAGAIN);
      r.changed = true;
      return r;
    }
    st = after;
    if (::lseek(in.fd, 0, SEEK_SET) != 0 || ::ftruncate(out.fd, 0) != 0 || ::lseek(out.fd, 0, SEEK_SET) != 0)
      return fail(errno);
  }
  // File systems without POSIX modes (SMB shares served by gvfs) refuse them; the copy stands.
  bool posixModes = true;
  if (::fchmod(out.fd, st.st_mode & 07777) != 0) {
    if (errno != EOPNOTSUPP && errno != ENOSYS) return fail(errno);
    posixModes = false;
  }
  const struct timespec times[2] = {st.st_atim, st.st_mtim};
  if (::futimens(out.fd, times) != 0) return fail(errno);
  if (::close(out.release()) != 0) {
    int e = errno;
    ::unlinkat(dirfd, temp.c_str(), 0);
    return Failure(e);
  }
  // Those write the data at close, which dates the file again: its times are set once more.
  if (!posixModes && ::utimensat(dirfd, temp.c_str(), times, 0) != 0) {
    int e = errno;
    ::unlinkat(dirfd, temp.c_str(), 0);
    return Failure(e);
  }
  staged.dirfd = dirfd;
  staged.temp = std::move(temp);
  staged.name = name;
  staged.times[0] = times[0];
  staged.times[1] = times[1];
  staged.posixModes = posixModes;
  return CopyResult{true, 0, {}, false};
}

CopyResult CommitCopy(const StagedCopy& staged) {
  // renameat replaces whatever the name holds (a link included) without following it.
  if (::renameat(staged.dirfd, staged.temp.c_str(), staged.dirfd, staged.name.c_str()) != 0) {
    int e = errno;
    ::unlinkat(staged.dirfd, staged.temp.c_str(), 0);
    return Failure(e);
  }
  // Their close reaches the server after close() has returned and may date the file once
  // more after the times above: a date that did not hold is set again.
  if (!staged.posixModes) KeepModificationTime(staged.dirfd, staged.name, staged.times);
  return CopyResult{true, 0, {}, false};
}

}  // namespace platform
