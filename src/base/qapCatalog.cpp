// Library-wide state: the lock that guards the message catalog handle, built at load and torn
// down at unload, and the catalog's opening and fetches.
#include "qapCatalog.h"

#include "tesselHost.h"

#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <mutex>
#include <string>

#ifndef TESSEL_CATALOG_FROM_LIBDIR
#define TESSEL_CATALOG_FROM_LIBDIR "qap.cat"
#endif

QapLibLock qapLibLock;

namespace {

// The library's only static initialiser: creates the lock at load; its destructor, run at
// unload, closes the catalog and retires the lock.
struct QapLibLockLifetime {
    QapLibLockLifetime() {
        qapLibLock.initialised = 0;
        qapLibLock.catalog = 0;
        qapLibLock.initialised = 1; // std::mutex cannot fail to construct
    }
    ~QapLibLockLifetime() {
        intptr_t catalog = qapLibLock.catalog;
        if (catalog != 0 && catalog != -1) {
            qapLibLock.catalog = -1;
            tarnCatRelease(catalog);
        }
        qapLibLock.initialised = 0;
    }
};
QapLibLockLifetime qapLibLockLifetime;

// Opens the catalog. With NLSPATH set, the name goes through catopen's own NLSPATH search, so
// an installation can point at its catalogs. Otherwise the catalog is the installed one, found
// from the directory of the object that holds this code (the library, or a program linking it
// statically); a bare name would be searched in the system's default catalog directories, where
// it is never installed. A build tree's library falls back to the catalog the build made.
intptr_t openCatalog(const char *name, int flag) {
    if (getenv("NLSPATH") != nullptr || strchr(name, '/') != nullptr)
        return tarnCatOpen(name, flag);
    intptr_t handle = -1;
    Dl_info self;
    if (dladdr(reinterpret_cast<void *>(&qapCatOpen), &self) != 0 && self.dli_fname != nullptr) {
        std::string path = self.dli_fname;
        const size_t slash = path.find_last_of('/');
        path = (slash == std::string::npos ? std::string(".") : path.substr(0, slash)) + "/" +
               TESSEL_CATALOG_FROM_LIBDIR;
        handle = tarnCatOpen(path.c_str(), flag);
    }
#ifdef TESSEL_CATALOG_PATH
    if (handle == 0 || handle == -1) handle = tarnCatOpen(TESSEL_CATALOG_PATH, flag);
#endif
    return handle;
}

} // namespace

// The handle is stored once, inside call_once: every later reader is ordered after that store,
// so routines on other threads read it without the lock. A first call made before the lock's
// lifetime began, or after it ended, finds -1.
intptr_t qapCatOpen(const char *name, int flag) {
    static std::once_flag opened;
    try {
        std::call_once(opened, [name, flag] {
            if (qapLibLock.catalog != 0) return;
            if (!qapLibLock.initialised) {
                qapLibLock.catalog = -1;
                return;
            }
            std::lock_guard<QapMutex> guard(qapLibLock.lock);
            intptr_t handle = openCatalog(name, flag);
            qapLibLock.catalog = handle == 0 ? -1 : handle;
        });
    } catch (...) {
        return -1;
    }
    return qapLibLock.catalog;
}

const char *qapCatGet(intptr_t handle, int set, int number) {
    if (!qapLibLock.initialised || handle == 0 || handle == -1) return nullptr;
    try {
        std::lock_guard<QapMutex> guard(qapLibLock.lock);
        return tarnCatGet(handle, set, number, nullptr);
    } catch (...) {
        return nullptr;
    }
}

int qapCatClose(intptr_t handle) {
    tarnCatClose(handle);
    return 0;
}
