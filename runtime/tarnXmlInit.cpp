// The host's XML start-up: starts Xerces-C and ICU once per process and answers whether that
// worked. Xerces-C is never terminated: static objects of the library may use it until exit.
// The parser is started without network access: routines parse what SQL callers hand them
// with the server's rights, so no URL may be fetched.
#include "tarnRuntime.h"

#include <cstring>
#include <mutex>
#include <string>

#include <unicode/uclean.h>
#include <unicode/utypes.h>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLNetAccessor.hpp>
#include <xercesc/util/XMLException.hpp>

namespace {

struct StartUp {
    std::once_flag once;
    int32_t code = 0; // 0: started; -2: Xerces-C threw an XMLException; -1: any other failure
    std::u16string message;
};

StartUp &startUp() {
    static StartUp s;
    return s;
}

std::u16string widen(const char *text) {
    return std::u16string(text, text + strlen(text));
}

void start(StartUp &s) {
    try {
        xercesc::XMLPlatformUtils::Initialize();
    } catch (const xercesc::XMLException &e) {
        s.code = -2;
        const XMLCh *text = e.getMessage();
        s.message = text == nullptr ? std::u16string() : std::u16string(text);
        return;
    } catch (...) {
        s.code = -1;
        s.message = u"The XML parser could not be started.";
        return;
    }
    delete xercesc::XMLPlatformUtils::fgNetAccessor;
    xercesc::XMLPlatformUtils::fgNetAccessor = nullptr;
    UErrorCode status = U_ZERO_ERROR;
    u_init(&status);
    if (U_FAILURE(status)) {
        s.code = -1;
        s.message = u"The converter library could not be started: " + widen(u_errorName(status));
    }
}

// The start-up state after the one real start-up attempt.
StartUp &started() {
    StartUp &s = startUp();
    std::call_once(s.once, [&s] { start(s); });
    return s;
}

} // namespace

extern "C" {

TARN_API int isSharedLibInitSuccess(void) {
    return started().code == 0;
}

TARN_API int getLastErrorCode(void) {
    return started().code;
}

TARN_API const char16_t *getLastErrorMessage(void) {
    return started().message.c_str();
}
}
