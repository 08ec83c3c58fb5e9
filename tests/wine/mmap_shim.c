/* Preloaded into 32-bit wine when it runs under qemu-i386 user emulation, on machines whose
 * kernel cannot execute 32-bit code.
 *
 * Wine places fixed pieces of its address space (the shared user data page, its reserved
 * areas) with MAP_FIXED_NOREPLACE. The emulator takes that flag as a mere hint and answers with
 * some other address, so wine fails to start, or, while reserving the space above 2 GB, falls
 * into halving the request down to 64 KiB pieces: tens of thousands of mmap/munmap pairs, about
 * a minute per program start. Here the flag gets its real meaning back: the emulated process
 * has no address space above 2 GB, so such requests are refused at once, and below 2 GB a
 * request is placed exactly where asked when the guest's own map shows the range free. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/types.h>
#include <unistd.h>

#ifndef MAP_FIXED_NOREPLACE
#define MAP_FIXED_NOREPLACE 0x100000
#endif

typedef void* (*mmap64_fn)(void*, size_t, int, int, int, off64_t);

static mmap64_fn realMmap(void) {
  static mmap64_fn real;
  if (!real) real = (mmap64_fn)dlsym(RTLD_NEXT, "mmap64");
  return real;
}

/* True when no mapping of /proc/self/maps overlaps [start, end). */
static int rangeFree(uintptr_t start, uintptr_t end) {
  char buf[65536];
  int fd = open("/proc/self/maps", O_RDONLY);
  if (fd < 0) return 0;
  size_t used = 0;
  ssize_t n;
  while (used < sizeof buf - 1 && (n = read(fd, buf + used, sizeof buf - 1 - used)) > 0) used += (size_t)n;
  close(fd);
  buf[used] = 0;
  for (char* line = buf; *line;) {
    char* rest;
    unsigned long lo = strtoul(line, &rest, 16);
    unsigned long hi = (*rest == '-') ? strtoul(rest + 1, &rest, 16) : 0;
    if (lo < end && start < hi) return 0;
    while (*rest && *rest != '\n') ++rest;
    line = *rest ? rest + 1 : rest;
  }
  return 1;
}

static void* placeNoReplace(void* addr, size_t len, int prot, int flags, int fd, off64_t off) {
  uintptr_t a = (uintptr_t)addr;
  if (a >= 0x80000000u || len > 0x80000000u - a) { errno = ENOMEM; return MAP_FAILED; }
  void* r = realMmap()(addr, len, prot, flags, fd, off);
  if (r == MAP_FAILED || r == addr) return r;
  munmap(r, len);
  if (!rangeFree(a, a + len)) { errno = EEXIST; return MAP_FAILED; }
  return realMmap()(addr, len, prot, (flags & ~MAP_FIXED_NOREPLACE) | MAP_FIXED, fd, off);
}

void* mmap64(void* addr, size_t len, int prot, int flags, int fd, off64_t off) {
  if ((flags & MAP_FIXED_NOREPLACE) && addr) return placeNoReplace(addr, len, prot, flags, fd, off);
  return realMmap()(addr, len, prot, flags, fd, off);
}

void* mmap(void* addr, size_t len, int prot, int flags, int fd, off_t off) {
  return mmap64(addr, len, prot, flags, fd, (off64_t)off);
}
