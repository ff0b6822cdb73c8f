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
        const char *dtdFile = nullptr;
        uint32_t dtdSource = 0;
        uint32_t dtdLoc = QAP_FILE;
        QapClobDoc dtdText;
        if constexpr (r.clobInput(1)) {
            if (dtdText.load(c.ctx, c.locator(1), c.err()) != 0) return;
            dtdFile = dtdText.data();
            dtdSource = 1;
            dtdLoc = dtdText.loc();
        } else if (c.text(1)[0] != '\0') {
            QapFilePtr probe(xml_fopen(c.ctx, c.text(1), "r"));
            if (!probe) {
                c.fail(QAPC000E);
                return;
            }
            dtdFile = c.text(1);
        }

        // Then the document: a file as it is, text in memory or staged in a temporary file
        // beyond the file threshold, a CLOB as its transfer leaves it.
        const char *doc = c.text(0);
        uint32_t docLoc = QAP_FILE;
        uint32_t docSource = 1;
        QapClobDoc clob;
        QapTempFile staged;
        if constexpr (r.source == tessel::Source::FILE) {
            docSource = 0;
        } else if constexpr (r.source == tessel::Source::CLOB) {
            if (clob.load(c.ctx, c.locator(0), c.err()) != 0) return;
            doc = clob.data();
            docLoc = clob.loc();
        } else {
            const size_t length = strlen(doc);
            docLoc = QAP_MEM;
            if (length > static_cast<size_t>(c.ctx->fileThreshold)) {
                if (staged.create(c.ctx, c.err()) != 0 ||
                    staged.write(c.ctx, doc, length, c.err()) != 0)
                    return;
                doc = staged.name();
                docLoc = QAP_FILE;
            }
        }

        *out = qapValidate(c.ctx, doc, docLoc, docSource, dtdFile, dtdSource, c.text(2), c.err(),
                           dtdLoc);
        c.setNull(false);
    }
};

} // namespace

#define QAP_MEMBER_OF_qapValidateXML QAP_THIS_FAMILY(Validate)
TESSEL_CATALOG(QAP_MEMBER)
