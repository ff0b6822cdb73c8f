// The table extract routines: every value at a location path in a document, one row each.
// Each catalogue row of this family pairs a result kind (qapExtractKinds.h) with a document
// source, as the scalar family does. The open starts a parse of the document that goes on as the
// host fetches, a few values at a time, so memory holds those few, and a scan that stops early
// (a LIMIT) reads little further.
#include "qapClobDoc.h"
#include "qapExtractKinds.h"
#include "qapMembers.h"
#include "qapResult.h"
#include "qapSgDoc.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

// An open table: the document (a CLOB read at the open, or a copy of a VARCHAR argument, so
// that it lives as long as the parse) and the parse that makes the rows.
struct QapTableScan : QapOpenTable {
    QapClobDoc clob;
    std::string text;
    QapOpenFile file;       // the server file the gate opened
    QapExtractScan extract; // last: ends its parse before the document goes
};

namespace {

struct ExtractTable {
    template <tessel::RoutineId Id> static void call(QapCall &c) {
        constexpr const tessel::RoutineInfo &r = tessel::routine(Id);
        using Kind = QapKind<r.result>;
        switch (c.phase) {
        case QapPhase::FIRST:
            closeScan(c);
            // A "2" variant reads its DTD once; without it the statement cannot go on.
            if (c.start() && r.count == 3 && c.fetchDtd(c.locator(1)) != 0) c.drop();
            return;
        case QapPhase::OPEN:
            closeScan(c);
            if (c.start()) open<Kind>(c, r);
            return;
        case QapPhase::FETCH:
            if (c.start()) fetch<Kind>(c);
            return;
        case QapPhase::CLOSE:
            closeScan(c);
            qapSetState(c.err().sqlstate, "00000");
            return;
        case QapPhase::FINAL:
            closeScan(c); // before the context its parse uses
            c.start();
            return;
        case QapPhase::UNKNOWN:
            QAP_TRACE(c.scratch->ctx, c.name(), "calltype is unexpected: %d.\n", c.args.callType);
            qapSetState(c.err().sqlstate, "00000");
            return;
        }
    }

    // Ends the parse and lets go of the document, its temporary file included.
    static void closeScan(QapCall &c) {
        delete c.scratch->scan;
        c.scratch->scan = nullptr;
    }

    // Starts the parse and finds the first value; a failed open leaves no rows.
    template <class Kind> static void open(QapCall &c, const tessel::RoutineInfo &r) {
        if (r.source == tessel::Source::FILE && c.checkFiles() != 0) return;
        auto *scan = new (std::nothrow) QapTableScan;
        if (scan == nullptr) {
            c.fail(QAPG002E);
            return;
        }
        c.scratch->scan = scan;
        const char *path = c.text(r.count - 1);
        const char *dtd = c.scratch->dtdText;
        scan->file = std::move(c.opened(0));
        QapDoc doc{scan->file.name().c_str(), kFile, 0, dtd, &scan->file};
        if (r.source == tessel::Source::VARCHAR) {
            try {
                scan->text.assign(c.text(0));
            } catch (...) {
                closeScan(c);
                c.fail(QAPG002E);
                return;
            }
            doc = QapDoc{scan->text.c_str(), kMem, 1, dtd, nullptr};
        } else if (r.source == tessel::Source::CLOB) {
            if (scan->clob.load(c.ctx, c.locator(0), c.err()) != 0) {
                closeScan(c);
                return;
            }
            doc = scan->clob.doc(dtd);
        }
        if (scan->extract.open(c.ctx, doc, Kind::kTagged, path, Kind::kClobLimit, c.err()) != 0)
            closeScan(c);
    }

    // The next row, or "02000" at the end of the table.
    template <class Kind> static void fetch(QapCall &c) {
        auto *scan = static_cast<QapTableScan *>(c.scratch->scan);
        if (scan == nullptr) return; // no open table
        char *value = nullptr;
        const int32_t rc = scan->extract.next(&value, c.err());
        if (rc < 0) {
            closeScan(c); // the rows end with the error
            return;
        }
        if (rc == 0) {
            qapSetState(c.err().sqlstate, "02000");
            return;
        }
        qapSetState(c.err().sqlstate, "00000");
        // An empty value is a NULL row; a CLOB member still makes its locator.
        const bool empty = value[0] == '\0';
        if (empty && !Kind::kTagged) return;
        const int16_t ind = Kind::make(c, value, c.out<typename Kind::Out>());
        c.setNull(empty || ind != 0);
    }
};

} // namespace

#define QAP_MEMBER_OF_qapExtractTable QAP_THIS_FAMILY(ExtractTable)
TESSEL_CATALOG(QAP_MEMBER)
