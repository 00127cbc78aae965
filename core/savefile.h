/*
 * savefile.h --
 *     Saving over a file without risking it.  A new file is written beside
 *     its target and renamed over it only once every byte is written and
 *     flushed, so a full disk, a read-only folder or any other failure
 *     leaves an older file of that name exactly as it was.  Every writer of
 *     the package saves through this.
 */
#ifndef VESK_CORE_SAVEFILE_H
#define VESK_CORE_SAVEFILE_H

#include <stddef.h>
#include <stdint.h>
#include <string>

namespace vesk {

class SaveFile {
 public:
  SaveFile() = default;
  SaveFile(const SaveFile &) = delete;
  SaveFile &operator=(const SaveFile &) = delete;
  /* An uncommitted temporary file is removed: the target stays as it was. */
  ~SaveFile();

  /*
   * Creates the temporary file beside path (beside the file a symbolic
   * link names), with the mode of the file it will replace, else 0666
   * less the umask.  An existing target that is not a regular file (a
   * device, a FIFO) is written in place: it can't be replaced.
   * Results: false with error() set when no file could be made.
   */
  bool open(const char *path);
  /* The descriptor to write through (-1 before open and after commit). */
  int fd() const { return fd_; }
  /* Appends all bytes; false (the failure kept) when they don't all go. */
  bool write(const void *data, size_t size);
  /* Writes all bytes at an offset without moving the file position. */
  bool writeAt(const void *data, size_t size, int64_t offset);
  /* Records a failure of the caller's own writing through fd(). */
  void fail(int error);
  /*
   * Flushes the file to disk and closes it, not yet renamed: a save of
   * several files finishes them all before it commits any.
   * Results: false after any failure so far, with error() set.
   */
  bool finish();
  /*
   * Finishes the file (when not yet done) and renames it over the target.
   * Results: true once the target is the new file; false (the target
   * untouched, the temporary file removed) after any earlier or present
   * failure, with error() set.
   */
  bool commit();
  /*
   * Finishes the file and hands over its temporary name without renaming
   * it: the caller keeps the complete file and renames it later (or
   * removes it).  Results: the name; empty after any failure.
   */
  std::string release();
  /* The errno of the first failure; 0 when there was none. */
  int error() const { return error_; }
  /* strerror of error(). */
  const char *reason() const;
  /* The file the save replaces. */
  const std::string &target() const { return target_; }

 private:
  std::string target_;
  std::string temporary_;  /* empty once renamed or removed */
  int fd_ = -1;
  int error_ = 0;
  bool inPlace_ = false;   /* a device or FIFO written directly */
  bool finished_ = false;  /* flushed and closed */
};

/*
 * saveFileBytes --
 *     Saves a whole file from one buffer.
 * Results:      0, or the errno of the failure (the target untouched).
 */
int saveFileBytes(const char *path, const void *data, size_t size);

}  // namespace vesk

#endif
