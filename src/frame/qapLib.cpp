// The check of the host's parser start-up on every routine's first call.
#include "qapLib.h"

#include "qapConv.h"
#include "qapCtx.h"
#include "qapTrace.h"
#include "tesselHost.h"

#include <cstdio>
#include <mutex>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLNetAccessor.hpp>

XERCES_CPP_NAMESPACE_USE

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
