// The scalar extract routines: the one value at a location path in a document, as an SQL
// value. Each catalogue row of this family pairs a result kind (qapExtractKinds.h) with a
// document source: a server file, VARCHAR text or a CLOB, with a DTD (CLOB) as the second input
// of the "2" variants. The path is always the last input.
#include "qapClobDoc.h"
#include "qapExtractKinds.h"
#include "qapMembers.h"
#include "qapOwned.h"
#include "qapSgDoc.h"

namespace {

struct ExtractScalar {
    template <tessel::RoutineId Id> static void call(QapCall &c) {
        constexpr const tessel::RoutineInfo &r = tessel::routine(Id);
        using Kind = QapKind<r.result>;
        constexpr bool withDtd = r.count == 3;
        constexpr int pathInput = r.count - 1;

        if (!c.start()) return;
        if (withDtd && c.phase == QapPhase::FIRST && c.fetchDtd(c.locator(1)) != 0) return;
        const char *path = c.text(pathInput);
        const char *dtd = c.scratch->dtdText;

        if constexpr (r.source == tessel::Source::CLOB) {
            // The length is asked for on its own first (the host's failure is reported before
            // any transfer), then again by the transfer.
            int32_t length = 0;
            if (const int rc = sqludf_length(c.locator(0), &length); rc != 0) {
                c.failLob(rc);
                return;
            }
            QAP_TRACE(c.ctx, c.name(), "CLOB of %d bytes, threshold %d\n", length,
                      c.ctx->fileThreshold);
            QapClobDoc doc;
            if (doc.load(c.ctx, c.locator(0), c.err()) != 0) return;
            extract<Kind>(c, doc.doc(dtd), path, Kind::kClobLimit);
        } else if constexpr (r.source == tessel::Source::VARCHAR) {
            extract<Kind>(c, QapDoc{c.text(0), kMem, 1, dtd, nullptr}, path, Kind::kLimit);
        } else {
            QAP_TRACE(c.ctx, c.name(), "file '%s', path '%s'\n", c.text(0), path);
            if (c.checkFiles() != 0) return;
            QapOpenFile &file = c.opened(0);
            extract<Kind>(c, QapDoc{file.name().c_str(), kFile, 0, dtd, &file}, path, Kind::kLimit);
        }
    }

    // The driver on the document, and the value made into the output.
    template <class Kind>
    static void extract(QapCall &c, const QapDoc &doc, const char *path, int32_t limit) {
        char *raw = nullptr;
        const int32_t rc = qapExtractOne(c.ctx, doc, Kind::kTagged, path, &raw, limit, c.err());
        QapHeapText value(raw);
        QAP_TRACE(c.ctx, c.name(), "extractOne rc=%d, sqlstate %s\n", rc, c.err().sqlstate);
        if (rc == 0 && value)
            *c.args.outInd = Kind::make(c, value.get(), c.out<typename Kind::Out>());
    }
};

} // namespace

#define QAP_MEMBER_OF_qapExtractScalar QAP_THIS_FAMILY(ExtractScalar)
TESSEL_CATALOG(QAP_MEMBER)
