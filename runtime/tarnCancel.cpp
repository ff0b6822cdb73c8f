// The host's cancel flag as the library sees it: a check that an SQL adapter installs.
#include "tarnRuntime.h"

#include <atomic>

namespace {
std::atomic<TarnCancelCheck> installed{nullptr};
} // namespace

extern "C" {

TARN_API void tarnSetCancelCheck(TarnCancelCheck check) {
    installed.store(check);
}

TARN_API int tarnStatementCancelled(void) {
    const TarnCancelCheck check = installed.load();
    return check != nullptr && check() != 0 ? 1 : 0;
}
}
