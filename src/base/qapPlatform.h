// The platform layer: the only place that knows the library runs on POSIX. Everything else
// asks here for paths, file sizes, temporary names, the environment and the lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

constexpr char kPathSep = '/';
constexpr size_t kMaxPath = 1024; // path buffers, terminator included

// Trace file formats: directory and instance name.
constexpr const char *kTraceCtlFormat = "%s/qap%s.ctl";
constexpr const char *kTraceFileFormat = "%s/qap%s.trc";

// The directory temporary files go to when nothing else is configured.
constexpr const char *kRootTempDir = "/tmp";

// A name is absolute when it starts with the separator.
bool qapIsAbsolutePath(const char *name);

// Joins the current directory and a relative name lexically (the file need not exist) into
// out (size bytes, terminator included). Returns out, or null when it does not fit or the
// current directory is unknown.
char *qapFullPath(char *out, const char *name, size_t size);

// Opens rel beneath the directory dirfd: no component may lead out of it (an absolute link, a
// ".." above it, a /proc link), and a final link is not followed. Uses openat2 where the kernel
// has it, else a walk of openat calls that follows no link at all. Returns the descriptor, or
// -1 with errno (EXDEV or ELOOP for a name that would leave the directory).
int qapOpenBeneath(int dirfd, const char *rel, int flags, unsigned mode);
// False: every later open walks the name itself, as on a kernel without openat2 (for tests of
// that walk); true: openat2 again where the kernel has it.
void qapUseOpenat2(bool use);

// Creates "<dir>/<prefix>XXXXXXXXXX" (random characters) with O_CREAT|O_EXCL|O_NOFOLLOW and
// mode 0600. Returns the open descriptor and the heap name (free()), or -1 with errno set.
int qapTempCreate(const char *dir, const char *prefix, char **name);

// True when the path names a directory.
bool qapIsDirectory(const char *path);

// The path with every symbolic link, "." and ".." resolved; empty when it cannot be.
std::string qapRealPath(const char *path);

// Storage that grows with a document (result slabs, item blocks, value chunks): a block of more
// than half of kBigBlock is mapped on its own in whole 2 MB pages, aligned and advised to
// use huge pages, so that filling it costs one page fault per 2 MB instead of 512; a smaller
// one comes from the heap. Null when memory runs out. qapBigFree takes the size that qapBigAlloc
// was given.
constexpr size_t kBigBlock = 2u << 20;
void *qapBigAlloc(size_t size);
void qapBigFree(void *p, size_t size);

// The library-wide lock (the critical section of the original design).
using QapMutex = std::mutex;
