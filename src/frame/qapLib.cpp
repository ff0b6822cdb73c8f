// The check of the host's parser start-up on every routine's first call.
#include "qapLib.h"

#include "qapCtx.h"
#include "qapParseErrors.h"
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
        qapSetErrorAs(ctx, err, "38X13", QAPG001E, kBuildStamp, "qapSgDoc", line);
        break;
    }
    case -3:
    case -2: {
        char text[kParserTextSize];
        qapSetParserError(ctx, err, "0", "0", qapParserText(ctx, getLastErrorMessage(), text));
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
