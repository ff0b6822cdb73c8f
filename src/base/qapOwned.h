// Owners for the C resources the library hands around: heap blocks from malloc and streams
// from fopen, released when the owner goes.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <unistd.h>

struct QapFree {
    void operator()(void *p) const { free(p); }
};
// A malloc'd block, freed with free().
template <class T> using QapHeap = std::unique_ptr<T, QapFree>;
using QapHeapText = QapHeap<char>;

struct QapFclose {
    void operator()(FILE *f) const {
        if (f != nullptr) fclose(f);
    }
};
// An open stream, closed with fclose().
using QapFilePtr = std::unique_ptr<FILE, QapFclose>;

// An open file descriptor, closed when the owner goes.
class QapFd {
public:
    QapFd() = default;
    explicit QapFd(int fd) : fd_(fd) {}
    ~QapFd() { reset(); }
    QapFd(QapFd &&o) noexcept : fd_(o.release()) {}
    QapFd &operator=(QapFd &&o) noexcept {
        if (this != &o) reset(o.release());
        return *this;
    }
    QapFd(const QapFd &) = delete;
    QapFd &operator=(const QapFd &) = delete;
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset(int fd = -1) {
        if (fd_ >= 0) close(fd_);
        fd_ = fd;
    }

private:
    int fd_ = -1;
};
