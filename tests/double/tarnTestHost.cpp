// The test double of the host: the test process defines the locator services and the XML
// start-up calls itself, so the library's calls come here first (as to a real host's), and
// forwards them to the runtime's definitions (the next ones, found with dlsym) unless a test
// armed a failure, a short transfer or a failed start-up.
#include "tarnTestHooks.h"

#include <cstdlib>
#include <dlfcn.h>
#include <mutex>
#include <string>

namespace {

// The runtime's definition of a service defined here too.
template <typename Fn> Fn runtimeOwn(const char *name) {
    void *fn = dlsym(RTLD_NEXT, name);
    if (fn == nullptr) abort(); // a test process always links the runtime
    return reinterpret_cast<Fn>(fn);
}
#define TARN_RUNTIME_OWN(name) runtimeOwn<decltype(&name)>(#name)

struct Faults {
    std::mutex lock;
    // Armed failure: the service call after `failAfter` successful ones returns failCode.
    int32_t failAfter = -1;
    int32_t failCode = 0;
    // Armed short transfer: the first read or append after `shortAfter` successful calls.
    int32_t shortAfter = -1;
    // A simulated start-up failure (code != 0) takes the place of the runtime's answer.
    int32_t startUpCode = 0;
    std::u16string startUpMessage;

    // The armed failure's code when this call is the one to fail, else 0.
    int32_t injected() {
        if (failAfter != 0) return 0;
        failAfter = -1;
        return failCode;
    }
    // True (and disarmed) when this read or append is to move one byte fewer.
    bool shortNow() {
        if (shortAfter != 0) return false;
        shortAfter = -1;
        return true;
    }
    // Counts a call towards an armed failure or short transfer when it succeeded.
    int counted(int rc) {
        if (rc != 0) return rc;
        if (failAfter > 0) --failAfter;
        if (shortAfter > 0) --shortAfter;
        return 0;
    }
};

Faults &faults() {
    static Faults f;
    return f;
}

} // namespace

extern "C" {

// Every service call holds the lock through the runtime's call, so that counting and the call
// are one step for concurrent callers.
int sqludf_length(sqludf_locator *loc, int32_t *length) {
    static const auto own = TARN_RUNTIME_OWN(sqludf_length);
    Faults &f = faults();
    std::lock_guard<std::mutex> guard(f.lock);
    if (int32_t rc = f.injected()) return rc;
    return f.counted(own(loc, length));
}

int sqludf_substr(sqludf_locator *loc, int32_t start, int32_t count, unsigned char *buf,
                  int32_t *returned) {
    static const auto own = TARN_RUNTIME_OWN(sqludf_substr);
    Faults &f = faults();
    std::lock_guard<std::mutex> guard(f.lock);
    if (int32_t rc = f.injected()) return rc;
    const int rc = own(loc, start, count, buf, returned);
    if (rc == 0 && *returned > 0 && f.shortNow()) --*returned;
    return f.counted(rc);
}

int sqludf_create_locator(int type, sqludf_locator **output) {
    static const auto own = TARN_RUNTIME_OWN(sqludf_create_locator);
    Faults &f = faults();
    std::lock_guard<std::mutex> guard(f.lock);
    if (int32_t rc = f.injected()) return rc;
    return f.counted(own(type, output));
}

int sqludf_append(sqludf_locator *loc, unsigned char *buf, int32_t length, int32_t *appended) {
    static const auto own = TARN_RUNTIME_OWN(sqludf_append);
    Faults &f = faults();
    std::lock_guard<std::mutex> guard(f.lock);
    if (int32_t rc = f.injected()) return rc;
    const bool cut = length > 0 && f.shortAfter == 0;
    const int rc = own(loc, buf, cut ? length - 1 : length, appended);
    if (rc == 0 && cut) f.shortNow();
    return f.counted(rc);
}

int isSharedLibInitSuccess(void) {
    static const auto own = TARN_RUNTIME_OWN(isSharedLibInitSuccess);
    {
        Faults &f = faults();
        std::lock_guard<std::mutex> guard(f.lock);
        if (f.startUpCode != 0) return 0;
    }
    return own();
}

int getLastErrorCode(void) {
    static const auto own = TARN_RUNTIME_OWN(getLastErrorCode);
    {
        Faults &f = faults();
        std::lock_guard<std::mutex> guard(f.lock);
        if (f.startUpCode != 0) return f.startUpCode;
    }
    return own();
}

const char16_t *getLastErrorMessage(void) {
    static const auto own = TARN_RUNTIME_OWN(getLastErrorMessage);
    {
        Faults &f = faults();
        std::lock_guard<std::mutex> guard(f.lock);
        if (f.startUpCode != 0) return f.startUpMessage.c_str();
    }
    return own();
}

void tarnLobFailAfter(int32_t calls, int32_t hostCode) {
    Faults &f = faults();
    std::lock_guard<std::mutex> guard(f.lock);
    f.failAfter = hostCode == 0 || calls < 0 ? -1 : calls;
    f.failCode = hostCode;
}

void tarnLobShortAfter(int32_t calls) {
    Faults &f = faults();
    std::lock_guard<std::mutex> guard(f.lock);
    f.shortAfter = calls < 0 ? -1 : calls;
}

void tarnLobDisarm(void) {
    Faults &f = faults();
    std::lock_guard<std::mutex> guard(f.lock);
    f.failAfter = -1;
    f.shortAfter = -1;
}

void tarnXmlInitSimulate(int32_t code, const char16_t *message) {
    Faults &f = faults();
    std::lock_guard<std::mutex> guard(f.lock);
    try {
        f.startUpMessage = message == nullptr || code == 0 ? u"" : message;
    } catch (...) {
        f.startUpMessage.clear();
    }
    f.startUpCode = code;
}
}
