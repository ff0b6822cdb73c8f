// Library-wide state: the lock that guards the message catalog handle, built at load and torn
// down at unload, and the check of the host's parser start-up on every routine's first call.
#include "qapLib.h"

#include "qapConv.h"
#include "qapCtx.h"
#include "qapMsg.h"
#include "qapTrace.h"
#include "tesselHost.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <mutex>
#include <string>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLNetAccessor.hpp>

XERCES_CPP_NAMESPACE_USE

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

int32_t qapInitializeParser(QapRoutineCtx *ctx, QapStatus err) {
    if (isSharedLibInitSuccess()) {
        // Should a host start the parser with network access, it is taken away once: the
        // library's parses never fetch a URL (the reader refuses them in any case).
        static std::once_flag noNetwork;
        std::call_once(noNetwork, [] {
            delete XMLPlatformUtils::fgNetAccessor;
            XMLPlatformUtils::fgNetAccessor = nullptr;
        });
        QAP_TRACE(ctx, "qapInitializeParser", "Shared library has been initilized successfully \n");
        return 0;
    }
    switch (getLastErrorCode()) {
    case -4:
    case -1: {
        char line[16];
        snprintf(line, sizeof line, "%d", __LINE__);
        qapSetErrorAs(ctx, err, "38X13", QAPG001E, qapBuildStamp, "qapSgDoc", line);
        break;
    }
    case -3:
    case -2: {
        // The conversion writes up to 4 bytes per code unit plus 4: bound the input so the
        // result fits the 1024-byte buffer, without splitting a surrogate pair.
        constexpr int32_t maxUnits = (1024 - 4) / 4;
        XMLCh text[maxUnits + 1];
        int32_t n = 0;
        if (const char16_t *msg = getLastErrorMessage()) {
            while (n < maxUnits && msg[n] != 0) {
                text[n] = msg[n];
                ++n;
            }
            if (n == maxUnits && msg[n] != 0 && text[n - 1] >= 0xD800 && text[n - 1] <= 0xDBFF) --n;
        }
        text[n] = 0;
        char converted[1024] = "";
        qapConvXMLCh(ctx, text, converted);
        qapSetErrorAs(ctx, err, "38X13", QAPQ047E, "0", "0", converted);
        break;
    }
    default:
        break;
    }
    QAP_TRACE(ctx, "qapInitializeParser", "The static init of parser or icu or xalan has failed\n");
    return -1;
}

int32_t qapTerminateParser(QapRoutineCtx *ctx) {
    QAP_TRACE(ctx, "qapTerminateParser", "Exit\n");
    return 0;
}
