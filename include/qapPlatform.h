// The platform layer: the only place that knows the library runs on POSIX. Everything else
// asks here for paths, file sizes, temporary names, the environment and the lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>

constexpr char QAP_PATH_SEP = '/';
constexpr size_t QAP_MAX_PATH = 1024; // path buffers, terminator included

// Trace file formats: directory and instance name.
constexpr const char *QAP_TRACE_CTL_FORMAT = "%s/qap%s.ctl";
constexpr const char *QAP_TRACE_FILE_FORMAT = "%s/qap%s.trc";

// The directory temporary files go to when nothing else is configured.
constexpr const char *QAP_ROOT_TEMP_DIR = "/tmp";

// A name is absolute when it starts with the separator.
bool qapIsAbsolutePath(const char *name);

// Joins the current directory and a relative name lexically (the file need not exist) into
// out (size bytes, terminator included). Returns out, or null when it does not fit or the
// current directory is unknown.
char *qapFullPath(char *out, const char *name, size_t size);

// The size of a file in bytes; 0 on success, -1 when stat fails. Sizes beyond INT32_MAX are
// reported as INT32_MAX.
int qapStatSize(const char *path, int32_t *size);

// An unpredictable, unused name "<dir>/qapXXXXXX" (nothing is created): dir is the directory
// named by TMP when it is one, else the given directory when it is one, else /tmp. Heap
// string (free()), or null.
char *qapTempnam(const char *dir, const char *prefix);

// Sets ("NAME=value") or removes ("NAME=") a process environment variable; 0 or -1.
int qapPutenv(const char *assignment);

// The library-wide lock (the critical section of the original design).
using QapMutex = std::mutex;
