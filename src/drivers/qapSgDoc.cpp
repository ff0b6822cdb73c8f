// The extraction drivers: every value at a path (qapExtractAll), exactly one (qapExtractOne), and
// the values one by one as a table fetches them (QapExtractScan).
#include "qapSgDoc.h"

#include "qapConv.h"
#include "qapDocumentSource.h"
#include "qapFiber.h"
#include "qapFile.h"
#include "qapMsg.h"
#include "qapOwned.h"
#include "qapExtractHandler.h"
#include "qapParseErrors.h"
#include "qapParseRun.h"
#include "qapTrace.h"
#include "tesselHost.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <xercesc/sax/InputSource.hpp>

XERCES_CPP_NAMESPACE_USE

namespace {

// The extraction handler for the path, checked for a syntax error ("38X09"). 0, or as
// setUpReader.
int32_t buildExtraction(QapRoutineCtx *ctx, QapParseParts &parts, const char *dtdText, int tagged,
                        QapStatus err) {
    try {
        auto *handler =
            new (std::nothrow) QapExtractHandler(ctx, tagged == 1 ? 1 : 0, parts.path.get());
        parts.handler.reset(handler);
        if (handler == nullptr) {
            qapSetError(ctx, err, QAPG002E);
            return -1;
        }
        if (int32_t pos = handler->query.getErrorPosition(); pos != 0) {
            char num[24];
            snprintf(num, sizeof num, "%d", pos);
            qapSetError(ctx, err, QAPD002E, num);
            QAP_TRACE(ctx, "extractAll", "Error in XPATH: %s\n", err.msgtext);
            return -1;
        }
    } catch (...) {
        qapSetError(ctx, err, QAPG002E);
        return -1;
    }
    return qapSetUpReader(ctx, parts, dtdText, err);
}

// Arms parts with the handler the context's reader kept from its previous parse, when that was
// for the same path (never null) and tagged flag (0 or 1). False when there is none to take.
bool takeKept(QapRoutineCtx *ctx, QapParseParts &parts, const char *path, int tagged) {
    QapParser *parser = qapKeptParser(ctx);
    if (parser == nullptr) return false;
    QapParser::Kept &kept = parser->kept;
    if (kept.handler == nullptr || kept.tagged != tagged || kept.path != path) return false;
    parts.path = std::move(kept.path16);
    // Only extraction handlers are kept (QapParseParts::release); re-armed when kept.
    parts.handler.reset(static_cast<QapExtractHandler *>(kept.handler.release()));
    return true;
}

// Everything an extraction needs before its parse: the document file there, the handler of
// the context's previous parse when it was for the same path (else the path in UTF-16 and a new
// handler; traced calls build their handler anew, so that each traces its path), the reader,
// the bounds, and the source of a document in memory. keyPath is the path as the call gave it,
// kept until parts are released. 0, or -1 with SQLSTATE and message set.
int32_t prepareExtraction(QapRoutineCtx *ctx, QapParseParts &parts, const QapDoc &document,
                          int tagged, const char *path, const char *keyPath, int32_t limit,
                          uint32_t maxValues, QapStatus err) {
    static const char *const fn = "extractAll";
    const char *doc = document.doc;
    // A file the gate could not open because it was not there, or not a regular file, fails
    // first; one it could not open for another reason fails where the parse would read it.
    if (document.docLoc == kFile && (document.file == nullptr || !document.file->found())) {
        QAP_TRACE(ctx, fn, "no regular file to read\n");
        qapSetError(ctx, err, QAPC001E);
        return -1;
    }

    const bool mayKeep = ctx != nullptr && !ctx->traceOn;
    const int taggedFlag = tagged == 1 ? 1 : 0;
    const bool kept = mayKeep && takeKept(ctx, parts, keyPath, taggedFlag);
    if (!kept) {
        // The path in UTF-16.
        const size_t pathLength = path != nullptr ? strlen(path) : 0;
        parts.path.reset(new (std::nothrow) XMLCh[4 * (pathLength + 1)]);
        if (parts.path == nullptr) {
            qapSetError(ctx, err, QAPG002E);
            return -1;
        }
        parts.path[0] = 0;
        if (path != nullptr) {
            int32_t n = qapMbstowcsFunction(ctx, parts.path.get(), path,
                                            static_cast<int32_t>(4 * (pathLength + 1)));
            if (n < 0) {
                QAP_TRACE(ctx, fn, "call QAP_mbstowcs() return length=%d\n", n);
                char num[24];
                snprintf(num, sizeof num, "%d", n);
                qapSetError(ctx, err, QAPD002E, num);
                return -1;
            }
        }
    }

    // Reader, handler, resolver, features.
    if ((kept ? qapSetUpReader(ctx, parts, document.dtdText, err)
              : buildExtraction(ctx, parts, document.dtdText, tagged, err)) != 0)
        return -1;
    if (mayKeep) {
        parts.keepPath = keyPath;
        parts.keepTagged = taggedFlag;
    }
    parts.handler->result.setBounds(limit, maxValues);
    if (document.docLoc != kFile) {
        try {
            parts.memSource.reset(qapMemoryDocument(doc, &parts.parser->memory));
        } catch (...) {
            qapSetError(ctx, err, QAPG002E);
            return -1;
        }
        QAP_TRACE(ctx, fn, "document is from memory\n");
    }
    return 0;
}

void traceEntry(QapRoutineCtx *ctx, const char *fn, const QapDoc &document, const char *path) {
    if (document.docLoc == kMem)
        QAP_TRACE(ctx, fn, "Entered, input uri=buffer and query='%s'\n", path ? path : "");
    else
        QAP_TRACE(ctx, fn, "Entered, input uri='%s' and query='%s'\n",
                  document.doc ? document.doc : "", path ? path : "");
}

} // namespace

int32_t qapExtractAll(QapRoutineCtx *ctx, const QapDoc &document, int tagged, const char *path,
                      QapExtractResult *result, int32_t limit, QapStatus err, uint32_t maxValues) {
    static const char *const fn = "extractAll";
    int32_t rc = -1;
    traceEntry(ctx, fn, document, path);

    QapParseParts parts;
    do {
        if (prepareExtraction(ctx, parts, document, tagged, path, path != nullptr ? path : "",
                              limit, maxValues, err) != 0)
            break;

        // The parse.
        if (qapRunParse(ctx, parts, document, err) != 0) break;

        // The values in the database code page.
        QapHeap<QapExtractResult> record;
        try {
            record.reset(parts.handler->result.retrieve(limit));
        } catch (...) {
            record.reset();
        }
        if (record == nullptr) {
            QAP_TRACE(ctx, fn, "The resulting array, a, is NULL.\n");
            break;
        }
        if (record->message != nullptr) {
            snprintf(err.msgtext, kMsgTextSize, "%s", record->message);
            free(record->message);
            record->message = nullptr;
        }
        char *callerMessage = result->message;
        *result = *record;
        result->message = callerMessage;
        qapSetState(err.sqlstate, record->sqlstate);
        rc = strcmp(record->sqlstate, "00000") == 0 ? 0 : -1;
    } while (false);

    // Reader, handler, resolver, input source and path go with parts.
    parts.release();
    QAP_TRACE(ctx, fn, "Exit return rc=%d\n", rc);
    return rc;
}

// ---- Extraction value by value ---------------------------------------------------------------

// Values the parse collects before it pauses and hands them out: this many, or fewer when their
// text reaches kBatchUnits. The parse and the host's work on the rows then run in turns of some
// length, not one value each, and a small document is read in one turn.
constexpr size_t kBatch = 64;
constexpr uint64_t kBatchUnits = 16384;

// The parse runs on a fiber of its own: it pauses after the value that completes a batch, and
// the scan resumes it when the values handed out are used up.
struct QapExtractScan::Parse final : QapValueDone {
    QapRoutineCtx *ctx = nullptr;
    std::string path; // the call's, as the kept handler's key
    QapParseParts parts;
    QapDoc document{}; // opened and parsed on the fiber; its text or name lives until the close
    QapFiber fiber;
    bool closing = false; // the scan closes: the paused parse unwinds (QapParseClosed)
    // How the parse ended, when it failed: told once the values before the failure are out.
    bool failed = false;
    char failState[kSqlstateSize] = "00000";
    char failMessage[kMsgTextSize] = "";
    std::string failWhole; // the message before it was cut, handed to the host again when told

    // Keeps the failure's whole message, just formatted (none when only a state was set).
    void keepFailure() noexcept {
        failed = true;
        qapKeepWhole(failWhole, failMessage[0] != '\0' ? qapLastWholeMessage() : "");
    }
    // Where the failure is kept.
    QapStatus failure() { return {failState, failMessage}; }
    // Tells the kept failure as the call's state and message.
    void tellFailure(QapStatus err) const {
        qapSetState(err.sqlstate, failState);
        snprintf(err.msgtext, kMsgTextSize, "%s", failMessage);
        tarnSetDiagnostic(failWhole.c_str());
    }

    ~Parse() { stop(); }
    // Ends a parse that has not ended (the reader lets go of the document), then the parts.
    void stop() {
        closing = true;
        while (fiber.running()) // once, unless the parse swallowed the unwinding
            fiber.resume();
        fiber.release();
        parts.release();
    }
    // The next value (1, *value set), the end (0), or the failure of the parse (-1, SQLSTATE
    // and message set), parsing on for a batch of values when none waits.
    int32_t advance(char **value, QapStatus err);
    // Runs the parse until a batch of values waits or the parse ends.
    void refill() { fiber.resume(); }
    // The fiber's body: the whole parse, its failure kept in failState. Nothing may leave it.
    static void run(void *self) noexcept {
        auto &p = *static_cast<Parse *>(self);
        try {
            p.parse();
        } catch (...) {
            qapSetError(p.ctx, p.failure(), QAPG002E);
            p.keepFailure();
        }
    }
    void parse();
    // Converts the value just completed, and pauses when it completes a batch.
    void valueDone() override;
};

void QapExtractScan::Parse::valueDone() {
    QapResult &result = parts.handler->result;
    result.finishLast(); // ready, even if the parse fails next
    // Past a value that did not fit, the rest is only checked, so that a later parser error is
    // the one reported.
    if (result.valueFailed() || (result.readyCount() < kBatch && result.readyUnits() < kBatchUnits))
        return;
    fiber.suspend();
    if (closing) throw QapParseClosed{};
}

void QapExtractScan::Parse::parse() {
    static const char *const fn = "QapExtractScan";
    if (closing) return;
    try {
        if (qapRunParse(ctx, parts, document, failure()) != 0) {
            keepFailure();
            return;
        }
    } catch (const QapParseClosed &) {
        return;
    }
    QapResult &result = parts.handler->result;
    try {
        result.finishLast();
    } catch (...) {
        qapReportParseException(ctx, fn, failure());
        keepFailure();
        return;
    }
    if (parts.parser->reader->getErrorCount() != 0) {
        parts.parser->retired = true;
        qapSetState(failState, "38X13");
        keepFailure();
    } else if (result.valueFailed()) {
        QAP_TRACE(ctx, fn, "an extract result exceeds the limit or does not convert\n");
        result.setValueFailure(failure().sqlstate, failure().msgtext);
        keepFailure();
    }
}

int32_t QapExtractScan::Parse::advance(char **value, QapStatus err) {
    QapResult &result = parts.handler->result;
    if (!result.valueReady() && fiber.running()) {
        result.dropTaken(); // the caller is done with the values it had
        refill();
    }
    if (result.valueReady()) {
        *value = result.takeValue();
        return 1;
    }
    if (!failed) return 0;
    tellFailure(err);
    return -1;
}

QapExtractScan::QapExtractScan() = default;
QapExtractScan::~QapExtractScan() = default;

int32_t QapExtractScan::open(QapRoutineCtx *ctx, const QapDoc &document, int tagged,
                             const char *path, int32_t limit, QapStatus err) {
    static const char *const fn = "QapExtractScan";
    close();
    traceEntry(ctx, fn, document, path);
    try {
        parse_ = std::make_unique<Parse>();
        parse_->path = path != nullptr ? path : "";
    } catch (...) {
        parse_.reset();
        qapSetError(ctx, err, QAPG002E);
        return -1;
    }
    Parse &p = *parse_;
    p.ctx = ctx;
    QapParseParts &parts = p.parts;
    int32_t rc =
        prepareExtraction(ctx, parts, document, tagged, path, p.path.c_str(), limit, 0, err);
    if (rc == 0) {
        p.document = document;
        static_cast<QapExtractHandler &>(*parts.handler).done = &p;
        if (!p.fiber.start(&Parse::run, &p)) {
            qapSetError(ctx, err, QAPG002E);
            rc = -1;
        }
    }
    // The first value is found here, so that a document that fails before it fails the open.
    if (rc == 0) {
        p.refill();
        if (p.failed && !parts.handler->result.valueReady()) {
            p.tellFailure(err);
            rc = -1;
        }
    }
    QAP_TRACE(ctx, fn, "open return rc=%d\n", rc);
    if (rc < 0) {
        close();
        return -1;
    }
    return 0;
}

int32_t QapExtractScan::next(char **value, QapStatus err) {
    *value = nullptr;
    if (parse_ == nullptr) return 0;
    const int32_t rc = parse_->advance(value, err);
    if (rc < 0) close();
    return rc;
}

void QapExtractScan::close() {
    parse_.reset();
}

int32_t qapExtractOne(QapRoutineCtx *ctx, const QapDoc &doc, int tagged, const char *path,
                      char **value, int32_t limit, QapStatus err) {
    static const char *const fn = "extractOne";
    QAP_TRACE(ctx, fn, "Entered\n");
    qapSetState(err.sqlstate, "00000");
    *value = nullptr;

    QAP_TRACE(ctx, fn, "docloc = %d\n", static_cast<int>(doc.docLoc));
    QapExtractResult local{};
    // One value, or the fact that there are several: two are enough to keep.
    int32_t rc = qapExtractAll(ctx, doc, tagged, path, &local, limit, err, 2);
    QAP_TRACE(ctx, fn, "call extractAll() got sqlstate=%s return rc=%d\n", err.sqlstate, rc);

    int32_t out = -1;
    if (strncmp(err.sqlstate, "00000", 5) != 0) {
        // The state and message of the extraction stand; values converted before a failed
        // one are dropped.
        qapFreeExtractResult(ctx, &local);
        return -1;
    }
    if (rc == 0 && local.values != nullptr && local.values[0] != nullptr) {
        if (local.values[1] == nullptr) {
            if (local.values[0][0] != '\0') {
                *value = local.values[0];
                local.values[0] = nullptr;
                out = 0;
            }
            // An empty value is NULL without a warning.
        } else {
            qapSetError(ctx, err, QAPD001E, path != nullptr ? path : "");
        }
    } else {
        qapSetError(ctx, err, QAPD003W);
    }
    qapFreeExtractResult(ctx, &local);
    return out;
}
