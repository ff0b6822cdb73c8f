// The validate routines: 1 when a document is valid against a DTD. The document is a server
// file, VARCHAR text or a CLOB; the DTD is a server file named by the second input (empty: the
// one the document's DOCTYPE names) or, in the "2" variants, DTD text in a CLOB. The third
// input, a DTD identifier, only travels to the trace.
#include "qapClobDoc.h"
#include "qapFile.h"
#include "qapMembers.h"
#include "qapOwned.h"
#include "qapValidate.h"

#include <cstring>

namespace {

struct Validate {
    template <tessel::RoutineId Id> static void call(QapCall &c) {
        constexpr const tessel::RoutineInfo &r = tessel::routine(Id);
        if (!c.start()) return;
        int32_t *out = c.out<int32_t>();
        if (c.anyNull()) {
            c.fail(QAPD000E);
            return;
        }
        if (c.checkFiles() != 0) return;

        // The DTD first: a file that must open, or text from the CLOB.
        QapOpenFile *dtdFile = nullptr;
        const char *dtdText = nullptr;
        QapClobDoc dtdClob;
        if constexpr (r.clobInput(1)) {
            if (dtdClob.load(c.ctx, c.locator(1), c.err()) != 0) return;
            if (dtdClob.loc() == kFile)
                dtdFile = &dtdClob.file();
            else
                dtdText = dtdClob.data();
        } else if (c.text(1)[0] != '\0') {
            if (!c.opened(1)) {
                c.fail(QAPC000E);
                return;
            }
            dtdFile = &c.opened(1);
        }

        // Then the document: a file as it is, text in memory or staged in a temporary file
        // beyond the file threshold, a CLOB as its transfer leaves it.
        QapDoc doc{c.text(0), kMem, 1, nullptr, nullptr};
        QapClobDoc clob;
        QapTempFile staged;
        QapOpenFile stagedFile;
        if constexpr (r.source == tessel::Source::FILE) {
            doc = QapDoc{c.opened(0).name().c_str(), kFile, 0, nullptr, &c.opened(0)};
        } else if constexpr (r.source == tessel::Source::CLOB) {
            if (clob.load(c.ctx, c.locator(0), c.err()) != 0) return;
            doc = clob.doc(nullptr);
        } else {
            const size_t length = strlen(doc.doc);
            if (length > static_cast<size_t>(c.ctx->fileThreshold)) {
                if (staged.create(c.ctx, c.err()) != 0 ||
                    staged.write(c.ctx, doc.doc, length, c.err()) != 0)
                    return;
                if (qapOpenRead(c.ctx, staged.name(), stagedFile) != 0) {
                    qapSetOpenError(c.ctx, 0, stagedFile.error(), c.err());
                    return;
                }
                doc = QapDoc{staged.name(), kFile, 1, nullptr, &stagedFile};
            }
        }

        *out =
            qapValidate(c.ctx, doc, dtdFile, dtdText, r.clobInput(1) ? 1 : 0, c.text(2), c.err());
        c.setNull(false);
    }
};

} // namespace

#define QAP_MEMBER_OF_qapValidateXML QAP_THIS_FAMILY(Validate)
TESSEL_CATALOG(QAP_MEMBER)
