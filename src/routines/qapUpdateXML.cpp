// The update routines: the values at a location path replaced by a new value, and the whole
// document returned (VARCHAR, CLOB) or written back over its server file. Inputs: the document,
// the path, the new value. A NULL input gives NULL without an error.
#include "qapClobDoc.h"
#include "qapConv.h"
#include "qapFile.h"
#include "qapFileCopy.h"
#include "qapLob.h"
#include "qapMembers.h"
#include "qapOwned.h"
#include "qapUpdate.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

namespace {

// While a server file is updated its text is in the application code page: the context's
// database converter stands for the application's.
class AppCodePageAsDb {
public:
    explicit AppCodePageAsDb(QapConvInfo *conv)
        : conv_(conv), codePage_(conv->dbCodePage), converter_(conv->dbConv) {
        conv->dbCodePage = conv->appCodePage;
        conv->dbConv = conv->appConv;
    }
    ~AppCodePageAsDb() {
        conv_->dbCodePage = codePage_;
        conv_->dbConv = converter_;
    }
    AppCodePageAsDb(const AppCodePageAsDb &) = delete;
    AppCodePageAsDb &operator=(const AppCodePageAsDb &) = delete;

private:
    QapConvInfo *conv_;
    int32_t codePage_;
    UConverter *converter_;
};

struct UpdateXML {
    template <tessel::RoutineId Id> static void call(QapCall &c) {
        constexpr const tessel::RoutineInfo &r = tessel::routine(Id);
        if (!c.start()) return;
        qapSetState(c.err().sqlstate, "00000");
        c.err().msgtext[0] = '\0';
        if (c.anyNull()) return;
        if (c.checkFiles() != 0) return;
        const char *path = c.text(1);
        const char *value = c.text(2);
        char *raw = nullptr;

        if constexpr (r.source == tessel::Source::VARCHAR) {
            if (qapUpdateFromBuf(c.ctx, c.text(0), path, value, &raw, kVarcharMax, c.err()) != 0)
                return;
            QapHeapText text(raw);
            snprintf(c.out<char>(), kVarcharMax + 1u, "%s", text.get());
            c.setNull(false);
        } else if constexpr (r.source == tessel::Source::CLOB) {
            QapClobDoc doc;
            if (doc.load(c.ctx, c.locator(0), c.err()) != 0) return;
            std::unique_ptr<XMLCh[]> wideValue, widePath;
            if (qapToUtf16(c.ctx, value, &wideValue, c.err()) != 0 ||
                qapToUtf16(c.ctx, path, &widePath, c.err()) != 0)
                return;
            if (qapUpdate(c.ctx, doc.doc(nullptr), widePath.get(), wideValue.get(), &raw, kLobLimit,
                          c.err()) != 0)
                return;
            QapHeapText text(raw);
            doc.release();
            if (qapBuf2Locator(c.ctx, text.get(), static_cast<int32_t>(strlen(text.get())),
                               c.out<sqludf_locator>(), c.err()) != 0)
                return;
            c.setNull(false);
        } else {
            const char *file = c.text(0);
            snprintf(c.out<char>(), r.length + 1u, "%s", file);
            std::unique_ptr<XMLCh[]> wideValue, widePath;
            if (qapToUtf16(c.ctx, value, &wideValue, c.err()) != 0 ||
                qapToUtf16(c.ctx, path, &widePath, c.err()) != 0)
                return;
            {
                // The file is the one opened above; its name, the database's, names it to the
                // parse, which takes the application converter for the database's, as the
                // application code page spells it.
                QapOpenFile &in = c.opened(0);
                std::string appName; // an empty name stays empty
                if (!in.name().empty() && !qapAppName(c.ctx, in.name().c_str(), appName)) {
                    c.fail(QAPC002E);
                    return;
                }
                AppCodePageAsDb appText(c.ctx->convInfo);
                if (qapUpdate(c.ctx, QapDoc{appName.c_str(), kFile, 1, nullptr, &in},
                              widePath.get(), wideValue.get(), &raw, kLobLimit, c.err()) != 0)
                    return;
            }
            // The file is rewritten only once the whole update has succeeded.
            QapHeapText text(raw);
            if (qapBuf2File(c.ctx, text.get(), static_cast<int32_t>(strlen(text.get())),
                            c.target(0), c.err()) != 0)
                return;
            c.setNull(false);
        }
    }
};

} // namespace

#define QAP_MEMBER_OF_qapUpdateXML QAP_THIS_FAMILY(UpdateXML)
TESSEL_CATALOG(QAP_MEMBER)
