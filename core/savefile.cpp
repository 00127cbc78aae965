/*
 * savefile.cpp --
 *     Saving over a file without risking it: the temporary file beside the
 *     target, written, flushed and renamed over the target once complete.
 */
#include "core/savefile.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace vesk {

SaveFile::~SaveFile() {
  if (fd_ >= 0) close(fd_);
  if (!temporary_.empty()) unlink(temporary_.c_str());
}

bool SaveFile::open(const char *path) {
  if (!path || !*path) {
    fail(ENOENT);
    return false;
  }
  target_ = path;
  struct stat info;
  // Saving over a symbolic link saves over the file it names and keeps the link.
  if (lstat(path, &info) == 0 && S_ISLNK(info.st_mode)) {
    if (char *resolved = realpath(path, nullptr)) {
      target_ = resolved;
      free(resolved);
    }
  }
  const bool exists = stat(target_.c_str(), &info) == 0;
  if (exists && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode)) {
    fd_ = ::open(target_.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd_ < 0) fail(errno);
    inPlace_ = fd_ >= 0;
    return inPlace_;
  }
  std::vector<char> name(target_.begin(), target_.end());
  static const char suffix[] = ".XXXXXX";
  name.insert(name.end(), suffix, suffix + sizeof suffix);
  fd_ = mkostemp(name.data(), O_CLOEXEC);
  if (fd_ < 0) {
    fail(errno);
    return false;
  }
  temporary_ = name.data();
  mode_t mode;
  if (exists) {
    mode = info.st_mode & 07777;
  } else {
    const mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  }
  if (fchmod(fd_, mode) != 0) {
    /* The temporary file keeps its private mode. */
  }
  return true;
}

bool SaveFile::write(const void *data, size_t size) {
  if (fd_ < 0 || error_) {
    if (!error_) fail(EBADF);
    return false;
  }
  const char *from = static_cast<const char *>(data);
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd_, from + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      fail(n < 0 ? errno : ENOSPC);
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

bool SaveFile::writeAt(const void *data, size_t size, int64_t offset) {
  if (fd_ < 0 || error_) {
    if (!error_) fail(EBADF);
    return false;
  }
  const char *from = static_cast<const char *>(data);
  size_t done = 0;
  while (done < size) {
    const ssize_t n = pwrite(fd_, from + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      fail(n < 0 ? errno : ENOSPC);
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

void SaveFile::fail(int error) {
  if (!error_) error_ = error ? error : EIO;
}

const char *SaveFile::reason() const { return strerror(error_ ? error_ : EIO); }

bool SaveFile::finish() {
  if (fd_ < 0) {
    if (!finished_ && !error_) fail(EBADF);
  } else {
    // A full disk may show only when the data reach it: at the flush or the close.
    if (!error_ && !inPlace_ && fsync(fd_) != 0) fail(errno);
    if (close(fd_) != 0) fail(errno);
    fd_ = -1;
    finished_ = true;
  }
  return error_ == 0;
}

bool SaveFile::commit() {
  finish();
  if (!error_ && !temporary_.empty() && rename(temporary_.c_str(), target_.c_str()) != 0)
    fail(errno);
  if (!temporary_.empty()) {
    if (error_) unlink(temporary_.c_str());
    temporary_.clear();
  }
  return error_ == 0;
}

std::string SaveFile::release() {
  std::string name;
  if (finish() && !inPlace_) name.swap(temporary_);
  return name;
}

int saveFileBytes(const char *path, const void *data, size_t size) {
  SaveFile file;
  if (file.open(path)) file.write(data, size);
  file.commit();
  return file.error();
}

}  // namespace vesk
