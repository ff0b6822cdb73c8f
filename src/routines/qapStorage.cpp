// The storage routines: documents moved between server files (in the application code page)
// and VARCHAR or CLOB values (in the database code page). The "2" routines take an encoding
// name as their last input, which becomes the application code page; those that write a file
// also rewrite the encoding in its XML declaration. qapSeqno counts the calls of a statement.
#include "qapConv.h"
#include "qapFile.h"
#include "qapFileCopy.h"
#include "qapLob.h"
#include "qapMembers.h"
#include "qapOwned.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using tessel::Input;
using tessel::RoutineInfo;
using tessel::Source;
using tessel::SqlType;

// The input that names the server file.
constexpr int fileInput(const RoutineInfo &r) {
    for (int i = 0; i < r.count; ++i)
        if (r.namesFile(i)) return i;
    return -1;
}

struct Storage {
    template <tessel::RoutineId Id> static void call(QapCall &c) {
        constexpr const RoutineInfo &r = tessel::routine(Id);
        if constexpr (r.source == Source::NONE) {
            sequenceNumber(c);
        } else {
            constexpr bool withEncoding = r.inputs[r.count - 1] == Input::V;
            constexpr int file = fileInput(r);
            static_assert(file >= 0, "a storage routine names a file");
            // A "2" routine cannot make its context without the encoding name.
            if (withEncoding && c.phase == QapPhase::FIRST && c.isNull(r.count - 1)) {
                qapSetState(c.err().sqlstate, "38X16");
                return;
            }
            if (!c.start(withEncoding ? c.text(r.count - 1) : nullptr)) return;
            if constexpr (r.source == Source::CLOB) {
                // The writers of a CLOB check the file name first and do not look at its null
                // indicator; a NULL CLOB then writes nothing and gives NULL.
                if (c.checkFiles(true) != 0 || c.isNull(0)) return;
            } else {
                // A NULL file name is an error, but for qapCLOB, whose NULL file name gives NULL.
                if (c.isNull(file)) {
                    if (r.result != SqlType::CLOB || withEncoding)
                        qapSetState(c.err().sqlstate, "38X16");
                    return;
                }
                if (c.checkFiles() != 0) return;
            }
            qapSetState(c.err().sqlstate, "00000");
            const char *name = c.isNull(file) ? "" : c.text(file); // a NULL name opens nothing
            const int32_t rc = transfer<Id, withEncoding>(c, file);
            if (rc != 0) return;
            if (r.writesFile(file)) snprintf(c.out<char>(), r.length + 1u, "%s", name);
            c.setNull(false);
        }
    }

    template <tessel::RoutineId Id, bool WithEncoding>
    static int32_t transfer(QapCall &c, int file) {
        constexpr const RoutineInfo &r = tessel::routine(Id);
        if constexpr (r.source == Source::CLOB) {
            return WithEncoding ? qapConvLocator2File2(c.ctx, c.locator(0), c.target(file), c.err())
                                : qapConvLocator2File(c.ctx, c.locator(0), c.target(file), c.err());
        } else if constexpr (r.source == Source::VARCHAR) {
            return contentToFile(c, c.text(0), c.target(file), WithEncoding);
        } else if constexpr (r.result == SqlType::CLOB) {
            return qapFile2Locator(c.ctx, c.opened(file), c.out<sqludf_locator>(), c.err());
        } else {
            return qapFile2Varchar(c.ctx, c.opened(file), c.out<char>(), r.length, c.err());
        }
    }

    // Writes VARCHAR content to a file in the application code page: unchanged when the code
    // pages agree, converted otherwise, and for a "2" routine always converted with the
    // encoding of its XML declaration rewritten.
    static int32_t contentToFile(QapCall &c, const char *content, const QapWriteTarget &target,
                                 bool rewrite) {
        const size_t length = strlen(content);
        const QapConvInfo *conv = c.ctx->convInfo;
        if (!rewrite && conv->appCodePage == conv->dbCodePage)
            return qapBuf2File(c.ctx, content, static_cast<int32_t>(length), target, c.err());
        if (length > INT32_MAX / 3) return c.fail(QAPG002E);
        const int32_t capacity = static_cast<int32_t>(3 * length);
        QapHeapText converted(static_cast<char *>(malloc(capacity > 0 ? capacity : 1)));
        if (!converted) return c.fail(QAPG002E);
        // A character the file's code page cannot hold fails the call; the file is untouched.
        QapStrictConversion strictDb(conv->dbConv), strictApp(conv->appConv);
        const int32_t n =
            rewrite ? qapConvBufferTarnToAppEncoding(c.ctx, content, static_cast<int32_t>(length),
                                                     converted.get(), capacity, c.err())
                    : qapConvertBufferTarnToApp(c.ctx, content, static_cast<int32_t>(length),
                                                converted.get(), capacity, c.err());
        if (n < 0) return -1;
        return qapBuf2File(c.ctx, converted.get(), n, target, c.err());
    }

    // qapSeqno: every call, the final one too, counts in the scratchpad's first word.
    static void sequenceNumber(QapCall &c) {
        uint32_t count;
        memcpy(&count, c.args.scratchpad->data, sizeof count);
        ++count; // wraps from 2147483647 to -2147483648 as a signed value
        memcpy(c.args.scratchpad->data, &count, sizeof count);
        *c.out<int32_t>() = static_cast<int32_t>(count);
        c.setNull(false);
    }
};

} // namespace

#define QAP_MEMBER_OF_qapStorage QAP_THIS_FAMILY(Storage)
TESSEL_CATALOG(QAP_MEMBER)
