/*
 * calcsys.cpp --
 *     The subcommands of "calc" that look at the process: times, time-stamp
 *     files, free disk space, the file-handle limit, memory status and
 *     allocator probes, run-time file buffering and the panic route.
 */
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdio_ext.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysinfo.h>
#include <time.h>
#include <unistd.h>
#include <algorithm>
#include <string>

#include "core/calc.h"
#include "core/core.h"
#include "vesk/stdio.h"

namespace vesk {
namespace {

/* Blocks of the allocator probes go here, so the compiler keeps the calls. */
void *volatile probeSink = nullptr;
/* The block of "galloc", kept until the next "galloc" or "gfree". */
void *gallocBlock = nullptr;
/* The test word of "memid". */
int memidWord = 0;

constexpr size_t kProbeStep = 32u << 20;

int setResult(Tcl_Interp *interp, int code, const char *text) {
  Tcl_SetResult(interp, const_cast<char *>(text), TCL_VOLATILE);
  return code;
}

/*
 * allocProbe --
 *     Twice in a row: starting from nothing, frees the previous block and
 *     takes one a step larger (capped at the total) until the total is
 *     reached or the allocator refuses.
 * Results:      1 when the last pass obtained a block of the total.
 */
int allocProbe(size_t total, size_t step) {
  int obtained = 0;
  for (int pass = 0; pass < 2; pass++) {
    size_t size = 0;
    void *block = nullptr;
    obtained = 0;
    for (;;) {
      free(block);
      size = total - size <= step ? total : size + step;
      block = malloc(size);
      probeSink = block;
      if (!block) break;
      if (size == total) {
        obtained = 1;
        break;
      }
    }
    free(block);
    probeSink = nullptr;
  }
  return obtained;
}

/* The memory status of the process and the machine, in bytes. */
struct MemoryStatus {
  long long load = 0; /* percent of physical memory in use */
  long long totalPhys = 0, availPhys = 0;
  long long totalPageFile = 0, availPageFile = 0; /* physical memory plus swap */
  long long totalVirtual = 0, availVirtual = 0;   /* the process's address space */
};

MemoryStatus queryMemoryStatus() {
  MemoryStatus status;
  struct sysinfo info;
  if (sysinfo(&info) == 0) {
    long long unit = info.mem_unit ? info.mem_unit : 1;
    status.totalPhys = static_cast<long long>(info.totalram) * unit;
    status.availPhys = static_cast<long long>(info.freeram + info.bufferram) * unit;
    status.totalPageFile = status.totalPhys + static_cast<long long>(info.totalswap) * unit;
    status.availPageFile = status.availPhys + static_cast<long long>(info.freeswap) * unit;
    if (status.totalPhys > 0)
      status.load = 100 - status.availPhys * 100 / status.totalPhys;
  }
  struct rlimit limit;
  status.totalVirtual = 1LL << 47; /* the user address space of x86-64 */
  if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
    status.totalVirtual = static_cast<long long>(limit.rlim_cur);
  long long used = 0;
  if (FILE *statm = fopen("/proc/self/statm", "r")) {
    long long pages = 0;
    if (fscanf(statm, "%lld", &pages) == 1) used = pages * sysconf(_SC_PAGESIZE);
    fclose(statm);
  }
  status.availVirtual = status.totalVirtual > used ? status.totalVirtual - used : 0;
  return status;
}

}  // namespace

/* "calc ftime [short|long]": the current time. */
int calcFtime(Tcl_Interp *interp, int argc, const char **argv) {
  bool longForm = argc == 3 && strcmp(argv[2], "long") == 0;
  if (argc > 3 || (argc == 3 && !longForm && strcmp(argv[2], "short") != 0))
    return setResult(interp, TCL_ERROR, "Usage: calc ftime [short|long]\n");
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  long millis = now.tv_nsec / 1000000;
  if (!longForm) {
    double seconds = static_cast<double>(now.tv_sec) + millis / 1000.0;
    return setResult(interp, TCL_OK, fmt("%.3f", seconds));
  }
  struct tm local;
  localtime_r(&now.tv_sec, &local);
  long dst = local.tm_isdst > 0 ? 1 : 0;
  long minutesWest = -(local.tm_gmtoff - dst * 3600) / 60;
  return setResult(interp, TCL_OK,
                   fmt("%ld %ld %ld %ld", static_cast<long>(now.tv_sec), millis, minutesWest, dst));
}

/* "calc stime seconds": accepted and ignored. */
int calcStime(Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 3) return setResult(interp, TCL_ERROR, "Usage: calc stime seconds\n");
  return TCL_OK;
}

/*
 * calcLoadtime --
 *     "calc loadtime timeStampFile [offset]": every 4-byte integer (host
 *     order) from the offset on, as a list.  A partial integer at the end
 *     is left out.  Only a regular file of at most 64 MiB past the offset
 *     is read (a device would never end; the list would outgrow a Tcl
 *     value long before the file did).
 */
int calcLoadtime(Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 3 && argc != 4) {
    vesk_printf("Usage: %s timeStampFile [offset]\n", "loadtime");
    return TCL_ERROR;
  }
  constexpr int64_t kMaxStampBytes = int64_t{64} << 20;
  int fd = open(argv[2], O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    vesk_fprintf(stderr, "Error in open: %s\n", argv[2]);
    return TCL_ERROR;
  }
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    vesk_fprintf(stderr, "Error in open: %s: not a regular file\n", argv[2]);
    return TCL_ERROR;
  }
  const long offset = argc == 4 ? std::max(atol(argv[3]), 0L) : 0;
  const int64_t length = std::max<int64_t>(info.st_size - offset, 0);
  if (length > kMaxStampBytes) {
    close(fd);
    vesk_fprintf(stderr, "Time stamp file too large: %s (%lld bytes past the offset, at most %lld)\n",
                 argv[2], static_cast<long long>(length), static_cast<long long>(kMaxStampBytes));
    return TCL_ERROR;
  }
  std::string bytes(static_cast<size_t>(length), '\0');
  const int64_t got = length > 0 ? getFileData(fd, &bytes[0], length, offset, 1) : 0;
  close(fd);
  if (got < 0) return TCL_ERROR;
  Tcl_DString out;
  Tcl_DStringInit(&out);
  for (int64_t at = 0; at + 4 <= got; at += 4) {
    int32_t value;
    memcpy(&value, bytes.data() + at, 4);
    Tcl_DStringAppend(&out, fmt("%ld ", static_cast<long>(value)), -1);
  }
  Tcl_DStringResult(interp, &out);
  return TCL_OK;
}

/* "calc freeDisk [path]": free bytes of the file system holding the path. */
int calcFreeDisk(Tcl_Interp *interp, int argc, const char **argv) {
  if (argc > 3) return setResult(interp, TCL_ERROR, "Usage: calc freeDisk [path]\n");
  return setResult(interp, TCL_OK, fmt("%.f", getPathDiskFree(argc == 3 ? argv[2] : ".")));
}

/*
 * calcHandles --
 *     "calc handles [n]": asks for at least n open files (default 256).
 *     The limit is only ever raised, up to the hard limit: lowering it
 *     below the files already open would break the process.
 * Results:      the limit granted, as "%lld\n".
 */
int calcHandles(Tcl_Interp *interp, int argc, const char **argv) {
  long wanted = argc >= 3 ? atol(argv[2]) : 256;
  struct rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return setResult(interp, TCL_OK, "0\n");
  if (wanted > 0 && static_cast<rlim_t>(wanted) > limit.rlim_cur) {
    struct rlimit raised = limit;
    raised.rlim_cur = static_cast<rlim_t>(wanted) < limit.rlim_max ? static_cast<rlim_t>(wanted)
                                                                   : limit.rlim_max;
    if (setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
  }
  long long granted = limit.rlim_cur == RLIM_INFINITY ? -1 : static_cast<long long>(limit.rlim_cur);
  return setResult(interp, TCL_OK, fmt("%lld\n", granted));
}

/*
 * calcMemory --
 *     "calc memory [clean]": the memory status.  With "clean" the memory
 *     that can be committed is first taken and given back in 32 MiB steps.
 */
int calcMemory(Tcl_Interp *interp, int argc, const char **argv) {
  MemoryStatus status = queryMemoryStatus();
  if (argc >= 3 && strcmp(argv[2], "clean") == 0) {
    if (status.availPageFile > 0) allocProbe(static_cast<size_t>(status.availPageFile), kProbeStep);
    status = queryMemoryStatus();
  }
  return setResult(interp, TCL_OK,
                   fmt("memoryload %lld totalphys %lld availphys %lld totalpagefile %lld "
                       "availpagefile %lld totalvirtual %lld availvirtual %lld",
                       status.load, status.totalPhys, status.availPhys, status.totalPageFile,
                       status.availPageFile, status.totalVirtual, status.availVirtual));
}

/* "calc malloc [total] [pieces]": 1 when the allocator grants the total. */
int calcMalloc(Tcl_Interp *interp, int argc, const char **argv) {
  long total = argc >= 3 ? atol(argv[2]) : 0;
  long pieces = argc >= 4 ? atol(argv[3]) : 1;
  if (total <= 0) total = 16384;
  if (pieces < 1) pieces = 1;
  long step = total / pieces;
  if (step < 1) step = 1;
  int obtained = allocProbe(static_cast<size_t>(total), static_cast<size_t>(step));
  return setResult(interp, TCL_OK, obtained ? "1" : "0");
}

/* "calc realloc [total] [step]": grows one block step by step. */
int calcRealloc(Tcl_Interp *interp, int argc, const char **argv) {
  long total = argc >= 3 ? atol(argv[2]) : 128000;
  long step = argc >= 4 ? atol(argv[3]) : 2048;
  if (total < 1 || step < 1) return setResult(interp, TCL_ERROR, "Invalid params.");
  size_t size = static_cast<size_t>(step);
  void *block = malloc(size);
  probeSink = block;
  while (block && size < static_cast<size_t>(total)) {
    size += static_cast<size_t>(step);
    void *grown = realloc(block, size);
    probeSink = grown;
    if (!grown) {
      free(block);
      block = nullptr;
    } else {
      block = grown;
    }
  }
  probeSink = nullptr;
  if (!block) return setResult(interp, TCL_ERROR, fmt("Error in realloc at size:%zu\n", size));
  free(block);
  return setResult(interp, TCL_OK, "Realloc is Ok.");
}

/* "calc galloc [bytes]": replaces the kept block by one of the given size. */
int calcGalloc(Tcl_Interp *interp, int argc, const char **argv) {
  long bytes = argc >= 3 ? atol(argv[2]) : 1048576;
  free(gallocBlock);
  gallocBlock = nullptr;
  errno = EINVAL;
  if (bytes >= 0) gallocBlock = malloc(static_cast<size_t>(bytes));
  if (gallocBlock)
    vesk_printf("Allocate: %ld\n", bytes);
  else
    vesk_fprintf(stderr, "Error in GlobalAlloc: %d\n", errno);
  return TCL_OK;
}

/* "calc gfree": frees the kept block. */
int calcGfree(Tcl_Interp *, int, const char **) {
  free(gallocBlock);
  gallocBlock = nullptr;
  return TCL_OK;
}

/*
 * calcMemid --
 *     "calc memid [address [value]]": shows the test word, or stores into
 *     it when the address is the word's own.
 */
int calcMemid(Tcl_Interp *, int argc, const char **argv) {
  if (argc < 3) {
    vesk_printf("memid: %p value: %d\n", static_cast<void *>(&memidWord), memidWord);
    return TCL_OK;
  }
  uintptr_t address = static_cast<uintptr_t>(strtoull(argv[2], nullptr, 0));
  if (address != reinterpret_cast<uintptr_t>(&memidWord)) {
    vesk_fprintf(stderr, "Wrong address: %p\n", reinterpret_cast<void *>(address));
    return TCL_OK;
  }
  memidWord = argc >= 4 ? static_cast<int>(atol(argv[3])) : static_cast<int>(address);
  return TCL_OK;
}

/*
 * calcFgets --
 *     "calc fgets fileName": reads the file in 512-byte blocks through the
 *     run-time library.
 * Results:      "%d size:%d level:%d" (blocks, buffer size, the FILE's
 *               flags word) and F_BUF, F_LBUF, F_EOF for the states set.
 */
int calcFgets(Tcl_Interp *interp, int argc, const char **argv) {
  if (argc < 3) return setResult(interp, TCL_ERROR, "usage: calc fgets fileName\n");
  FILE *file = fopen(argv[2], "rb");
  if (!file) return setResult(interp, TCL_ERROR, fmt("Error in open %s\n", argv[2]));
  char block[512];
  int blocks = 0;
  while (fread(block, 1, sizeof block, file) > 0) blocks++;
  size_t size = __fbufsize(file);
  Tcl_AppendResult(interp, fmt("%d size:%zu level:%d", blocks, size, file->_flags & 0xffff), nullptr);
  if (size > 0) Tcl_AppendElement(interp, "F_BUF");
  if (__flbf(file)) Tcl_AppendElement(interp, "F_LBUF");
  if (feof(file)) Tcl_AppendElement(interp, "F_EOF");
  fclose(file);
  return TCL_OK;
}

/*
 * calcFscanf --
 *     "calc fscanf fileName": reads numbers with a 1024-byte buffer until
 *     one does not scan, printing each with its index on the error stream.
 */
int calcFscanf(Tcl_Interp *interp, int argc, const char **argv) {
  if (argc < 3) return setResult(interp, TCL_ERROR, "usage: calc fscanf fileName\n");
  FILE *file = fopen(argv[2], "rb");
  if (!file) return setResult(interp, TCL_ERROR, fmt("Error in open %s\n", argv[2]));
  setvbuf(file, nullptr, _IOFBF, 1024);
  double value;
  for (int i = 0; fscanf(file, "%lf", &value) == 1; i++) vesk_fprintf(stderr, "%d %f\n", i, value);
  fclose(file);
  return TCL_OK;
}

/*
 * calcPanic --
 *     "calc panic [message ...]": shows each message through the panic
 *     route ("panic:" and the text) and answers TCL_ERROR.  The process
 *     goes on: Tcl would end it if its panic procedure were called.
 */
int calcPanic(Tcl_Interp *, int argc, const char **argv) {
  if (argc < 3) consolePanic("%s", " messages of panic may be displayed at a console that has the focus!");
  for (int i = 2; i < argc; i++) consolePanic("%s", argv[i]);
  return TCL_ERROR;
}

}  // namespace vesk
