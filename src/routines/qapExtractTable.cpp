// The table extract routines: every value at a location path in a document, one row each.
// Each catalogue row of this family pairs a result kind (qapExtractKinds.h) with a document
// source, as the scalar family does. The document is parsed once, when the host opens the
// table; the values wait in the scratchpad and are handed out one per fetch.
#include "qapClobDoc.h"
#include "qapExtractKinds.h"
#include "qapMembers.h"
#include "qapResult.h"
#include "qapSgDoc.h"

#include <cstdlib>
#include <cstring>

namespace {

struct ExtractTable {
    template <tessel::RoutineId Id> static void call(QapCall &c) {
        constexpr const tessel::RoutineInfo &r = tessel::routine(Id);
        using Kind = QapKind<r.result>;
        switch (c.phase) {
        case QapPhase::First:
            // A "2" variant reads its DTD once; without it the statement cannot go on.
            if (c.start() && r.count == 3 && c.fetchDtd(c.locator(1)) != 0) c.drop();
            return;
        case QapPhase::Open:
            if (c.start()) open<Kind>(c, r);
            return;
        case QapPhase::Fetch:
            if (c.start()) fetch<Kind>(c);
            return;
        case QapPhase::Close:
            freeExtractResult(c.scratch->ctx, &c.scratch->results);
            qapSetState(c.sqlstate, "00000");
            return;
        case QapPhase::Final:
            freeExtractResult(c.scratch->ctx, &c.scratch->results);
            c.start();
            return;
        case QapPhase::Unknown:
            QAP_TRACE(c.scratch->ctx, c.name(), "calltype is unexpected: %d.\n", c.args.callType);
            qapSetState(c.sqlstate, "00000");
            return;
        }
    }

    // Parses the document and keeps every value; a failed open leaves no rows.
    template <class Kind> static void open(QapCall &c, const tessel::RoutineInfo &r) {
        QapExtractResult &results = c.scratch->results;
        freeExtractResult(c.ctx, &results);
        qapSetState(results.sqlstate, "00000");
        results.message = static_cast<char *>(calloc(1, QAP_RESULT_MESSAGE_SIZE));
        if (results.message == nullptr) {
            c.fail(QAPG002E);
            return;
        }
        const char *path = c.text(r.count - 1);
        const char *dtd = c.scratch->dtdText;
        QapClobDoc clob;
        QapDoc doc{c.text(0), QAP_FILE, 0, dtd};
        if (r.source == tessel::Source::FILE && c.checkFiles() != 0) {
            freeExtractResult(c.ctx, &results);
            return;
        }
        if (r.source == tessel::Source::VARCHAR) {
            doc = QapDoc{c.text(0), QAP_MEM, 1, dtd};
        } else if (r.source == tessel::Source::CLOB) {
            if (clob.load(c.ctx, c.locator(0), c.sqlstate, c.msgtext) != 0) {
                freeExtractResult(c.ctx, &results);
                return;
            }
            doc = clob.doc(dtd);
        }
        extractAll(c.ctx, doc, Kind::tagged, path, &results, Kind::clobLimit, c.sqlstate,
                   c.msgtext);
        if (strncmp(c.sqlstate, "00000", 5) != 0) freeExtractResult(c.ctx, &results);
    }

    // The next row, or "02000" at the end of the table.
    template <class Kind> static void fetch(QapCall &c) {
        QapExtractResult &results = c.scratch->results;
        if (results.cursor == nullptr) return; // no open table
        char *value = *results.cursor;
        if (value == nullptr) {
            qapSetState(c.sqlstate, "02000");
            return;
        }
        ++results.cursor;
        qapSetState(c.sqlstate, "00000");
        // An empty value is a NULL row; a CLOB member still makes its locator.
        const bool empty = value[0] == '\0';
        if (empty && !Kind::tagged) return;
        const int16_t ind = Kind::make(c, value, c.out<typename Kind::Out>());
        c.setNull(empty || ind != 0);
    }
};

} // namespace

#define QAP_MEMBER_OF_qapExtractTable QAP_THIS_FAMILY(ExtractTable)
TESSEL_CATALOG(QAP_MEMBER)
