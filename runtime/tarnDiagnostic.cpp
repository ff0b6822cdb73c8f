// The whole text of a routine's last message, kept per thread for the calling side.
#include "tarnRuntime.h"

#include <string>

namespace {
thread_local std::string lastDiagnostic;
}

void tarnSetDiagnostic(const char *text) {
    if (text == nullptr || text[0] == '\0') {
        lastDiagnostic.clear(); // before every call: keeps the buffer, no copy
        return;
    }
    try {
        lastDiagnostic.assign(text != nullptr ? text : "");
    } catch (...) {
        lastDiagnostic.clear(); // no memory: the cut message alone will have to do
    }
}

const char *tarnDiagnostic(void) {
    return lastDiagnostic.c_str();
}
