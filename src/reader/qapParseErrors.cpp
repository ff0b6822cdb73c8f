// Parser diagnostics: the parser's texts and exceptions, and the reader's stops, reported as
// SQLSTATE and message.
#include "qapParseErrors.h"

#include "qapConv.h"
#include "qapMsg.h"
#include "qapGuardedReader.h"
#include "qapTrace.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <new>
#include <xercesc/sax/SAXException.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/XMLException.hpp>
#include <xercesc/util/XMLString.hpp>

XERCES_CPP_NAMESPACE_USE

char *qapParserText(QapRoutineCtx *ctx, const XMLCh *text, char *out) {
    out[0] = '\0';
    if (text == nullptr) return out;
    // qapConvXMLCh allows 4 bytes per unit plus 4: 255 units fill the buffer exactly.
    constexpr XMLSize_t maxUnits = (kParserTextSize - 4) / 4;
    XMLSize_t n = XMLString::stringLen(text);
    if (n <= maxUnits) return qapConvXMLCh(ctx, text, out);
    XMLCh cut[maxUnits + 1];
    n = maxUnits;
    if (text[n - 1] >= 0xD800 && text[n - 1] <= 0xDBFF) --n; // keep surrogate pairs whole
    memcpy(cut, text, n * sizeof(XMLCh));
    cut[n] = 0;
    return qapConvXMLCh(ctx, cut, out);
}

const char *qapLocText(uint64_t loc, char *out) {
    snprintf(out, 24, "%" PRIu64, loc);
    return out;
}

void qapSetParserError(QapRoutineCtx *ctx, QapStatus err, const char *line, const char *column,
                       const char *text) {
    // XMLException has no column and SAXException neither line nor column: the message shows
    // a missing number as "-", e.g. "Parser error on line 12 column -: text".
    qapSetErrorAs(ctx, err, "38X13", QAPQ047E, line != nullptr ? line : "-",
                  column != nullptr ? column : "-", text);
}

namespace {

void reportStop(QapRoutineCtx *ctx, const char *fn, QapStatus err, const QapParseStop &stop) {
    char text[kParserTextSize], line[24], column[24];
    qapSetParserError(ctx, err, stop.located ? qapLocText(stop.line, line) : nullptr,
                      stop.located ? qapLocText(stop.column, column) : nullptr,
                      qapParserText(ctx, stop.text, text));
    qapSetState(err.sqlstate, stop.state);
    QAP_TRACE(ctx, fn, "parse stopped: %s\n", text);
}

} // namespace

void qapReportParseException(QapRoutineCtx *ctx, const char *fn, QapStatus err,
                             const QapParseStop *refusal) {
    if (refusal != nullptr) {
        // Whatever the failed allocation turned into on its way out.
        reportStop(ctx, fn, err, *refusal);
        return;
    }
    try {
        throw;
    } catch (const SAXParseException &e) {
        char text[kParserTextSize], line[24], column[24];
        qapParserText(ctx, e.getMessage(), text);
        qapSetParserError(ctx, err, qapLocText(e.getLineNumber(), line),
                          qapLocText(e.getColumnNumber(), column), text);
        if (ctx != nullptr && ctx->traceOn) {
            char sysId[kParserTextSize];
            QAP_TRACE(ctx, fn, "parse err4 in %s line %d col %d: %s\n",
                      qapParserText(ctx, e.getSystemId(), sysId),
                      static_cast<int>(e.getLineNumber()), static_cast<int>(e.getColumnNumber()),
                      text);
        }
    } catch (const XMLException &e) {
        char text[kParserTextSize], line[24];
        qapParserText(ctx, e.getMessage(), text);
        qapSetParserError(ctx, err, qapLocText(e.getSrcLine(), line), nullptr, text);
        QAP_TRACE(ctx, fn, "parse err5 in %s line %d: %s\n",
                  e.getSrcFile() != nullptr ? e.getSrcFile() : "", static_cast<int>(e.getSrcLine()),
                  text);
    } catch (const SAXException &e) {
        char text[kParserTextSize];
        qapParserText(ctx, e.getMessage(), text);
        qapSetParserError(ctx, err, nullptr, nullptr, text);
        QAP_TRACE(ctx, fn, "parse err6: %s\n", text);
    } catch (const QapParseStop &stop) {
        reportStop(ctx, fn, err, stop);
    } catch (const QapError &e) {
        // Memory ran out in the handler: the parse failed, and the message says why.
        QAP_TRACE(ctx, fn, "parser->parse crashed w/o an XMLException.\n");
        qapSetState(err.sqlstate, "38X13");
        snprintf(err.msgtext, kMsgTextSize, "%.70s", e.text()); // it ends with its newline
    } catch (const OutOfMemoryException &) {
        QAP_TRACE(ctx, fn, "parser->parse ran out of memory.\n");
        qapSetErrorAs(ctx, err, "38X13", QAPG002E);
    } catch (const std::bad_alloc &) {
        QAP_TRACE(ctx, fn, "parser->parse ran out of memory.\n");
        qapSetErrorAs(ctx, err, "38X13", QAPG002E);
    } catch (...) {
        QAP_TRACE(ctx, fn, "parser->parse crashed w/o an XMLException.\n");
        qapSetState(err.sqlstate, "38X13");
    }
}

int32_t qapReportSetUpException(QapRoutineCtx *ctx, const char *fn, QapStatus err) {
    try {
        throw;
    } catch (const std::bad_alloc &) {
    } catch (const OutOfMemoryException &) {
    } catch (...) {
        QAP_TRACE(ctx, fn, "setting up the parser failed\n");
        qapSetState(err.sqlstate, "38X13");
        return -1;
    }
    qapSetError(ctx, err, QAPG002E);
    return -1;
}
