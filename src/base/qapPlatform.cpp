// POSIX implementations of the platform calls the library was designed around (_fullpath,
// _stat, temporary files), and the opening and resolving of server files.
#include "qapPlatform.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <sys/mman.h>
#include <cstring>
#include <fcntl.h>
#include <linux/openat2.h>
#include <string>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "qapOwned.h"

bool qapIsAbsolutePath(const char *name) {
    return name != nullptr && name[0] == kPathSep;
}

char *qapFullPath(char *out, const char *name, size_t size) {
    if (out == nullptr || name == nullptr || size == 0) return nullptr;
    size_t nameLen = strlen(name);
    if (qapIsAbsolutePath(name)) {
        if (nameLen + 1 > size) return nullptr;
        memcpy(out, name, nameLen + 1);
        return out;
    }
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd) == nullptr) return nullptr;
    size_t cwdLen = strlen(cwd);
    bool needSep = cwdLen == 0 || cwd[cwdLen - 1] != kPathSep;
    size_t total = cwdLen + (needSep ? 1 : 0) + nameLen + 1;
    if (total > size) return nullptr;
    memcpy(out, cwd, cwdLen);
    size_t at = cwdLen;
    if (needSep) out[at++] = kPathSep;
    memcpy(out + at, name, nameLen + 1);
    return out;
}

namespace {
std::atomic<bool> noOpenat2{false}; // the kernel said ENOSYS once
} // namespace

void qapUseOpenat2(bool use) {
    noOpenat2.store(!use, std::memory_order_relaxed);
}

int qapOpenBeneath(int dirfd, const char *rel, int flags, unsigned mode) {
    flags |= O_NOFOLLOW | O_CLOEXEC;
    if (rel == nullptr || rel[0] == '\0' || rel[0] == kPathSep) {
        errno = EXDEV;
        return -1;
    }
#ifdef SYS_openat2
    if (!noOpenat2.load(std::memory_order_relaxed)) {
        open_how how{};
        how.flags = static_cast<uint64_t>(flags);
        how.mode = (flags & O_CREAT) != 0 ? mode : 0;
        how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
        for (int attempt = 0; attempt < 4; ++attempt) {
            long fd = syscall(SYS_openat2, dirfd, rel, &how, sizeof how);
            if (fd >= 0) return static_cast<int>(fd);
            if (errno != EAGAIN) break; // EAGAIN: a rename raced the lookup
        }
        if (errno != ENOSYS) return -1;
        noOpenat2.store(true, std::memory_order_relaxed);
    }
#endif
    // One component at a time, no link followed anywhere, no ".." at all.
    const std::string path(rel);
    QapFd dir;
    int at = dirfd;
    size_t start = 0;
    for (;;) {
        size_t end = path.find(kPathSep, start);
        const bool last =
            end == std::string::npos || path.find_first_not_of(kPathSep, end) == std::string::npos;
        std::string part = path.substr(start, end == std::string::npos ? end : end - start);
        if (part == "..") {
            errno = EXDEV;
            return -1;
        }
        if (last) return openat(at, part.empty() ? "." : part.c_str(), flags, mode);
        if (!part.empty() && part != ".") {
            int next = openat(at, part.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (next < 0) return -1;
            dir.reset(next);
            at = next;
        }
        start = end + 1;
    }
}

int qapTempCreate(const char *dir, const char *prefix, char **name) {
    *name = nullptr;
    if (dir == nullptr || dir[0] == '\0') {
        errno = ENOENT;
        return -1;
    }
    static const char alphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        unsigned char random[10];
        if (getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) return -1;
        std::string path = dir;
        if (path.back() != kPathSep) path += kPathSep;
        path += prefix != nullptr ? prefix : "";
        for (unsigned char r : random)
            path += alphabet[r % (sizeof alphabet - 1)];
        int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return -1;
        }
        *name = strdup(path.c_str());
        if (*name == nullptr) {
            close(fd);
            unlink(path.c_str());
            errno = ENOMEM;
            return -1;
        }
        return fd;
    }
    errno = EEXIST;
    return -1;
}

bool qapIsDirectory(const char *path) {
    struct stat st;
    return path != nullptr && path[0] != '\0' && stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

std::string qapRealPath(const char *path) {
    if (path == nullptr || path[0] == '\0') return std::string();
    char *resolved = realpath(path, nullptr);
    if (resolved == nullptr) return std::string();
    std::string out(resolved);
    free(resolved);
    return out;
}

namespace {
// Blocks above half a huge page are mapped, in whole huge pages.
bool mapped(size_t size) {
    return size > kBigBlock / 2;
}
size_t mappedLength(size_t size) {
    return (size + kBigBlock - 1) & ~(kBigBlock - 1);
}
} // namespace

void *qapBigAlloc(size_t size) {
    if (!mapped(size)) return malloc(size);
    // Map one huge page more than needed and trim both ends to a 2 MB boundary.
    const size_t length = mappedLength(size);
    const size_t span = length + kBigBlock;
    void *raw = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) return nullptr;
    const uintptr_t start = reinterpret_cast<uintptr_t>(raw);
    const uintptr_t aligned = (start + kBigBlock - 1) & ~(uintptr_t{kBigBlock} - 1);
    if (aligned > start) munmap(raw, aligned - start);
    const size_t tail = span - (aligned - start) - length;
    if (tail > 0) munmap(reinterpret_cast<void *>(aligned + length), tail);
    madvise(reinterpret_cast<void *>(aligned), length, MADV_HUGEPAGE);
    return reinterpret_cast<void *>(aligned);
}

void qapBigFree(void *p, size_t size) {
    if (p == nullptr) return;
    if (mapped(size))
        munmap(p, mappedLength(size));
    else
        free(p);
}
